// Where --out writes and what a failing write leaves: devices, named pipes
// and standard output are written in place and stay what they are, folders
// and sockets are refused, a linked file keeps its link and mode, and a
// write that fails keeps the recording so far and says what it holds.

#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "HostProcess.h"
#include "support/TestPlatform.h"
#include "support/TestSupport.h"

using host_tests::contains;
using host_tests::dataLines;
using host_tests::expectRefusal;
using host_tests::fileText;
using host_tests::HostProcess;
using host_tests::HostRun;
using host_tests::makeSpecialFile;
using host_tests::runHost;
using host_tests::SpecialFile;
using host_tests::split;

namespace {

namespace fs = std::filesystem;

/// A three-frame CSV stream of five samples per frame into `out`.
std::vector<std::string> csvStream(const std::string& out) {
    return {
        "-q", "stream", "--format", "csv", "--frames", "3", "--out", out, "samples_per_channel=5"};
}

/// A named pipe's whole text, read on a thread of its own as a reader
/// process would read it.
std::future<std::string> readPipe(const std::string& path) {
    return std::async(std::launch::async, [path] {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    });
}

/// The number after `prefix` ("frames=", "\"frames\":") in `line`, or -1.
long long field(const std::string& line, const std::string& prefix) {
    const auto at = line.find(prefix);
    return at == std::string::npos ? -1 : std::stoll(line.substr(at + prefix.size()));
}

}  // namespace

TEST(SpecialOutputs, ADeviceIsWrittenInPlaceAndStaysADevice) {
    const test_support::TempDir dir;
    const std::string null = dir.file("null");
    if (const auto reason = makeSpecialFile(null, SpecialFile::NullDevice)) {
        GTEST_SKIP() << *reason;
    }
    const HostRun stream = runHost(csvStream(null));
    EXPECT_EQ(stream.exitCode, 0) << stream.err;
    const HostRun read = runHost({"read", "--format", "csv", "--out", null});
    EXPECT_EQ(read.exitCode, 0) << read.err;
    EXPECT_TRUE(fs::is_character_file(null));
    EXPECT_EQ(dir.names(), std::vector<std::string>{"null"});

    // A device that refuses every write: nothing was written, and nothing is
    // left beside it.
    const std::string full = dir.file("full");
    ASSERT_FALSE(makeSpecialFile(full, SpecialFile::FullDevice));
    const HostRun failed = runHost(csvStream(full));
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_TRUE(contains(failed.err, "cannot write to '" + full + "': No space left on device\n"));
    EXPECT_TRUE(contains(failed.err, "0 frames (0 samples per channel) were written before it"));
    EXPECT_TRUE(fs::is_character_file(full));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"full", "null"}));
}

TEST(SpecialOutputs, ANamedPipeWaitsForItsReaderAndCarriesTheWholeRecording) {
    const test_support::TempDir dir;
    const std::string pipe = dir.file("pipe");
    if (const auto reason = makeSpecialFile(pipe, SpecialFile::NamedPipe)) {
        GTEST_SKIP() << *reason;
    }
    auto reader = readPipe(pipe);
    const HostRun run = runHost(csvStream(pipe));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string text = reader.get();
    EXPECT_EQ(dataLines(text).size(), 1u + 3 * 5) << text;  // column names, then the rows
    EXPECT_EQ(split(text).back().rfind("# end: complete; samples_per_channel=15 frames=3", 0), 0u);
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_EQ(dir.names(), std::vector<std::string>{"pipe"});
}

TEST(SpecialOutputs, CtrlCEndsTheWaitForAPipesReader) {
    if (const auto reason = host_tests::signalsUnsupported()) {
        GTEST_SKIP() << *reason;
    }
    const test_support::TempDir dir;
    const std::string pipe = dir.file("pipe");
    if (const auto reason = makeSpecialFile(pipe, SpecialFile::NamedPipe)) {
        GTEST_SKIP() << *reason;
    }
    HostProcess host(csvStream(pipe));
    ASSERT_TRUE(
        host.waitForErrorText("waiting for a reader of '" + pipe + "'", std::chrono::seconds(20)));
    host.sendSignal(SIGINT);
    const HostRun run = host.finish(std::chrono::seconds(20));
    EXPECT_EQ(run.exitCode, 130);
    EXPECT_TRUE(contains(
        run.err, "interrupted while waiting for a reader of '" + pipe + "'; nothing written\n"));
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_EQ(dir.names(), std::vector<std::string>{"pipe"});
}

TEST(SpecialOutputs, StandardOutputByNameGetsTheRecording) {
    const auto names = host_tests::standardOutputNames();
    if (names.empty()) {
        GTEST_SKIP() << "no names for standard output here";
    }
    const test_support::TempDir dir;
    for (const auto& name : names) {
        // Through a link of the test's own, so that a fault replaces the link
        // rather than a name in the machine's /dev.
        const std::string link = dir.file("out.jsonl");
        fs::create_symlink(name, link);
        for (const auto& out : {link, name}) {
            if (out == name && name.rfind("/dev/", 0) == 0) {
                continue;
            }
            SCOPED_TRACE(out + " to " + name);
            const HostRun run =
                runHost({"-q", "stream", "--format", "jsonl", "--frames", "2", "--out", out});
            EXPECT_EQ(run.exitCode, 0) << run.err;
            // Header, two frames and the end.
            EXPECT_EQ(split(run.out).size(), 4u) << run.out;
        }
        EXPECT_EQ(fs::read_symlink(link), name);
        EXPECT_EQ(dir.names(), std::vector<std::string>{"out.jsonl"});
        fs::remove(link);
    }
}

TEST(SpecialOutputs, ALinkedFileIsReplacedKeepingTheLinkAndTheFilesMode) {
    if (const auto reason = test_support::platform::symlinksUnsupported()) {
        GTEST_SKIP() << *reason;
    }
    const test_support::TempDir dir;
    const std::string real = dir.file("real.csv");
    std::ofstream(real) << "old\n";
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(real, mode);
    const bool modes = fs::status(real).permissions() == mode;  // the system keeps mode bits
    fs::create_symlink("real.csv", dir.file("link.csv"));

    const HostRun run = runHost(csvStream(dir.file("link.csv")));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(dir.file("link.csv")));
    EXPECT_EQ(dataLines(fileText(real)).size(), 1u + 3 * 5);
    if (modes) {
        EXPECT_EQ(fs::status(real).permissions(), mode);
    }
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"link.csv", "real.csv"}));
}

TEST(SpecialOutputs, AFolderASocketAndHdf5ToAPipeAreRefusedBeforeAnythingRuns) {
    const test_support::TempDir dir;
    expectRefusal(csvStream(dir.path()), 2, "cannot write '" + dir.path() + "': it is a folder");
    const std::string socket = dir.file("socket");
    if (const auto reason = makeSpecialFile(socket, SpecialFile::Socket)) {
        GTEST_SKIP() << *reason;
    }
    expectRefusal(csvStream(socket), 2, "cannot write '" + socket + "': it is a socket");
    const std::string pipe = dir.file("pipe");
    ASSERT_FALSE(makeSpecialFile(pipe, SpecialFile::NamedPipe));
    // A build without HDF5 refuses it for that.
    expectRefusal({"stream", "--format", "hdf5", "--out", pipe}, 2, "HDF5");
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"pipe", "socket"}));
}

TEST(WriteFailures, AFileThatCannotGrowKeepsItsRecordingAsPartialEndedWithTheError) {
    if (const auto reason = host_tests::fileSizeLimitUnsupported()) {
        GTEST_SKIP() << *reason;
    }
    const test_support::TempDir dir;
    constexpr std::uint64_t kLimit = 100 << 10;
    for (const std::string format : {"csv", "jsonl"}) {
        SCOPED_TRACE(format);
        const std::string file = dir.file("run." + format);
        std::ofstream(file) << "old\n";
        HostProcess host({"-q", "stream", "--frames", "100", "--out", file,
                          "ai_channels=Dev1/ai0:1", "samples_per_channel=500"},
                         {}, NI_USB_DAQ_HOST_PATH, {kLimit});
        const HostRun run = host.finish();
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(fileText(file), "old\n");
        const std::string kept = fileText(file + ".partial");
        EXPECT_LE(kept.size(), kLimit);
        const auto lines = split(kept);
        ASSERT_GE(lines.size(), 3u);
        // The end record, then the error, after the last whole frame.
        const std::string end = lines[lines.size() - 2];
        const bool csv = format == "csv";
        const long long frames = field(end, csv ? " frames=" : "\"frames\":");
        const long long samples =
            field(end, csv ? "samples_per_channel=" : "\"samples_per_channel\":");
        EXPECT_GT(frames, 0) << end;
        EXPECT_EQ(samples, frames * 500) << end;
        const std::string error = "cannot write to '" + file + "': File too large";
        if (csv) {
            EXPECT_EQ(end.rfind("# end: error; ", 0), 0u) << end;
            EXPECT_EQ(lines.back(), "# error: " + error);
            EXPECT_EQ(dataLines(kept).size(), 1u + static_cast<std::size_t>(samples));
        } else {
            EXPECT_TRUE(contains(end, "\"status\":\"error\""));
            EXPECT_EQ(lines.back(), "{\"event\":\"error\",\"message\":\"" + error + "\"}");
            EXPECT_EQ(lines.size(), 1u + static_cast<std::size_t>(frames) + 2);
        }
        EXPECT_TRUE(contains(run.err, error + "\n"));
        EXPECT_TRUE(contains(run.err, "kept in " + file + ".partial: " + std::to_string(frames) +
                                          " frames (" + std::to_string(samples) +
                                          " samples per channel); " + file + " is as it was\n"));
        EXPECT_EQ(dir.names(),
                  (std::vector<std::string>{"run." + format, "run." + format + ".partial"}));
        fs::remove(file);
        fs::remove(file + ".partial");
    }

    // A read has no recording to keep: it fails, and the file stays.
    const std::string block = dir.file("block.csv");
    std::ofstream(block) << "old\n";
    const HostRun read = HostProcess({"read", "--out", block, "samples_per_channel=20000"}, {},
                                     NI_USB_DAQ_HOST_PATH, {kLimit})
                             .finish();
    EXPECT_EQ(read.exitCode, 1);
    EXPECT_TRUE(contains(read.err, "cannot write to '" + block + "': File too large"));
    EXPECT_EQ(fileText(block), "old\n");
    EXPECT_EQ(dir.names(), std::vector<std::string>{"block.csv"});

    // HDF5 says which call failed and why in one line, not the library's
    // error stack, and leaves the file.
    const std::string h5 = dir.file("run.h5");
    std::ofstream(h5) << "old\n";
    const HostRun hdf5 = HostProcess({"-q", "stream", "--frames", "100", "--out", h5,
                                      "ai_channels=Dev1/ai0:1", "samples_per_channel=5000"},
                                     {}, NI_USB_DAQ_HOST_PATH, {kLimit})
                             .finish();
    if (!contains(hdf5.err, "no HDF5 support")) {
        EXPECT_EQ(hdf5.exitCode, 1);
        EXPECT_TRUE(contains(hdf5.err, "': /analog: H5Dwrite failed: File too large\n") ||
                    contains(hdf5.err, "': flushing: H5Fflush failed: File too large\n"))
            << hdf5.err;
        EXPECT_FALSE(contains(hdf5.err, "HDF5-DIAG"));
        EXPECT_EQ(fileText(h5), "old\n");
    }
}

TEST(WriteFailures, AFolderRemovedWhileRecordingSaysWhatWasLost) {
    if (const auto reason = host_tests::signalsUnsupported()) {
        GTEST_SKIP() << *reason;
    }
    const test_support::TempDir dir;
    fs::create_directory(dir.file("sub"));
    // Paced, so that it is still recording when the folder goes.
    HostProcess host({"stream", "--out", dir.file("sub/run.csv"), "samples_per_channel=10"},
                     {"NIDAQMX_SIM_TIME_SCALE=5"});
    ASSERT_TRUE(host.waitForErrorText("sample clock", std::chrono::seconds(20)));
    std::error_code error;
    fs::remove_all(dir.file("sub"), error);
    host.sendSignal(SIGINT);
    if (error) {
        host.finish(std::chrono::seconds(20));
        GTEST_SKIP() << "a folder with a file open in it stays here: " << error.message();
    }
    const HostRun run = host.finish(std::chrono::seconds(20));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(contains(run.err, "cannot write '" + dir.file("sub/run.csv") + "': its folder '" +
                                      dir.file("sub") + "' was removed while it was written\n"));
    EXPECT_TRUE(contains(run.err, "the recording of ") &&
                contains(run.err, " samples per channel) is lost\n"))
        << run.err;
    EXPECT_TRUE(dir.names().empty());
}
