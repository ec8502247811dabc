#pragma once

#include <chrono>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "DeviceRecords.h"
#include "DeviceSession.h"
#include "OutputFormat.h"
#include "OutputTarget.h"
#include "StreamRecovery.h"
#include "StreamSession.h"

namespace ni_usb_daq::host {

// One function per subcommand. Each writes its result to `out` and returns
// the exit status; failures it cannot report as a result are thrown as
// HostError (or come from the plug-in as another standard exception).

/// Every device the driver lists, on every bus; nullopt when the plug-in
/// cannot list them.
std::optional<std::vector<DeviceIdentity>> listDevices(DeviceSession& session);

/// True when two device or channel names are the same to the driver, which
/// ignores case.
bool sameDriverName(const std::string& a, const std::string& b);

/// "the driver lists Dev1 (USB-6211), Dev2 (USB-6002)", for messages about a
/// device name the driver does not know.
std::string deviceListText(const std::vector<DeviceIdentity>& devices);

/// The device list: as `lines`, one aligned line per device (name, product,
/// serial, channel count, highest rate) for a person to read; otherwise JSON,
/// each device with its voltage ranges and the highest rate per channel for
/// 1..N channels.
int runScan(DeviceSession& session, bool allBuses, bool lines, std::ostream& out);

struct QueryOptions {
    std::optional<std::string> deviceName;
    std::optional<std::string> channel;
};
/// The device's description (and the channel's). A device the driver does not
/// list, or a channel that is not one of the device's, is a HostError.
int runQuery(DeviceSession& session, const QueryOptions& options, std::ostream& out);

/// How read and stream write what they acquire.
struct RecordingOutput {
    OutputFormat format = OutputFormat::Json;
    std::optional<std::string> path;  ///< --out; standard output when absent
    bool time = false;                ///< CSV: a time column
    bool header = false;              ///< JSON: the recording's header too
    bool compress = false;            ///< HDF5: shuffle and deflate the samples
};

struct ReadOptions {
    bool single = false;
    RecordingOutput output;
    kra::device::OperationParams settings;  ///< checked, device defaults applied
};
/// Writes to `target`, opened before the plug-in is loaded.
int runRead(DeviceSession& session, const ReadOptions& options, OutputTarget& target);

struct StreamOptions {
    StreamLimits limits;            ///< --frames, --samples
    std::optional<double> seconds;  ///< --seconds
    RecoveryOptions recovery;       ///< --recover and its bounds
    RecordingOutput output;
    kra::device::OperationParams settings;  ///< checked, device defaults applied
};
int runStream(DeviceSession& session, const StreamOptions& options, OutputTarget& target);

struct PlotOptions {
    std::string out = "plot.svg";
    /// Stream for this long instead of one finite read.
    std::optional<double> streamSeconds;
    /// Stream this many samples per channel instead of one finite read.
    std::optional<std::uint64_t> samples;
    /// All channels on one set of axes, however many there are.
    bool overlay = false;
    kra::device::OperationParams settings;
};
/// Writes the SVG to `target` (opened before the plug-in is loaded) and a
/// summary document to `out`.
int runPlot(DeviceSession& session, const PlotOptions& options, OutputTarget& target,
            std::ostream& out);

}  // namespace ni_usb_daq::host
