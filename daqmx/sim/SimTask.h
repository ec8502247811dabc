#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "SimDevice.h"

namespace daqmx_sim {

enum class ChannelKind { None, AnalogInput, DigitalInput };

struct AnalogChannel {
    std::string physicalName;  // "Dev1/ai3"
    std::uint32_t index = 0;   // position in the device's AI channel list
    VoltageRange range;        // the device range chosen for the requested limits
    int32 terminalConfig = DAQmx_Val_RSE;
};

struct DigitalChannel {
    std::string name;                        // "Dev1/port0/line2" (first line)
    std::vector<std::uint32_t> lineIndices;  // positions in the device's DI line list
};

struct SampleTiming {
    double rate = 0.0;  // granted samples per second per channel
    int32 sampleMode = DAQmx_Val_ContSamps;
    std::uint64_t samplesPerChannel = 0;  // finite: total; continuous: buffer hint
    bool finite() const { return sampleMode == DAQmx_Val_FiniteSamps; }
};

/// A start or reference trigger as the task was configured.
struct TriggerSetup {
    int32 type = DAQmx_Val_None;
    std::string source;             // "/Dev1/PFI0", or the channel of an analogue trigger
    int32 edge = DAQmx_Val_Rising;  // slope, for an analogue trigger
    double level = 0.0;
    uInt32 pretriggerSamples = 0;
    bool set() const { return type != DAQmx_Val_None; }
};

/// A live task of the simulated driver.
struct SimTask {
    std::uint64_t id = 0;
    std::string name;
    ChannelKind kind = ChannelKind::None;
    std::string device;  // device of every channel (canonical name)
    std::vector<AnalogChannel> analog;
    std::vector<DigitalChannel> digital;
    std::optional<SampleTiming> timing;  // none: on-demand

    bool running = false;
    // Changes at every start and stop, so a waiting read notices that the
    // acquisition it waited for has ended, even if the task was started again.
    std::uint64_t generation = 0;
    double startedAt = 0.0;         // simulated seconds, at the latest start
    std::uint64_t samplesRead = 0;  // per channel, since the latest start
    // The reader fell further behind than the input buffer holds: the
    // acquisition is lost until the task is stopped.
    bool overflowed = false;
    // Non-zero once the task's acquisition was aborted under it (the device
    // unplugged, reset, or its transfer aborted): every read, count and start
    // fails with this status until the task is cleared; replugging or
    // re-enumerating the device does not bring it back.
    int32 abortStatus = 0;
    // Samples per channel of the input buffer the task asked for itself
    // (DAQmxCfgInputBuffer); none: the driver's choice.
    std::optional<std::uint64_t> inputBuffer;

    TriggerSetup startTrigger;
    TriggerSetup referenceTrigger;
    std::string clockTerminal;       // "/Dev2/PFI0"; empty: the device's own clock
    std::string sampleClockExport;   // terminal the sample clock drives, or empty
    std::string startTriggerExport;  // terminal the start trigger drives, or empty
    // Of the latest run: when the triggers fired (simulated seconds), when
    // sample 0 of what reads deliver was acquired (none while a trigger is
    // still awaited) and the signal's sample index it carries.
    std::optional<double> startTriggeredAt;
    std::optional<double> referenceTriggeredAt;
    std::optional<double> firstSampleAt;
    std::uint64_t firstSampleIndex = 0;
    // Samples of an analogue trigger's source already searched for the crossing.
    std::uint64_t analogSearched = 0;

    std::size_t channelCount() const {
        return kind == ChannelKind::DigitalInput ? digital.size() : analog.size();
    }
};

}  // namespace daqmx_sim
