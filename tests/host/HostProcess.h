#pragma once

#include <sys/types.h>

#include <gtest/gtest.h>
#include <chrono>
#include <cstdio>
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

/// The host program as a child process writing to unnamed files, so that it
/// never blocks on a full pipe. Its environment is the test's with
/// NIDAQMX_SIM_TIME_SCALE=0 (every block at once), then `environment` (NAME=VALUE).
class HostProcess {
public:
    explicit HostProcess(const std::vector<std::string>& args,
                         const std::vector<std::string>& environment = {},
                         const std::string& program = NI_USB_DAQ_HOST_PATH);
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    /// False when the child ends or `timeout` passes before standard output
    /// holds `count` lines.
    bool waitForOutputLines(std::size_t count, std::chrono::milliseconds timeout) const;
    void sendSignal(int signal) const;
    /// Waits for the child's end; a child that outlives `timeout` is killed.
    HostRun finish(std::chrono::milliseconds timeout = std::chrono::seconds(60));

private:
    pid_t pid_ = -1;
    std::FILE* out_ = std::tmpfile();
    std::FILE* err_ = std::tmpfile();
};

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

}  // namespace host_tests
