#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "DeviceRecords.h"
#include "DeviceSession.h"
#include "OutputTarget.h"
#include "RecordingWriter.h"

namespace ni_usb_daq::host {

/// The user's checked settings completed for the session's device: channel
/// ai0 of it when no channels are named, and it as the device to describe.
kra::device::OperationParams withDeviceDefaults(kra::device::OperationParams settings,
                                                const DeviceIdentity& device);

/// Throws UsageError, naming both devices, when the settings name analogue
/// channels of a device other than `device` (given with --device).
void requireChannelsOf(const kra::device::OperationParams& settings, const std::string& device);

/// "configure" of "analog_input" with the settings; HostError when it fails.
/// Returns the result's data (channels, rates, mode).
kra::device::StringMap configureAcquisition(DeviceSession& session,
                                            const kra::device::OperationParams& settings);

/// The settings of a finite read: the user's, with sample_mode=FINITE unless
/// they name a mode themselves, and a read timeout long enough for the whole
/// block unless they set read_timeout_s.
kra::device::OperationParams finiteSettings(kra::device::OperationParams settings);

struct FiniteRead {
    kra::device::StringMap configuration;  ///< data of the configure result
    kra::device::StringMap data;           ///< data of the read_finite result
    std::string frameText;                 ///< the frame as the plug-in wrote it
    std::chrono::system_clock::time_point start;
};

/// Configures for a finite read and runs "read_finite". A stop request
/// (Ctrl-C) while it waits abandons the read: the target's temporary file is
/// removed, "<command>: interrupted" goes to standard error and the process
/// ends at once with status 130, as the plug-in cannot be left mid-read.
FiniteRead readFinite(DeviceSession& session, const kra::device::OperationParams& settings,
                      OutputTarget* target, std::string_view command);

/// Samples per second of the configured clock at full precision:
/// "achieved_sample_rate_hz_exact", else "achieved_sample_rate_hz", else
/// "sample_rate_hz"; 0 when there is no clock.
double achievedSampleRate(const kra::device::StringMap& configuration);

/// What a recording's header states, from what configure reported: the
/// channels and ranges in use, the device they belong to, the achieved rate.
/// Falls back to the settings for what an older plug-in does not report.
/// `digital`: the run records the digital lines of the settings.
RecordingFacts recordingFacts(DeviceSession& session, const kra::device::OperationParams& settings,
                              const kra::device::StringMap& configuration, bool digital);

}  // namespace ni_usb_daq::host
