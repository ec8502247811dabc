#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kra::device {

using StringMap = std::unordered_map<std::string, std::string>;

/// Request parameters of IDeviceStub::execute: every value is text.
using OperationParams = StringMap;

struct DeviceInfo {
    std::string id;
    std::string type;
    std::string firmwareVersion;
    std::string manufacturer;
    std::string model;
    std::string serialNumber;
    StringMap properties;
};

struct HealthStatus {
    bool healthy = false;
    std::int32_t score = 0;
    std::string message;
    StringMap details;
};

struct SelfTestResult {
    std::int64_t timestampNs = 0;
    bool passed = false;
    std::string message;
    std::vector<std::string> errors;
    StringMap details;
};

enum class DeviceStateCode : std::uint8_t {
    None = 0,
    Connected = 1,
    Disconnected = 2,
    Error = 3,
};

struct DeviceState {
    DeviceStateCode code = DeviceStateCode::None;
    std::string stateName;
    std::string message;
    StringMap properties;
    std::uint64_t timestampNs = 0;
};

struct OperationResult {
    bool success = false;
    std::string error;
    DeviceState state;
    StringMap data;
    std::string requestId;
};

struct SubscriptionHandle {
    std::uint64_t id = 0;
    std::uint8_t kind = 1;
};

/// Entries of an OperationResult's `data` whose text is itself compact JSON
/// (a frame, a device list, a document, an array), for a host that shows
/// results as JSON and wants them embedded rather than quoted.
inline constexpr std::array<std::string_view, 7> kJsonTextDataKeys = {"frame",
                                                                      "samples",
                                                                      "devices",
                                                                      "info",
                                                                      "capabilities",
                                                                      "ai_physical_channels",
                                                                      "ai_voltage_ranges_v"};

/// The one shape of every failure a feature operation reports.
inline OperationResult makeErrorResult(std::string message, std::string requestId) {
    OperationResult result;
    result.error = std::move(message);
    result.requestId = std::move(requestId);
    return result;
}

}  // namespace kra::device
