// The live view as a person starts it: the address line, the port, Ctrl-C,
// and a recording that a watching page leaves exactly as it would be.
#include <gtest/gtest.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "HostProcess.h"
#include "support/ViewClient.h"

namespace host_tests {
namespace {

constexpr auto kStartTimeout = std::chrono::seconds(20);

std::filesystem::path scratch(const std::string& name) {
    return std::filesystem::temp_directory_path() / (std::string("view_test_")
                                                         .append(std::to_string(currentProcessId()))
                                                         .append("_")
                                                         .append(name));
}

/// The port of the "view: http://127.0.0.1:PORT/" line in what the host
/// wrote; 0 when there is none.
std::uint16_t portIn(const std::string& err) {
    constexpr std::string_view kLine = "view: http://127.0.0.1:";
    const auto at = err.find(kLine);
    const auto end = at == std::string::npos ? at : err.find("/\n", at + kLine.size());
    if (end == std::string::npos) {
        return 0;
    }
    const std::string digits = err.substr(at + kLine.size(), end - at - kLine.size());
    std::uint16_t port = 0;
    const auto [last, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    return error == std::errc() && last == digits.data() + digits.size() ? port : 0;
}

TEST(ViewCommand, SaysItsAddressEvenWhenQuietAndEndsOnCtrlCWithExitZero) {
    if (const auto why = signalsUnsupported()) {
        GTEST_SKIP() << *why;
    }
    HostProcess host({"-q", "view", "--port", "0", "ai_channels=Dev1/ai0:1",
                      "sample_clock_rate_hz=1000", "samples_per_channel=100"},
                     {"NIDAQMX_SIM_TIME_SCALE=1"});
    ASSERT_TRUE(host.waitForErrorText("view: http://127.0.0.1:", kStartTimeout));
    // Ctrl-C stops a view once it acquires; before, it ends the program as any other.
    ASSERT_TRUE(host.waitForErrorText("sample clock:", kStartTimeout));
    host.sendSignal(SIGINT);
    const HostRun run = host.finish(std::chrono::seconds(10));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::uint16_t port = portIn(run.err);
    EXPECT_NE(port, 0) << run.err;
    EXPECT_TRUE(run.out.empty());
}

TEST(ViewCommand, APortInUseIsRefusedAndTheOutputIsLeftAsItWas) {
    if (const auto why = signalsUnsupported()) {
        GTEST_SKIP() << *why;
    }
    HostProcess first({"view", "--port", "0", "ai_channels=Dev1/ai0", "sample_clock_rate_hz=100",
                       "samples_per_channel=10"},
                      {"NIDAQMX_SIM_TIME_SCALE=1"});
    ASSERT_TRUE(first.waitForErrorText("sample clock:", kStartTimeout));
    first.sendSignal(SIGINT);
    HostRun firstRun = first.finish(std::chrono::seconds(10));
    const std::uint16_t port = portIn(firstRun.err);
    ASSERT_NE(port, 0) << firstRun.err;

    // The port is free again once the first view has ended; hold it with a second.
    HostProcess holder({"view", "--port", std::to_string(port), "ai_channels=Dev1/ai0",
                        "sample_clock_rate_hz=100", "samples_per_channel=10"},
                       {"NIDAQMX_SIM_TIME_SCALE=1"});
    ASSERT_TRUE(holder.waitForErrorText("sample clock:", kStartTimeout));
    const auto out = scratch("kept.csv");
    std::ofstream(out) << "old\n";
    const HostRun refused =
        runHost({"stream", "--view", ni_usb_daq::test::withPort("127.0.0.1", port), "--frames", "2",
                 "--out", out.string(), "ai_channels=Dev1/ai0"});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(
        contains(refused.err, ni_usb_daq::test::withPort("cannot listen on 127.0.0.1", port)));
    EXPECT_EQ(fileText(out), "old\n");
    holder.sendSignal(SIGINT);
    EXPECT_EQ(holder.finish(std::chrono::seconds(10)).exitCode, 0);
    std::filesystem::remove(out);
}

TEST(ViewCommand, AddressesThatAreNoneAreRefused) {
    expectRefusal({"stream", "--view", "70000", "ai_channels=Dev1/ai0"}, 2, "not a port");
    expectRefusal({"stream", "--view", "::1:80", "ai_channels=Dev1/ai0"}, 2, "[ADDRESS:]PORT");
    expectRefusal({"view", "--port", "http", "ai_channels=Dev1/ai0"}, 2, "not a port");
    expectRefusal({"view", "--address", "example.com", "--port", "0", "ai_channels=Dev1/ai0"}, 2,
                  "not an IP address");
}

TEST(StreamView, APageWatchingTheRecordingChangesNoSampleOfIt) {
    const auto watched = scratch("watched.csv");
    const auto alone = scratch("alone.csv");
    const std::vector<std::string> settings = {
        "ai_channels=Dev1/ai0:3", "sample_clock_rate_hz=10000", "samples_per_channel=500"};
    std::vector<std::string> args = {"stream",   "--view", "127.0.0.1:0", "--samples",     "12345",
                                     "--format", "csv",    "--out",       watched.string()};
    args.insert(args.end(), settings.begin(), settings.end());
    HostProcess host(args, {"NIDAQMX_SIM_TIME_SCALE=1"});
    ASSERT_TRUE(host.waitForErrorText("/\n", kStartTimeout));
    const std::uint16_t port = portIn(host.errorSoFar());
    ASSERT_NE(port, 0) << host.errorSoFar();
    ni_usb_daq::test::ViewSocket page(port, ni_usb_daq::test::withPort("http://127.0.0.1", port));
    ASSERT_TRUE(page.upgraded());
    page.ask(300, 1.0);
    std::string message;
    std::size_t updates = 0;
    while (page.readUpdate(message)) {  // until the recording ends and the socket with it
        ASSERT_TRUE(ni_usb_daq::test::decodeViewUpdate(message).valid);
        ++updates;
    }
    EXPECT_GT(updates, 3U);
    const HostRun done = host.finish();
    EXPECT_EQ(done.exitCode, 0) << done.err;
    std::vector<std::string> aloneArgs = {"stream", "--samples", "12345",       "--format",
                                          "csv",    "--out",     alone.string()};
    aloneArgs.insert(aloneArgs.end(), settings.begin(), settings.end());
    ASSERT_EQ(runHost(aloneArgs).exitCode, 0);
    const auto rows = dataLines(fileText(watched));
    EXPECT_EQ(rows.size(), 12345U + 1);  // the column names, then a row per sample
    EXPECT_EQ(rows, dataLines(fileText(alone)));
    std::filesystem::remove(watched);
    std::filesystem::remove(alone);
}

}  // namespace
}  // namespace host_tests
