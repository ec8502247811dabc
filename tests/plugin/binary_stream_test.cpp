// The binary stream topic: its blocks against the frames of the same stream,
// errors to both topics, subscription ids, and a throwing subscriber among
// others.
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
    struct Seen {
        std::vector<DeviceState> kept, errors;
        std::size_t count = 0;
    };
    IDeviceStub::StateCallback callback() {
        return [this](const DeviceState& state) {
            std::lock_guard lock(mutex_);
            if (state.code == DeviceStateCode::Error) {
                seen_.errors.push_back(state);
            } else if (++seen_.count <= 8) {
                seen_.kept.push_back(state);
            }
            changed_.notify_all();
        };
    }
    /// True once `records` records (and, with `error`, an error) have arrived.
    bool waitFor(std::size_t records, bool error = false) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] {
            return seen_.count >= records && (!error || !seen_.errors.empty());
        });
    }
    Seen seen() const {
        std::lock_guard lock(mutex_);
        return seen_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Seen seen_;
};

/// The samples of a "stream_binary" record, read as little-endian whatever
/// this machine is.
std::vector<double> valuesOf(const DeviceState& record) {
    const std::string& bytes = record.properties.at("samples");
    std::vector<double> values;
    for (std::size_t at = 0; at + 8 <= bytes.size(); at += 8) {
        std::uint64_t bits = 0;
        for (int i = 7; i >= 0; --i) {
            bits = (bits << 8) | static_cast<unsigned char>(bytes[at + i]);
        }
        values.push_back(std::bit_cast<double>(bits));
    }
    return values;
}

std::uint64_t bitsOf(double value) {
    return std::bit_cast<std::uint64_t>(value);
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
        ASSERT_TRUE(execute("start_stream").success);
    }
    void stop() { ASSERT_TRUE(execute("stop_stream").success); }
};

TEST_F(BinaryStreamTest, FrameTextIsTheSameWithAndWithoutBinarySubscribers) {
    Recorder alone, beside, binary;
    const auto handle = stub->subscribe("analog_input", "stream", alone.callback());
    ASSERT_NO_FATAL_FAILURE(
        start({{"ai_channels", "Dev1/ai0:1"}, {"digital_input_lines", "Dev1/port0/line0:3"}}));
    ASSERT_TRUE(alone.waitFor(5));
    stop();
    stub->unsubscribe("analog_input", "stream", handle);

    subscribe("stream", beside);
    subscribe("stream_binary", binary);
    ASSERT_TRUE(execute("start_stream").success);  // numbered from 1 again, same samples
    ASSERT_TRUE(beside.waitFor(5));
    ASSERT_TRUE(binary.waitFor(5));
    stop();
    // Byte for byte up to the wall-clock stamp, the last member.
    const auto unstamped = [](const DeviceState& record) {
        const std::string& text = record.properties.at("frame");
        return text.substr(0, text.rfind(",\"timestamp_ns\":"));
    };
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(unstamped(alone.seen().kept[i]), unstamped(beside.seen().kept[i]))
            << "frame " << i + 1;
    }
}

TEST_F(BinaryStreamTest, EveryBlockHoldsTheBitsTheDriverReadTheValuesAndTheFactsOfItsFrame) {
    // A square wave that overflows to +inf every other half cycle, noise so
    // large that it reads as NaN or -inf, and an ordinary sine; the converter,
    // which would clip them, is off. Short deliveries make the stride 7, and
    // the first digital snapshot fails.
    test_support::TempDir dir;
    const std::string rig = dir.write("rig.json", R"({"devices": [{"name": "Dev1",
        "product_type": "USB-6211", "ai_channels": 3, "ai_voltage_ranges": [[-10, 10]],
        "ai_max_single_chan_rate_hz": 250000, "ai_max_multi_chan_rate_hz": 250000,
        "di_lines": 2, "ai_signals": {
        "ai0": {"kind": "square", "offset": 1e308, "amplitude": 1e308, "frequency_hz": 300},
        "ai1": {"kind": "noise", "amplitude": 1e308},
        "ai2": {"kind": "sine", "amplitude": 2.5, "frequency_hz": 50}}}]})");
    ASSERT_EQ(DAQmxSim_LoadDevices(rig.c_str()), 0);
    DAQmxSim_SetRealism(DAQMXSIM_REALISM_ALL & ~DAQMXSIM_CONVERTER);
    DAQmxSim_SetReadSampleCap(7);
    DAQmxSim_FailCall("DAQmxReadDigitalLines", -200474, 1);
    Recorder frames, blocks;
    subscribe("stream", frames);
    subscribe("stream_binary", blocks);
    ASSERT_NO_FATAL_FAILURE(start({{"ai_channels", "Dev1/ai0:2"},
                                   {"sample_clock_rate_hz", "1000"},
                                   {"digital_input_lines", "Dev1/port0/line0:1"}}));
    ASSERT_TRUE(frames.waitFor(6));
    ASSERT_TRUE(blocks.waitFor(6));
    stop();

    int infinities = 0, nans = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE("block " + std::to_string(i + 1));
        const DeviceState record = blocks.seen().kept[i];
        EXPECT_EQ(record.code, DeviceStateCode::Connected);
        EXPECT_EQ(record.stateName, "streaming");
        EXPECT_EQ(record.message, "samples");
        EXPECT_EQ(record.properties.size(), 2u);
        const json frame = json::parse(frames.seen().kept[i].properties.at("frame"));
        EXPECT_EQ(frame.contains("digital_lines"), i != 0) << "the first snapshot failed";
        json header = {{"version", 1},       {"sequence_no", i + 1},
                       {"sample_count", 7},  {"timestamp_ns", frame.at("timestamp_ns")},
                       {"n_channels", 3},    {"layout", "channels_first"},
                       {"dtype", "float64"}, {"byte_order", "little"}};
        for (const char* key : {"digital_lines", "n_digital_lines"}) {
            if (frame.contains(key)) {
                header[key] = frame.at(key);
            }
        }
        // Compact, members sorted by key: the JSON library's own text.
        EXPECT_EQ(record.properties.at("header"), header.dump());

        ASSERT_EQ(record.properties.at("samples").size(), 3u * 7u * 8u);
        const std::vector<double> values = valuesOf(record);
        for (int c = 0; c < 3; ++c) {
            const std::string channel = "Dev1/ai" + std::to_string(c);
            for (int s = 0; s < 7; ++s) {
                const double value = values[c * 7 + s];
                EXPECT_EQ(bitsOf(value),
                          bitsOf(DAQmxSim_ExpectedSample(channel.c_str(), 7 * i + s)))
                    << channel << " sample " << s;
                const json& text = frame.at("samples")[c][s];
                if (std::isfinite(value)) {
                    EXPECT_EQ(bitsOf(text.get<double>()), bitsOf(value));
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

TEST_F(BinaryStreamTest, StreamErrorReachesEverySubscriberOfBothTopicsOnce) {
    DAQmxSim_FailCall("DAQmxReadAnalogF64", -200088, -1);
    Recorder frames, first, second;
    subscribe("stream", frames);
    subscribe("stream_binary", first);
    subscribe("stream_binary", second);
    ASSERT_NO_FATAL_FAILURE(start());
    for (Recorder* recorder : {&frames, &first, &second}) {
        ASSERT_TRUE(recorder->waitFor(0, true));
    }
    stop();  // the thread has ended once this returns
    for (const Recorder* recorder : {&frames, &first, &second}) {
        const auto seen = recorder->seen();
        ASSERT_EQ(seen.errors.size(), 1u);
        EXPECT_EQ(seen.errors[0].message.rfind("Streaming stopped: DAQmx error -200088", 0), 0u)
            << seen.errors[0].message;
        EXPECT_EQ(seen.count, 0u);
    }
}

TEST_F(BinaryStreamTest, BinarySubscribersAloneAreNumberedFromOneAndOneThatThrowsStopsNoOther) {
    const auto throwing = stub->subscribe("analog_input", "stream_binary", [](const DeviceState&) {
        throw std::runtime_error("reader broke");
    });
    EXPECT_EQ(throwing.id, 1u);
    Recorder blocks, never;
    EXPECT_EQ(stub->subscribe("analog_input", "stream_binary", blocks.callback()).id, 2u);
    for (const char* topic : {"stream_binary ", "Stream_Binary", "binary", ""}) {
        EXPECT_EQ(stub->subscribe("analog_input", topic, never.callback()).id, 0u) << topic;
    }
    EXPECT_EQ(stub->subscribe("analog_input", "stream_binary", nullptr).id, 0u);
    test_support::StderrCapture capture;  // the throws are logged
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_TRUE(blocks.waitFor(5));
    stop();
    EXPECT_TRUE(blocks.seen().errors.empty());
    EXPECT_EQ(never.seen().count, 0u);
    EXPECT_NE(capture.text().find("threw: reader broke"), std::string::npos) << capture.text();
}

}  // namespace
