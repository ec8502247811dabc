#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ni_usb_daq::host {

/// The prefix of every diagnostic line of the program itself.
inline constexpr std::string_view kProgramName = "ni-usb-daq-host";

/// Exit status of a command line the program cannot act on.
inline constexpr int kUsageExitCode = 2;
/// Exit status of everything else that went wrong.
inline constexpr int kFailureExitCode = 1;
/// Exit status of a command that a stop request (Ctrl-C) ended before its
/// result existed, as a shell reports a program that SIGINT ended.
inline constexpr int kInterruptedExitCode = 130;
/// Exit status when the reader of standard output went away: what a shell
/// reports for a program that SIGPIPE ended, so pipelines treat it alike.
inline constexpr int kOutputClosedExitCode = 141;

/// A failure the program reports as one line on standard error before it
/// exits with exitCode(). Everything the host itself detects is thrown as one.
class HostError : public std::runtime_error {
public:
    explicit HostError(const std::string& message, int exitCode = kFailureExitCode)
        : std::runtime_error(message), exitCode_(exitCode) {}

    int exitCode() const noexcept { return exitCode_; }

private:
    int exitCode_;
};

/// A command line that names settings or options the program cannot use.
class UsageError : public HostError {
public:
    explicit UsageError(const std::string& message) : HostError(message, kUsageExitCode) {}
};

/// The reader of the output went away (a closed pipe). The program ends
/// quietly: the reader chose to stop, there is nobody to tell.
class OutputClosed : public HostError {
public:
    OutputClosed() : HostError("output closed", kOutputClosedExitCode) {}
};

/// What a recording holds: its records up to some point.
struct RecordingTally {
    std::uint64_t frames = 0;
    std::uint64_t samplesPerChannel = 0;
    std::uint64_t gaps = 0;
    std::uint64_t estimatedLostSamples = 0;
};

/// A write to the output failed (a full disk, an I/O error, a file grown
/// past its limit, a folder removed under it). It carries what the output
/// holds for certain: the records before the one that failed.
class OutputFailed : public HostError {
public:
    OutputFailed(const std::string& message, const RecordingTally& kept)
        : HostError(message), kept_(kept) {}

    const RecordingTally& kept() const noexcept { return kept_; }

private:
    RecordingTally kept_;
};

/// A stop request (Ctrl-C) ended a command before its result existed; what
/// ends with it has already said so.
class Interrupted : public HostError {
public:
    Interrupted() : HostError("interrupted", kInterruptedExitCode) {}
};

}  // namespace ni_usb_daq::host
