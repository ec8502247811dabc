#include "Waveforms.h"

namespace daqmx_sim {

double analogSample(std::uint32_t channelIndex, std::uint64_t sampleIndex) {
    return 0.001 * (static_cast<double>(channelIndex) + 1.0) +
           0.000001 * static_cast<double>(sampleIndex % 1000);
}

uInt8 digitalSample(std::uint32_t lineIndex, std::uint64_t sampleIndex) {
    if (lineIndex >= 64) {
        return 0;
    }
    return static_cast<uInt8>(((sampleIndex + 1) >> lineIndex) & 1U);
}

}  // namespace daqmx_sim
