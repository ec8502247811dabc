// The live view's envelope and state, in-process: what a page is sent for
// the frames and gaps a recording is given.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include <nlohmann/json.hpp>

#include "Envelope.h"
#include "StreamSession.h"
#include "ViewState.h"
#include "support/ViewUpdate.h"

namespace ni_usb_daq::host::view {
namespace {

/// Adds `count` samples per channel from `at` in frames of `frame` samples,
/// channel c's value at position p being signal(c, p).
template <typename Signal>
void feed(Envelope& envelope, std::size_t channels, std::uint64_t at, std::uint64_t count,
          std::uint64_t frame, Signal signal) {
    std::vector<double> values;
    for (std::uint64_t start = at; start < at + count; start += frame) {
        const std::uint64_t n = std::min(frame, at + count - start);
        values.assign(channels * n, 0.0);
        for (std::size_t c = 0; c < channels; ++c) {
            for (std::uint64_t i = 0; i < n; ++i) {
                values[c * n + i] = signal(c, start + i);
            }
        }
        envelope.add(start, n, values, {});
    }
}

TEST(ViewEnvelope, EverySampleFallsInExactlyOneBucketAcrossFrameBoundaries) {
    // 31.25 samples per bucket, fed in frames that end anywhere in a bucket.
    Envelope envelope(1, 0, 31'250.0, 1.0);
    feed(envelope, 1, 0, 20'000, 777, [](std::size_t, std::uint64_t p) { return double(p); });
    const std::uint64_t buckets = envelope.completeBuckets();
    ASSERT_EQ(buckets, 640U);  // floor(20000 / 31.25)
    std::vector<float> pairs;
    envelope.columns(0, buckets, 1, pairs);
    EXPECT_EQ(pairs[0], 0.0F);
    for (std::size_t b = 1; b < buckets; ++b) {
        ASSERT_EQ(pairs[b * 2], pairs[b * 2 - 1] + 1.0F) << "bucket " << b;
        ASSERT_LE(pairs[b * 2 + 1] - pairs[b * 2], 31.0F) << "bucket " << b;
    }
}

TEST(ViewEnvelope, AFastSineShowsItsFullSwingInEveryColumnNotAnAlias) {
    // 10 kHz at 250 kS/s, drawn 10 ms to a column: a point per column would alias.
    constexpr double kRate = 250'000.0;
    Envelope envelope(2, 0, kRate, 2.0);
    feed(envelope, 2, 0, 250'000, 5'000, [](std::size_t c, std::uint64_t p) {
        return (c + 1) * std::sin(2 * std::numbers::pi * 10'000.0 * double(p) / kRate);
    });
    std::vector<float> pairs;
    envelope.columns(0, 100, 10, pairs);
    for (std::size_t k = 0; k < 100; ++k) {
        for (std::size_t c = 0; c < 2; ++c) {
            // 25 samples a period: the peak itself is missed by at most 1 - cos(pi / 25).
            EXPECT_NEAR(pairs[(k * 2 + c) * 2], -double(c + 1), 0.01 * (c + 1)) << k;
            EXPECT_NEAR(pairs[(k * 2 + c) * 2 + 1], double(c + 1), 0.01 * (c + 1)) << k;
        }
    }
    EXPECT_NEAR(envelope.lastValues()[1], 2 * std::sin(2 * std::numbers::pi * 249'999 / 25.0),
                1e-5);
}

TEST(ViewEnvelope, AJumpLeavesEmptyBucketsAndOldOnesAreForgotten) {
    Envelope envelope(1, 1, 1'000.0, 2.0);  // a bucket per sample, about 2 s held
    const std::vector<double> one{5.0};
    const std::vector<std::uint8_t> high{1};
    envelope.add(10, 1, one, high);
    envelope.add(20, 1, one, {});
    std::vector<float> pairs;
    envelope.columns(10, 11, 1, pairs);
    EXPECT_EQ(pairs[0], 5.0F);
    EXPECT_EQ(pairs[2], 1.0F);          // the digital line, as a channel after the analog ones
    EXPECT_TRUE(std::isnan(pairs[4]));  // bucket 11: nothing
    EXPECT_EQ(pairs[40], 5.0F);         // bucket 20
    envelope.add(5'000, 1, one, {});
    pairs.clear();
    envelope.columns(20, 1, 1, pairs);
    EXPECT_TRUE(std::isnan(pairs[0])) << "a bucket older than what is held";
    // A frame from before the newest sample is not taken: positions do not go back.
    envelope.add(4'000, 1, one, {});
    pairs.clear();
    envelope.columns(4'000, 1, 1, pairs);
    EXPECT_TRUE(std::isnan(pairs[0]));
}

RecordingFacts facts(double rate) {
    RecordingFacts facts;
    facts.device = "Dev1";
    facts.productType = "USB-6211";
    facts.channels = {{"Dev1/ai0", -10, 10, "RSE"}, {"Dev1/ai1", -5, 5, "RSE"}};
    facts.sampleRateHz = rate;
    return facts;
}

void frame(ViewState& state, std::uint64_t first, std::uint64_t count, double value) {
    const std::vector<double> values(2 * count, value);
    FrameRecord record;
    record.firstSample = first;
    record.sampleCount = count;
    record.channelCount = 2;
    record.samples = values;
    state.frame(record);
}

TEST(ViewState, APageGetsItsWindowThenEachNewColumnOnceAndAFreshWindowWhenFarBehind) {
    ViewState state("run.h5");
    PageCursor page;
    std::vector<std::uint8_t> message;
    EXPECT_FALSE(state.update(page, message)) << "nothing before the run begins";
    state.begin(facts(1'000.0));
    page.window = PageWindow{100, 10.0};  // 100 ms a column
    frame(state, 0, 2'050, 1.0);
    ASSERT_TRUE(state.update(page, message));
    auto update = test::decodeViewUpdate({message.begin(), message.end()});
    ASSERT_TRUE(update.valid);
    EXPECT_EQ(update.flags, 1);
    EXPECT_EQ(update.channels, 2U);
    EXPECT_EQ(update.columns, 20U);
    EXPECT_EQ(update.firstColumn, 0.0);
    EXPECT_DOUBLE_EQ(update.columnS, 0.1);
    EXPECT_FALSE(state.update(page, message)) << "no new sample, nothing to send";

    frame(state, 2'050, 400, -1.0);
    ASSERT_TRUE(state.update(page, message));
    update = test::decodeViewUpdate({message.begin(), message.end()});
    EXPECT_EQ(update.flags, 0);
    EXPECT_EQ(update.firstColumn, 20.0);
    EXPECT_EQ(update.columns, 4U);
    EXPECT_EQ(update.min(0, 0), -1.0F);  // column 20 holds both values
    EXPECT_EQ(update.max(0, 0), 1.0F);
    EXPECT_EQ(update.last[1], -1.0F);

    frame(state, 2'450, 30'000, 0.5);  // 30 s: more than the page's window
    ASSERT_TRUE(state.update(page, message));
    update = test::decodeViewUpdate({message.begin(), message.end()});
    EXPECT_EQ(update.flags, 1);
    EXPECT_EQ(update.columns, 100U);
    EXPECT_EQ(update.firstColumn, 324.0 - 100.0);
}

TEST(ViewState, TheStatusSaysWhatTheRunDidAndWhereItsGapsAre) {
    ViewState state("run.h5");
    std::uint64_t version = 0;
    ASSERT_TRUE(state.statusSince(version));
    EXPECT_FALSE(state.statusSince(version)) << "unchanged";
    state.begin(facts(1'000.0));
    GapRecord gap;
    gap.reason = "device_removed";
    gap.hasLastSample = true;
    gap.lastSampleIndex = 1'999;
    gap.estimatedLostSamples = 500;
    state.gap(gap);
    StreamStats stats;
    stats.samples = 2'000;
    stats.state = "waiting for Dev1";
    state.progress(stats);
    auto status = nlohmann::json::parse(*state.statusSince(version));
    EXPECT_EQ(status["device"], "Dev1");
    EXPECT_EQ(status["channels"][1]["range_min_v"], -5.0);
    EXPECT_EQ(status["recording"]["state"], "waiting for the device");
    EXPECT_EQ(status["recording"]["file"], "run.h5");
    EXPECT_EQ(status["gaps"][0]["t_s"], 2.0);
    EXPECT_EQ(status["gaps"][0]["duration_s"], 0.5);
    EXPECT_EQ(status["gaps"][0]["reason"], "device_removed");
    state.ended("DAQmx error -50405");
    status = nlohmann::json::parse(*state.statusSince(version));
    EXPECT_EQ(status["recording"]["state"], "error");
    EXPECT_EQ(status["recording"]["error"], "DAQmx error -50405");
}

}  // namespace
}  // namespace ni_usb_daq::host::view
