#include "SystemFeature.h"

#include "stubs/Clocks.h"
#include "stubs/DeviceQueries.h"
#include "stubs/Logging.h"

namespace kra::device::stubs {
namespace {

const nlohmann::json kNoCapabilities = {{"features", nlohmann::json::object()}};

}  // namespace

SystemFeature::SystemFeature(const DeviceInfo* info, std::mutex* infoMutex,
                             std::string bridgeVersion, std::int64_t createdAtNs)
    : info_(info),
      infoMutex_(infoMutex),
      bridgeVersion_(std::move(bridgeVersion)),
      createdAtNs_(createdAtNs) {}

OperationResult SystemFeature::executeSystemOperation(const std::string& operation,
                                                      const OperationParams& params,
                                                      const std::string& requestId) {
    OperationResult result;
    result.success = true;
    result.requestId = requestId;
    if (operation == "get_capabilities") {
        result.data["capabilities"] = getCapabilityDocument().dump();
    } else if (operation == "scan_devices") {
        result.data["devices"] = scanDevices(parseUsbOnlyFlag(params)).dump();
    } else if (operation == "get_state") {
        result.state = buildDeviceState();
    } else {
        return makeErrorResult("Unsupported system operation: " + operation, requestId);
    }
    return result;
}

DeviceState SystemFeature::buildDeviceState() const {
    DeviceState state;
    if (connected_.load()) {
        state.code = DeviceStateCode::Connected;
        state.stateName = "connected";
        state.message = "NI USB-DAQ ready";
    } else {
        state.code = DeviceStateCode::Disconnected;
        state.stateName = "disconnected";
        state.message = "NI USB-DAQ not connected";
    }
    state.timestampNs = static_cast<std::uint64_t>(steadyClockNs());
    {
        const std::lock_guard infoLock(*infoMutex_);
        state.properties["device_id"] = info_->id;
        state.properties["device_type"] = info_->type;
        state.properties["manufacturer"] = info_->manufacturer;
        state.properties["model"] = info_->model;
        state.properties["firmware_version"] = info_->firmwareVersion;
    }
    state.properties["bridge_version"] = bridgeVersion_;
    state.properties["uptime_s"] = std::to_string((steadyClockNs() - createdAtNs_) / 1'000'000'000);
    return state;
}

void SystemFeature::setCapabilityProvider(CapabilityProvider provider) {
    capabilityProvider_ = std::move(provider);
}

nlohmann::json SystemFeature::getCapabilityDocument() {
    {
        const std::lock_guard lock(capabilitiesMutex_);
        if (cachedCapabilities_) {
            return *cachedCapabilities_;
        }
    }
    // Built without the lock: two first requests may both build, the later store wins.
    nlohmann::json document = kNoCapabilities;
    if (capabilityProvider_) {
        try {
            document = capabilityProvider_();
        } catch (const std::exception& error) {
            // The manifest changed under us since construction. The host gets the
            // document of a stub without a manifest, and the next request tries again.
            logWarn("SystemFeature: capability document unavailable: {}", error.what());
            return kNoCapabilities;
        }
    }
    const std::lock_guard lock(capabilitiesMutex_);
    cachedCapabilities_ = document;
    return document;
}

bool parseUsbOnlyFlag(const OperationParams& params) {
    const auto flag = params.find("usb_only");
    if (flag == params.end()) {
        return true;
    }
    return !(flag->second == "false" || flag->second == "FALSE" || flag->second == "0");
}

}  // namespace kra::device::stubs
