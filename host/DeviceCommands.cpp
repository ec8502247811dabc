// The subcommands that ask the device about itself: info, status, configure,
// scan, query and caps.
#include <algorithm>
#include <iostream>

#include "Commands.h"
#include "HostError.h"
#include "JsonOutput.h"

namespace ni_usb_daq::host {

using nlohmann::json;

namespace {

/// A data entry that holds JSON text, parsed; HostError when it is missing.
json jsonEntry(const kra::device::OperationResult& result, const std::string& operation,
               const std::string& key) {
    const auto found = result.data.find(key);
    if (found == result.data.end()) {
        throw HostError(operation + " returned no \"" + key + "\"");
    }
    return parseEmbeddedJson(found->second);
}

/// "max_rate_per_channel_hz": entry k is the highest rate each channel may
/// run at when k + 1 channels share the converter. One channel may use the
/// single-channel maximum; more divide the aggregate maximum among them,
/// which is the limit the driver enforces when the clock is configured.
void addRatesPerChannel(json& device, std::size_t channels) {
    const auto single = device.find("ai_max_single_chan_rate_hz");
    const auto multi = device.find("ai_max_multi_chan_rate_hz");
    if (channels == 0 || single == device.end() || multi == device.end() || !single->is_number() ||
        !multi->is_number()) {
        return;
    }
    json rates = json::array();
    for (std::size_t n = 1; n <= channels; ++n) {
        rates.push_back(n == 1 ? single->get<double>()
                               : multi->get<double>() / static_cast<double>(n));
    }
    device["max_rate_per_channel_hz"] = std::move(rates);
}

}  // namespace

int runInfo(DeviceSession& session, std::ostream& out) {
    const ConnectionScope connection(session);
    auto& stub = session.stub();
    const json document = {
        {"device_info", toJson(stub.getDeviceInfo())},
        {"health", toJson(stub.getHealth())},
        {"self_test", toJson(stub.selfTest())},
    };
    writeDocument(out, document);
    return 0;
}

int runStatus(DeviceSession& session, bool connectFirst, std::ostream& out) {
    std::optional<ConnectionScope> connection;
    if (connectFirst) {
        connection.emplace(session);
    }
    const auto result = session.require("system", "get_state");
    writeDocument(out, toJson(result.state));
    return 0;
}

int runConfigure(DeviceSession& session, const kra::device::OperationParams& settings,
                 std::ostream& out) {
    const auto result = session.execute("analog_input", "configure", settings);
    writeDocument(out, toJson(result));
    if (!result.success) {
        std::cerr << kProgramName << ": configure failed: " << result.error << '\n';
        return kFailureExitCode;
    }
    return 0;
}

std::optional<std::vector<DeviceIdentity>> listDevices(DeviceSession& session) {
    const auto result = session.execute("system", "scan_devices", {{"usb_only", "false"}});
    const auto text = result.data.find("devices");
    if (!result.success || text == result.data.end()) {
        return std::nullopt;
    }
    const json devices = parseEmbeddedJson(text->second);
    std::vector<DeviceIdentity> identities;
    for (const json& device : devices) {
        if (device.is_object() && device.contains("device_name")) {
            identities.push_back(
                {device.value("device_name", ""), device.value("product_type", "")});
        }
    }
    return identities;
}

int runScan(DeviceSession& session, bool allBuses, std::ostream& out) {
    kra::device::OperationParams params;
    if (allBuses) {
        params.emplace("usb_only", "false");
    }
    const auto result = session.require("system", "scan_devices", params);
    json devices = jsonEntry(result, "scan_devices", "devices");
    for (json& device : devices) {
        if (!device.is_object() || !device.contains("device_name")) {
            continue;
        }
        // The ranges are only in a device's own description.
        const auto description = session.execute(
            "analog_input", "query", {{"device_name", device.value("device_name", "")}});
        if (description.success) {
            const json info = parseEmbeddedJson(textEntry(description.data, "info"));
            if (info.is_object() && info.contains("ai_voltage_ranges")) {
                device["ai_voltage_ranges"] = info["ai_voltage_ranges"];
            }
        }
        addRatesPerChannel(device, device.value("n_ai_chans", std::size_t{0}));
    }
    writeDocument(out, devices);
    return 0;
}

int runQuery(DeviceSession& session, const QueryOptions& options, std::ostream& out) {
    kra::device::OperationParams params;
    params.emplace("device_name", options.deviceName.value_or(session.device().name));
    if (options.channel) {
        params.emplace("channel", *options.channel);
    }
    const auto result = session.require("analog_input", "query", params);
    json info = jsonEntry(result, "query", "info");
    if (info.is_object()) {
        const auto channels = info.value("ai_physical_chans", std::string());
        std::size_t count = channels.empty() ? 0 : 1;
        count += static_cast<std::size_t>(std::count(channels.begin(), channels.end(), ','));
        addRatesPerChannel(info, count);
    }
    writeDocument(out, info);
    return 0;
}

int runCapabilities(DeviceSession& session, const std::string& manifestNote, bool quiet,
                    std::ostream& out) {
    const json capabilities = session.stub().getCapabilities();
    if (manifestNote.empty()) {
        std::cerr << kProgramName
                  << ": warning: no device manifest found, so the capability document is empty "
                     "(set KRA_DEVICE_MANIFEST_DIR to the folder that holds "
                     "ni-usb-daq/device-manifest.json)\n";
    } else if (!quiet) {
        std::cerr << kProgramName << ": capabilities from " << manifestNote << '\n';
    }
    writeDocument(out, capabilities);
    return 0;
}

}  // namespace ni_usb_daq::host
