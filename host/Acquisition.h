#pragma once

#include <chrono>
#include <string>

#include "DeviceRecords.h"
#include "DeviceSession.h"
#include "Output.h"

namespace ni_usb_daq::host {

/// The user's checked settings completed for the session's device: channel
/// ai0 of it when no channels are named, and it as the device to describe.
kra::device::OperationParams withDeviceDefaults(kra::device::OperationParams settings,
                                                const DeviceIdentity& device);

/// "configure" of "analog_input" with the settings; HostError when it fails.
/// Returns the result's data (channels, rates, mode).
kra::device::StringMap configureAcquisition(DeviceSession& session,
                                            const kra::device::OperationParams& settings);

/// The settings of a finite read: the user's, with sample_mode=FINITE unless
/// they name a mode themselves.
kra::device::OperationParams finiteSettings(kra::device::OperationParams settings);

struct FiniteRead {
    kra::device::StringMap configuration;  ///< data of the configure result
    kra::device::StringMap data;           ///< data of the read_finite result
    std::string frameText;                 ///< the frame as the plug-in wrote it
    std::chrono::system_clock::time_point start;
};

/// Configures for a finite read and runs "read_finite".
FiniteRead readFinite(DeviceSession& session, const kra::device::OperationParams& settings);

/// Samples per second of the configured clock: "achieved_sample_rate_hz" when
/// the driver reported one, else "sample_rate_hz"; HostError without either.
double configuredSampleRate(const kra::device::StringMap& configuration);

/// The configured channel list ("ai_channels" of the configure result).
std::string configuredChannels(const kra::device::StringMap& configuration);

/// What a recording's header says: the device, the configure result and the
/// settings it was made with.
RecordingHeader recordingHeader(const DeviceSession& session,
                                const kra::device::OperationParams& settings,
                                const kra::device::StringMap& configuration, std::size_t channels,
                                std::chrono::system_clock::time_point start);

}  // namespace ni_usb_daq::host
