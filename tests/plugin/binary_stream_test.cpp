// The binary stream topic: its blocks against the frames of the same stream,
// the header, errors to both topics, subscription ids, and a throwing
// subscriber among others.
#include <bit>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/TestSupport.h"

using kra::device::DeviceState;
using kra::device::DeviceStateCode;
using kra::device::IDeviceStub;
using kra::device::OperationParams;
using nlohmann::json;

namespace {

/// What one subscriber received: copies of its first records (the payload is
/// valid only during the callback), every error, and a count of all records.
class Recorder {
public:
    IDeviceStub::StateCallback callback() {
        return [this](const DeviceState& state) {
            std::lock_guard lock(mutex_);
            if (state.code == DeviceStateCode::Error) {
                errors_.push_back(state);
            } else if (++count_ <= kKept) {
                kept_.push_back(state);
            }
            changed_.notify_all();
        };
    }
    /// True once `records` records (and, with `error`, an error) have arrived.
    bool waitFor(std::size_t records, bool error = false) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30),
                                 [&] { return count_ >= records && (!error || !errors_.empty()); });
    }
    std::vector<DeviceState> kept() const {
        std::lock_guard lock(mutex_);
        return kept_;
    }
    std::vector<DeviceState> errors() const {
        std::lock_guard lock(mutex_);
        return errors_;
    }
    std::size_t count() const {
        std::lock_guard lock(mutex_);
        return count_;
    }

private:
    static constexpr std::size_t kKept = 8;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<DeviceState> kept_, errors_;
    std::size_t count_ = 0;
};

/// A "stream_binary" record taken apart the way a host reads it.
struct Block {
    json header;
    std::vector<double> values;
};

Block decode(const DeviceState& record) {
    Block block{json::parse(record.properties.at("header")), {}};
    const std::string& bytes = record.properties.at("samples");
    EXPECT_EQ(bytes.size() % 8, 0u);
    for (std::size_t at = 0; at + 8 <= bytes.size(); at += 8) {
        std::uint64_t bits = 0;
        for (int i = 7; i >= 0; --i) {  // little-endian, whatever this machine is
            bits = (bits << 8) | static_cast<unsigned char>(bytes[at + i]);
        }
        block.values.push_back(std::bit_cast<double>(bits));
    }
    return block;
}

json frameOf(const DeviceState& record) {
    return json::parse(record.properties.at("frame"));
}

/// The frame text without the digits of its wall-clock stamp, its last member.
std::string unstamped(const DeviceState& record) {
    const std::string& text = record.properties.at("frame");
    const auto stamp = text.rfind(",\"timestamp_ns\":");
    EXPECT_NE(stamp, std::string::npos) << text;
    return text.substr(0, stamp);
}

class BinaryStreamTest : public test_support::StubTest {
protected:
    BinaryStreamTest() : StubTest("bin") {}

    void subscribe(const char* topic, Recorder& recorder) {
        ASSERT_NE(stub->subscribe("analog_input", topic, recorder.callback()).id, 0u) << topic;
    }
    /// Configures `params`, 10 samples per channel unless given, and starts.
    void start(OperationParams params = {}) {
        params.emplace("samples_per_channel", "10");
        const auto configured = execute("configure", params);
        ASSERT_TRUE(configured.success) << configured.error;
        const auto started = execute("start_stream");
        ASSERT_TRUE(started.success) << started.error;
    }
    void stop() {
        ASSERT_TRUE(execute("stop_stream").success);
        EXPECT_EQ(DAQmxSim_RunningTaskCount(), 0u);
    }
};

TEST_F(BinaryStreamTest, FrameTextIsTheSameWithAndWithoutBinarySubscribers) {
    const OperationParams params{{"ai_channels", "Dev1/ai0:1"},
                                 {"digital_input_lines", "Dev1/port0/line0:3"}};
    Recorder alone;
    const auto handle = stub->subscribe("analog_input", "stream", alone.callback());
    start(params);
    ASSERT_TRUE(alone.waitFor(5));
    stop();
    stub->unsubscribe("analog_input", "stream", handle);

    Recorder beside, binary;
    subscribe("stream", beside);
    subscribe("stream_binary", binary);
    ASSERT_TRUE(execute("start_stream").success);
    ASSERT_TRUE(beside.waitFor(5));
    ASSERT_TRUE(binary.waitFor(5));
    stop();
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(unstamped(alone.kept()[i]), unstamped(beside.kept()[i])) << "frame " << i + 1;
    }
}

TEST_F(BinaryStreamTest, EveryBlockHoldsTheBitsTheDriverReadAndTheValuesOfItsFrame) {
    // A square wave that overflows to +inf every other half cycle, noise so
    // large that it reads as NaN or -inf, and an ordinary sine; the converter,
    // which would clip them, is off. Short deliveries make the stride 7.
    test_support::TempDir dir;
    const std::string rig = dir.write("rig.json", R"({"devices": [{"name": "Dev1",
        "product_type": "USB-6211", "ai_channels": 3, "ai_voltage_ranges": [[-10, 10]],
        "ai_max_single_chan_rate_hz": 250000, "ai_max_multi_chan_rate_hz": 250000,
        "ai_signals": {
        "ai0": {"kind": "square", "offset": 1e308, "amplitude": 1e308, "frequency_hz": 300},
        "ai1": {"kind": "noise", "amplitude": 1e308},
        "ai2": {"kind": "sine", "amplitude": 2.5, "frequency_hz": 50}}}]})");
    ASSERT_EQ(DAQmxSim_LoadDevices(rig.c_str()), 0) << [] {
        char text[512] = {};
        DAQmxGetExtendedErrorInfo(text, sizeof text);
        return std::string(text);
    }();
    DAQmxSim_SetRealism(DAQMXSIM_REALISM_ALL & ~DAQMXSIM_CONVERTER);
    DAQmxSim_SetReadSampleCap(7);
    Recorder frames, blocks;
    subscribe("stream", frames);
    subscribe("stream_binary", blocks);
    start({{"ai_channels", "Dev1/ai0:2"}, {"sample_clock_rate_hz", "1000"}});
    ASSERT_TRUE(frames.waitFor(6));
    ASSERT_TRUE(blocks.waitFor(6));
    stop();

    int infinities = 0, nans = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE("block " + std::to_string(i + 1));
        const json frame = frameOf(frames.kept()[i]);
        const Block block = decode(blocks.kept()[i]);
        EXPECT_EQ(block.header.at("sequence_no"), i + 1);
        EXPECT_EQ(block.header.at("sequence_no"), frame.at("sequence_no"));
        EXPECT_EQ(block.header.at("timestamp_ns"), frame.at("timestamp_ns"));
        EXPECT_EQ(block.header.at("sample_count"), 7);
        EXPECT_EQ(block.header.at("n_channels"), 3);
        ASSERT_EQ(block.values.size(), 3u * 7u);
        for (int c = 0; c < 3; ++c) {
            const std::string channel = "Dev1/ai" + std::to_string(c);
            for (int s = 0; s < 7; ++s) {
                const double value = block.values[c * 7 + s];
                const double driver = DAQmxSim_ExpectedSample(channel.c_str(), 7 * i + s);
                EXPECT_EQ(std::bit_cast<std::uint64_t>(value), std::bit_cast<std::uint64_t>(driver))
                    << channel << " sample " << s;
                const json& text = frame.at("samples")[c][s];
                if (std::isfinite(value)) {
                    EXPECT_EQ(std::bit_cast<std::uint64_t>(text.get<double>()),
                              std::bit_cast<std::uint64_t>(value));
                } else {
                    EXPECT_TRUE(text.is_null()) << text;
                    (std::isnan(value) ? nans : infinities) += 1;
                }
            }
        }
    }
    EXPECT_GT(infinities, 0) << "the rig makes infinities";
    EXPECT_GT(nans, 0) << "the rig makes NaNs";
}

TEST_F(BinaryStreamTest, HeaderDescribesTheBlockAndCarriesTheSnapshotExactlyWhenTheFrameDoes) {
    DAQmxSim_FailCall("DAQmxReadDigitalLines", -200474, 1);
    Recorder frames, blocks;
    subscribe("stream", frames);
    subscribe("stream_binary", blocks);
    start({{"ai_channels", "Dev1/ai0:1"}, {"digital_input_lines", "Dev1/port0/line0:3"}});
    ASSERT_TRUE(frames.waitFor(3));
    ASSERT_TRUE(blocks.waitFor(3));
    stop();
    const auto kept = blocks.kept();
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE("block " + std::to_string(i + 1));
        const DeviceState& record = kept[i];
        EXPECT_EQ(record.code, DeviceStateCode::Connected);
        EXPECT_EQ(record.stateName, "streaming");
        EXPECT_EQ(record.message, "samples");
        EXPECT_EQ(record.properties.size(), 2u);
        EXPECT_GT(record.timestampNs, 0u);
        const std::string& text = record.properties.at("header");
        const json header = json::parse(text);
        EXPECT_EQ(text, header.dump()) << "compact, members sorted by key";
        const bool snapshot = i != 0;  // the first digital read failed
        EXPECT_EQ(header.size(), snapshot ? 10u : 8u) << text;
        EXPECT_EQ(header.at("version"), 1);
        EXPECT_EQ(header.at("layout"), "channels_first");
        EXPECT_EQ(header.at("dtype"), "float64");
        EXPECT_EQ(header.at("byte_order"), "little");
        EXPECT_EQ(header.at("n_channels"), 2);
        EXPECT_EQ(header.at("sample_count"), 10);
        EXPECT_EQ(record.properties.at("samples").size(), 2u * 10u * 8u);
        const json frame = frameOf(frames.kept()[i]);
        EXPECT_EQ(frame.contains("digital_lines"), snapshot);
        for (const char* key : {"digital_lines", "n_digital_lines"}) {
            EXPECT_EQ(header.contains(key), snapshot) << key;
            if (snapshot) {
                EXPECT_EQ(header.at(key), frame.at(key)) << key;
            }
        }
    }
}

TEST_F(BinaryStreamTest, StreamErrorReachesEverySubscriberOfBothTopicsOnce) {
    DAQmxSim_FailCall("DAQmxReadAnalogF64", -200088, -1);
    Recorder frames, first, second;
    subscribe("stream", frames);
    subscribe("stream_binary", first);
    subscribe("stream_binary", second);
    start();
    for (Recorder* recorder : {&frames, &first, &second}) {
        ASSERT_TRUE(recorder->waitFor(0, true));
    }
    stop();  // the thread has ended once this returns
    for (const Recorder* recorder : {&frames, &first, &second}) {
        const auto errors = recorder->errors();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].message.rfind("Streaming stopped: DAQmx error -200088", 0), 0u)
            << errors[0].message;
        EXPECT_EQ(errors[0].properties.at("daqmx_status"), "-200088");
        EXPECT_EQ(recorder->count(), 0u);
    }
}

TEST_F(BinaryStreamTest, BinarySubscribersAloneAreNumberedFromOneAndOtherTopicsAreRefused) {
    Recorder first, second, never;
    EXPECT_EQ(stub->subscribe("analog_input", "stream_binary", first.callback()).id, 1u);
    EXPECT_EQ(stub->subscribe("analog_input", "stream_binary", second.callback()).id, 2u);
    for (const char* topic : {"stream_binary ", "Stream_Binary", "binary", "stream_bin", ""}) {
        EXPECT_EQ(stub->subscribe("analog_input", topic, never.callback()).id, 0u) << topic;
    }
    EXPECT_EQ(stub->subscribe("analog_input", "stream_binary", nullptr).id, 0u);
    EXPECT_EQ(stub->subscribe("digital_output", "stream_binary", never.callback()).id, 0u);
    start();
    ASSERT_TRUE(first.waitFor(3));
    ASSERT_TRUE(second.waitFor(3));
    stop();
    EXPECT_EQ(never.count(), 0u);
    EXPECT_TRUE(never.errors().empty());
}

TEST_F(BinaryStreamTest, ThrowingBinarySubscriberDoesNotStopTheOthers) {
    stub->subscribe("analog_input", "stream_binary",
                    [](const DeviceState&) { throw std::runtime_error("reader broke"); });
    Recorder frames, blocks;
    subscribe("stream_binary", blocks);
    subscribe("stream", frames);
    test_support::StderrCapture capture;  // the throws are logged
    start();
    ASSERT_TRUE(blocks.waitFor(5));
    ASSERT_TRUE(frames.waitFor(5));
    stop();
    EXPECT_TRUE(blocks.errors().empty());
    EXPECT_NE(capture.text().find("threw: reader broke"), std::string::npos) << capture.text();
}

}  // namespace
