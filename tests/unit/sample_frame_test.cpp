// The sample frame: its document, the sample count it may carry, and the fast
// text writer, which must produce exactly the library's compact dump.
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "stubs/acquisition/SampleFrame.h"

using kra::device::stubs::buildFrameJson;
using kra::device::stubs::frameSampleCount;
using kra::device::stubs::SampleFrameView;
using kra::device::stubs::writeFrameText;

namespace {

SampleFrameView viewOf(const std::vector<double>& buffer, std::uint64_t channels,
                       std::int32_t count, const std::vector<bool>* digital = nullptr) {
    SampleFrameView view;
    view.sequenceNo = 42;
    view.timestampNs = 1'700'000'000'123'456'700;
    view.sampleCount = count;
    view.channelCount = channels;
    view.samples = buffer.empty() ? nullptr : buffer.data();
    view.sampleBufferSize = buffer.size();
    view.digitalLines = digital;
    return view;
}

std::string compactDump(const SampleFrameView& view) {
    return buildFrameJson(view).dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
}

std::string fastText(const SampleFrameView& view) {
    // Start from unrelated contents so that stale bytes would show.
    std::string text(7, '#');
    writeFrameText(view, text);
    return text;
}

const std::vector<double>& edgeValues() {
    static const std::vector<double> values = {
        0.0,
        -0.0,
        std::numeric_limits<double>::denorm_min(),
        -std::numeric_limits<double>::denorm_min(),
        5e-324,
        2.2250738585072009e-308,
        DBL_MIN,
        1e-5,
        1e-4,
        0.001,
        1e15,
        1e16,
        1e17,
        123456789012345.0,
        1234567890123456.0,
        1e300,
        -1e300,
        DBL_MAX,
        -DBL_MAX,
        std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
        0.1 + 0.2,
        1 / 3.0,
        -2 / 3.0,
        0.123456789012,
        -9.999999999999999,
        1.0,
        -10.0,
        42.5,
    };
    return values;
}

}  // namespace

TEST(FrameText, MatchesTheLibraryDumpForEdgeValuesAndShapes) {
    const std::vector<bool> digital = {true, false, false, true, true};
    const std::vector<bool> noLines;
    const auto& edges = edgeValues();
    for (const std::uint64_t channels : {0u, 1u, 2u, 8u, 32u}) {
        for (const std::int32_t count : {0, 1, 7}) {
            std::vector<double> buffer(channels * static_cast<std::size_t>(count));
            for (std::size_t i = 0; i < buffer.size(); ++i) {
                buffer[i] = edges[(i * 7 + channels) % edges.size()];
            }
            for (const std::vector<bool>* lines :
                 {static_cast<const std::vector<bool>*>(nullptr), &noLines, &digital}) {
                const SampleFrameView view = viewOf(buffer, channels, count, lines);
                EXPECT_EQ(fastText(view), compactDump(view))
                    << channels << " channels x " << count << " samples";
            }
        }
    }
    // Every edge value in one row, so none depends on the mixing above.
    const SampleFrameView row = viewOf(edges, 1, static_cast<std::int32_t>(edges.size()));
    EXPECT_EQ(fastText(row), compactDump(row));
}

TEST(FrameText, MatchesTheLibraryDumpForPseudoRandomBlocks) {
    std::mt19937_64 random(20240611);
    std::uniform_int_distribution<int> shapePick(0, 3);
    std::uniform_int_distribution<int> countPick(0, 40);
    std::uniform_int_distribution<int> exponentPick(-30, 30);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const std::uint64_t shapes[] = {1, 2, 8, 32};

    for (int block = 0; block < 300; ++block) {
        const std::uint64_t channels = shapes[shapePick(random)];
        const std::int32_t count = countPick(random);
        std::vector<double> buffer(channels * static_cast<std::size_t>(count));
        for (double& value : buffer) {
            switch (block % 3) {
                case 0:  // any bit pattern: subnormals, NaNs and infinities included
                    value = std::bit_cast<double>(random());
                    break;
                case 1:  // voltages
                    value = 10.0 * unit(random);
                    break;
                default:  // across the plain/exponent notation boundaries
                    value = unit(random) * std::pow(10.0, exponentPick(random));
                    break;
            }
        }
        std::vector<bool> lines(block % 5);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            lines[i] = (random() & 1U) != 0;
        }
        SampleFrameView view = viewOf(buffer, channels, count, &lines);
        view.sequenceNo = random();
        view.timestampNs = static_cast<std::int64_t>(random());
        ASSERT_EQ(fastText(view), compactDump(view)) << "block " << block;
    }
}

TEST(FrameText, WritesKeysInOrderAndExtremeIntegers) {
    const std::vector<double> buffer = {-0.0, 1e-5, std::nan(""), 0.1 + 0.2};
    const std::vector<bool> lines = {false, true};
    SampleFrameView view = viewOf(buffer, 2, 2, &lines);
    view.sequenceNo = std::numeric_limits<std::uint64_t>::max();
    view.timestampNs = -100;
    EXPECT_EQ(fastText(view),
              "{\"digital_lines\":[false,true],\"layout\":\"channels_first\",\"n_channels\":2,"
              "\"n_digital_lines\":2,\"sample_count\":2,\"samples\":[[-0.0,1e-05],"
              "[null,0.30000000000000004]],\"sequence_no\":18446744073709551615,"
              "\"timestamp_ns\":-100}");

    view = viewOf({}, 0, 0);
    view.sequenceNo = 0;
    view.timestampNs = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(fastText(view),
              "{\"layout\":\"channels_first\",\"n_channels\":0,\"sample_count\":0,\"samples\":[],"
              "\"sequence_no\":0,\"timestamp_ns\":-9223372036854775808}");
    EXPECT_EQ(fastText(view), compactDump(view));
}

TEST(FrameText, ReusesTheStringWithoutLeftovers) {
    std::vector<double> longBuffer(8 * 100, 0.123456789012);
    std::string text;
    writeFrameText(viewOf(longBuffer, 8, 100), text);
    const std::size_t longCapacity = text.capacity();

    const std::vector<double> shortBuffer = {1.5};
    const SampleFrameView shortView = viewOf(shortBuffer, 1, 1);
    writeFrameText(shortView, text);
    EXPECT_EQ(text, compactDump(shortView));
    EXPECT_EQ(text.capacity(), longCapacity);
}

TEST(FrameDocument, HasTheMembersAndTypesOfAFrame) {
    const std::vector<double> buffer = {1.0, 2.0};
    SampleFrameView view = viewOf(buffer, 2, 1);
    view.timestampNs = -5;
    nlohmann::json document = buildFrameJson(view);
    EXPECT_EQ(document.size(), 6U);
    EXPECT_TRUE(document["sequence_no"].is_number_unsigned());
    EXPECT_TRUE(document["timestamp_ns"].is_number_integer());
    EXPECT_EQ(document["timestamp_ns"].get<std::int64_t>(), -5);
    EXPECT_TRUE(document["sample_count"].is_number_integer());
    EXPECT_TRUE(document["n_channels"].is_number_unsigned());
    EXPECT_EQ(document["layout"], "channels_first");
    EXPECT_TRUE(document["samples"][0][0].is_number_float());
    EXPECT_FALSE(document.contains("digital_lines"));

    const std::vector<bool> empty;
    view.digitalLines = &empty;
    EXPECT_EQ(buildFrameJson(view).size(), 6U);

    const std::vector<bool> lines = {true, false, true};
    view.digitalLines = &lines;
    document = buildFrameJson(view);
    EXPECT_EQ(document.size(), 8U);
    EXPECT_EQ(document["digital_lines"], nlohmann::json({true, false, true}));
    EXPECT_TRUE(document["n_digital_lines"].is_number_unsigned());
    EXPECT_EQ(document["n_digital_lines"], 3U);
}

TEST(FrameDocument, LaysChannelsOutWithTheDeliveredCountAsStride) {
    const std::vector<double> sixValues = {0, 1, 2, 3, 4, 5};
    nlohmann::json samples = buildFrameJson(viewOf(sixValues, 2, 3))["samples"];
    EXPECT_EQ(samples, nlohmann::json::parse("[[0.0,1.0,2.0],[3.0,4.0,5.0]]"));

    // Buffer sized for 10 per channel, the driver delivered 7.
    std::vector<double> buffer(20);
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<double>(i);
    }
    const nlohmann::json document = buildFrameJson(viewOf(buffer, 2, 7));
    EXPECT_EQ(document["sample_count"], 7);
    EXPECT_EQ(document["samples"][0], nlohmann::json({0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0}));
    EXPECT_EQ(document["samples"][1], nlohmann::json({7.0, 8.0, 9.0, 10.0, 11.0, 12.0, 13.0}));
}

TEST(FrameSampleCount, NeverExceedsTheBuffer) {
    const std::vector<double> buffer(20, 0.5);
    EXPECT_EQ(frameSampleCount(viewOf(buffer, 2, 7)), 7);
    EXPECT_EQ(frameSampleCount(viewOf(buffer, 2, 10)), 10);
    EXPECT_EQ(frameSampleCount(viewOf(buffer, 2, 11)), 10);
    EXPECT_EQ(frameSampleCount(viewOf(buffer, 3, 10)), 6);
    EXPECT_EQ(frameSampleCount(viewOf(buffer, 32, 1)), 0);
    EXPECT_EQ(frameSampleCount(viewOf(buffer, 2, -4)), 0);
    EXPECT_EQ(frameSampleCount(viewOf(buffer, 0, 9)), 9);
    EXPECT_EQ(frameSampleCount(viewOf({}, 2, 9)), 0);

    // The driver claims more than was asked for: both paths stop at the buffer.
    const std::vector<double> small = {0.25, 0.5, 0.75};
    const SampleFrameView overReported = viewOf(small, 1, 1000);
    const nlohmann::json document = buildFrameJson(overReported);
    EXPECT_EQ(document["sample_count"], 3);
    EXPECT_EQ(document["samples"], nlohmann::json::parse("[[0.25,0.5,0.75]]"));
    EXPECT_EQ(fastText(overReported), document.dump());

    const nlohmann::json noChannels = buildFrameJson(viewOf({}, 0, 5));
    EXPECT_EQ(noChannels["sample_count"], 5);
    EXPECT_EQ(noChannels["samples"], nlohmann::json::array());
}
