// "configure" and "query": stored settings with their defaults, the parsing
// rules of text parameters, the tasks built (terminal configurations, the
// sample clock and its report line, the digital task), and the refusals and
// failures that leave no task behind.
#include <clocale>
#include <locale>
#include <string>
#include <tuple>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/TestSupport.h"

using kra::device::OperationParams;
using kra::device::OperationResult;

namespace {

const std::string kAddChannelFailed = "Failed to add AI voltage channel: ";

class ConfigureTest : public test_support::StubTest {
protected:
    ConfigureTest() : StubTest("cfg") {}
    std::string configured(const OperationParams& params, const std::string& key) {
        const auto result = execute("configure", params);
        EXPECT_TRUE(result.success) << result.error;
        return result.success ? result.data.at(key) : "";
    }
    /// A refused build: `prefix` and the driver text, and nothing left behind.
    void expectUnbuilt(const OperationResult& result, const std::string& prefix) {
        EXPECT_EQ(result.error.rfind(prefix + "DAQmx error -", 0), 0u) << result.error;
        EXPECT_TRUE(result.data.empty());
        EXPECT_EQ(result.requestId, "cfg");
        EXPECT_EQ(DAQmxSim_LiveTaskCount(), 0u);
        EXPECT_EQ(execute("start_stream").error, "Not configured. Call configure first.");
    }
    /// Arms a failure for the `nth` call of `function` in the next configure
    /// with `params`, located by a rehearsal from the same state.
    void failInNextConfigure(const OperationParams& params, const std::string& function, int nth) {
        ASSERT_TRUE(execute("configure", params).success);
        const uInt32 start = DAQmxSim_CallLogSize();
        ASSERT_TRUE(execute("configure", params).success);
        for (uInt32 i = start; i < DAQmxSim_CallLogSize(); ++i) {
            if (function == DAQmxSim_CallLogEntry(i) && nth-- == 0) {
                DAQmxSim_FailCallAtPosition(DAQmxSim_CallLogSize() + (i - start), -200077);
                return;
            }
        }
        FAIL() << function << " not called";
    }
};

TEST_F(ConfigureTest, DefaultsBuildOneContinuousChannelAt1000Hz) {
    const auto result = execute("configure");
    ASSERT_TRUE(result.success) << result.error;
    EXPECT_EQ(result.requestId, "cfg");
    EXPECT_EQ(result.data, (kra::device::StringMap{{"ai_channels", "Dev1/ai0"},
                                                   {"n_channels", "1"},
                                                   {"sample_rate_hz", "1000.000000"},
                                                   {"requested_sample_rate_hz", "1000.000000"},
                                                   {"achieved_sample_rate_hz", "1000.000000"},
                                                   {"sample_mode", "CONTINUOUS"},
                                                   {"samples_per_channel", "100"},
                                                   {"achieved_sample_rate_hz_exact", "1000"},
                                                   {"input_buffer_samples_per_channel", "10000"},
                                                   {"ai_physical_channels", R"(["Dev1/ai0"])"},
                                                   {"ai_voltage_ranges_v", "[[-10.0,10.0]]"}}));
    EXPECT_EQ(DAQmxSim_RunningTaskCount(), 0u);
    // Settings persist, and a rebuild replaces the task instead of adding one.
    EXPECT_EQ(configured({{"ai_channels", "Dev1/ai0:1"}}, "n_channels"), "2");
    EXPECT_EQ(configured({}, "ai_channels"), "Dev1/ai0:1");
    EXPECT_EQ(DAQmxSim_LiveTaskCount(), 1u);
}

TEST_F(ConfigureTest, TheClockEdgeReachesTheDriverAndAnyOtherTextMeansRising) {
    const std::pair<const char*, int32> cases[] = {{"FALLING", DAQmx_Val_Falling},
                                                   {"RISING", DAQmx_Val_Rising},
                                                   {"falling", DAQmx_Val_Rising}};
    for (const auto& [edge, expected] : cases) {
        ASSERT_TRUE(execute("configure", {{"sample_clock_active_edge", edge}}).success) << edge;
        EXPECT_EQ(DAQmxSim_LastSampleClockEdge(), expected) << edge;
    }
}

TEST_F(ConfigureTest, ModesAreMatchedExactlyAndOnDemandHasNoClock) {
    test_support::StderrCapture capture;
    const auto onDemand =
        execute("configure", {{"sample_mode", "ON_DEMAND"}, {"sample_clock_rate_hz", "500"}});
    ASSERT_TRUE(onDemand.success) << onDemand.error;
    EXPECT_EQ(onDemand.data.at("achieved_sample_rate_hz"), "0.000000");
    EXPECT_EQ(onDemand.data.at("sample_rate_hz"), "500.000000");
    EXPECT_EQ(capture.text(), "") << "no clock, no clock line";

    EXPECT_EQ(configured({{"sample_mode", "finite"}}, "sample_mode"), "finite");
    EXPECT_EQ(execute("read_finite").error, "read_finite requires sample_mode=FINITE");
    EXPECT_EQ(configured({{"sample_mode", "FINITE"}}, "sample_mode"), "FINITE");
    EXPECT_TRUE(execute("read_finite").success);
}

TEST_F(ConfigureTest, BadValuesAreRefusedNamingTheKeyBeforeAnythingIsStored) {
    ASSERT_TRUE(
        execute("configure", {{"sample_mode", "FINITE"}, {"samples_per_channel", "8"}}).success);
    const std::string finite = " (must be a finite number)";
    const std::string whole = " from -2147483648 to 2147483647";
    const std::string cases[][3] = {
        {"samples_per_channel", "0", "Invalid samples_per_channel: 0 (must be 1 or more)"},
        {"samples_per_channel", "-5", "Invalid samples_per_channel: -5 (must be 1 or more)"},
        {"sample_clock_rate_hz", "nan", "Invalid sample_clock_rate_hz: nan" + finite},
        {"sample_clock_rate_hz", "INF", "Invalid sample_clock_rate_hz: inf" + finite},
        {"voltage_range_min", "-infinity", "Invalid voltage_range_min: -inf" + finite},
        {"voltage_range_max", "inf", "Invalid voltage_range_max: inf" + finite},
        {"read_timeout_s", "NaN", "Invalid read_timeout_s: nan" + finite},
        {"analog_trigger_level_v", "nan(1)", "Invalid analog_trigger_level_v: nan" + finite},
        {"sample_clock_rate_hz", "-5", "Invalid sample_clock_rate_hz: -5 (must be above 0)"},
        {"sample_clock_rate_hz", "0", "Invalid sample_clock_rate_hz: 0 (must be above 0)"},
        // Text that does not convert is refused rather than quietly ignored.
        {"sample_clock_rate_hz", "fast", "Invalid sample_clock_rate_hz: not a number"},
        {"sample_clock_rate_hz", "1e999", "Invalid sample_clock_rate_hz: not a number"},
        {"voltage_range_min", "", "Invalid voltage_range_min: not a number"},
        {"samples_per_channel", "x12", "Invalid samples_per_channel: not a whole number" + whole},
        {"samples_per_channel", "2147483648",
         "Invalid samples_per_channel: not a whole number" + whole},
    };
    const auto calls = DAQmxSim_CallLogSize();
    for (const auto& [key, value, message] : cases) {
        const auto refused = execute("configure", {{"sample_mode", "CONTINUOUS"}, {key, value}});
        EXPECT_EQ(refused.error, message) << key << "=" << value;
        EXPECT_TRUE(refused.data.empty());
    }
    EXPECT_EQ(DAQmxSim_CallLogSize(), calls) << "no task was touched";
    const auto read = execute("read_finite");  // still configured, FINITE, 8 samples
    ASSERT_TRUE(read.success) << read.error;
    EXPECT_EQ(nlohmann::json::parse(read.data.at("frame")).at("sample_count"), 8);
    // A negative timeout is the driver's "wait for ever".
    EXPECT_TRUE(execute("configure", {{"read_timeout_s", "-1"}}).success);
}

TEST_F(ConfigureTest, BlockAboveTheSampleLimitIsRefusedWithNoTaskLeft) {
    // No clock, so that only the block size can object.
    const auto result = execute("configure", {{"sample_mode", "ON_DEMAND"},
                                              {"ai_channels", "Dev1/ai0:3"},
                                              {"samples_per_channel", "200000000"}});
    EXPECT_EQ(result.error,
              "Block too large: 200000000 samples per channel x 4 channels exceeds the limit of "
              "134217728 samples");
    EXPECT_EQ(DAQmxSim_LiveTaskCount(), 0u);
    EXPECT_TRUE(execute("configure", {{"samples_per_channel", "33554432"}}).success)
        << "exactly the limit";
}

TEST_F(ConfigureTest, EachFailingBuildStepHasItsPrefixAndTheTextOfThatFailure) {
    const OperationParams lines{{"digital_input_lines", "Dev1/port0/line0:3"}};
    const std::tuple<const char*, int, bool, std::string> cases[] = {
        {"DAQmxCreateTask", 0, false, ""},  // the bare driver text
        {"DAQmxCreateAIVoltageChan", 0, false, kAddChannelFailed},
        {"DAQmxCfgSampClkTiming", 0, false, "Failed to configure sample clock: "},
        {"DAQmxGetTaskNumChans", 0, false, "Failed to query task channel count: "},
        {"DAQmxCreateTask", 1, true, "Failed to create DI task: "},
    };
    for (const auto& [function, nth, digital, prefix] : cases) {
        const OperationParams params = digital ? lines : OperationParams{};
        failInNextConfigure(params, function, nth);
        const auto result = execute("configure", params);
        expectUnbuilt(result, prefix);
        EXPECT_EQ(result.error.rfind(prefix + "DAQmx error -200077: ", 0), 0u);
        EXPECT_NE(result.error.find(std::string("Function: ") + function), std::string::npos);
    }
    // Only the digital line count may fail without failing the build.
    failInNextConfigure(lines, "DAQmxGetTaskNumChans", 1);
    ASSERT_TRUE(execute("configure", lines).success);
    EXPECT_EQ(DAQmxSim_LiveTaskCount(), 2u);
}

TEST_F(ConfigureTest, SettingsTheDriverRefusesLeaveNoTaskButStayStored) {
    // Dev1 has all single-ended and differential inputs but no pseudo-differential.
    const std::tuple<const char*, const char*, std::string> cases[] = {
        {"ai_channels", "Dev1/ai99", kAddChannelFailed},
        {"digital_input_lines", "Dev1/port7/line0",
         "Failed to add DI channels (Dev1/port7/line0): "},
        {"terminal_config", "PseudoDifferential", kAddChannelFailed},
        {"terminal_config", "PSEUDO_DIFF", kAddChannelFailed},
        {"terminal_config", "PSEUDODIFFERENTIAL", kAddChannelFailed},
    };
    for (const auto& [key, value, prefix] : cases) {
        SCOPED_TRACE(value);
        stub = test_support::createStub();
        ASSERT_TRUE(execute("configure", {{"sample_mode", "FINITE"}}).success);
        expectUnbuilt(execute("configure", {{key, value}}), prefix);
        EXPECT_EQ(execute("read_finite").error, "Not configured. Call configure first.");
        EXPECT_EQ(execute("configure").error.rfind(prefix, 0), 0u) << "stored all the same";
    }
    // Dev2 has RSE and differential inputs only.
    for (const char* accepted : {"DIFF", "Differential", "DIFFERENTIAL", "RSE", "nrse", ""}) {
        EXPECT_TRUE(
            execute("configure", {{"ai_channels", "Dev2/ai0"}, {"terminal_config", accepted}})
                .success)
            << accepted;
    }
    expectUnbuilt(execute("configure", {{"terminal_config", "NRSE"}}), kAddChannelFailed);
    // Texts it does not know mean RSE.
    EXPECT_TRUE(
        execute("configure", {{"ai_channels", "Dev1/ai0"}, {"terminal_config", "pseudo_diff"}})
            .success);
}

TEST_F(ConfigureTest, SampleClockLineReportsDriftMarksCoercionAndFallsBack) {
    const std::string head = "[ni-usb-daq] sample clock: requested=";
    const struct {
        const char* requested;
        double granted;  // 0: what the device grants itself; -1: the query fails
        std::string line;
    } cases[] = {
        {"100", 0.0, head + "100.000000 Hz achieved=100.000000 Hz (drift=0.000000%)"},
        {"100", 101.0,
         head + "100.000000 Hz achieved=101.000000 Hz (drift=1.000000%) *** COERCED ***"},
        {"1000", 1005.0, head + "1000.000000 Hz achieved=1005.000000 Hz (drift=0.500000%)"},
        {"1000", 1005.001,
         head + "1000.000000 Hz achieved=1005.001000 Hz (drift=0.500100%) *** COERCED ***"},
        // Below 1 Hz the drift is taken against 1 Hz.
        {"0.5", 0.504, head + "0.500000 Hz achieved=0.504000 Hz (drift=0.400000%)"},
        {"2000", -1.0,
         "[ni-usb-daq] sample clock: DAQmxGetSampClkRate failed (status=-200452), falling "
         "back to requested=2000.000000 Hz"},
    };
    for (const auto& c : cases) {
        if (c.granted < 0) {
            DAQmxSim_FailCall("DAQmxGetSampClkRate", -200452, 1);
        } else {
            DAQmxSim_ForceSampleClockRate(c.granted);
        }
        test_support::StderrCapture capture;
        const auto result = execute("configure", {{"sample_clock_rate_hz", c.requested}});
        ASSERT_TRUE(result.success) << result.error;
        EXPECT_EQ(capture.text(), c.line + "\n");
        // The rate reported is the one the line names last.
        EXPECT_NE(c.line.find(result.data.at("achieved_sample_rate_hz") + " Hz"),
                  std::string::npos);
    }
    // Huge rates are written in full fixed notation, in the result and the line.
    DAQmxSim_ForceSampleClockRate(1e308);
    test_support::StderrCapture capture;
    const std::string huge = configured({}, "achieved_sample_rate_hz");
    EXPECT_EQ(huge.size(), 316u);
    EXPECT_EQ(huge.substr(0, 4), "1000");
    EXPECT_EQ(huge.substr(huge.size() - 7), ".000000");
    EXPECT_NE(capture.text().find("achieved=" + huge + " Hz"), std::string::npos);
}

TEST_F(ConfigureTest, QueryNamesAParameterThatIsNotUtf8) {
    EXPECT_EQ(execute("query", {{"device_name", "Dev\xC3"}}).error,
              "Invalid device_name: not valid UTF-8");
    EXPECT_EQ(execute("query", {{"channel", "Dev1/ai\xED\xA0\x80"}}).error,
              "Invalid channel: not valid UTF-8");
    ASSERT_TRUE(execute("configure", {{"device_name", "Dev2"}}).success);
    const auto info = execute("query");
    ASSERT_TRUE(info.success) << info.error;
    EXPECT_EQ(nlohmann::json::parse(info.data.at("info")).at("device_name"), "Dev2");
}

/// Decimal comma and digit grouping, as a host in a German locale has them.
struct GermanPunctuation : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

// Numbers are read by their prefix ("250abc" is 250), as in the C locale
// whatever the host's locale is.
TEST_F(ConfigureTest, NumbersAreReadByPrefixWhateverTheHostLocale) {
    const std::locale previous =
        std::locale::global(std::locale(std::locale::classic(), new GermanPunctuation));
    // The C locale too, where one with a decimal comma is installed.
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"}) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            break;
        }
    }
    test_support::StderrCapture capture;
    const auto result = execute("configure", {{"sample_clock_rate_hz", "1234.5"},
                                              {"sample_mode", "FINITE"},
                                              {"samples_per_channel", "1500"}});
    const auto read = execute("read_finite");
    const auto prefixed = execute(
        "configure", {{"sample_clock_rate_hz", " 2.5e3Hz"}, {"samples_per_channel", "250abc"}});
    std::setlocale(LC_ALL, "C");
    std::locale::global(previous);

    ASSERT_TRUE(result.success) << result.error;
    EXPECT_EQ(result.data.at("requested_sample_rate_hz"), "1234.500000");
    EXPECT_EQ(result.data.at("samples_per_channel"), "1500");
    EXPECT_NE(capture.text().find("requested=1234.500000 Hz"), std::string::npos) << capture.text();
    ASSERT_TRUE(read.success) << read.error;
    EXPECT_EQ(nlohmann::json::parse(read.data.at("frame")).at("sample_count"), 1500);
    ASSERT_TRUE(prefixed.success) << prefixed.error;
    EXPECT_EQ(prefixed.data.at("requested_sample_rate_hz"), "2500.000000");
    EXPECT_EQ(prefixed.data.at("samples_per_channel"), "250");
}

}  // namespace
