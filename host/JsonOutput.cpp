#include "JsonOutput.h"

#include <algorithm>
#include <array>
#include <ostream>

namespace ni_usb_daq::host {

using nlohmann::json;

namespace {

bool carriesJson(std::string_view key) {
    using kra::device::kJsonTextDataKeys;
    return std::find(kJsonTextDataKeys.begin(), kJsonTextDataKeys.end(), key) !=
           kJsonTextDataKeys.end();
}

std::string_view stateCodeName(kra::device::DeviceStateCode code) {
    constexpr std::array<std::string_view, 4> kNames = {"None", "Connected", "Disconnected",
                                                        "Error"};
    const auto index = static_cast<std::size_t>(code);
    return index < kNames.size() ? kNames[index] : "Unknown";
}

}  // namespace

json toJson(const kra::device::StringMap& map) {
    json object = json::object();
    for (const auto& [key, value] : map) {
        object[key] = value;
    }
    return object;
}

json toJson(const kra::device::DeviceInfo& info) {
    return {
        {"id", info.id},
        {"type", info.type},
        {"firmware_version", info.firmwareVersion},
        {"manufacturer", info.manufacturer},
        {"model", info.model},
        {"serial_number", info.serialNumber},
        {"properties", toJson(info.properties)},
    };
}

json toJson(const kra::device::HealthStatus& health) {
    return {
        {"healthy", health.healthy},
        {"score", health.score},
        {"message", health.message},
        {"details", toJson(health.details)},
    };
}

json toJson(const kra::device::SelfTestResult& result) {
    return {
        {"timestamp_ns", result.timestampNs}, {"passed", result.passed},
        {"message", result.message},          {"errors", result.errors},
        {"details", toJson(result.details)},
    };
}

json toJson(const kra::device::DeviceState& state) {
    return {
        {"code", static_cast<unsigned>(state.code)},
        {"code_name", stateCodeName(state.code)},
        {"state_name", state.stateName},
        {"message", state.message},
        {"properties", toJson(state.properties)},
        {"timestamp_ns", state.timestampNs},
    };
}

json toJson(const kra::device::OperationResult& result) {
    return {
        {"success", result.success},
        {"error", result.error},
        {"data", dataToJson(result.data)},
    };
}

json dataToJson(const kra::device::StringMap& data) {
    json object = json::object();
    for (const auto& [key, value] : data) {
        object[key] = carriesJson(key) ? parseEmbeddedJson(value) : json(value);
    }
    return object;
}

json parseEmbeddedJson(const std::string& text) {
    json parsed = json::parse(text, nullptr, /*allow_exceptions=*/false);
    return parsed.is_discarded() ? json(text) : parsed;
}

void writeDocument(std::ostream& out, const json& document) {
    out << document.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
}

std::string compactLine(const json& document) {
    return document.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace ni_usb_daq::host
