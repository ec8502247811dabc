// "configure" and "query": stored settings with their defaults, the parsing
// rules of text parameters, the result entries, and the refusals that leave
// the engine as it was.
#include <clocale>
#include <locale>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/TestSupport.h"

using kra::device::OperationParams;
using kra::device::OperationResult;

namespace {

class ConfigureTest : public test_support::SimulatorTest {
protected:
    // The stub goes first: the fixture checks that it left no task behind.
    void TearDown() override {
        stub.reset();
        SimulatorTest::TearDown();
    }
    OperationResult execute(const std::string& operation, const OperationParams& params = {}) {
        return stub->execute("analog_input", operation, params, "cfg");
    }
    std::string configured(const OperationParams& params, const std::string& key) {
        const auto result = execute("configure", params);
        EXPECT_TRUE(result.success) << result.error;
        return result.success ? result.data.at(key) : "";
    }

    test_support::StubPtr stub = test_support::createStub();
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
                                                   {"samples_per_channel", "100"}}));
    EXPECT_EQ(DAQmxSim_RunningTaskCount(), 0u);
    // Settings persist, and a rebuild replaces the task instead of adding one.
    EXPECT_EQ(configured({{"ai_channels", "Dev1/ai0:1"}}, "n_channels"), "2");
    EXPECT_EQ(configured({}, "ai_channels"), "Dev1/ai0:1");
    EXPECT_EQ(DAQmxSim_LiveTaskCount(), 1u);
}

TEST_F(ConfigureTest, NumbersAreReadByPrefixAndBadTextKeepsTheStoredValue) {
    EXPECT_EQ(configured({{"samples_per_channel", "250abc"}}, "samples_per_channel"), "250");
    EXPECT_EQ(configured({{"samples_per_channel", "2147483648"}}, "samples_per_channel"), "250");
    EXPECT_EQ(configured({{"samples_per_channel", "x12"}}, "samples_per_channel"), "250");
    const std::string rate = "requested_sample_rate_hz";
    EXPECT_EQ(configured({{"sample_clock_rate_hz", " 2.5e3Hz"}}, rate), "2500.000000");
    EXPECT_EQ(configured({{"sample_clock_rate_hz", "fast"}}, rate), "2500.000000");
    EXPECT_EQ(configured({{"sample_clock_rate_hz", "1e999"}}, rate), "2500.000000");
    EXPECT_EQ(configured({{"sample_clock_rate_hz", "2.5"}}, rate), "2.500000");
}

TEST_F(ConfigureTest, HugeRatesAreWrittenInFullFixedNotation) {
    DAQmxSim_ForceSampleClockRate(1e308);
    test_support::StderrCapture capture;
    const std::string huge = configured({}, "achieved_sample_rate_hz");
    EXPECT_EQ(huge.size(), 316u);
    EXPECT_EQ(huge.substr(0, 4), "1000");
    EXPECT_EQ(huge.substr(huge.size() - 7), ".000000");
    EXPECT_NE(capture.text().find("achieved=" + huge + " Hz"), std::string::npos);
}

TEST_F(ConfigureTest, ModesAreMatchedExactly) {
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

TEST_F(ConfigureTest, StoredOnlySettingsChangeNothing) {
    const auto plain = execute("configure");
    const auto decorated = execute("configure", {{"units", "AMPS"},
                                                 {"delivery_model", "CALLBACK"},
                                                 {"start_trigger_type", "DIGITAL_EDGE"},
                                                 {"start_trigger_source", "/Dev1/PFI0"},
                                                 {"start_trigger_edge", "FALLING"},
                                                 {"analog_trigger_level_v", "1.5"}});
    ASSERT_TRUE(decorated.success) << decorated.error;
    EXPECT_EQ(decorated.data, plain.data);
}

TEST_F(ConfigureTest, FailedConfigureLeavesTheEngineUnconfiguredWithItsSettingsStored) {
    ASSERT_TRUE(execute("configure", {{"sample_mode", "FINITE"}}).success);
    const auto failed = execute("configure", {{"ai_channels", "Dev1/ai99"}});
    EXPECT_EQ(failed.error.rfind("Failed to add AI voltage channel: DAQmx error -", 0), 0u)
        << failed.error;
    EXPECT_TRUE(failed.data.empty());
    EXPECT_EQ(failed.requestId, "cfg");
    EXPECT_EQ(DAQmxSim_LiveTaskCount(), 0u);
    EXPECT_EQ(execute("read_finite").error, "Not configured. Call configure first.");
    EXPECT_EQ(execute("configure").error.rfind("Failed to add AI voltage channel: ", 0), 0u);
}

TEST_F(ConfigureTest, ValuesThatWouldBreakTheEngineAreRefusedBeforeAnythingIsStored) {
    ASSERT_TRUE(
        execute("configure", {{"sample_mode", "FINITE"}, {"samples_per_channel", "8"}}).success);
    const char* const cases[][3] = {
        {"samples_per_channel", "0", "Invalid samples_per_channel: 0 (must be 1 or more)"},
        {"samples_per_channel", "-5", "Invalid samples_per_channel: -5 (must be 1 or more)"},
        {"sample_clock_rate_hz", "nan",
         "Invalid sample_clock_rate_hz: nan (must be a finite number)"},
        {"sample_clock_rate_hz", "INF",
         "Invalid sample_clock_rate_hz: inf (must be a finite number)"},
        {"voltage_range_min", "-infinity",
         "Invalid voltage_range_min: -inf (must be a finite number)"},
        {"voltage_range_max", "inf", "Invalid voltage_range_max: inf (must be a finite number)"},
        {"read_timeout_s", "NaN", "Invalid read_timeout_s: nan (must be a finite number)"},
        {"analog_trigger_level_v", "nan(1)",
         "Invalid analog_trigger_level_v: nan (must be a finite number)"},
    };
    const auto calls = DAQmxSim_CallLogSize();
    for (const auto& [key, value, message] : cases) {
        const auto refused = execute("configure", {{"sample_mode", "CONTINUOUS"}, {key, value}});
        EXPECT_EQ(refused.error, message);
        EXPECT_TRUE(refused.data.empty());
    }
    EXPECT_EQ(DAQmxSim_CallLogSize(), calls) << "no task was touched";
    const auto read = execute("read_finite");  // still configured, FINITE, 8 samples
    ASSERT_TRUE(read.success) << read.error;
    EXPECT_EQ(nlohmann::json::parse(read.data.at("frame")).at("sample_count"), 8);
    // A negative timeout is the driver's "wait for ever".
    EXPECT_TRUE(execute("configure", {{"read_timeout_s", "-1"}}).success);
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

TEST_F(ConfigureTest, NumbersDoNotDependOnTheHostLocale) {
    const std::locale previous =
        std::locale::global(std::locale(std::locale::classic(), new GermanPunctuation));
    // The C locale too, where one with a decimal comma is installed.
    bool decimalComma = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"}) {
        decimalComma = decimalComma || std::setlocale(LC_ALL, name) != nullptr;
    }
    if (!decimalComma) {
        std::printf("note: no decimal-comma C locale installed; C++ locale only\n");
    }
    test_support::StderrCapture capture;
    const auto result = execute("configure", {{"sample_clock_rate_hz", "1234.5"},
                                              {"sample_mode", "FINITE"},
                                              {"samples_per_channel", "1500"}});
    const auto read = execute("read_finite");
    std::setlocale(LC_ALL, "C");
    std::locale::global(previous);

    ASSERT_TRUE(result.success) << result.error;
    EXPECT_EQ(result.data.at("requested_sample_rate_hz"), "1234.500000");
    EXPECT_EQ(result.data.at("samples_per_channel"), "1500");
    EXPECT_NE(capture.text().find("requested=1234.500000 Hz"), std::string::npos) << capture.text();
    ASSERT_TRUE(read.success) << read.error;
    EXPECT_EQ(nlohmann::json::parse(read.data.at("frame")).at("sample_count"), 1500);
}

}  // namespace
