#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "device/DeviceManifest.h"
#include "device/IDeviceStub.h"

namespace kra::device::stubs {

class SystemFeature;
class AcquisitionEngine;

/// The device stub of one NI-DAQmx device, named by its driver name ("Dev1").
class NIUSBDAQStub final : public IDeviceStub {
public:
    /// The devices this plug-in serves need no authentication.
    class NoAuth final : public IAuth {
    public:
        std::string authMode() const override { return "not_required"; }
        OperationResult authenticate() override;
        OperationResult refreshAuthentication() override { return authenticate(); }
        SubscriptionHandle subscribeAuthEvents(AuthEventCallback callback) override;
        void reservedOperation() override {}
    };

    /// Without a caller's manifest the stub searches for one on disk.
    NIUSBDAQStub(std::string deviceName, std::string deviceId, const DeviceManifest* manifest);
    ~NIUSBDAQStub() override;

    NIUSBDAQStub(const NIUSBDAQStub&) = delete;
    NIUSBDAQStub& operator=(const NIUSBDAQStub&) = delete;

    DeviceInfo getDeviceInfo() const override;
    nlohmann::json getCapabilities() override;
    void initialize() override;
    void connect() override;
    void disconnect() override;
    void reset() override;
    bool isConnected() const override { return connected.load(); }
    IAuth& auth() override { return noAuth; }
    OperationResult execute(const std::string& feature, const std::string& operation,
                            const OperationParams& params, const std::string& requestId) override;
    SubscriptionHandle subscribe(const std::string& feature, const std::string& topic,
                                 StateCallback callback) override;
    void unsubscribe(const std::string& feature, const std::string& topic,
                     const SubscriptionHandle& handle) override;
    void reservedOperation() override {}
    void setErrorCallback(ErrorCallback callback) override;
    HealthStatus getHealth() const override;
    SelfTestResult selfTest() override;
    void setHostContext(std::shared_ptr<void> context) override;

private:
    void locateManifest(const DeviceManifest* supplied);
    void refreshDeviceInfo();
    nlohmann::json buildCapabilities() const;

    // Construction runs in this order and destruction in reverse: `info`
    // outlives `systemFeature`, which reads it, and `engine` goes before the
    // feature objects its callbacks could reach.
    std::string deviceName;
    std::string deviceId;
    std::atomic<bool> connected{false};
    std::atomic<std::uint64_t> nextSubscriptionId{1};
    // A connect may refresh `info` while another host thread reads it; the
    // record is only ever copied or replaced whole under this leaf lock.
    mutable std::mutex infoMutex;
    DeviceInfo info;
    std::int64_t createdAtNs;
    std::string bridgeVersion{"unknown"};
    std::unique_ptr<DeviceManifest> manifest;
    std::string manifestPath;  // the file the manifest was loaded from, if any
    std::unique_ptr<SystemFeature> systemFeature;
    std::unique_ptr<AcquisitionEngine> engine;
    NoAuth noAuth;
    ErrorCallback errorCallback;
    std::shared_ptr<void> hostContext;
};

}  // namespace kra::device::stubs
