#include "Acquisition.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <future>
#include <iostream>
#include <thread>

#include <nlohmann/json.hpp>

#include "ChannelNames.h"
#include "DeviceCommands.h"
#include "HostError.h"
#include "Installation.h"
#include "JsonOutput.h"
#include "NumberFormat.h"
#include "Platform.h"
#include "Settings.h"

namespace ni_usb_daq::host {

namespace {

using nlohmann::json;

/// Added to a finite read's own length: the driver's start-up and transfer.
constexpr double kReadTimeoutMarginS = 10.0;

std::string deviceOf(std::string_view channel) {
    const auto slash = channel.find('/');
    return std::string(channel.substr(0, slash == std::string_view::npos ? 0 : slash));
}

/// A JSON array from a configure entry; null when absent or not an array.
json arrayEntry(const kra::device::StringMap& configuration, const std::string& key) {
    const auto found = configuration.find(key);
    if (found == configuration.end()) {
        return nullptr;
    }
    json value = json::parse(found->second, nullptr, /*allow_exceptions=*/false);
    return value.is_array() ? value : json(nullptr);
}

std::vector<std::string> channelList(const kra::device::StringMap& configuration) {
    const json physical = arrayEntry(configuration, "ai_physical_channels");
    if (physical.is_array() && std::all_of(physical.begin(), physical.end(),
                                           [](const json& v) { return v.is_string(); })) {
        return physical.get<std::vector<std::string>>();
    }
    const std::string list = textEntry(configuration, "ai_channels");
    const auto count = numberEntry(configuration, "n_channels");
    const auto expanded = expandChannelList(list).value_or(std::vector<std::string>());
    return channelNames(list,
                        count && *count >= 0 ? static_cast<std::size_t>(*count) : expanded.size());
}

}  // namespace

kra::device::OperationParams withDeviceDefaults(kra::device::OperationParams settings,
                                                const DeviceIdentity& device) {
    settings.try_emplace("ai_channels", device.name + "/ai0");
    settings.try_emplace("device_name", device.name);
    return settings;
}

void requireChannelsOf(const kra::device::OperationParams& settings, const std::string& device) {
    const auto given = settings.find("ai_channels");
    if (given == settings.end()) {
        return;
    }
    for (const auto& channel :
         expandChannelList(given->second).value_or(std::vector<std::string>())) {
        const std::string owner = deviceOf(channel);
        if (!owner.empty() && !sameDriverName(owner, device)) {
            throw UsageError("--device " + device + " does not own ai_channels=" + given->second +
                             ": " + channel + " belongs to " + owner + " (give --device " + owner +
                             ", or channels of " + device + ")");
        }
    }
}

kra::device::StringMap configureAcquisition(DeviceSession& session,
                                            const kra::device::OperationParams& settings) {
    return session.require("analog_input", "configure", settings).data;
}

kra::device::OperationParams finiteSettings(kra::device::OperationParams settings) {
    settings.try_emplace("sample_mode", "FINITE");
    if (!settings.contains("read_timeout_s")) {
        const auto samples = parseNumber(settingValue(settings, "samples_per_channel"));
        const auto rate = parseNumber(settingValue(settings, "sample_clock_rate_hz"));
        if (samples && rate && *rate > 0) {
            // The block takes samples / rate; the driver may grant a little
            // less than the rate asked for, hence the tenth on top.
            settings["read_timeout_s"] =
                formatNumber(std::ceil(*samples / *rate * 1.1 + kReadTimeoutMarginS));
        }
    }
    return settings;
}

FiniteRead readFinite(DeviceSession& session, const kra::device::OperationParams& settings,
                      OutputTarget* target, std::string_view command) {
    const auto finite = finiteSettings(settings);
    const platform::StopRequests stops;
    // The read blocks inside the plug-in for as long as the block takes, so
    // it runs on a thread of its own while this one watches for Ctrl-C.
    auto reading = std::async(std::launch::async, [&session, finite] {
        FiniteRead read;
        read.configuration = configureAcquisition(session, finite);
        // read_finite takes its own samples_per_channel; the same settings
        // keep it equal to the configured count.
        read.start = std::chrono::system_clock::now();
        read.data = session.require("analog_input", "read_finite", finite).data;
        return read;
    });
    while (reading.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        if (stops.requested()) {
            if (target != nullptr) {
                target->discard();
            }
            std::cerr << kProgramName << ": " << command << ": interrupted; nothing written"
                      << std::endl;
            // The plug-in is still inside the read: nothing may unload it or
            // wait for it, so the process ends here.
            std::_Exit(kInterruptedExitCode);
        }
    }
    FiniteRead read = reading.get();
    const auto frame = read.data.find("frame");
    if (frame == read.data.end()) {
        throw HostError("read_finite returned no frame");
    }
    read.frameText = frame->second;
    return read;
}

double achievedSampleRate(const kra::device::StringMap& configuration) {
    for (const char* key :
         {"achieved_sample_rate_hz_exact", "achieved_sample_rate_hz", "sample_rate_hz"}) {
        if (const auto rate = numberEntry(configuration, key)) {
            return *rate > 0 ? *rate : 0.0;
        }
    }
    return 0.0;
}

RecordingFacts recordingFacts(DeviceSession& session, const kra::device::OperationParams& settings,
                              const kra::device::StringMap& configuration, bool digital) {
    RecordingFacts facts;
    const auto names = channelList(configuration);
    const json ranges = arrayEntry(configuration, "ai_voltage_ranges_v");
    const bool rangesKnown = ranges.is_array() && ranges.size() == names.size() &&
                             std::all_of(ranges.begin(), ranges.end(), [](const json& range) {
                                 return range.is_array() && range.size() == 2 &&
                                        range[0].is_number() && range[1].is_number();
                             });
    const double requestedMin =
        parseNumber(settingValue(settings, "voltage_range_min")).value_or(0);
    const double requestedMax =
        parseNumber(settingValue(settings, "voltage_range_max")).value_or(0);
    for (std::size_t c = 0; c < names.size(); ++c) {
        ChannelFacts channel;
        channel.name = names[c];
        channel.rangeMinV = rangesKnown ? ranges[c][0].get<double>() : requestedMin;
        channel.rangeMaxV = rangesKnown ? ranges[c][1].get<double>() : requestedMax;
        channel.terminalConfig = settingValue(settings, "terminal_config");
        facts.channels.push_back(std::move(channel));
    }

    // The channels say which device recorded, whatever --device said.
    facts.device = session.device().name;
    facts.productType = session.device().productType;
    facts.serialNumber = session.device().serialNumber;
    const std::string owner = names.empty() ? std::string() : deviceOf(names.front());
    if (!owner.empty() && !sameDriverName(owner, facts.device)) {
        facts.device = owner;
        facts.productType.clear();
        facts.serialNumber.clear();
        if (const auto devices = listDevices(session)) {
            for (const auto& device : *devices) {
                if (sameDriverName(device.name, owner)) {
                    facts.device = device.name;
                    facts.productType = device.productType;
                    facts.serialNumber = device.serialNumber;
                }
            }
        }
    }

    if (digital) {
        const std::string lines = settingValue(settings, "digital_input_lines");
        if (!lines.empty()) {
            facts.digitalLines = expandChannelList(lines).value_or(std::vector<std::string>{lines});
        }
    }
    facts.sampleRateHz = achievedSampleRate(configuration);
    facts.requestedSampleRateHz = facts.sampleRateHz;
    if (const auto reported = numberEntry(configuration, "requested_sample_rate_hz")) {
        // The plug-in reports the request to the microhertz; the checked
        // setting is the request exactly (1e-300 Hz is not 0).
        facts.requestedSampleRateHz =
            parseNumber(settingValue(settings, "sample_clock_rate_hz")).value_or(*reported);
    }
    facts.sampleMode = textEntry(configuration, "sample_mode");
    facts.samplesPerFrame = static_cast<std::uint64_t>(
        std::max(0.0, numberEntry(configuration, "samples_per_channel").value_or(0.0)));
    facts.inputBufferSamplesPerChannel = static_cast<std::uint64_t>(std::max(
        0.0, numberEntry(configuration, "input_buffer_samples_per_channel").value_or(0.0)));
    facts.startTriggerJson = textEntry(configuration, "start_trigger");
    facts.referenceTriggerJson = textEntry(configuration, "reference_trigger");
    facts.settingsJson = compactLine(toJson(settings));
    facts.program = programVersion();
    facts.start = std::chrono::system_clock::now();
    return facts;
}

}  // namespace ni_usb_daq::host
