// The subcommands that ask the device about itself: info, status, configure,
// scan, query and caps.
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

int runScan(DeviceSession& session, bool allBuses, std::ostream& out) {
    kra::device::OperationParams params;
    if (allBuses) {
        params.emplace("usb_only", "false");
    }
    const auto result = session.require("system", "scan_devices", params);
    writeDocument(out, jsonEntry(result, "scan_devices", "devices"));
    return 0;
}

int runQuery(DeviceSession& session, const QueryOptions& options, std::ostream& out) {
    kra::device::OperationParams params;
    if (options.deviceName) {
        params.emplace("device_name", *options.deviceName);
    }
    if (options.channel) {
        params.emplace("channel", *options.channel);
    }
    const auto result = session.require("analog_input", "query", params);
    writeDocument(out, jsonEntry(result, "query", "info"));
    return 0;
}

int runCapabilities(DeviceSession& session, std::ostream& out) {
    writeDocument(out, session.stub().getCapabilities());
    return 0;
}

}  // namespace ni_usb_daq::host
