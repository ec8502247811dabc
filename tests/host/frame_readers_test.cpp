// The host's two readers of a stream's blocks, in-process: frame texts as the
// plug-in writes them (and as it must never be misread), their cut at a
// sample limit, and binary blocks whose header and payload must agree.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "FrameReaders.h"
#include "SyntheticFrames.h"

namespace ni_usb_daq::host {
namespace {

using host_tests::syntheticFrame;
using host_tests::syntheticSamples;
using Kind = FrameReading::Kind;

std::uint64_t bitsOf(double value) {
    return std::bit_cast<std::uint64_t>(value);
}

/// Equal bit for bit, or both NaN.
void expectSameValues(std::span<const double> actual, const std::vector<double>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (std::isnan(expected[i])) {
            EXPECT_TRUE(std::isnan(actual[i])) << i;
        } else {
            EXPECT_EQ(bitsOf(actual[i]), bitsOf(expected[i])) << i;
        }
    }
}

TEST(TextFrameReader, ReadsNumbersSamplesAndSnapshotOrOnlyChecksThem) {
    FrameContents contents;
    const std::string frame = syntheticFrame(7, 2, 4, 1, {true, false, true});
    ASSERT_EQ(readTextFrame(frame, FrameValues::Read, contents).kind, Kind::Whole);
    EXPECT_EQ(contents.numbers.sequenceNo, 7U);
    EXPECT_EQ(contents.numbers.sampleCount, 4U);
    EXPECT_EQ(contents.numbers.channelCount, 2U);
    EXPECT_EQ(contents.numbers.timestampNs, 1'700'000'000'000'000'700);
    expectSameValues(contents.samples(), syntheticSamples(2, 4, 1));
    EXPECT_EQ(contents.digitalLines, (std::vector<std::uint8_t>{1, 0, 1}));

    // A smaller frame after it: only its own values, no snapshot; members in any order.
    const std::string small =
        R"({"samples":[[-0.0,1e-05,1e+300]],"sequence_no":8,"layout":"channels_first",)"
        R"("n_channels":1,"sample_count":3})";
    ASSERT_EQ(readTextFrame(small, FrameValues::Read, contents).kind, Kind::Whole);
    expectSameValues(contents.samples(), {-0.0, 1e-05, 1e+300});
    EXPECT_TRUE(contents.digitalLines.empty());

    // Checked only: the numbers and snapshot, no samples.
    ASSERT_EQ(readTextFrame(frame, FrameValues::Check, contents).kind, Kind::Whole);
    EXPECT_EQ(contents.numbers.sequenceNo, 7U);
    EXPECT_TRUE(contents.samples().empty());
    EXPECT_EQ(contents.digitalLines.size(), 3U);
}

TEST(TextFrameReader, TellsAFrameWithUntrustworthySamplesFromOneWithoutNumbers) {
    const std::string head = R"({"layout":"channels_first","n_channels":1,"sample_count":2,)";
    const std::string tail = R"(,"sequence_no":3,"timestamp_ns":100})";
    const char* const malformed[] = {
        R"("samples":[[1.5e,2.0]])",       // an exponent without digits
        R"("samples":[[1.0]])",            // fewer than claimed
        R"("samples":[[1.0,2.0,3.0]])",    // more than claimed
        R"("samples":[[1.0,2.0],[3.0]])",  // another channel
        R"("samples":[[1.0,"x"]])",        // not a number
        R"("samples":[[1.0,inf]])",        // not JSON
        R"("samples":[[.5,2.0]])",         // not JSON either
        R"("samples":{"a":1})",            // not arrays
    };
    for (const std::string values : malformed) {
        SCOPED_TRACE(values);
        for (const auto mode : {FrameValues::Read, FrameValues::Check}) {
            FrameContents contents;
            const auto reading = readTextFrame(head + values + tail, mode, contents);
            EXPECT_EQ(reading.kind, Kind::Malformed);
            EXPECT_EQ(contents.numbers.sequenceNo, 3U);
            EXPECT_EQ(contents.numbers.sampleCount, 2U);
            EXPECT_TRUE(contents.samples().empty());
        }
    }
    const std::string fine = R"("samples":[[1.0,null]])";
    const std::pair<std::string, Kind> frames[] = {
        {head + fine + tail, Kind::Whole},
        {head + R"("samples":[[1.0,2.0]])" + tail.substr(0, tail.size() / 2), Kind::Unreadable},
        {head + fine + R"(,"timestamp_ns":100})", Kind::Unreadable},  // no sequence number
        {head + fine + R"(,"sequence_no":-3})", Kind::Unreadable},
        {head + fine + R"(,"sequence_no":3.5})", Kind::Unreadable},
        {R"({"layout":"rows_first","n_channels":1,"sample_count":2,)" + fine + tail,
         Kind::Malformed},
        {R"({"digital_lines":[true,2],)" + head.substr(1) + fine + tail, Kind::Unreadable},
        {R"({"digital_lines":[true],"n_digital_lines":2,)" + head.substr(1) + fine + tail,
         Kind::Malformed},
        {head.substr(0, head.size() - 1) + tail, Kind::Malformed},  // no samples at all
        {head + fine + tail + "x", Kind::Unreadable},
    };
    for (const auto& [text, kind] : frames) {
        FrameContents contents;
        EXPECT_EQ(readTextFrame(text, FrameValues::Read, contents).kind, kind) << text;
    }
}

// Every number reads as the correctly rounded double from_chars gives, bit for
// bit: shortest texts of converter-like values, of arbitrary bit patterns, and
// texts with 17 digits, exponents, zeros and signs.
TEST(TextFrameReader, ReadsEveryNumberAsFromCharsDoes) {
    std::vector<std::string> texts = {"0",
                                      "-0",
                                      "-0.0",
                                      "1e-05",
                                      "1E+300",
                                      "5e-324",
                                      "1.5e22",
                                      "9007199254740993",
                                      "1e23",
                                      "0.1",
                                      "123456789012345678901234567890",
                                      "0.000000000000000000000001",
                                      "2.2250738585072014e-308"};
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    const auto next = [&state] {
        state = state * 6364136223846793005u + 1442695040888963407u;
        return state;
    };
    char buffer[64];
    for (int i = 0; i < 20000; ++i) {
        // A 16-bit code through a calibration, as the simulated converter makes them.
        const double code = static_cast<double>(static_cast<std::int64_t>(next() >> 48) - 32768);
        const double converted = code * (20.0 / 65536.0) * 1.000123 + 0.000456;
        const double arbitrary = std::bit_cast<double>(next());
        for (const double value : {converted, arbitrary}) {
            if (std::isfinite(value)) {
                texts.emplace_back(buffer,
                                   std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
            }
        }
        std::snprintf(buffer, sizeof buffer, "%.17g", converted);
        texts.emplace_back(buffer);
    }
    std::string frame = R"({"layout":"channels_first","n_channels":1,"sample_count":)" +
                        std::to_string(texts.size()) + R"(,"samples":[[)";
    for (std::size_t i = 0; i < texts.size(); ++i) {
        frame += (i == 0 ? "" : ",") + texts[i];
    }
    frame += R"(]],"sequence_no":1})";
    FrameContents contents;
    ASSERT_EQ(readTextFrame(frame, FrameValues::Read, contents).kind, Kind::Whole);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        double expected = 0;
        std::from_chars(texts[i].data(), texts[i].data() + texts[i].size(), expected);
        ASSERT_EQ(bitsOf(contents.samples()[i]), bitsOf(expected)) << texts[i];
    }
}

// The cut keeps every byte the plug-in wrote but the samples beyond it: the
// same text as cutting the document and dumping it again.
TEST(TextFrameReader, CutsAFrameToItsFirstSamplesAsTheDocumentWouldBe) {
    for (const bool digital : {false, true}) {
        const std::string frame =
            syntheticFrame(4, 3, 6, 10, digital ? std::vector<bool>{true} : std::vector<bool>{});
        for (const std::uint64_t keep : {0U, 1U, 5U, 6U}) {
            auto document = nlohmann::json::parse(frame);
            for (auto& channel : document["samples"]) {
                channel.erase(channel.begin() + static_cast<std::ptrdiff_t>(keep), channel.end());
            }
            document["sample_count"] = keep;
            std::string cut;
            ASSERT_TRUE(cutTextFrame(frame, keep, cut));
            EXPECT_EQ(cut, document.dump()) << keep;
        }
    }
    std::string cut;
    EXPECT_FALSE(cutTextFrame(R"({"sample_count":2})", 1, cut));
}

/// A binary block's header as the plug-in writes it, with `change` applied.
std::string blockHeader(std::uint64_t channels, std::uint64_t count,
                        const nlohmann::json& change = nlohmann::json::object()) {
    nlohmann::json header = {{"version", 1},           {"sequence_no", 5},
                             {"timestamp_ns", 1200},   {"sample_count", count},
                             {"n_channels", channels}, {"layout", "channels_first"},
                             {"dtype", "float64"},     {"byte_order", "little"}};
    header.merge_patch(change);
    return header.dump();
}

std::string littleEndianBytes(const std::vector<double>& values) {
    std::string bytes;
    for (const double value : values) {
        std::uint64_t bits = bitsOf(value);
        for (int i = 0; i < 8; ++i, bits >>= 8) {
            bytes += static_cast<char>(bits & 0xffU);
        }
    }
    return bytes;
}

TEST(BinaryBlockReader, CopiesTheDoublesBitForBitNonFiniteOnesIncluded) {
    const std::vector<double> values = {0.1,
                                        -0.0,
                                        std::numeric_limits<double>::quiet_NaN(),
                                        std::numeric_limits<double>::infinity(),
                                        5e-324,
                                        -2.5};
    FrameContents contents;
    const auto reading = readBinaryBlock(
        blockHeader(2, 3, {{"digital_lines", {false, true}}, {"n_digital_lines", 2}}),
        littleEndianBytes(values), contents);
    ASSERT_EQ(reading.kind, Kind::Whole) << reading.problem;
    EXPECT_EQ(contents.numbers.sequenceNo, 5U);
    EXPECT_EQ(contents.numbers.timestampNs, 1200);
    ASSERT_EQ(contents.samples().size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(bitsOf(contents.samples()[i]), bitsOf(values[i])) << i;
    }
    EXPECT_EQ(contents.digitalLines, (std::vector<std::uint8_t>{0, 1}));

    // Cut at a limit: each channel's first samples, closed up.
    contents.cut(1);
    EXPECT_EQ(contents.numbers.sampleCount, 1U);
    ASSERT_EQ(contents.samples().size(), 2U);
    EXPECT_EQ(contents.samples()[0], 0.1);
    EXPECT_EQ(contents.samples()[1], std::numeric_limits<double>::infinity());
}

TEST(BinaryBlockReader, AHeaderThatDisagreesWithItselfOrItsPayloadIsMalformed) {
    const std::string payload = littleEndianBytes({1.0, 2.0, 3.0, 4.0});
    const std::pair<nlohmann::json, std::string> malformed[] = {
        {{{"sample_count", 3}}, payload},               // more samples than the payload holds
        {nlohmann::json::object(), payload + "x"},      // a payload not of whole doubles
        {nlohmann::json::object(), payload.substr(8)},  // one double short
        {{{"byte_order", "big"}}, payload},
        {{{"dtype", "float32"}}, payload},
        {{{"layout", "rows_first"}}, payload},
        {{{"version", 2}}, payload},
        {{{"digital_lines", {true}}, {"n_digital_lines", 2}}, payload},
        {{{"digital_lines", {true}}}, payload},
        {{{"n_channels", 4000000000000000000}}, payload},  // a product beyond any payload
    };
    for (const auto& [change, bytes] : malformed) {
        SCOPED_TRACE(change.dump());
        FrameContents contents;
        const auto reading = readBinaryBlock(blockHeader(2, 2, change), bytes, contents);
        EXPECT_EQ(reading.kind, Kind::Malformed);
        EXPECT_FALSE(reading.problem.empty());
        EXPECT_EQ(contents.numbers.sequenceNo, 5U);
        EXPECT_TRUE(contents.samples().empty());
    }
    const std::string unreadable[] = {"", "{", R"({"sequence_no":5,"sample_count":2})",
                                      blockHeader(2, 2).substr(1)};
    for (const auto& header : unreadable) {
        FrameContents contents;
        EXPECT_EQ(readBinaryBlock(header, payload, contents).kind, Kind::Unreadable) << header;
    }
}

}  // namespace
}  // namespace ni_usb_daq::host
