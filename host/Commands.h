#pragma once

#include <chrono>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>

#include "DeviceRecords.h"
#include "DeviceSession.h"
#include "StreamSession.h"

namespace ni_usb_daq::host {

// One function per subcommand. Each writes its result to `out` and returns
// the exit status; failures it cannot report as a result are thrown as
// HostError (or come from the plug-in as another standard exception).

int runInfo(DeviceSession& session, std::ostream& out);
int runStatus(DeviceSession& session, bool connectFirst, std::ostream& out);
int runConfigure(DeviceSession& session, const kra::device::OperationParams& settings,
                 std::ostream& out);
int runScan(DeviceSession& session, bool allBuses, std::ostream& out);

struct QueryOptions {
    std::optional<std::string> deviceName;
    std::optional<std::string> channel;
};
int runQuery(DeviceSession& session, const QueryOptions& options, std::ostream& out);

int runCapabilities(DeviceSession& session, std::ostream& out);

enum class ReadFormat { Json, Csv };
struct ReadOptions {
    bool single = false;
    ReadFormat format = ReadFormat::Json;
    kra::device::OperationParams settings;
};
int runRead(DeviceSession& session, const ReadOptions& options, std::ostream& out);

enum class StreamFormat { JsonLines, Csv };
struct StreamOptions {
    StreamLimits limits;
    StreamFormat format = StreamFormat::JsonLines;
    kra::device::OperationParams settings;
};
int runStream(DeviceSession& session, const StreamOptions& options, std::ostream& out);

struct PlotOptions {
    std::filesystem::path out = "plot.svg";
    /// Stream for this long instead of one finite read.
    std::optional<std::chrono::duration<double>> streamDuration;
    kra::device::OperationParams settings;
};
int runPlot(DeviceSession& session, const PlotOptions& options, std::ostream& out);

}  // namespace ni_usb_daq::host
