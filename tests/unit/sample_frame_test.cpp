// The sample frame: its document, the sample count it may carry, and the fast
// text writer, which must produce exactly the library's compact dump, with or
// without a stream's number text cache.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <algorithm>
#include <tuple>

#include <gtest/gtest.h>

#include "stubs/acquisition/SampleFrame.h"
#include "support/ReferenceFrameJson.h"

using kra::device::stubs::buildFrameJson;
using kra::device::stubs::frameSampleCount;
using kra::device::stubs::NumberTextCache;
using kra::device::stubs::SampleFrameView;
using kra::device::stubs::writeFrameText;

namespace {

SampleFrameView viewOf(const std::vector<double>& buffer, std::uint64_t channels,
                       std::int32_t count, const std::vector<bool>* digital = nullptr) {
    const double* samples = buffer.empty() ? nullptr : buffer.data();
    return {42, 1'700'000'000'123'456'700, count, channels, samples, buffer.size(), digital};
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

/// Zeros, subnormals, both sides of the plain/exponent notation boundaries,
/// the extremes, non-finite values and shortest-round-trip cases.
const std::vector<double>& edgeValues() {
    static const std::vector<double> values = [] {
        std::vector<double> parsed;
        std::istringstream words(
            "0 -0 4.9406564584124654e-324 -4.9406564584124654e-324 2.2250738585072009e-308 "
            "2.2250738585072014e-308 1e-5 1e-4 0.001 1e15 1e16 1e17 123456789012345 "
            "1234567890123456 1e300 -1e300 1.7976931348623157e308 -1.7976931348623157e308 nan inf "
            "-inf 0.30000000000000004 0.3333333333333333 -0.6666666666666666 0.123456789012 "
            "-9.999999999999999 1 -10 42.5");
        for (std::string word; words >> word;) {
            std::from_chars(word.data(), word.data() + word.size(), parsed.emplace_back());
        }
        return parsed;
    }();
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

TEST(FrameText, IsExactlyThisTextForEachShapeOfFrame) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> edges = {-0.0, 1e-5, std::nan(""), 0.1 + 0.2, -inf, 1e300};
    std::vector<double> twenty(20);  // room for 10 per channel, the driver delivered 7
    for (std::size_t i = 0; i < twenty.size(); ++i) {
        twenty[i] = static_cast<double>(i);
    }
    const std::vector<double> three = {0.25, 0.5, 0.75};
    const std::vector<bool> lines = {false, true};
    const std::vector<bool> noLines;
    SampleFrameView extremes = viewOf(edges, 2, 3, &lines);
    extremes.sequenceNo = std::numeric_limits<std::uint64_t>::max();
    extremes.timestampNs = -100;
    SampleFrameView empty = viewOf({}, 0, 5);  // without channels nothing is read, the count stands
    empty.sequenceNo = 0;
    empty.timestampNs = std::numeric_limits<std::int64_t>::min();
    const std::pair<SampleFrameView, std::string> cases[] = {
        {extremes, R"({"digital_lines":[false,true],"layout":"channels_first","n_channels":2,)"
                   R"("n_digital_lines":2,"sample_count":3,"samples":[[-0.0,1e-05,null],)"
                   R"([0.30000000000000004,null,1e+300]],"sequence_no":18446744073709551615,)"
                   R"("timestamp_ns":-100})"},
        {empty, R"({"layout":"channels_first","n_channels":0,"sample_count":5,"samples":[],)"
                R"("sequence_no":0,"timestamp_ns":-9223372036854775808})"},
        // The delivered count is the stride between channels; whole numbers stay
        // doubles, and an empty snapshot adds no digital members.
        {viewOf(twenty, 2, 7, &noLines),
         R"({"layout":"channels_first","n_channels":2,"sample_count":7,"samples":)"
         R"([[0.0,1.0,2.0,3.0,4.0,5.0,6.0],[7.0,8.0,9.0,10.0,11.0,12.0,13.0]],)"
         R"("sequence_no":42,"timestamp_ns":1700000000123456700})"},
        // The driver claims more than was asked for: the frame stops at the buffer.
        {viewOf(three, 1, 1000),
         R"({"layout":"channels_first","n_channels":1,"sample_count":3,"samples":)"
         R"([[0.25,0.5,0.75]],"sequence_no":42,"timestamp_ns":1700000000123456700})"},
    };
    for (const auto& [view, text] : cases) {
        EXPECT_EQ(fastText(view), text);
        EXPECT_EQ(compactDump(view), text);
    }
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

TEST(FrameText, CachedTextIsTheLibraryDumpForRepeatingQuantisedStreams) {
    // Codes of a 16-bit converter scaled through a calibration, plus values
    // a slot cannot hold and non-finite ones, over more distinct values than
    // the table has slots, so that frames hit, miss and evict.
    std::mt19937_64 random(77);
    std::uniform_int_distribution<int> code(0, 65535);
    std::uniform_int_distribution<int> narrowCode(32000, 32100);
    const double width = 20.0 / 65536.0 * 1.00017;
    const std::vector<double> specials = {std::nan(""),
                                          -std::numeric_limits<double>::infinity(),
                                          std::bit_cast<double>(~std::uint64_t{0}),
                                          -2.2250738585072014e-308,
                                          -0.0,
                                          0.0,
                                          -1.2345678901234567e-100};
    NumberTextCache numbers;
    std::string cached;
    for (int frame = 0; frame < 12; ++frame) {
        const std::uint64_t channels = frame % 3 == 0 ? 8 : 2;
        const std::int32_t count = frame % 4 == 3 ? 3000 : 400;
        std::vector<double> buffer(channels * static_cast<std::size_t>(count));
        for (std::size_t i = 0; i < buffer.size(); ++i) {
            const int k = frame % 2 == 0 ? narrowCode(random) : code(random);
            buffer[i] = i % 97 == 0 ? specials[i % specials.size()] : -10.0031 + k * width;
        }
        const SampleFrameView view = viewOf(buffer, channels, count);
        writeFrameText(view, cached, numbers);
        ASSERT_EQ(cached, compactDump(view)) << "frame " << frame;
        ASSERT_EQ(cached, fastText(view)) << "frame " << frame;
    }
}

TEST(NumberTextCache, FormatsEachValueOnceAndNeverKeepsWhatItCannotHold) {
    NumberTextCache numbers;
    int formatted = 0;
    const auto format = [&formatted](char* first, double value) {
        ++formatted;
        if (!std::isfinite(value)) {
            return std::copy_n("null", 4, first);
        }
        return std::to_chars(first, first + NumberTextCache::kRoom, value).ptr;
    };
    const auto textOf = [&](double value) {
        char room[NumberTextCache::kRoom];
        return std::string(room, numbers.write(room, value, format));
    };
    // value, text, whether the second write is a copy
    const std::tuple<double, std::string, bool> cases[] = {
        {0.5, "0.5", true},
        {-0.0, "-0", true},
        {1e-5, "1e-05", true},
        {-1.2345678901234567e-100, "-1.2345678901234567e-100", false},  // 24 characters
        {std::numeric_limits<double>::infinity(), "null", false},
        {std::bit_cast<double>(~std::uint64_t{0}), "null", false},  // the empty slots' pattern
    };
    for (const auto& [value, text, kept] : cases) {
        formatted = 0;
        EXPECT_EQ(textOf(value), text);
        EXPECT_EQ(textOf(value), text);
        EXPECT_EQ(formatted, kept ? 1 : 2) << text;
    }
    // Once more values have passed than there are slots, early ones have
    // been replaced, and their text still comes out right.
    for (int i = 0; i < static_cast<int>(NumberTextCache::kSlots) * 2; ++i) {
        textOf(i * 0.25);
    }
    formatted = 0;
    EXPECT_EQ(textOf(0.5), "0.5");
    EXPECT_EQ(textOf(12345.25), "12345.25");
    EXPECT_EQ(textOf(12345.25), "12345.25");
    EXPECT_LE(formatted, 3);
    EXPECT_GE(formatted, 1);
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
}
