#include "tests/support/ReferenceFrameJson.h"

namespace kra::device::stubs {

nlohmann::json buildFrameJson(const SampleFrameView& frame) {
    const std::int32_t count = frameSampleCount(frame);
    const auto perChannel = static_cast<std::size_t>(count);

    nlohmann::json document = nlohmann::json::object();
    document["sequence_no"] = frame.sequenceNo;
    document["timestamp_ns"] = frame.timestampNs;
    document["sample_count"] = count;
    document["n_channels"] = frame.channelCount;
    document["layout"] = kFrameLayout;

    nlohmann::json samples = nlohmann::json::array();
    for (std::uint64_t c = 0; c < frame.channelCount; ++c) {
        nlohmann::json channel = nlohmann::json::array();
        const double* first = perChannel == 0 ? nullptr : frame.samples + c * perChannel;
        for (std::size_t s = 0; s < perChannel; ++s) {
            channel.push_back(first[s]);
        }
        samples.push_back(std::move(channel));
    }
    document["samples"] = std::move(samples);

    if (frame.digitalLines != nullptr && !frame.digitalLines->empty()) {
        nlohmann::json lines = nlohmann::json::array();
        for (const bool line : *frame.digitalLines) {
            lines.push_back(line);
        }
        document["digital_lines"] = std::move(lines);
        document["n_digital_lines"] = frame.digitalLines->size();
    }
    return document;
}

}  // namespace kra::device::stubs
