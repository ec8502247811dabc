#include "NIUSBDAQStub.h"

#include <exception>

#include "daqmx/NIDAQmx.h"
#include "stubs/CapabilityDocument.h"
#include "stubs/Clocks.h"
#include "stubs/DeviceQueries.h"
#include "stubs/DriverStatus.h"
#include "stubs/Logging.h"
#include "stubs/ManifestSearch.h"
#include "stubs/SystemFeature.h"
#include "stubs/acquisition/AcquisitionEngine.h"

namespace kra::device::stubs {

OperationResult NIUSBDAQStub::NoAuth::authenticate() {
    OperationResult result;
    result.success = true;
    return result;
}

SubscriptionHandle NIUSBDAQStub::NoAuth::subscribeAuthEvents(AuthEventCallback callback) {
    // There are no authentication events; the callback is dropped uncalled.
    callback = nullptr;
    return SubscriptionHandle{0, 1};
}

NIUSBDAQStub::NIUSBDAQStub(std::string deviceName_, std::string deviceId_,
                           const DeviceManifest* suppliedManifest)
    : deviceName(std::move(deviceName_)),
      deviceId(std::move(deviceId_)),
      createdAtNs(steadyClockNs()) {
    locateManifest(suppliedManifest);
    systemFeature = std::make_unique<SystemFeature>(&info, &infoMutex, bridgeVersion, createdAtNs);
    engine = std::make_unique<AcquisitionEngine>();
    systemFeature->setCapabilityProvider([this] { return buildCapabilities(); });
}

NIUSBDAQStub::~NIUSBDAQStub() {
    // The stream goes first, connected or not, while everything a subscriber
    // callback could reach is still alive.
    engine->stopStreaming();
    if (connected.load()) {
        try {
            disconnect();
        } catch (const std::exception& error) {
            logError("NIUSBDAQStub::~NIUSBDAQStub: disconnect failed: {}", error.what());
        } catch (...) {
            logError("NIUSBDAQStub::~NIUSBDAQStub: disconnect failed");
        }
    }
}

void NIUSBDAQStub::locateManifest(const DeviceManifest* supplied) {
    if (supplied != nullptr) {
        manifest = std::make_unique<DeviceManifest>(*supplied);
    } else {
        manifestPath = findManifestPath();
        if (!manifestPath.empty()) {
            manifest = loadManifestOrWarn(manifestPath);
        }
        if (manifest == nullptr) {
            manifestPath.clear();  // a manifest that failed to load counts as none
        }
    }
    applyManifestIdentity(manifest.get(), deviceId, info);
    info.properties.insert_or_assign("manifest_path", manifestPath);
}

nlohmann::json NIUSBDAQStub::buildCapabilities() const {
    nlohmann::json document = stubs::buildCapabilities(manifestPath, manifest.get());
    // The manifest describes the product family; which triggers this device
    // has, only the driver can say.
    if (!document.is_object() || !document.contains("features") ||
        !document["features"].is_object() || !document["features"].contains("analog_input") ||
        !document["features"]["analog_input"].is_object()) {
        return document;
    }
    if (nlohmann::json triggers = deviceTriggers(deviceName); !triggers.is_null()) {
        document["features"]["analog_input"]["triggers"] = std::move(triggers);
    }
    return document;
}

nlohmann::json NIUSBDAQStub::getCapabilities() {
    return systemFeature->getCapabilityDocument();
}

void NIUSBDAQStub::initialize() {
    logInfo("NIUSBDAQStub::initialize device={} id={}", deviceName, deviceId);
}

DeviceInfo NIUSBDAQStub::getDeviceInfo() const {
    const std::lock_guard lock(infoMutex);
    return info;
}

void NIUSBDAQStub::refreshDeviceInfo() {
    // The driver is asked without the lock; the record is replaced in one step.
    DeviceInfo refreshed = getDeviceInfo();
    stubs::refreshDeviceInfo(deviceName, refreshed);
    const std::lock_guard lock(infoMutex);
    info = std::move(refreshed);
}

void NIUSBDAQStub::connect() {
    // The presence probe reads the product type by the same rule as scan and
    // query, so a device that is listed can always be connected.
    int32 status = 0;
    if (!readProductType(deviceName, &status)) {
        const std::string message = "Device '" + deviceName + "' not found: " +
                                    daqmxErrorText(status, kStubErrorTextBufferSize);
        logError("NIUSBDAQStub::connect: {}", message);
        if (errorCallback) {
            errorCallback(message);
        }
        throw DeviceStubException(message);
    }
    refreshDeviceInfo();
    connected.store(true);
    systemFeature->setConnected(true);
    logInfo("NIUSBDAQStub::connect: connected to {} ({})", deviceName, getDeviceInfo().model);
}

void NIUSBDAQStub::disconnect() {
    (void)engine->executeAnalogInputOperation("stop_stream", {}, "");
    connected.store(false);
    systemFeature->setConnected(false);
    logInfo("NIUSBDAQStub::disconnect device={}", deviceName);
}

void NIUSBDAQStub::reset() {
    disconnect();
    (void)DAQmxResetDevice(deviceName.c_str());
    connect();
}

void NIUSBDAQStub::setErrorCallback(ErrorCallback callback) {
    errorCallback = std::move(callback);
}

HealthStatus NIUSBDAQStub::getHealth() const {
    HealthStatus health;
    if (connected.load()) {
        health.healthy = true;
        health.score = 100;
        health.message = "OK";
    } else {
        health.message = "Not connected";
    }
    return health;
}

SelfTestResult NIUSBDAQStub::selfTest() {
    SelfTestResult result;
    result.timestampNs = steadyClockNs();
    if (!connected.load()) {
        result.message = "Device not connected";
        return result;
    }
    const int32 status = DAQmxSelfTestDevice(deviceName.c_str());
    result.passed = status == 0;
    if (result.passed) {
        result.message = "DAQmx self-test passed";
    } else {
        result.message = daqmxErrorText(status, kStubErrorTextBufferSize);
        result.errors.push_back(result.message);
    }
    return result;
}

void NIUSBDAQStub::setHostContext(std::shared_ptr<void> context) {
    hostContext = std::move(context);
}

OperationResult NIUSBDAQStub::execute(const std::string& feature, const std::string& operation,
                                      const OperationParams& params, const std::string& requestId) {
    if (feature == "system") {
        return systemFeature->executeSystemOperation(operation, params, requestId);
    }
    if (feature == "analog_input") {
        return engine->executeAnalogInputOperation(operation, params, requestId);
    }
    return makeErrorResult("Unsupported feature: " + feature, requestId);
}

SubscriptionHandle NIUSBDAQStub::subscribe(const std::string& feature, const std::string& topic,
                                           StateCallback callback) {
    const std::uint64_t drawnId = nextSubscriptionId.fetch_add(1);
    if (feature == "system") {
        // One status record, now, on the caller's thread. Nothing is kept:
        // there is nothing left to unsubscribe from.
        if (callback) {
            callback(systemFeature->buildDeviceState());
        }
        return SubscriptionHandle{drawnId, 1};
    }
    if (feature == "analog_input") {
        return engine->addSubscriber(topic, std::move(callback), drawnId);
    }
    return SubscriptionHandle{0, 1};
}

void NIUSBDAQStub::unsubscribe(const std::string& feature, const std::string& /*topic*/,
                               const SubscriptionHandle& handle) {
    if (feature == "analog_input") {
        engine->removeSubscriber(handle.id);
    }
}

}  // namespace kra::device::stubs
