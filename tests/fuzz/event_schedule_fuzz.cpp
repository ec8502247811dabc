// Arbitrary bytes as an event schedule (DAQmxSim_ScheduleEventsJson) and as a
// rig file (DAQmxSim_LoadDevices), through the simulated driver's C API. Each
// call either takes the text or refuses it with the simulator's own status for
// that; an exception through the C API, any other status or a sanitizer
// report is a finding. A schedule that is taken is played to its end, and
// every device of a rig that is taken is asked for a sample clock, so the
// code that uses what the parsers let through runs too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "daqmx/sim/NIDAQmxSimControl.h"

#include "ScratchFile.h"

namespace {

const std::string& scratchFile() {
    return fuzz_support::scratchFile("/tmp/nidaqmx_sim_rig_fuzz_XXXXXX");
}

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void playSchedule(const std::string& text) {
    const int32 status = DAQmxSim_ScheduleEventsJson(text.c_str());
    require(status == 0 || status == DAQMXSIM_ERROR_INVALID_EVENT_SCHEDULE);
    if (status == 0) {
        // Every moment a schedule may name is finite, so all of it happens.
        DAQmxSim_AdvanceTime(std::numeric_limits<double>::max());
        require(DAQmxSim_PendingEventCount() == 0);
    }
}

// Each listed device gets a task on its first channel and a sample clock.
void useDevices() {
    std::vector<char> names(1 << 16, '\0');
    if (DAQmxGetSysDevNames(names.data(), static_cast<uInt32>(names.size())) != 0) {
        return;
    }
    std::string list(names.data());
    for (std::size_t start = 0; start < list.size();) {
        const std::size_t end = std::min(list.find(", ", start), list.size());
        const std::string channel = list.substr(start, end - start) + "/ai0";
        TaskHandle task = nullptr;
        if (DAQmxCreateTask("", &task) == 0) {
            if (DAQmxCreateAIVoltageChan(task, channel.c_str(), "", DAQmx_Val_RSE, -1.0, 1.0,
                                         DAQmx_Val_Volts, nullptr) == 0) {
                (void)DAQmxCfgSampClkTiming(task, nullptr, 1000.0, DAQmx_Val_Rising,
                                            DAQmx_Val_ContSamps, 100);
            }
            DAQmxClearTask(task);
        }
        start = end + 2;
    }
}

void loadRig(const std::uint8_t* data, std::size_t size) {
    {
        // A new file each time: truncating one that has data makes ext4 write
        // it back at the close, which costs more than the rest of a run.
        ::unlink(scratchFile().c_str());
        std::ofstream out(scratchFile(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const int32 status = DAQmxSim_LoadDevices(scratchFile().c_str());
    require(status == 0 || status == DAQMXSIM_ERROR_INVALID_RIG_DESCRIPTION);
    if (status == 0) {
        useDevices();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DAQmxSim_Reset();
    playSchedule(std::string(reinterpret_cast<const char*>(data), size));
    loadRig(data, size);
    return 0;
}
