#pragma once

#include <string>

#include "DeviceRecords.h"
#include "DeviceSession.h"
#include "FrameDocument.h"

namespace ni_usb_daq::host {

/// "configure" of "analog_input" with the user's settings; HostError when it
/// fails. Returns the result's data (channels, rates, mode).
kra::device::StringMap configureAcquisition(DeviceSession& session,
                                            const kra::device::OperationParams& settings);

/// The settings of a finite read: the user's, with sample_mode=FINITE unless
/// they name a mode themselves.
kra::device::OperationParams finiteSettings(kra::device::OperationParams settings);

struct FiniteRead {
    kra::device::StringMap configuration;  ///< data of the configure result
    kra::device::StringMap data;           ///< data of the read_finite result
    FrameDocument frame;
};

/// Configures for a finite read and runs "read_finite".
FiniteRead readFinite(DeviceSession& session, const kra::device::OperationParams& settings);

/// Samples per second of the configured clock: "achieved_sample_rate_hz" when
/// the driver reported one, else "sample_rate_hz"; HostError without either.
double configuredSampleRate(const kra::device::StringMap& configuration);

/// The configured channel list ("ai_channels" of the configure result).
std::string configuredChannels(const kra::device::StringMap& configuration);

}  // namespace ni_usb_daq::host
