#include "DeviceSession.h"

#include <iostream>

#include "HostError.h"
#include "NumberFormat.h"
#include "Platform.h"

namespace ni_usb_daq::host {

kra::device::OperationResult DeviceSession::execute(const std::string& feature,
                                                    const std::string& operation,
                                                    const kra::device::OperationParams& params) {
    const std::string requestId = "host-" + std::to_string(nextRequest_++);
    return stub_->execute(feature, operation, params, requestId);
}

kra::device::OperationResult DeviceSession::require(const std::string& feature,
                                                    const std::string& operation,
                                                    const kra::device::OperationParams& params) {
    auto result = execute(feature, operation, params);
    if (!result.success) {
        throw HostError(operation + " failed: " +
                        (result.error.empty() ? std::string("no reason given") : result.error));
    }
    return result;
}

void DeviceSession::connect() {
    try {
        stub_->connect();
    } catch (const kra::device::DeviceStubException& error) {
        throw HostError(std::string("cannot connect: ") + error.what());
    }
}

void DeviceSession::reopen(DeviceIdentity device) {
    if (!factory_) {
        throw HostError("cannot open a stub for " + device.name);
    }
    stub_.reset();
    platform::setEnvironment("NI_DEVICE_NAME", device.name);
    stub_ = factory_();
    device_ = std::move(device);
}

DeviceSession DeviceSession::openAnother(DeviceIdentity device) const {
    if (!factory_) {
        throw HostError("cannot open a stub for " + device.name);
    }
    platform::setEnvironment("NI_DEVICE_NAME", device.name);
    return DeviceSession(factory_(), std::move(device), factory_);
}

ConnectionScope::ConnectionScope(DeviceSession& session) : session_(session) {
    session_.connect();
}

ConnectionScope::~ConnectionScope() {
    try {
        session_.stub().disconnect();
    } catch (const std::exception& error) {
        std::cerr << kProgramName << ": disconnect failed: " << error.what() << '\n';
    }
}

std::optional<double> numberEntry(const kra::device::StringMap& data, const std::string& key) {
    const auto found = data.find(key);
    return found == data.end() ? std::nullopt : parseNumber(found->second);
}

std::string textEntry(const kra::device::StringMap& data, const std::string& key,
                      const std::string& fallback) {
    const auto found = data.find(key);
    return found == data.end() ? fallback : found->second;
}

}  // namespace ni_usb_daq::host
