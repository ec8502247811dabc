#include "StreamRecovery.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>
#include <thread>

#include <nlohmann/json.hpp>

#include "Acquisition.h"
#include "DeviceCommands.h"
#include "HostError.h"
#include "JsonOutput.h"
#include "NumberFormat.h"
#include "StreamSession.h"

namespace ni_usb_daq::host {

namespace {

constexpr std::int32_t kTransferAborted = -50405;
constexpr std::int32_t kDeviceNotAvailable = -201003;
constexpr std::int32_t kDeviceReset = -88709;
constexpr std::int32_t kDeviceResetByOther = -88705;

constexpr std::chrono::milliseconds kFirstWait{100};
constexpr std::chrono::milliseconds kLongestWait{5000};
/// How often a wait looks at the stop request.
constexpr std::chrono::milliseconds kStopPoll{20};

/// The status of the first "DAQmx error N" in a driver message; 0 when none.
/// A failed configure result carries its status only in its message.
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

/// The device part of a channel name ("Dev1" of "Dev1/ai0").
std::string deviceOfChannel(const std::string& channel) {
    return channel.substr(0, channel.find('/'));
}

}  // namespace

RecoveryAction recoveryAction(std::int32_t status) {
    switch (status) {
        case kOverflowStatus:
            return RecoveryAction::Restart;
        case kTransferAborted:
        case kDeviceNotAvailable:
        case kDeviceReset:
        case kDeviceResetByOther:
            return RecoveryAction::Reconnect;
        default:
            return RecoveryAction::None;
    }
}

std::string gapReason(std::int32_t status, bool deviceWentAway) {
    if (deviceWentAway || status == kDeviceNotAvailable) {
        return "device_removed";
    }
    switch (status) {
        case kOverflowStatus:
            return "overflow";
        case kTransferAborted:
            return "transfer_abort";
        case kDeviceReset:
        case kDeviceResetByOther:
            return "device_reset";
        default:
            return "driver_error";
    }
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

StreamRecovery::StreamRecovery(RecoveryOptions options, kra::device::OperationParams settings,
                               std::vector<std::string> channels, double sampleRateHz,
                               std::string serialNumber)
    : options_(std::move(options)),
      settings_(std::move(settings)),
      channels_(std::move(channels)),
      sampleRateHz_(sampleRateHz),
      serialNumber_(std::move(serialNumber)),
      deviceName_(channels_.empty() ? std::string() : deviceOfChannel(channels_.front())) {}

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
        const bool comingUp =
            recoveryAction(statusInText(result.error)) == RecoveryAction::Reconnect;
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

StreamRecovery::Result StreamRecovery::recover(DeviceSession& session, RecoveryAction action,
                                               const platform::StopRequests& stop,
                                               const RecoveryStateCallback& state) {
    using Clock = std::chrono::steady_clock;
    Result result;
    if (stop.requested()) {
        result.interrupted = true;
        return result;
    }
    if (action == RecoveryAction::Restart) {
        // The device is still there: the acquisition only has to start again.
        result.recovered = true;
        return result;
    }
    const auto giveUpAt =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(options_.outageTimeout);
    session.stub().disconnect();
    auto wait = kFirstWait;
    std::string lastReason = "the device did not come back";
    while (true) {
        if (const auto name = findDevice(session); !name) {
            result.deviceWentAway = true;
            lastReason = "the device with serial number " +
                         (serialNumber_.empty() ? std::string("?") : serialNumber_) + " (" +
                         deviceName_ + ") is not listed";
        } else {
            if (!sameDriverName(*name, deviceName_)) {
                followRename(session, *name);
            }
            const auto refusal = bringUp(session);
            if (!refusal) {
                result.recovered = true;
                return result;
            }
            if (!refusal->worthWaiting) {
                result.failure = refusal->reason;
                return result;
            }
            lastReason = refusal->reason;
            session.stub().disconnect();
        }
        if (state) {
            state("waiting for " + deviceName_);
        }
        if (Clock::now() + wait > giveUpAt) {
            result.failure = "gave up after " + formatNumber(options_.outageTimeout.count()) +
                             " s: " + lastReason;
            return result;
        }
        // The wait itself watches the stop request.
        const auto until = Clock::now() + wait;
        while (Clock::now() < until) {
            if (stop.requested()) {
                result.interrupted = true;
                return result;
            }
            std::this_thread::sleep_for(std::min<Clock::duration>(kStopPoll, until - Clock::now()));
        }
        wait = std::min(wait * 2, kLongestWait);
    }
}

}  // namespace ni_usb_daq::host
