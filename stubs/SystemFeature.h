#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "device/DeviceRecords.h"

namespace kra::device::stubs {

/// The stub's "system" feature: the status record, the capability document
/// and the device scan.
class SystemFeature {
public:
    using CapabilityProvider = std::function<nlohmann::json()>;

    /// `info` is the stub's record and outlives this object; it is read live,
    /// under `infoMutex`, which the stub holds while it replaces the record.
    SystemFeature(const DeviceInfo* info, std::mutex* infoMutex, std::string bridgeVersion,
                  std::int64_t createdAtNs);

    SystemFeature(const SystemFeature&) = delete;
    SystemFeature& operator=(const SystemFeature&) = delete;

    OperationResult executeSystemOperation(const std::string& operation,
                                           const OperationParams& params,
                                           const std::string& requestId);

    /// The status: connected or not, identity properties and uptime.
    DeviceState buildDeviceState() const;

    void setConnected(bool connected) { connected_.store(connected); }

    void setCapabilityProvider(CapabilityProvider provider);

    /// Built by the provider on first use and cached for the life of the stub.
    /// When the provider throws, one warning line is written, the document of a
    /// stub without manifest is returned and nothing is cached.
    nlohmann::json getCapabilityDocument();

private:
    const DeviceInfo* info_;
    std::mutex* infoMutex_;
    const std::string bridgeVersion_;
    const std::int64_t createdAtNs_;
    std::atomic<bool> connected_{false};

    CapabilityProvider capabilityProvider_;
    std::mutex capabilitiesMutex_;
    std::optional<nlohmann::json> cachedCapabilities_;
};

/// The "usb_only" request flag: false only for "false", "FALSE" and "0".
bool parseUsbOnlyFlag(const OperationParams& params);

}  // namespace kra::device::stubs
