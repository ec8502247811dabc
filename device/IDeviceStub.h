#pragma once

#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "DeviceRecords.h"
#include "DeviceStubException.h"

namespace kra::device {

/// The interface a host drives a device plug-in through. The host calls each
/// operation by its position, so the order of declaration is part of the
/// interface and must never change.
///
/// Standard-library types (strings, maps, callbacks, JSON values, exceptions)
/// cross the boundary by value, so host and plug-in must be built by the same
/// compiler family with the same runtime and build type: a MinGW plug-in
/// cannot serve an MSVC host, nor a Debug build a Release one.
///
/// An exception the plug-in throws is made by the plug-in's code: its
/// destructor and what() live in the plug-in library. A host copies what it
/// needs of it into an exception (or string) of its own before the library
/// can be unloaded; a host that unloads the plug-in while still holding one of
/// its exceptions crashes on Windows.
class IDeviceStub {
public:
    using StateCallback = std::function<void(const DeviceState&)>;
    using ErrorCallback = std::function<void(const std::string&)>;

    class IAuth {
    public:
        using AuthEventCallback = std::function<void(const OperationResult&)>;

        virtual ~IAuth() = default;
        virtual std::string authMode() const = 0;
        virtual OperationResult authenticate() = 0;
        virtual OperationResult refreshAuthentication() = 0;
        virtual SubscriptionHandle subscribeAuthEvents(AuthEventCallback callback) = 0;
        virtual void reservedOperation() = 0;
    };

    virtual ~IDeviceStub() = default;
    virtual DeviceInfo getDeviceInfo() const = 0;
    virtual nlohmann::json getCapabilities() = 0;
    virtual void initialize() = 0;
    virtual void connect() = 0;
    virtual void disconnect() = 0;
    virtual void reset() = 0;
    virtual bool isConnected() const = 0;
    virtual IAuth& auth() = 0;
    virtual OperationResult execute(const std::string& feature, const std::string& operation,
                                    const OperationParams& params,
                                    const std::string& requestId) = 0;
    /// Feature "analog_input" serves two topics, each block of a stream going
    /// out in the forms that have subscribers, on the stream thread:
    ///  - "stream": `message` "frame", one property "frame", the frame's
    ///    compact JSON text;
    ///  - "stream_binary": `message` "samples", two properties: "header",
    ///    compact JSON ("version" 1, "sequence_no", "timestamp_ns",
    ///    "sample_count", "n_channels", "layout" "channels_first", "dtype"
    ///    "float64", "byte_order" "little", and "digital_lines" with
    ///    "n_digital_lines" when the frame has them), and "samples", the
    ///    values as raw little-endian IEEE-754 doubles, channel after channel
    ///    (sample_count x n_channels x 8 bytes, non-finite values as the
    ///    driver gave them).
    /// Both forms of one block carry the same "sequence_no" and "timestamp_ns";
    /// a stream's Error record reaches every subscriber of either topic once.
    /// The record, and above all its payload, is valid only during the
    /// callback: the stream rewrites it in place for the next block, so a
    /// subscriber copies what it keeps. Any other topic is refused with id 0.
    virtual SubscriptionHandle subscribe(const std::string& feature, const std::string& topic,
                                         StateCallback callback) = 0;
    virtual void unsubscribe(const std::string& feature, const std::string& topic,
                             const SubscriptionHandle& handle) = 0;
    virtual void reservedOperation() = 0;
    virtual void setErrorCallback(ErrorCallback callback) = 0;
    virtual HealthStatus getHealth() const = 0;
    virtual SelfTestResult selfTest() = 0;
    virtual void setHostContext(std::shared_ptr<void> context) = 0;
};

}  // namespace kra::device

extern "C" {
/// Entry points a host resolves by name.
kra::device::IDeviceStub* createDeviceStub();
void destroyDeviceStub(kra::device::IDeviceStub* stub);
}
