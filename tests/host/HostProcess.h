#pragma once

#include <sys/types.h>

#include <gtest/gtest.h>
#include <chrono>
#include <string>
#include <vector>

namespace host_tests {

/// How a run of the host program ended.
struct HostRun {
    int exitCode = -1;  ///< exit status, or 128 + signal number when killed
    std::string out;
    std::string err;

    std::vector<std::string> outLines() const;
    std::vector<std::string> errLines() const;
};

/// The host program running as a child process with its standard output and
/// error captured. The child's environment is the test's, plus
/// NIDAQMX_SIM_TIME_SCALE=0 (the simulator delivers every block at once)
/// unless `environment` sets it, plus the NAME=VALUE entries of `environment`.
class HostProcess {
public:
    explicit HostProcess(const std::vector<std::string>& args,
                         const std::vector<std::string>& environment = {},
                         const std::string& program = NI_USB_DAQ_HOST_PATH);
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    /// Reads output until standard output holds `count` lines; false when the
    /// child ends first or `timeout` passes.
    bool waitForOutputLines(std::size_t count, std::chrono::milliseconds timeout);
    void sendSignal(int signal) const;
    /// Reads everything up to the child's end and reaps it. A child that
    /// outlives `timeout` is killed (exit code 128 + SIGKILL).
    HostRun finish(std::chrono::milliseconds timeout = std::chrono::seconds(60));

private:
    /// One round of reading; false once both pipes are closed.
    bool pump(std::chrono::milliseconds timeout);

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    HostRun run_;
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
