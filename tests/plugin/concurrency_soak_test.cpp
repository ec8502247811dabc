// Several host threads against one streaming stub: subscription churn, status
// and query calls, single reads, refused configures, start/stop cycles and
// reconnects, then destruction while streaming. Every subscriber must see
// gapless sequence numbers (restarting at 1 after a restart) while it is
// subscribed and nothing after its unsubscribe returned.
//
// NI_USB_DAQ_SOAK_FRAMES=1000000 turns it into a long soak that also reports
// resident memory at start and end (scripts/soak).
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/TestSupport.h"

using kra::device::DeviceState;
using kra::device::DeviceStateCode;

namespace {

std::uint64_t sequenceOf(const DeviceState& state) {
    const auto& text = state.properties.at("frame");
    // The member order is fixed: "sequence_no" comes just before "timestamp_ns".
    const auto at = text.find("\"sequence_no\":");
    return std::strtoull(text.c_str() + at + 14, nullptr, 10);
}

/// One subscriber's view: gapless numbering while subscribed, silence after.
struct Watcher {
    std::atomic<bool> unsubscribed{false};
    std::atomic<int> violations{0};
    std::atomic<std::uint64_t> frames{0};
    std::uint64_t last = 0;  // only the stream thread touches it

    void onState(const DeviceState& state) {
        if (unsubscribed.load()) {
            ++violations;
        }
        if (state.code != DeviceStateCode::Connected) {
            return;
        }
        const std::uint64_t sequence = sequenceOf(state);
        if (last != 0 && sequence != last + 1 && sequence != 1) {
            ++violations;
        }
        last = sequence;
        ++frames;
    }
};

}  // namespace

class ConcurrencySoakTest : public test_support::SimulatorTest {};

TEST_F(ConcurrencySoakTest, HostThreadsAgainstOneStreamingStub) {
    const char* soakFrames = std::getenv("NI_USB_DAQ_SOAK_FRAMES");
    const std::uint64_t targetFrames = soakFrames ? std::strtoull(soakFrames, nullptr, 10) : 2000;
    DAQmxSim_SetTimeScale(soakFrames ? 0.0 : 50.0);

    auto stub = test_support::createStub();
    stub->connect();
    ASSERT_TRUE(stub->execute("analog_input", "configure",
                              {{"ai_channels", "Dev1/ai0:3"},
                               {"sample_clock_rate_hz", "10000"},
                               {"samples_per_channel", "100"}},
                              "")
                    .success);

    Watcher steady;
    const auto steadyHandle = stub->subscribe(
        "analog_input", "stream", [&](const DeviceState& state) { steady.onState(state); });
    ASSERT_NE(steadyHandle.id, 0u);
    ASSERT_TRUE(stub->execute("analog_input", "start_stream", {}, "").success);
    const long rssStart = test_support::residentKiB();

    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;

    threads.emplace_back([&] {  // subscription churn
        while (!done.load()) {
            auto watcher = std::make_unique<Watcher>();
            const auto handle = stub->subscribe(
                "analog_input", "stream",
                [w = watcher.get()](const DeviceState& state) { w->onState(state); });
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            stub->unsubscribe("analog_input", "stream", handle);
            watcher->unsubscribed.store(true);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            failures += watcher->violations.load();
        }
    });
    threads.emplace_back([&] {  // status, queries, single reads and configures
        while (!done.load()) {
            if (!stub->execute("system", "get_state", {}, "").success) {
                ++failures;
            }
            (void)stub->execute("analog_input", "query", {{"channel", "Dev1/ai0"}}, "");
            (void)stub->execute("analog_input", "read_single", {{"ai_channels", "Dev2/ai0"}}, "");
            (void)stub->getHealth();
            // Refused while a stream runs, fine between runs.
            const auto result = stub->execute("analog_input", "configure", {}, "");
            if (!result.success &&
                result.error != "Cannot configure while streaming. Call stop_stream first.") {
                ++failures;
            }
        }
    });
    threads.emplace_back([&] {  // start/stop cycles and reconnects
        int cycle = 0;
        while (!done.load()) {
            (void)stub->execute("analog_input", "stop_stream", {}, "");
            if (++cycle % 5 == 0) {
                stub->disconnect();
                stub->connect();
            }
            (void)stub->execute("analog_input", "start_stream", {}, "");
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(soakFrames ? 3600 : 20);
    while (steady.frames.load() < targetFrames && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    done.store(true);
    for (auto& thread : threads) {
        thread.join();
    }
    const long rssEnd = test_support::residentKiB();
    EXPECT_GE(steady.frames.load(), targetFrames) << "the stream did not keep up";
    EXPECT_EQ(steady.violations.load(), 0);
    EXPECT_EQ(failures.load(), 0);
    if (soakFrames) {
        std::printf("soak: %llu frames, resident memory %ld KiB at start, %ld KiB at end\n",
                    static_cast<unsigned long long>(steady.frames.load()), rssStart, rssEnd);
    }

    // Destruction while streaming stops everything.
    ASSERT_TRUE(stub->execute("analog_input", "start_stream", {}, "").success);
    stub.reset();
    EXPECT_EQ(DAQmxSim_RunningTaskCount(), 0u);
    EXPECT_EQ(DAQmxSim_ReadsInProgress(), 0u);
}
