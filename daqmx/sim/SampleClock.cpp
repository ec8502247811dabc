#include "SampleClock.h"

#include <algorithm>
#include <cmath>

#include "ErrorText.h"
#include "StatusCodes.h"

namespace daqmx_sim {

GrantedClock grantSampleClock(const SimDevice& device, double requested, std::size_t channelCount,
                              bool internalClock) {
    const double channels = static_cast<double>(channelCount == 0 ? 1 : channelCount);
    const double aggregateMax =
        channelCount <= 1 ? device.aiMaxSingleChanRate : device.aiMaxMultiChanRate;
    const double perChannelMax = aggregateMax / channels;

    if (!std::isfinite(requested) || requested <= 0.0) {
        return {
            status::kInvalidAttributeValue, 0.0,
            errorText(status::kInvalidAttributeValue, statusSummary(status::kInvalidAttributeValue),
                      {{"Property", "DAQmx_SampClk_Rate"},
                       {"Requested Value", formatNumber(requested)},
                       {"Device", device.name}})};
    }
    if (requested > perChannelMax) {
        return {
            status::kInvalidAttributeValue, 0.0,
            errorText(status::kInvalidAttributeValue, statusSummary(status::kInvalidAttributeValue),
                      {{"Property", "DAQmx_SampClk_Rate"},
                       {"Requested Value", formatNumber(requested)},
                       {"Maximum Value", formatNumber(perChannelMax)},
                       {"Number of Channels", std::to_string(channelCount)},
                       {"Device", device.name}})};
    }
    const double timebase = device.sampleClockTimebaseHz;
    if (!internalClock || timebase <= 0.0) {
        return {0, requested, {}};
    }
    double divisor = std::max(1.0, std::round(timebase / requested));
    if (divisor > kMaxSampleClockDivisor) {
        // The counter that divides the timebase down cannot count that far.
        return {
            status::kInvalidAttributeValue, 0.0,
            errorText(status::kInvalidAttributeValue, statusSummary(status::kInvalidAttributeValue),
                      {{"Property", "DAQmx_SampClk_Rate"},
                       {"Requested Value", formatNumber(requested)},
                       {"Minimum Value", formatNumber(timebase / kMaxSampleClockDivisor)},
                       {"Device", device.name}})};
    }
    // The nearest divisor may land just above the limit; the next one does not.
    while (timebase / divisor > perChannelMax) {
        divisor += 1.0;
    }
    return {0, timebase / divisor, {}};
}

}  // namespace daqmx_sim
