#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "DeviceRecords.h"
#include "IDeviceStub.h"
#include "PluginLoader.h"

namespace ni_usb_daq::host {

/// The device a session drives, as the driver lists it.
struct DeviceIdentity {
    std::string name = "Dev1";
    std::string productType;   ///< empty when the driver does not list it
    std::string serialNumber;  ///< decimal; empty when the driver does not say
};

/// One stub and the host's side of talking to it: request ids, failure
/// results turned into errors, and the connection.
class DeviceSession {
public:
    /// Makes a stub from the current environment (the plug-in's createDeviceStub).
    using StubFactory = std::function<StubPtr()>;

    explicit DeviceSession(StubPtr stub, DeviceIdentity device = {}, StubFactory factory = {})
        : stub_(std::move(stub)), device_(std::move(device)), factory_(std::move(factory)) {}

    kra::device::IDeviceStub& stub() { return *stub_; }
    const DeviceIdentity& device() const { return device_; }
    void setDevice(DeviceIdentity device) { device_ = std::move(device); }

    /// The plain result of one operation, whatever it says.
    kra::device::OperationResult execute(const std::string& feature, const std::string& operation,
                                         const kra::device::OperationParams& params = {});

    /// The result of an operation that must succeed: a failure result is
    /// thrown as HostError "<operation> failed: <error>".
    kra::device::OperationResult require(const std::string& feature, const std::string& operation,
                                         const kra::device::OperationParams& params = {});

    /// connect, with the plug-in's reason in the HostError when the device
    /// does not answer.
    void connect();

    /// Replaces the stub with a new one for `device` (a device that came back
    /// under another name); the old stub is destroyed first. HostError when
    /// the session has no way to make stubs.
    void reopen(DeviceIdentity device);

    /// A session of its own for another device, made by the same plug-in
    /// (a stream of several devices drives each through its own stub).
    /// HostError when the session has no way to make stubs.
    DeviceSession openAnother(DeviceIdentity device) const;

private:
    StubPtr stub_;
    DeviceIdentity device_;
    StubFactory factory_;
    std::uint64_t nextRequest_ = 1;
};

/// Disconnects a connected stub at the end of a scope, also on the way out of
/// an error.
class ConnectionScope {
public:
    explicit ConnectionScope(DeviceSession& session);
    ~ConnectionScope();
    ConnectionScope(const ConnectionScope&) = delete;
    ConnectionScope& operator=(const ConnectionScope&) = delete;

private:
    DeviceSession& session_;
};

/// A number from a result's data, or nullopt when it is absent or not one.
std::optional<double> numberEntry(const kra::device::StringMap& data, const std::string& key);

/// A text entry of a result's data, or `fallback` when it is absent.
std::string textEntry(const kra::device::StringMap& data, const std::string& key,
                      const std::string& fallback = {});

}  // namespace ni_usb_daq::host
