#pragma once

#include <gtest/gtest.h>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace host_tests {

/// How a run of the host program ended.
struct HostRun {
    int exitCode = -1;  ///< exit status, or 128 + signal number when killed
    std::string out;
    std::string err;
};

/// The pieces of `text` between `separator`s; a trailing separator adds none.
std::vector<std::string> split(const std::string& text, char separator = '\n');

/// Limits a child starts with.
struct ChildLimits {
    /// The largest file the child may write, in bytes; a write past it fails
    /// (EFBIG) instead of killing the child. 0 for none.
    std::uint64_t fileSizeBytes = 0;
};

/// The host program as a child process writing to files, so that it never
/// blocks on a full pipe (HostProcessPosix.cpp, HostProcessWindows.cpp). Its environment is the
/// test's with NIDAQMX_SIM_TIME_SCALE=0 (every block at once), then `environment` (NAME=VALUE).
class HostProcess {
public:
    explicit HostProcess(const std::vector<std::string>& args,
                         const std::vector<std::string>& environment = {},
                         const std::string& program = NI_USB_DAQ_HOST_PATH,
                         const ChildLimits& limits = {});
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    /// False when the child ends or `timeout` passes before standard output
    /// holds `count` lines.
    bool waitForOutputLines(std::size_t count, std::chrono::milliseconds timeout) const;
    /// False when the child ends or `timeout` passes before standard error
    /// holds `text`.
    bool waitForErrorText(const std::string& text, std::chrono::milliseconds timeout) const;
    /// What the child has written to standard error so far.
    std::string errorSoFar() const;
    /// SIGINT stands for Ctrl-C: on Windows the child gets Ctrl-Break, the
    /// console event that can be sent to one process group.
    void sendSignal(int signal) const;
    /// Waits for the child's end; a child that outlives `timeout` is killed.
    HostRun finish(std::chrono::milliseconds timeout = std::chrono::seconds(60));

private:
    struct Child;
    std::unique_ptr<Child> child_;
};

/// Why sendSignal cannot reach the child here (Wine delivers no console
/// events), or nullopt when it can.
std::optional<std::string> signalsUnsupported();

/// Why a pipeline through /bin/sh cannot run here, or nullopt when it can.
std::optional<std::string> shellUnsupported();

/// Why a child's file size cannot be limited here, or nullopt when it can.
std::optional<std::string> fileSizeLimitUnsupported();

/// What makeSpecialFile makes.
enum class SpecialFile {
    NullDevice,  ///< a character device that takes every write, as /dev/null
    FullDevice,  ///< a character device whose writes fail for want of space, as /dev/full
    NamedPipe,
    Socket,
};

/// Makes a special file of `kind` at `path`. Why it cannot be made here (no
/// permission to make device nodes, a folder where they do not work, a
/// system without them), or nullopt once it is.
std::optional<std::string> makeSpecialFile(const std::string& path, SpecialFile kind);

/// The names under which a process opens its own standard output
/// ("/dev/stdout", "/proc/self/fd/1"); none where there are none.
std::vector<std::string> standardOutputNames();

/// This test program's process id, for names no other run picks.
unsigned long currentProcessId();

/// Success when `text` contains `part`; the failure shows both.
inline testing::AssertionResult contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "\"" << part << "\" not found in:\n" << text;
}

/// Runs the host to its end.
HostRun runHost(const std::vector<std::string>& args,
                const std::vector<std::string>& environment = {});

/// Runs the host with `args` and expects it refused before anything ran: exit
/// status `exitCode`, nothing on standard output and one line on standard
/// error that holds `message`.
void expectRefusal(const std::vector<std::string>& args, int exitCode, const std::string& message);

/// A file's bytes as they are on disk (no line-end translation).
std::string fileText(const std::filesystem::path& path);

/// The lines of `text` that are not '#' comments.
std::vector<std::string> dataLines(const std::string& text);

}  // namespace host_tests
