// A stand-in plug-in whose stream is scripted by the environment, for what the
// real driver cannot be made to do from outside the process: a stream that
// skips a frame and then ends on an error, and operations that throw.
//   SCRIPTED_FRAMES        sequence numbers of the frames to deliver ("1,2,4");
//                          a "d" after one gives it a digital snapshot ("1d,2"),
//                          a "t" cuts its text short, an "s" gives its channel
//                          one value too few, an "n" a text where a number goes
//                          (a block: a "dtype" other than "float64"), an "i"
//                          makes its values NaN and infinity, a "c" states
//                          three digital lines of two, a "b" says a block's
//                          bytes are big-endian
// Frames go out as texts to a "stream" subscriber and as binary blocks, the
// same values, to a "stream_binary" one.
//   SCRIPTED_ERROR         message of the error state that ends the stream
//   SCRIPTED_ERROR_STATUS  its "daqmx_status" property, when set
//   SCRIPTED_STOP_HANGS    "stop_stream" never returns, as when a driver read
//                          is stuck: only the end of the process ends it; and
//                          "scripted: delivered" follows the scripted frames
// "configure" reports one channel, Dev1/ai0, in the range [-1, 1] V, at
// 1000.5 Hz exactly, two samples per frame, a buffer of 1000 samples.
// Every call the host makes on the stream is logged to standard error as
// "scripted: <call>", so a test can check their order.
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "../support/PluginEntryPoint.h"
#include "IDeviceStub.h"

namespace {

using namespace kra::device;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

/// Sample values of the frame the token names.
std::vector<double> frameValues(const std::string& token) {
    switch (token.back()) {
        case 's':
            return {0.5};
        case 'i':
            return {std::numeric_limits<double>::quiet_NaN(),
                    std::numeric_limits<double>::infinity()};
        default:
            return {0.5, 0.25};
    }
}

/// The members both forms share, the samples left out: `"key":value,` each.
std::string sharedMembers(const std::string& token, bool digitalFirst) {
    const char how = token.back();
    const bool digital = how == 'd' || how == 'c';
    std::string text;
    if (digital && digitalFirst) {
        text += R"("digital_lines":[true,false],)";
    }
    text += R"("layout":"channels_first","n_channels":1,)";
    if (digital) {
        text += how == 'c' ? R"("n_digital_lines":3,)" : R"("n_digital_lines":2,)";
    }
    return text + R"("sample_count":2,)";
}

std::string sequenceMembers(const std::string& token) {
    return R"("sequence_no":)" + std::to_string(std::stoul(token)) + R"(,"timestamp_ns":100)";
}

// The text of a frame as the token names it: a number, then what to do to it.
std::string frameText(const std::string& token) {
    std::string samples = "[[";
    for (const double value : frameValues(token)) {
        samples += samples.size() > 2 ? "," : "";
        samples += std::isfinite(value) ? nlohmann::json(value).dump() : "null";
    }
    samples += token.back() == 'n' ? R"(,"x"]])" : "]]";
    // Appended piece by piece: "{" + ... makes GCC's MinGW build warn of an overlap.
    std::string text = "{";
    text.append(sharedMembers(token, true))
        .append(R"("samples":)")
        .append(samples)
        .append(",")
        .append(sequenceMembers(token))
        .append("}");
    return token.back() == 't' ? text.substr(0, text.size() / 2) : text;
}

DeviceState frameState(const std::string& token) {
    DeviceState state;
    state.code = DeviceStateCode::Connected;
    state.stateName = "streaming";
    state.message = "frame";
    state.properties["frame"] = frameText(token);
    return state;
}

// The same frame as a binary block: its header and its values' bytes.
DeviceState blockState(const std::string& token) {
    const char how = token.back();
    std::string header =
        std::string(R"({"byte_order":")") + (how == 'b' ? "big" : "little") + "\",";
    if (how == 'd' || how == 'c') {
        header += R"("digital_lines":[true,false],)";
    }
    header += std::string(R"("dtype":")") + (how == 'n' ? "float32" : "float64") + "\",";
    header += sharedMembers(token, false) + sequenceMembers(token) + R"(,"version":1})";
    std::string bytes;
    for (const double value : frameValues(token)) {
        const auto bits = std::bit_cast<std::uint64_t>(value);
        for (int i = 0; i < 8; ++i) {
            bytes += static_cast<char>((bits >> (8 * i)) & 0xffU);
        }
    }
    DeviceState state;
    state.code = DeviceStateCode::Connected;
    state.stateName = "streaming";
    state.message = "samples";
    state.properties["header"] = how == 't' ? header.substr(0, header.size() / 2) : header;
    state.properties["samples"] = bytes;
    return state;
}

class ScriptedStub : public IDeviceStub, public IDeviceStub::IAuth {
public:
    ~ScriptedStub() override {
        if (thread_.joinable()) {
            thread_.join();
        }
        std::cerr << "scripted: destroyed" << std::endl;
    }

    DeviceInfo getDeviceInfo() const override { return {}; }
    nlohmann::json getCapabilities() override { throw std::runtime_error("scripted exception"); }
    void initialize() override {}
    void connect() override {}
    void disconnect() override {}
    void reset() override {}
    bool isConnected() const override { return false; }
    IDeviceStub::IAuth& auth() override { return *this; }
    std::string authMode() const override { return "not_required"; }
    OperationResult authenticate() override { return {}; }
    OperationResult refreshAuthentication() override { return {}; }
    SubscriptionHandle subscribeAuthEvents(AuthEventCallback) override { return {0, 1}; }

    OperationResult execute(const std::string& feature, const std::string& operation,
                            const OperationParams&, const std::string& requestId) override {
        OperationResult result;
        result.requestId = requestId;
        result.success = feature == "analog_input";
        if (operation == "configure") {
            result.data = {{"ai_channels", "Dev1/ai0"},
                           {"n_channels", "1"},
                           {"ai_physical_channels", R"(["Dev1/ai0"])"},
                           {"ai_voltage_ranges_v", "[[-1.0,1.0]]"},
                           {"achieved_sample_rate_hz", "1000.500000"},
                           {"achieved_sample_rate_hz_exact", "1000.5"},
                           {"requested_sample_rate_hz", "1000.000000"},
                           {"sample_mode", "CONTINUOUS"},
                           {"samples_per_channel", "2"},
                           {"input_buffer_samples_per_channel", "1000"}};
        } else if (operation == "start_stream") {
            std::cerr << "scripted: start_stream" << std::endl;
            thread_ = std::thread([this] { deliver(); });
        } else if (operation == "stop_stream") {
            std::cerr << "scripted: stop_stream" << std::endl;
            while (!environment("SCRIPTED_STOP_HANGS").empty()) {
                std::this_thread::sleep_for(std::chrono::seconds(1));
            }
            if (thread_.joinable()) {
                thread_.join();
            }
        }
        return result;
    }

    SubscriptionHandle subscribe(const std::string&, const std::string& topic,
                                 StateCallback callback) override {
        std::cerr << "scripted: subscribe " << topic << std::endl;
        binary_ = topic == "stream_binary";
        callback_ = std::move(callback);
        return {7, 1};
    }
    void unsubscribe(const std::string&, const std::string&,
                     const SubscriptionHandle& handle) override {
        std::cerr << "scripted: unsubscribe " << handle.id << std::endl;
        // Like the real plug-in, wait for a delivery in progress to finish.
        if (thread_.joinable()) {
            thread_.join();
        }
        callback_ = nullptr;
    }
    void reservedOperation() override {}
    void setErrorCallback(ErrorCallback) override {}
    HealthStatus getHealth() const override { return {}; }
    SelfTestResult selfTest() override { return {}; }
    void setHostContext(std::shared_ptr<void>) override {}

private:
    void deliver() {
        std::istringstream frames(environment("SCRIPTED_FRAMES"));
        for (std::string number; std::getline(frames, number, ',');) {
            callback_(binary_ ? blockState(number) : frameState(number));
        }
        if (const auto message = environment("SCRIPTED_ERROR"); !message.empty()) {
            DeviceState error;
            error.code = DeviceStateCode::Error;
            error.stateName = "error";
            error.message = message;
            if (const auto status = environment("SCRIPTED_ERROR_STATUS"); !status.empty()) {
                error.properties["daqmx_status"] = status;
            }
            callback_(error);
        }
        if (!environment("SCRIPTED_STOP_HANGS").empty()) {
            // Only here: from this thread it could cut into a line of the host's.
            std::cerr << "scripted: delivered" << std::endl;
        }
    }

    StateCallback callback_;
    bool binary_ = false;
    std::thread thread_;
};

}  // namespace

extern "C" TEST_PLUGIN_ENTRY_POINT IDeviceStub* createDeviceStub() {
    return std::make_unique<ScriptedStub>().release();
}

extern "C" TEST_PLUGIN_ENTRY_POINT void destroyDeviceStub(IDeviceStub* stub) {
    std::unique_ptr<IDeviceStub> owned(stub);
}
