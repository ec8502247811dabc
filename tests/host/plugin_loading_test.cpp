// Finding and loading the plug-in, and command lines the host refuses before
// it loads anything.
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "HostProcess.h"

using host_tests::contains;
using host_tests::HostRun;
using host_tests::runHost;

namespace {

// The host's own diagnostics, without the plug-in's log lines.
std::vector<std::string> hostMessages(const HostRun& run) {
    std::vector<std::string> lines;
    for (const auto& line : run.errLines()) {
        if (line.rfind("ni-usb-daq-host: ", 0) == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

}  // namespace

TEST(PluginLoading, MissingLibraryIsOneMessageAndAFailure) {
    const HostRun run = runHost({"--library", "/nonexistent/libni_usb_daq.so", "info"});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(run.out.empty());
    ASSERT_EQ(run.errLines().size(), 1u) << run.err;
    EXPECT_TRUE(contains(run.err, "cannot load plug-in '/nonexistent/libni_usb_daq.so': "));
}

TEST(PluginLoading, LibraryWithoutAnEntryPointIsRefused) {
    const std::string cases[][2] = {
        {NIDAQMX_SIM_PATH,
         std::string("plug-in '") + NIDAQMX_SIM_PATH + "' does not export createDeviceStub"},
        {HALF_PLUGIN_PATH, "does not export destroyDeviceStub"},
    };
    for (const auto& [library, message] : cases) {
        const HostRun run = runHost({"--library", library, "caps"});
        EXPECT_NE(run.exitCode, 0);
        EXPECT_TRUE(run.out.empty());
        ASSERT_EQ(run.errLines().size(), 1u) << run.err;
        EXPECT_TRUE(contains(run.err, message));
    }
}

TEST(PluginLoading, DefaultLibraryIsFoundNextToTheProgramEvenThroughALink) {
    // The program is started through a symbolic link in another directory:
    // the plug-in must be looked up beside the real file, not beside argv[0].
    const auto directory =
        std::filesystem::temp_directory_path() / ("host-link-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
    const auto link = directory / "ni-usb-daq-host";
    std::filesystem::remove(link);
    std::filesystem::create_symlink(NI_USB_DAQ_HOST_PATH, link);
    const HostRun run = host_tests::HostProcess({"caps"}, {}, link.string()).finish();
    std::filesystem::remove_all(directory);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "features"));
}

TEST(PluginLoading, UnknownDeviceFailsWithTheDriversNotFoundMessage) {
    const HostRun run = runHost({"--device", "NoSuchDev", "info"});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(run.out.empty());
    const auto messages = hostMessages(run);
    ASSERT_EQ(messages.size(), 1u) << run.err;
    EXPECT_TRUE(contains(messages[0], "Device 'NoSuchDev' not found"));
}

TEST(CommandLine, MalformedSettingsExitWithTwoAndReachNoDevice) {
    for (const auto& bad : {"samples_per_channel", "=5", ""}) {
        const HostRun run = runHost({"configure", "ai_channels=Dev1/ai0", bad});
        EXPECT_EQ(run.exitCode, 2) << bad;
        EXPECT_TRUE(run.out.empty()) << bad;
        // One line of our own and not a word from the plug-in: it was never loaded.
        ASSERT_EQ(run.errLines().size(), 1u) << run.err;
        EXPECT_TRUE(contains(run.err, "malformed setting"));
        EXPECT_FALSE(contains(run.err, "[ni-usb-daq"));
    }
}

TEST(CommandLine, BadOptionValuesAreUsageErrors) {
    const HostRun twice = runHost({"read", "samples_per_channel=5", "samples_per_channel=6"});
    EXPECT_EQ(twice.exitCode, 2);
    EXPECT_TRUE(contains(twice.err, "'samples_per_channel' is given more than once"));
    EXPECT_EQ(runHost({"stream", "--frames", "0"}).exitCode, 2);
    EXPECT_EQ(runHost({"read", "--format", "xml"}).exitCode, 2);
    EXPECT_EQ(runHost({"no-such-command"}).exitCode, 2);
    EXPECT_EQ(runHost({}).exitCode, 2);
}
