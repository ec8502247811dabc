#include "SimDevice.h"

namespace daqmx_sim {

namespace {

std::vector<std::string> numberedNames(std::string_view prefix, int count) {
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        names.push_back(std::string(prefix) + std::to_string(i));
    }
    return names;
}

}  // namespace

std::vector<SimDevice> builtInDevices() {
    // A differential input needs a pair of terminals: ai<k> with ai<k + half>,
    // so only the lower half of each device's channels can measure that way.
    constexpr int32 kSingleEnded = DAQmx_Val_Bit_TermCfg_RSE | DAQmx_Val_Bit_TermCfg_NRSE;
    constexpr int32 kSingleEndedOrDiff = kSingleEnded | DAQmx_Val_Bit_TermCfg_Diff;
    constexpr int32 kRseOnly = DAQmx_Val_Bit_TermCfg_RSE;
    constexpr int32 kRseOrDiff = kRseOnly | DAQmx_Val_Bit_TermCfg_Diff;

    SimDevice dev1;
    dev1.name = "Dev1";
    dev1.productType = "USB-6211";
    dev1.productNum = 0x7166;
    dev1.serialNum = 0x1A2B3C4D;
    dev1.aiMaxSingleChanRate = 250000.0;
    dev1.aiMaxMultiChanRate = 250000.0;
    dev1.aiChannels = numberedNames("ai", 16);
    dev1.aiTermCfgBits.assign(8, kSingleEndedOrDiff);
    dev1.aiTermCfgBits.resize(dev1.aiChannels.size(), kSingleEnded);
    dev1.aiRanges = {{-10.0, 10.0}, {-5.0, 5.0}, {-1.0, 1.0}, {-0.2, 0.2}};
    dev1.diLines = numberedNames("port0/line", 4);
    // A fine timebase: most rates are granted exactly or within a few ppm.
    dev1.sampleClockTimebaseHz = 80e6;

    SimDevice dev2;
    dev2.name = "Dev2";
    dev2.productType = "USB-6002";
    dev2.productNum = 0x7A2C;
    dev2.serialNum = 0x01F5A3B7;
    dev2.aiMaxSingleChanRate = 50000.0;
    dev2.aiMaxMultiChanRate = 50000.0;
    dev2.aiChannels = numberedNames("ai", 8);
    dev2.aiTermCfgBits.assign(4, kRseOrDiff);
    dev2.aiTermCfgBits.resize(dev2.aiChannels.size(), kRseOnly);
    dev2.aiRanges = {{-10.0, 10.0}};
    dev2.diLines = numberedNames("port0/line", 8);
    // A coarse timebase, so that coercion of the requested rate shows.
    dev2.sampleClockTimebaseHz = 100e3;

    applyProductTriggerDefaults(dev1);
    applyProductTriggerDefaults(dev2);
    return {dev1, dev2};
}

void applyProductTriggerDefaults(SimDevice& device) {
    const auto numbered = [&device](int first, int last, TerminalDirection direction) {
        for (int i = first; i <= last; ++i) {
            device.pfi.push_back({"PFI" + std::to_string(i), direction});
        }
    };
    device.pfi.clear();
    device.digitalTriggers = true;
    device.analogTriggers = false;
    device.referenceTriggers = true;
    if (device.productType == "USB-6211") {
        numbered(0, 3, TerminalDirection::Input);
        numbered(4, 7, TerminalDirection::Output);
    } else if (device.productType == "USB-6002") {
        numbered(0, 1, TerminalDirection::Bidirectional);
        device.referenceTriggers = false;
    }
}

const VoltageRange* smallestRangeHolding(const SimDevice& device, double minVal, double maxVal) {
    const VoltageRange* best = nullptr;
    for (const VoltageRange& range : device.aiRanges) {
        if (range.low <= minVal && maxVal <= range.high &&
            (best == nullptr || range.high - range.low < best->high - best->low)) {
            best = &range;
        }
    }
    return best;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        // ASCII only: the process locale must not change how names match.
        const auto lower = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

int indexOfName(const std::vector<std::string>& names, std::string_view shortName) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (sameName(names[i], shortName)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace daqmx_sim
