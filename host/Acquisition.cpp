#include "Acquisition.h"

#include "ChannelNames.h"
#include "HostError.h"
#include "Settings.h"

namespace ni_usb_daq::host {

kra::device::OperationParams withDeviceDefaults(kra::device::OperationParams settings,
                                                const DeviceIdentity& device) {
    settings.try_emplace("ai_channels", device.name + "/ai0");
    settings.try_emplace("device_name", device.name);
    return settings;
}

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
    read.start = std::chrono::system_clock::now();
    read.data = session.require("analog_input", "read_finite", finite).data;
    const auto frame = read.data.find("frame");
    if (frame == read.data.end()) {
        throw HostError("read_finite returned no frame");
    }
    read.frameText = frame->second;
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

RecordingHeader recordingHeader(const DeviceSession& session,
                                const kra::device::OperationParams& settings,
                                const kra::device::StringMap& configuration, std::size_t channels,
                                std::chrono::system_clock::time_point start) {
    RecordingHeader header;
    header.device = session.device().name;
    header.productType = session.device().productType;
    const std::string list = configuredChannels(configuration);
    if (channels == 0) {
        // No count reported: as many as the list names.
        channels = expandChannelList(list).value_or(std::vector<std::string>()).size();
    }
    header.channels = channelNames(list, channels);
    header.digitalLines = settingValue(settings, "digital_input_lines");
    const auto achieved = numberEntry(configuration, "achieved_sample_rate_hz").value_or(0.0);
    header.sampleRateHz =
        achieved > 0 ? achieved : numberEntry(configuration, "sample_rate_hz").value_or(0.0);
    header.requestedSampleRateHz =
        numberEntry(configuration, "requested_sample_rate_hz").value_or(header.sampleRateHz);
    header.sampleMode = textEntry(configuration, "sample_mode");
    header.voltageRangeMin = settingValue(settings, "voltage_range_min");
    header.voltageRangeMax = settingValue(settings, "voltage_range_max");
    header.terminalConfig = settingValue(settings, "terminal_config");
    header.start = start;
    return header;
}

}  // namespace ni_usb_daq::host
