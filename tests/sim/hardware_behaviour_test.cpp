// What the simulated devices do like real ones: signals, the converter, the
// input buffer that overflows, reads that time out with what they had, and
// devices unplugged under a running task. Each behaviour can be switched off.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

std::string extendedErrorText() {
    std::vector<char> text(4096, '\0');
    DAQmxGetExtendedErrorInfo(text.data(), static_cast<uInt32>(text.size()));
    return text.data();
}

class HardwareBehaviour : public test_support::SimulatorTest {
protected:
    void TearDown() override {
        DAQmxClearTask(task);
        SimulatorTest::TearDown();
    }
    void makeTask(const char* channels, double rate, double low = -10.0, double high = 10.0,
                  int32 mode = DAQmx_Val_ContSamps) {
        DAQmxClearTask(task);
        ASSERT_EQ(DAQmxCreateTask("", &task), 0);
        ASSERT_EQ(DAQmxCreateAIVoltageChan(task, channels, "", DAQmx_Val_RSE, low, high,
                                           DAQmx_Val_Volts, nullptr),
                  0);
        ASSERT_EQ(DAQmxCfgSampClkTiming(task, nullptr, rate, DAQmx_Val_Rising, mode, 100), 0);
    }
    int32 read(int32 samples, double timeout) {
        data.assign(static_cast<std::size_t>(samples) * 8, -99.0);
        got = -1;
        return DAQmxReadAnalogF64(task, samples, timeout, DAQmx_Val_GroupByChannel, data.data(),
                                  static_cast<uInt32>(data.size()), &got, nullptr);
    }

    TaskHandle task = nullptr;
    std::vector<float64> data;
    int32 got = -1;
};

TEST_F(HardwareBehaviour, DescribedSignalsFollowTheirShapeAtTheTasksRate) {
    const test_support::TempDir dir;
    const std::string rig = dir.write("rig.json", R"({"devices": [{
        "name": "Rig1", "product_type": "USB-6211", "ai_channels": 5,
        "ai_max_single_chan_rate_hz": 1e6, "ai_max_multi_chan_rate_hz": 1e6,
        "ai_voltage_ranges": [[-10, 10]],
        "ai_signals": {
          "ai0": {"kind": "sine", "amplitude": 2, "offset": 1, "frequency_hz": 10, "phase_deg": 90},
          "ai1": {"kind": "square", "amplitude": 3, "frequency_hz": 10},
          "ai2": {"kind": "triangle", "amplitude": 4, "frequency_hz": 10},
          "ai3": {"kind": "sawtooth", "amplitude": 5, "frequency_hz": 10},
          "ai4": {"kind": "constant", "offset": -2.5}}}]})");
    ASSERT_EQ(DAQmxSim_LoadDevices(rig.c_str()), 0);
    DAQmxSim_SetRealism(DAQMXSIM_REALISM_ALL & ~DAQMXSIM_CONVERTER);
    makeTask("Rig1/ai0:4", 1000.0);  // 100 samples per cycle
    ASSERT_EQ(read(100, 1.0), 0);
    const auto at = [&](int channel, int sample) { return data[channel * 100 + sample]; };
    for (int s = 0; s < 100; ++s) {
        const double p = s / 100.0;
        EXPECT_NEAR(at(0, s), 1.0 + 2.0 * std::cos(2.0 * kPi * p), 2e-7) << s;
        EXPECT_EQ(at(1, s), p < 0.5 ? 3.0 : -3.0) << s;
        EXPECT_NEAR(at(2, s), 4.0 * (1.0 - 4.0 * std::fabs(p - 0.5)), 1e-12) << s;
        EXPECT_NEAR(at(3, s), 5.0 * (2.0 * p - 1.0), 1e-12) << s;
        EXPECT_EQ(at(4, s), -2.5) << s;
    }
    for (const char* signal : {R"({"kind": "wobble"})", R"({"noise_rms": -1})", "3"}) {
        const std::string bad = dir.write("bad.json", std::string(R"({"devices": [{
            "name": "Bad1", "product_type": "USB-6211", "ai_channels": 1,
            "ai_signals": {"ai0": )") + signal + "}}]}");
        EXPECT_EQ(DAQmxSim_LoadDevices(bad.c_str()), DAQMXSIM_ERROR_INVALID_RIG_DESCRIPTION)
            << signal;
    }
}

TEST_F(HardwareBehaviour, ReadsEqualTheExpectedSamplesBitForBitAndChannelsDiffer) {
    makeTask("Dev1/ai0:3", 2000.0, -5.0, 5.0);
    ASSERT_EQ(read(200, 1.0), 0);
    std::set<double> firstValues;
    for (int c = 0; c < 4; ++c) {
        const std::string name = "Dev1/ai" + std::to_string(c);
        for (int s = 0; s < 200; ++s) {
            ASSERT_EQ(data[c * 200 + s], DAQmxSim_ExpectedSample(name.c_str(), s)) << name << s;
            ASSERT_EQ(data[c * 200 + s], DAQmxSim_ExpectedSampleAt(name.c_str(), s, 2000, -5, 5));
        }
        firstValues.insert(data[c * 200 + 1]);
    }
    EXPECT_EQ(firstValues.size(), 4u) << "every channel carries its own signal";
    // Noise repeats: the same device, channel and index give the same value
    // in a new task, also after the task is gone.
    const std::vector<double> first(data.begin(), data.begin() + 200);
    makeTask("Dev1/ai0", 2000.0, -5.0, 5.0);
    ASSERT_EQ(read(200, 1.0), 0);
    EXPECT_EQ(std::vector<double>(data.begin(), data.begin() + 200), first);
    ASSERT_EQ(DAQmxClearTask(task), 0);
    task = nullptr;
    EXPECT_EQ(DAQmxSim_ExpectedSample("Dev1/ai0", 5), first[5]);
}

TEST_F(HardwareBehaviour, EverySignalKindReadsAsExpectedWhereverAReadStartsAndInEitherLayout) {
    // Every kind, quiet and noisy, on a 16-bit converter and a 32-bit one,
    // with and without the converter, read in pieces of odd sizes that start
    // anywhere and grouped by channel or by scan.
    const test_support::TempDir dir;
    const std::string signals = R"({
        "ai0": {"kind": "sine", "amplitude": 3, "frequency_hz": 7.7, "phase_deg": -40},
        "ai1": {"kind": "square", "amplitude": 2, "offset": 1, "frequency_hz": 13, "noise_rms": 0.01},
        "ai2": {"kind": "triangle", "amplitude": 4, "frequency_hz": 29, "phase_deg": 10},
        "ai3": {"kind": "sawtooth", "amplitude": 1, "frequency_hz": 51, "noise_rms": 0.002},
        "ai4": {"kind": "noise", "amplitude": 0.5, "offset": -1},
        "ai5": {"kind": "constant", "offset": 0.25}})";
    const auto deviceEntry = [&](const char* name, int bits) {
        return std::string(R"({"name": ")") + name + R"(", "product_type": "USB-6211",
            "ai_channels": 6, "ai_max_multi_chan_rate_hz": 250000,
            "ai_voltage_ranges": [[-10, 10]], "ai_resolution_bits": )" +
               std::to_string(bits) + R"(, "ai_signals": )" + signals + "}";
    };
    const std::string rig =
        R"({"devices": [)" + deviceEntry("Rig16", 16) + ", " + deviceEntry("Rig32", 32) + "]}";
    ASSERT_EQ(DAQmxSim_LoadDevices(dir.write("rig.json", rig).c_str()), 0);
    constexpr int kChannels = 6;
    for (const char* device : {"Rig16", "Rig32"}) {
        for (const uInt32 realism :
             {DAQMXSIM_REALISM_ALL, DAQMXSIM_REALISM_ALL & ~DAQMXSIM_CONVERTER}) {
            SCOPED_TRACE(std::string(device) +
                         (realism == DAQMXSIM_REALISM_ALL ? "" : " unconverted"));
            DAQmxSim_SetRealism(realism);
            ASSERT_NO_FATAL_FAILURE(makeTask((std::string(device) + "/ai0:5").c_str(), 1000.0));
            std::uint64_t next = 0;
            for (const int32 piece : {1, 63, 2, 100, 37, 64, 129, 5}) {
                const bool byScan = piece % 2 != 0;
                data.assign(static_cast<std::size_t>(piece) * kChannels, -99.0);
                ASSERT_EQ(DAQmxReadAnalogF64(
                              task, piece, 1.0,
                              byScan ? DAQmx_Val_GroupByScanNumber : DAQmx_Val_GroupByChannel,
                              data.data(), static_cast<uInt32>(data.size()), &got, nullptr),
                          0);
                for (int c = 0; c < kChannels; ++c) {
                    const std::string name = device + std::string("/ai") + std::to_string(c);
                    for (int s = 0; s < piece; ++s) {
                        const double value = data[byScan ? s * kChannels + c : c * piece + s];
                        ASSERT_EQ(value, DAQmxSim_ExpectedSample(name.c_str(), next + s))
                            << name << " sample " << next + s;
                    }
                }
                next += static_cast<std::uint64_t>(piece);
            }
        }
    }
}

TEST_F(HardwareBehaviour, ASineKeepsItsExactPhaseHoweverLongTheTaskRuns) {
    // 3 cycles in 1024 samples: the phase of sample n is (3 n mod 1024) / 1024
    // of a cycle, exactly, for every index up to the last.
    const test_support::TempDir dir;
    ASSERT_EQ(DAQmxSim_LoadDevices(dir.write("rig.json", R"({"devices": [{"name": "Rig1",
        "product_type": "USB-6211", "ai_channels": 1, "ai_voltage_ranges": [[-10, 10]],
        "ai_signals": {"ai0": {"kind": "sine", "amplitude": 2, "frequency_hz": 3}}}]})")
                                       .c_str()),
              0);
    DAQmxSim_SetRealism(DAQMXSIM_REALISM_ALL & ~DAQMXSIM_CONVERTER);
    for (const std::uint64_t n : {std::uint64_t{1000}, (std::uint64_t{1} << 40) + 77,
                                  (std::uint64_t{1} << 60) + 12345, ~std::uint64_t{0}}) {
        const double cycles = static_cast<double>((3 * n) % 1024) / 1024.0;
        EXPECT_NEAR(DAQmxSim_ExpectedSampleAt("Rig1/ai0", n, 1024.0, -10, 10),
                    2.0 * std::sin(2.0 * kPi * cycles), 1e-12)
            << n;
    }
}

TEST_F(HardwareBehaviour, ConverterClipsAndQuantizesInTheChosenRange) {
    struct Case {
        double low, high, rangeHigh;
    };
    // ai3 carries a 2 V sine: clipped at +-1 and +-0.2, whole at +-5.
    for (const Case& range : {Case{-5, 5, 5}, Case{-1, 0.5, 1}, Case{-0.1, 0.2, 0.2}}) {
        SCOPED_TRACE(range.rangeHigh);
        makeTask("Dev1/ai3", 1000.0, range.low, range.high);
        ASSERT_EQ(read(400, 1.0), 0);
        const double code = DAQmxSim_CodeWidth("Dev1/ai3", range.low, range.high);
        EXPECT_DOUBLE_EQ(code, 2.0 * range.rangeHigh / 65536.0);
        double top = -100.0;
        double bottom = 100.0;
        for (int s = 0; s < 400; ++s) {
            const double steps = (data[s] + range.rangeHigh) / code;
            EXPECT_NEAR(steps, std::round(steps), 0.26) << s;
            top = std::max(top, data[s]);
            bottom = std::min(bottom, data[s]);
        }
        const bool clipped = range.rangeHigh < 2.0;
        EXPECT_NEAR(top, clipped ? range.rangeHigh - code : 2.0, clipped ? 0.25 * code : 0.01);
        EXPECT_NEAR(bottom, clipped ? -range.rangeHigh : -2.0, clipped ? 0.25 * code : 0.01);
    }
    ASSERT_EQ(DAQmxStopTask(task), 0);
    EXPECT_EQ(DAQmxCreateAIVoltageChan(task, "Dev1/ai4", "", DAQmx_Val_RSE, -11, 11,
                                       DAQmx_Val_Volts, nullptr),
              -200077);
    EXPECT_TRUE(std::isnan(DAQmxSim_ExpectedSampleAt("Dev1/ai3", 0, 1000, -11, 11)));

    DAQmxSim_SetRealism(DAQMXSIM_REALISM_ALL & ~(DAQMXSIM_CONVERTER | DAQMXSIM_REALISTIC_SIGNALS));
    ASSERT_EQ(read(3, 1.0), 0);
    EXPECT_EQ(data[0], DAQmxSim_ExpectedSample("Dev1/ai3", 0));
    EXPECT_DOUBLE_EQ(data[2], 0.004002) << "the identifying sawtooth, unconverted";
}

TEST_F(HardwareBehaviour, TheSampleClockRefusesRatesItsTimebaseCannotDivideDownTo) {
    ASSERT_EQ(DAQmxCreateTask("", &task), 0);
    ASSERT_EQ(DAQmxCreateAIVoltageChan(task, "Dev2/ai0", "", DAQmx_Val_RSE, -10, 10,
                                       DAQmx_Val_Volts, nullptr),
              0);
    const auto configure = [&](double rate) {
        return DAQmxCfgSampClkTiming(task, nullptr, rate, DAQmx_Val_Rising, DAQmx_Val_ContSamps,
                                     100);
    };
    // Dev2's 100 kHz timebase through a 32-bit divisor: nothing below 100e3 / 2^32 Hz.
    const double slowest = 100e3 / 4294967296.0;
    for (const double rate : {1e-300, slowest / 2, 0.0, -1.0, std::nan(""), HUGE_VAL}) {
        SCOPED_TRACE(rate);
        EXPECT_EQ(configure(rate), DAQmxErrorInvalidAttributeValue);
        const std::string text = extendedErrorText();
        EXPECT_NE(text.find("Property: DAQmx_SampClk_Rate"), std::string::npos) << text;
    }
    ASSERT_EQ(configure(1e-300), DAQmxErrorInvalidAttributeValue);
    EXPECT_NE(extendedErrorText().find("Minimum Value: 2.3283064365386963e-05"), std::string::npos)
        << extendedErrorText();
    float64 granted = 0.0;
    EXPECT_NE(DAQmxGetSampClkRate(task, &granted), 0) << "a refused clock is not configured";

    ASSERT_EQ(configure(slowest), 0);
    ASSERT_EQ(DAQmxGetSampClkRate(task, &granted), 0);
    EXPECT_EQ(granted, slowest);
    ASSERT_EQ(configure(0.5), 0);
    ASSERT_EQ(DAQmxGetSampClkRate(task, &granted), 0);
    EXPECT_EQ(granted, 0.5);
}

TEST_F(HardwareBehaviour, InputBufferFollowsTheRateTheHintAndOverrides) {
    struct Case {
        double rate;
        uInt64 buffer;
    };
    for (const Case& c : {Case{100, 1000}, Case{101, 10000}, Case{10000, 10000},
                          Case{10001, 100000}, Case{1e6, 100000}, Case{1.5e6, 1000000}}) {
        DAQmxSim_ForceSampleClockRate(c.rate);
        makeTask("Dev1/ai0", 1000.0);
        uInt64 size = 0;
        ASSERT_EQ(DAQmxSim_GetInputBufferSize(task, &size), 0);
        EXPECT_EQ(size, c.buffer) << c.rate;
    }
    DAQmxSim_ForceSampleClockRate(0);
    ASSERT_EQ(
        DAQmxCfgSampClkTiming(task, nullptr, 1000, DAQmx_Val_Rising, DAQmx_Val_ContSamps, 50000),
        0);
    uInt64 size = 0;
    ASSERT_EQ(DAQmxSim_GetInputBufferSize(task, &size), 0);
    EXPECT_EQ(size, 50000u) << "a larger count asked for sizes the buffer";
    DAQmxSim_SetInputBufferSize(64);
    ASSERT_EQ(DAQmxSim_GetInputBufferSize(task, &size), 0);
    EXPECT_EQ(size, 64u);
}

TEST_F(HardwareBehaviour, AReaderFallingBehindTheBufferLosesTheAcquisitionUntilStopped) {
    DAQmxSim_SetInputBufferSize(100);
    makeTask("Dev1/ai0", 1000.0);
    ASSERT_EQ(DAQmxStartTask(task), 0);
    uInt32 available = 0;
    ASSERT_EQ(DAQmxGetReadAvailSampPerChan(task, &available), 0);
    EXPECT_GT(available, 100000u) << "unpaced: everything is due, nothing overflows";
    ASSERT_EQ(read(100, 1.0), 0);

    for (const bool overflowOn : {true, false}) {
        SCOPED_TRACE(overflowOn);
        DAQmxSim_SetRealism(overflowOn ? DAQMXSIM_REALISM_ALL
                                       : DAQMXSIM_REALISM_ALL & ~DAQMXSIM_BUFFER_OVERFLOW);
        ASSERT_EQ(DAQmxStopTask(task), 0);
        DAQmxSim_SetTimeScale(20.0);
        ASSERT_EQ(DAQmxStartTask(task), 0);
        // 0.1 s of samples fill the buffer; 20 ms at scale 20 is 0.4 s.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const int32 expected = overflowOn ? DAQmxErrorSamplesNoLongerAvailable : 0;
        EXPECT_EQ(read(10, 10.0), expected);
        EXPECT_EQ(read(10, 10.0), expected) << "every later read too";
        EXPECT_EQ(DAQmxGetReadAvailSampPerChan(task, &available), expected);
        DAQmxSim_SetTimeScale(0.0);
    }
    ASSERT_EQ(DAQmxStopTask(task), 0);
    ASSERT_EQ(DAQmxStartTask(task), 0);
    ASSERT_EQ(read(10, 1.0), 0) << "a new start begins clean";
    EXPECT_EQ(data[0], DAQmxSim_ExpectedSample("Dev1/ai0", 0));
}

TEST_F(HardwareBehaviour, ATimedOutReadDeliversAndConsumesWhatItHadUnlessSwitchedOff) {
    DAQmxSim_SetTimeScale(10.0);
    makeTask("Dev1/ai0:1", 1000.0);
    ASSERT_EQ(DAQmxStartTask(task), 0);
    EXPECT_EQ(read(1000, 0.05), DAQmxErrorSamplesNotYetAvailable);  // 1 s asked, 50 ms waited
    ASSERT_GE(got, 50);
    ASSERT_LT(got, 1000);
    const int32 first = got;
    for (int s = 0; s < first; ++s) {
        ASSERT_EQ(data[s], DAQmxSim_ExpectedSample("Dev1/ai0", s));
        ASSERT_EQ(data[first + s], DAQmxSim_ExpectedSample("Dev1/ai1", s)) << "stride = count";
    }
    DAQmxSim_SetRealism(DAQMXSIM_REALISM_ALL & ~DAQMXSIM_PARTIAL_TIMEOUT_READS);
    EXPECT_EQ(read(1000, 0.0), DAQmxErrorSamplesNotYetAvailable);
    EXPECT_EQ(got, -1) << "nothing delivered";
    ASSERT_EQ(read(1, 1.0), 0);
    EXPECT_EQ(data[0], DAQmxSim_ExpectedSample("Dev1/ai0", first)) << "nothing consumed";
}

TEST_F(HardwareBehaviour, UnpluggingAbortsTheTasksTransfersForGood) {
    DAQmxSim_SetTimeScale(1.0);
    makeTask("Dev1/ai0", 1000.0);
    ASSERT_EQ(DAQmxStartTask(task), 0);
    int32 waiting = 0;
    std::thread reader([&] {
        std::vector<float64> buffer(100000);
        int32 count = 0;
        waiting = DAQmxReadAnalogF64(task, 100000, -1.0, DAQmx_Val_GroupByChannel, buffer.data(),
                                     100000, &count, nullptr);
    });
    while (DAQmxSim_ReadsInProgress() == 0) {
        std::this_thread::yield();
    }
    ASSERT_EQ(DAQmxSim_SetDevicePresent("Dev1", 0), 0);
    reader.join();
    EXPECT_EQ(waiting, -50405) << "the waiting read wakes up";
    uInt32 number = 0;
    EXPECT_EQ(DAQmxGetDevProductNum("Dev1", &number), -201003);
    ASSERT_EQ(DAQmxSim_SetDevicePresent("Dev1", 1), 0);
    EXPECT_EQ(read(1, 0.0), -50405) << "replugging does not revive the task";
    uInt32 available = 0;
    EXPECT_EQ(DAQmxGetReadAvailSampPerChan(task, &available), -50405);
    ASSERT_EQ(DAQmxStopTask(task), 0);
    EXPECT_EQ(DAQmxStartTask(task), -50405);

    DAQmxSim_SetTimeScale(0.0);
    makeTask("Dev1/ai0", 1000.0);  // clears the lost task first
    EXPECT_EQ(read(10, 1.0), 0);
    DAQmxSim_SetRealism(DAQMXSIM_REALISM_ALL & ~DAQMXSIM_REMOVAL_ABORTS);
    ASSERT_EQ(DAQmxSim_SetDevicePresent("Dev1", 0), 0);
    EXPECT_EQ(read(10, 1.0), -201003);
    ASSERT_EQ(DAQmxSim_SetDevicePresent("Dev1", 1), 0);
    EXPECT_EQ(read(10, 1.0), 0) << "without the abort the task carries on";
}

}  // namespace
