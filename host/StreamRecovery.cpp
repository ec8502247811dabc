#include "StreamRecovery.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>

#include <nlohmann/json.hpp>

#include "Acquisition.h"
#include "DeviceCommands.h"
#include "HostError.h"
#include "JsonOutput.h"
#include "NumberFormat.h"
#include "daqmx/DriverStatusClasses.h"

namespace ni_usb_daq::host {

namespace {

constexpr std::chrono::milliseconds kFirstWait{100};
constexpr std::chrono::milliseconds kLongestWait{5000};

/// The device part of a channel name ("Dev1" of "Dev1/ai0").
std::string deviceOfChannel(const std::string& channel) {
    return channel.substr(0, channel.find('/'));
}

bool needsReconnect(std::int32_t status) {
    return daqmx::classifyStatus(status).afterStreamEnd == daqmx::AfterStreamEnd::Reconnect;
}

}  // namespace

std::int32_t statusInText(std::string_view message) {
    constexpr std::string_view kPrefix = "DAQmx error ";
    const auto at = message.find(kPrefix);
    std::int32_t status = 0;
    if (at != std::string_view::npos) {
        const auto digits = message.substr(at + kPrefix.size());
        std::from_chars(digits.data(), digits.data() + digits.size(), status);
    }
    return status;
}

std::string renameDevice(std::string_view text, std::string_view from, std::string_view to) {
    // A name counts where it starts the text or follows a list separator,
    // and is followed by '/': "Dev1/ai0:3, Dev1/ai5" but not "Dev10/ai0".
    std::string renamed;
    std::size_t at = 0;
    while (at < text.size()) {
        const bool starts = at == 0 || text[at - 1] == ',' || text[at - 1] == ' ';
        if (starts && text.size() - at > from.size() && text[at + from.size()] == '/' &&
            sameDriverName(from, text.substr(at, from.size()))) {
            renamed += to;
            at += from.size();
            continue;
        }
        renamed += text[at++];
    }
    return renamed;
}

struct StreamRecovery::Outage {
    StreamFault fault;
    std::chrono::system_clock::time_point samplesStopped;
    RecoveryClock::Monotonic::time_point giveUpAt;
    bool reconnect = false;  ///< the device has to be found and set up again
    bool deviceWentAway = false;
    std::string lastReason;
};

StreamRecovery::StreamRecovery(RecoveryOptions options, kra::device::OperationParams settings,
                               const RecordingFacts& facts, RecoveryClock& clock)
    : options_(std::move(options)),
      settings_(std::move(settings)),
      sampleRateHz_(facts.sampleRateHz),
      serialNumber_(facts.serialNumber),
      clock_(clock) {
    for (const auto& channel : facts.channels) {
        channels_.push_back(channel.name);
    }
    deviceName_ = channels_.empty() ? facts.device : deviceOfChannel(channels_.front());
}

RecoveryReport StreamRecovery::recover(DeviceSession& session, const StreamFault& fault,
                                       std::uint64_t nextSample, std::uint64_t gapsSoFar,
                                       const StopCheck& stopRequested,
                                       const RecoveryStateCallback& state,
                                       const StartStream& start) {
    using Kind = RecoveryReport::Kind;
    const auto afterEnd = daqmx::classifyStatus(fault.status).afterStreamEnd;
    if (!options_.enabled || afterEnd == daqmx::AfterStreamEnd::EndRun) {
        return {};
    }
    if (options_.maxGaps && gapsSoFar >= *options_.maxGaps) {
        return {Kind::NotAttempted,
                {},
                std::to_string(gapsSoFar) + " gap(s) already, --max-gaps " +
                    std::to_string(*options_.maxGaps)};
    }
    Outage outage;
    outage.fault = fault;
    outage.samplesStopped = samplesStopped(nextSample);
    outage.giveUpAt = clock_.now() + std::chrono::duration_cast<RecoveryClock::Monotonic::duration>(
                                         options_.outageTimeout);
    outage.reconnect = afterEnd == daqmx::AfterStreamEnd::Reconnect;
    std::cerr << kProgramName << ": " << fault.message << "; recovering\n";
    if (outage.reconnect) {
        session.stub().disconnect();
    }
    auto wait = std::chrono::duration_cast<RecoveryClock::Monotonic::duration>(kFirstWait);
    while (!stopRequested()) {
        const auto refusal = attempt(session, outage);
        if (!refusal) {
            try {
                start();
                const GapRecord gap = gapOf(outage);
                segmentStart_ = gap.outageEnd;
                segmentFirst_ = nextSample + gap.estimatedLostSamples;
                const std::chrono::duration<double> length = gap.outageEnd - gap.outageStart;
                std::cerr << kProgramName << ": recovered on " << deviceName_ << " after "
                          << formatNumber(length.count()) << " s (" << gap.reason << "); "
                          << gap.estimatedLostSamples << " samples per channel estimated lost\n";
                return {Kind::Recovered, gap, {}};
            } catch (const HostError& error) {
                // Still the same outage: a device that was reset or went away
                // while it was being restarted has to be found again.
                outage.lastReason = error.what();
                if (needsReconnect(statusInText(outage.lastReason)) && !outage.reconnect) {
                    outage.reconnect = true;
                    session.stub().disconnect();
                }
            }
        } else if (!refusal->worthWaiting) {
            return {Kind::GaveUp, {}, refusal->reason};
        } else {
            outage.lastReason = refusal->reason;
        }
        const auto left = outage.giveUpAt - clock_.now();
        if (left <= RecoveryClock::Monotonic::duration::zero()) {
            return {Kind::GaveUp,
                    {},
                    "gave up after " + formatNumber(options_.outageTimeout.count()) +
                        " s: " + outage.lastReason};
        }
        if (state) {
            state("waiting for " + deviceName_);
        }
        // The last attempt comes at the timeout, not a back-off step before it.
        if (!clock_.pause(std::min(wait, left), stopRequested)) {
            break;
        }
        wait = std::min(wait * 2, std::chrono::duration_cast<decltype(wait)>(kLongestWait));
    }
    return {Kind::Interrupted, gapOf(outage), {}};
}

std::optional<StreamRecovery::Refusal> StreamRecovery::attempt(DeviceSession& session,
                                                               Outage& outage) {
    if (!outage.reconnect) {
        return std::nullopt;  // the device is still there: only start again
    }
    return reconnect(session, outage);
}

std::optional<StreamRecovery::Refusal> StreamRecovery::reconnect(DeviceSession& session,
                                                                 Outage& outage) {
    const auto name = findDevice(session);
    if (!name) {
        outage.deviceWentAway = true;
        return Refusal{"the device with serial number " +
                           (serialNumber_.empty() ? std::string("?") : serialNumber_) + " (" +
                           deviceName_ + ") is not listed",
                       true};
    }
    if (!sameDriverName(*name, deviceName_)) {
        followRename(session, *name);
    }
    auto refusal = bringUp(session);
    if (refusal && refusal->worthWaiting) {
        session.stub().disconnect();
    }
    return refusal;
}

GapRecord StreamRecovery::gapOf(const Outage& outage) const {
    GapRecord gap;
    const std::string_view reason = daqmx::classifyStatus(outage.fault.status).gapReason;
    gap.reason = outage.deviceWentAway ? "device_removed" : std::string(reason);
    gap.status = outage.fault.status;
    gap.outageStart = outage.samplesStopped;
    gap.outageEnd = std::max(clock_.wallNow(), outage.samplesStopped);
    const std::chrono::duration<double> length = gap.outageEnd - gap.outageStart;
    gap.estimatedLostSamples =
        static_cast<std::uint64_t>(std::llround(length.count() * sampleRateHz_));
    gap.estimatedFrom = "wall_clock";
    gap.device = deviceName_;
    gap.serialNumber = serialNumber_;
    return gap;
}

std::chrono::system_clock::time_point StreamRecovery::samplesStopped(
    std::uint64_t nextSample) const {
    const auto errorAt = clock_.wallNow();
    if (!(sampleRateHz_ > 0)) {
        return errorAt;
    }
    const std::chrono::duration<double> delivered(static_cast<double>(nextSample - segmentFirst_) /
                                                  sampleRateHz_);
    return std::min(
        errorAt,
        segmentStart_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(delivered));
}

std::optional<std::string> StreamRecovery::findDevice(DeviceSession& session) const {
    // A device listed without its serial number is not ready to answer yet.
    const auto devices = listDevices(session).value_or(std::vector<DeviceIdentity>());
    // Under its old name first; then wherever our serial number is.
    for (const auto& device : devices) {
        if (sameDriverName(device.name, deviceName_) && !device.serialNumber.empty() &&
            (serialNumber_.empty() || device.serialNumber == serialNumber_)) {
            return device.name;
        }
    }
    for (const auto& device : devices) {
        if (!serialNumber_.empty() && device.serialNumber == serialNumber_) {
            return device.name;
        }
    }
    return std::nullopt;
}

std::optional<StreamRecovery::Refusal> StreamRecovery::bringUp(DeviceSession& session) {
    try {
        session.connect();
    } catch (const HostError& error) {
        return Refusal{error.what(), true};
    }
    auto result = session.execute("analog_input", "configure", settings_);
    if (!result.success) {
        // A device that is still coming up refuses like a missing one.
        const bool comingUp = daqmx::classifyStatus(statusInText(result.error)).afterStreamEnd ==
                              daqmx::AfterStreamEnd::Reconnect;
        return Refusal{"configure failed: " + result.error, comingUp};
    }
    // The same channels at the same rate, or it is not the same recording.
    std::vector<std::string> channels;
    if (const auto listed = result.data.find("ai_physical_channels"); listed != result.data.end()) {
        try {
            for (const auto& name : parseEmbeddedJson(listed->second)) {
                channels.push_back(name.get<std::string>());
            }
        } catch (const std::exception&) {
            channels.clear();
        }
    }
    const auto onDevice = [](const std::string& channel) {
        const auto slash = channel.find('/');
        return slash == std::string::npos ? channel : channel.substr(slash);
    };
    const bool sameChannels =
        channels.empty() ||
        std::equal(channels.begin(), channels.end(), channels_.begin(), channels_.end(),
                   [&](const std::string& now, const std::string& before) {
                       return sameDriverName(onDevice(now), onDevice(before));
                   });
    if (!sameChannels) {
        return Refusal{"the device came back with other channels than the recording's", false};
    }
    const double rate = achievedSampleRate(result.data);
    if (rate != sampleRateHz_) {
        return Refusal{"the device came back at " + formatNumber(rate) + " Hz instead of " +
                           formatNumber(sampleRateHz_) + " Hz",
                       false};
    }
    return std::nullopt;
}

void StreamRecovery::followRename(DeviceSession& session, const std::string& name) {
    std::cerr << kProgramName << ": " << deviceName_ << " came back as " << name << '\n';
    for (const char* key : {"ai_channels", "digital_input_lines"}) {
        if (const auto found = settings_.find(key); found != settings_.end()) {
            found->second = renameDevice(found->second, deviceName_, name);
        }
    }
    if (const auto found = settings_.find("device_name");
        found != settings_.end() && sameDriverName(found->second, deviceName_)) {
        found->second = name;
    }
    deviceName_ = name;
    session.reopen({name, session.device().productType, serialNumber_});
}

}  // namespace ni_usb_daq::host
