#include "Acquisition.h"

#include "HostError.h"

namespace ni_usb_daq::host {

kra::device::StringMap configureAcquisition(DeviceSession& session,
                                            const kra::device::OperationParams& settings) {
    return session.require("analog_input", "configure", settings).data;
}

kra::device::OperationParams finiteSettings(kra::device::OperationParams settings) {
    settings.try_emplace("sample_mode", "FINITE");
    return settings;
}

FiniteRead readFinite(DeviceSession& session, const kra::device::OperationParams& settings) {
    const auto finite = finiteSettings(settings);
    FiniteRead read;
    read.configuration = configureAcquisition(session, finite);
    // read_finite takes its own samples_per_channel; the same settings keep
    // it equal to the configured count.
    read.data = session.require("analog_input", "read_finite", finite).data;
    const auto frame = read.data.find("frame");
    if (frame == read.data.end()) {
        throw HostError("read_finite returned no frame");
    }
    read.frame = parseFrame(frame->second);
    return read;
}

double configuredSampleRate(const kra::device::StringMap& configuration) {
    if (const auto achieved = numberEntry(configuration, "achieved_sample_rate_hz");
        achieved && *achieved > 0) {
        return *achieved;
    }
    if (const auto rate = numberEntry(configuration, "sample_rate_hz"); rate && *rate > 0) {
        return *rate;
    }
    throw HostError("configure reported no usable sample rate");
}

std::string configuredChannels(const kra::device::StringMap& configuration) {
    return textEntry(configuration, "ai_channels");
}

}  // namespace ni_usb_daq::host
