#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Waveforms.h"
#include "daqmx/NIDAQmx.h"

namespace daqmx_sim {

/// An analogue input voltage range, low and high limit in volts.
struct VoltageRange {
    double low = 0.0;
    double high = 0.0;
};

/// What a PFI terminal of a device can do.
enum class TerminalDirection { Input, Output, Bidirectional };

struct PfiTerminal {
    std::string name;  // "PFI0"
    TerminalDirection direction = TerminalDirection::Bidirectional;
    bool canReceive() const { return direction != TerminalDirection::Output; }
    bool canDrive() const { return direction != TerminalDirection::Input; }
};

/// One simulated device as the driver describes it.
struct SimDevice {
    std::string name;         // "Dev1"
    std::string productType;  // "USB-6211"
    uInt32 productNum = 0;
    uInt32 serialNum = 0;
    bool simulated = true;
    double aiMaxSingleChanRate = 0.0;     // samples per second
    double aiMaxMultiChanRate = 0.0;      // aggregate over all channels of a task
    std::vector<std::string> aiChannels;  // short names: "ai0", "ai1", ...
    std::vector<int32> aiTermCfgBits;     // per AI channel, DAQmx_Val_Bit_TermCfg_* set
    std::vector<VoltageRange> aiRanges;
    unsigned aiResolutionBits = 16;
    // Per AI channel: the signal the rig describes, or none for the default one.
    std::vector<std::optional<SignalShape>> aiSignals;
    // Input buffer per channel of a continuous task; 0: the driver's default for the rate.
    std::uint64_t aiBufferSamplesPerChannel = 0;
    std::vector<std::string> diLines;  // short names: "port0/line0", ...
    double sampleClockTimebaseHz = 0.0;
    int32 selfTestStatus = 0;
    bool present = true;
    // Simulated second before which a replugged device is listed but its
    // properties and tasks still fail (it is still enumerating).
    double readyAt = 0.0;
    std::vector<PfiTerminal> pfi;
    bool digitalTriggers = true;
    bool analogTriggers = false;
    bool referenceTriggers = true;
    // Timebase error in parts per million: its sample clocks run that much
    // fast (or slow, when negative) against simulated time.
    double clockPpm = 0.0;
};

/// The terminals and triggers of the product `device.productType` names,
/// as the real devices have them (USB-6211, USB-6002); other products get
/// no PFI terminals, digital edge and reference triggers.
void applyProductTriggerDefaults(SimDevice& device);

/// The rig of a freshly loaded driver: "Dev1", a USB-6211, and "Dev2", a USB-6002.
std::vector<SimDevice> builtInDevices();

/// Position of `shortName` (matched without regard to case, as the driver does)
/// in `names`, or -1.
int indexOfName(const std::vector<std::string>& names, std::string_view shortName);

/// The smallest of the device's ranges that holds [minVal, maxVal], or null.
const VoltageRange* smallestRangeHolding(const SimDevice& device, double minVal, double maxVal);

/// ASCII case-insensitive equality, the driver's rule for device and channel names.
bool sameName(std::string_view a, std::string_view b);

}  // namespace daqmx_sim
