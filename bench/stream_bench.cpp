// Streaming through the loaded plug-in, as a host meets it: frames delivered
// to a counting subscriber with the simulated driver unpaced, against the
// frame writer alone on the same block shape; the same stream to a
// "stream_binary" subscriber against a "stream" one; a paced 1 MS/s stream
// (16 channels x 62.5 kHz, 10 frames/s) for the CPU it costs and the memory
// it holds; and the latency from a block becoming available in the driver to
// the subscriber's callback.
#include <dlfcn.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchFrames.h"

#include "daqmx/sim/NIDAQmxSimControl.h"
#include "device/IDeviceStub.h"
#include "stubs/acquisition/SampleFrame.h"

namespace {

using kra::device::DeviceState;
using kra::device::IDeviceStub;

struct Plugin {
    void* handle = ::dlopen(NI_USB_DAQ_PLUGIN_PATH, RTLD_NOW);
    IDeviceStub* (*create)() = reinterpret_cast<IDeviceStub* (*)()>(::dlsym(handle,
                                                                            "createDeviceStub"));
    void (*destroy)(IDeviceStub*) =
        reinterpret_cast<void (*)(IDeviceStub*)>(::dlsym(handle, "destroyDeviceStub"));
};

const Plugin& plugin() {
    static const Plugin loaded;
    return loaded;
}

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

// Every benchmark stream reads with this timeout: stop_stream must not wait for it.
constexpr double kReadTimeoutS = 10.0;

std::int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

/// Median and 99th percentile, in microseconds, of nanosecond figures.
struct Spread {
    double medianUs = 0.0;
    double p99Us = 0.0;
};

Spread spreadOf(std::vector<std::int64_t> ns) {
    if (ns.empty()) {
        return {};
    }
    std::sort(ns.begin(), ns.end());
    const auto at = [&](double q) {
        return static_cast<double>(
                   ns[static_cast<std::size_t>(q * static_cast<double>(ns.size() - 1))]) /
               1e3;
    };
    return {at(0.5), at(0.99)};
}

/// The benchmarks' rig: a 16-channel simultaneous-sampling device that can
/// deliver 16 x 62.5 kS/s (Dev1) and an 80-channel one (Dev2).
bool loadFastRig(benchmark::State& state) {
    if (DAQmxSim_LoadDevices(NI_USB_DAQ_FAST_RIG) != 0) {
        state.SkipWithError("cannot load the fast rig");
        return false;
    }
    return true;
}

/// A stub streaming `channels` x `samples` blocks of `device` into a counting
/// subscriber of `topic`. While latency recording is on, each callback notes
/// how long ago the driver made its block available and how long ago the read
/// returned it.
class CountingStream {
public:
    CountingStream(const std::string& device, int channels, int samples, double rateHz,
                   const char* topic = "stream")
        : stub_(plugin().create()) {
        const std::string list = device + "/ai0:" + std::to_string(channels - 1);
        problem_ = stub_
                       ->execute("analog_input", "configure",
                                 {{"ai_channels", list},
                                  {"samples_per_channel", std::to_string(samples)},
                                  {"sample_clock_rate_hz", std::to_string(rateHz)},
                                  {"read_timeout_s", std::to_string(kReadTimeoutS)}},
                                 "")
                       .error;
        stub_->subscribe("analog_input", topic, [this](const DeviceState&) {
            const std::int64_t entered = steadyNs();
            const std::lock_guard lock(mutex_);
            if (recording_) {
                std::int64_t ready = 0;
                std::int64_t returned = 0;
                DAQmxSim_LastAnalogReadTimes(&ready, &returned);
                sinceReady_.push_back(entered - ready);
                sinceReturned_.push_back(entered - returned);
            }
            // Only the awaited frame wakes the waiter: a wake-up per frame would
            // cost the stream more than small frames do.
            if (++frames_ == awaited_) {
                changed_.notify_all();
            }
        });
    }
    ~CountingStream() { plugin().destroy(stub_); }

    /// False, with the reason skipping the benchmark, when the stream did not
    /// start (a rig without the channels, say).
    bool start(benchmark::State& state) {
        if (problem_.empty()) {
            problem_ = stub_->execute("analog_input", "start_stream", {}, "").error;
        }
        if (!problem_.empty()) {
            state.SkipWithError(problem_.c_str());
        }
        return problem_.empty();
    }
    /// Stops right after a frame, while the stream thread waits for the next
    /// block: before, a stop took up to one block period here.
    double stopMsWhileWaiting() {
        waitFrames(frames() + 1);
        return stopMs();
    }
    double stopMs() {
        const auto begin = std::chrono::steady_clock::now();
        stub_->execute("analog_input", "stop_stream", {}, "");
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
            .count();
    }
    void waitFrames(std::uint64_t count) {
        std::unique_lock lock(mutex_);
        // Bounded, so a stream that failed to start ends the run instead of hanging it.
        awaited_ = count;
        if (!changed_.wait_for(lock, std::chrono::seconds(60), [&] { return frames_ >= count; })) {
            std::fprintf(stderr, "stream_bench: no frame %llu within 60 s\n",
                         static_cast<unsigned long long>(count));
            std::abort();
        }
    }
    std::uint64_t frames() {
        const std::lock_guard lock(mutex_);
        return frames_;
    }
    void recordLatency(bool on) {
        const std::lock_guard lock(mutex_);
        recording_ = on;
    }
    /// Block available -> callback, and read returned -> callback.
    std::pair<Spread, Spread> latency() {
        const std::lock_guard lock(mutex_);
        return {spreadOf(sinceReady_), spreadOf(sinceReturned_)};
    }

private:
    IDeviceStub* stub_;
    std::string problem_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t frames_ = 0;
    std::uint64_t awaited_ = 0;
    bool recording_ = false;
    std::vector<std::int64_t> sinceReady_;
    std::vector<std::int64_t> sinceReturned_;
};

/// Unpaced, on the rig's 80-channel device, so every shape fits one device,
/// into a subscriber of `topic`. Without `realistic` the simulator makes its
/// cheapest signal (the identifying sawtooth, no converter), which leaves
/// mostly the plug-in's own cost.
void streamUnpaced(benchmark::State& state, const char* topic, bool realistic) {
    if (!loadFastRig(state)) {
        return;
    }
    DAQmxSim_SetTimeScale(0.0);
    DAQmxSim_SetRealism(realistic ? DAQMXSIM_REALISM_ALL
                                  : DAQMXSIM_REALISM_ALL &
                                        ~(DAQMXSIM_REALISTIC_SIGNALS | DAQMXSIM_CONVERTER));
    const int channels = static_cast<int>(state.range(0));
    const int samples = static_cast<int>(state.range(1));
    CountingStream stream("Dev2", channels, samples, 1000.0, topic);
    if (!stream.start(state)) {
        DAQmxSim_SetRealism(DAQMXSIM_REALISM_ALL);
        return;
    }
    // An iteration is about 100 000 samples' worth of frames.
    const auto batch = static_cast<std::uint64_t>(std::max(1, 100'000 / (channels * samples)));
    std::uint64_t frames = 0;
    for (auto _ : state) {
        stream.waitFrames(frames += batch);
    }
    stream.stopMs();
    DAQmxSim_SetRealism(DAQMXSIM_REALISM_ALL);
    // The frames of the timed iterations; those after the last one do not count.
    state.SetItemsProcessed(static_cast<std::int64_t>(frames) * channels * samples);
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

void BM_StreamEndToEnd(benchmark::State& state) {
    streamUnpaced(state, "stream", true);
}

void BM_FramePathOnly(benchmark::State& state) {
    const bench::Shape shape{static_cast<std::uint64_t>(state.range(0)),
                             static_cast<std::int32_t>(state.range(1))};
    const std::vector<double> block = bench::waveform(shape);
    kra::device::stubs::SampleFrameView frame = bench::frameOf(shape, block);
    std::string text;
    for (auto _ : state) {
        ++frame.sequenceNo;
        kra::device::stubs::writeFrameText(frame, text);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetItemsProcessed(state.iterations() * shape.samples());
}

/// 1 MS/s aggregate in real time: CPU per second of stream, memory after 10
/// frames and after 1000 more (those run unpaced: memory does not depend on
/// pacing), and how long stop_stream takes against the 100 ms block period.
void BM_PacedOneMegasample(benchmark::State& state) {
    if (!loadFastRig(state)) {
        return;
    }
    for (auto _ : state) {
        DAQmxSim_SetTimeScale(1.0);
        CountingStream stream("Dev1", 16, 6250, 62500.0);
        if (!stream.start(state)) {
            break;
        }
        stream.waitFrames(10);
        const long rss10 = residentKiB();
        const double cpuBefore = cpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        stream.waitFrames(40);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        const double cpu = cpuSeconds() - cpuBefore;
        DAQmxSim_SetTimeScale(0.0);
        stream.waitFrames(1040);
        const long rss1000 = residentKiB();
        // Back in real time, stop while the next block is awaited.
        DAQmxSim_SetTimeScale(1.0);
        stream.waitFrames(stream.frames() + 1);
        const double stopMs = stream.stopMsWhileWaiting();
        state.counters["cpu_pct_of_core"] = 100.0 * cpu / wall;
        state.counters["rss_kib_10_frames"] = static_cast<double>(rss10);
        state.counters["rss_kib_1040_frames"] = static_cast<double>(rss1000);
        state.counters["stop_ms"] = stopMs;
        state.counters["block_period_ms"] = 100.0;
        state.counters["read_timeout_s"] = kReadTimeoutS;
    }
    DAQmxSim_Reset();
}

/// The same 1 MS/s device read in 10 ms blocks, in real time: for 300 frames,
/// the time from the driver making a block available to the subscriber's
/// callback being entered, and the part of it after the read returned (what
/// the plug-in itself adds: the frame text and the envelope).
void BM_PacedLatency(benchmark::State& state) {
    if (!loadFastRig(state)) {
        return;
    }
    for (auto _ : state) {
        DAQmxSim_SetTimeScale(1.0);
        CountingStream stream("Dev1", 16, 625, 62500.0);
        if (!stream.start(state)) {
            break;
        }
        stream.waitFrames(20);
        stream.recordLatency(true);
        stream.waitFrames(320);
        stream.recordLatency(false);
        const double stopMs = stream.stopMsWhileWaiting();
        const auto [sinceReady, sinceReturned] = stream.latency();
        state.counters["ready_to_callback_median_us"] = sinceReady.medianUs;
        state.counters["ready_to_callback_p99_us"] = sinceReady.p99Us;
        state.counters["read_to_callback_median_us"] = sinceReturned.medianUs;
        state.counters["read_to_callback_p99_us"] = sinceReturned.p99Us;
        state.counters["stop_ms"] = stopMs;
        state.counters["block_period_ms"] = 10.0;
        state.counters["read_timeout_s"] = kReadTimeoutS;
    }
    DAQmxSim_Reset();
}

/// Whether a 16 x 62.5 kS/s stream in 100 ms blocks goes on after one callback
/// stalls for `stallMs`, in real time.
bool survivesStall(double stallMs) {
    IDeviceStub* stub = plugin().create();
    std::mutex mutex;
    std::condition_variable changed;
    int frames = 0;
    bool failed = false;
    stub->subscribe("analog_input", "stream", [&](const DeviceState& state) {
        std::unique_lock lock(mutex);
        failed = failed || state.code == kra::device::DeviceStateCode::Error;
        if (++frames == 3) {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(stallMs));
            lock.lock();
        }
        changed.notify_all();
    });
    const bool started = stub->execute("analog_input", "configure",
                                       {{"ai_channels", "Dev1/ai0:15"},
                                        {"samples_per_channel", "6250"},
                                        {"sample_clock_rate_hz", "62500"}},
                                       "")
                             .success &&
                         stub->execute("analog_input", "start_stream", {}, "").success;
    bool survived = false;
    if (started) {
        // Past the stall, the reader has caught up once the stream has run on
        // for as long again: a lost acquisition has ended it by then.
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::duration<double, std::milli>(stallMs + 500.0),
                         [&] { return failed; });
        survived = !failed && frames > 3;
    }
    plugin().destroy(stub);
    return started && survived;
}

/// The longest single callback stall a 1 MS/s stream survives with the
/// driver's default input buffer, found by bisection, against the time the
/// buffer spans (100 000 samples per channel at 62.5 kS/s: 1.6 s).
void BM_LongestSurvivedStall(benchmark::State& state) {
    if (!loadFastRig(state)) {
        return;
    }
    for (auto _ : state) {
        DAQmxSim_SetTimeScale(1.0);
        double survived = 0.0;
        double lost = 4000.0;
        while (lost - survived > 50.0) {
            const double stallMs = (survived + lost) / 2.0;
            (survivesStall(stallMs) ? survived : lost) = stallMs;
        }
        state.counters["stall_survived_ms"] = survived;
        state.counters["buffer_span_ms"] = 100000.0 / 62500.0 * 1000.0;
    }
    DAQmxSim_Reset();
}

/// One channel in 1 s blocks, in real time, stopped half a second into a
/// block: with the read timeout of the other benchmarks and with -1, the
/// driver's "wait for ever".
void BM_StopDuringSlowBlock(benchmark::State& state) {
    if (!loadFastRig(state)) {
        return;
    }
    const double timeoutS = static_cast<double>(state.range(0));
    for (auto _ : state) {
        DAQmxSim_SetTimeScale(1.0);
        IDeviceStub* stub = plugin().create();
        const auto configured = stub->execute("analog_input", "configure",
                                              {{"ai_channels", "Dev1/ai0"},
                                               {"samples_per_channel", "1000"},
                                               {"sample_clock_rate_hz", "1000"},
                                               {"read_timeout_s", std::to_string(timeoutS)}},
                                              "");
        if (!configured.success || !stub->execute("analog_input", "start_stream", {}, "").success) {
            plugin().destroy(stub);
            state.SkipWithError("the slow stream did not start");
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto begin = std::chrono::steady_clock::now();
        stub->execute("analog_input", "stop_stream", {}, "");
        state.counters["stop_ms"] =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
                .count();
        state.counters["block_period_ms"] = 1000.0;
        state.counters["read_timeout_s"] = timeoutS;
        plugin().destroy(stub);
    }
    DAQmxSim_Reset();
}

}  // namespace

int main(int argc, char** argv) {
    // The whole path and the frame text alone of one shape run back to back,
    // so that both see the same machine load.
    for (const int channels : {1, 8, 32}) {
        for (const int samples : {100, 1000, 10000}) {
            benchmark::RegisterBenchmark("BM_StreamEndToEnd", BM_StreamEndToEnd)
                ->Args({channels, samples})
                ->UseRealTime()
                ->MinTime(0.3);
            benchmark::RegisterBenchmark("BM_FramePathOnly", BM_FramePathOnly)
                ->Args({channels, samples})
                ->MinTime(0.3);
        }
    }
    // The two topics of one shape back to back: the same stream, the same
    // driver work, only the form the blocks go out in differs; with the
    // realistic signals (the target) and with the cheapest one.
    for (const bool realistic : {true, false}) {
        for (const char* topic : {"stream", "stream_binary"}) {
            const std::string name =
                std::string("BM_StreamTopic/") + topic + (realistic ? "/realistic" : "/sawtooth");
            benchmark::RegisterBenchmark(name.c_str(), streamUnpaced, topic, realistic)
                ->Args({8, 10000})
                ->UseRealTime()
                ->MinTime(0.5);
        }
    }
    benchmark::RegisterBenchmark("BM_PacedOneMegasample", BM_PacedOneMegasample)
        ->Iterations(1)
        ->Unit(benchmark::kSecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("BM_PacedLatency", BM_PacedLatency)
        ->Iterations(1)
        ->Unit(benchmark::kSecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("BM_LongestSurvivedStall", BM_LongestSurvivedStall)
        ->Iterations(1)
        ->Unit(benchmark::kSecond)
        ->UseRealTime();
    for (const int timeoutS : {10, -1}) {
        benchmark::RegisterBenchmark("BM_StopDuringSlowBlock", BM_StopDuringSlowBlock)
            ->Arg(timeoutS)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    return bench::runRegistered(argc, argv);
}
