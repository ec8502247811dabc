#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "Acquisition.h"
#include "OutputFormat.h"
#include "OutputTarget.h"
#include "RecordingWriter.h"
#include "Subcommand.h"

namespace ni_usb_daq::host {

/// How read and stream write what they acquire.
struct RecordingOutput {
    OutputFormat format = OutputFormat::Json;
    std::optional<std::string> path;  ///< --out; standard output when absent
    bool time = false;                ///< CSV: a time column
    bool header = false;              ///< JSON: the recording's header too
    bool compress = false;            ///< HDF5: shuffle and deflate the samples
};

/// The options read and stream share: where the recording goes and in which form.
class RecordingOptions {
public:
    /// Registers the options with `command`; `formats` is --format's help.
    RecordingOptions(CLI::App& command, const std::string& formats);
    RecordingOptions(const RecordingOptions&) = delete;
    RecordingOptions& operator=(const RecordingOptions&) = delete;

    /// The output the options ask for; UsageError when they do not fit
    /// together. `headerByDefault`: JSON lines describe themselves unless
    /// told not to.
    RecordingOutput resolve(const std::vector<OutputFormat>& accepted, OutputFormat fallback,
                            bool headerByDefault) const;

    /// The target, opened now: a file that cannot be written stops the
    /// command before the plug-in is even loaded.
    static std::shared_ptr<OutputTarget> target(const RecordingOutput& output);

    /// What read and stream run with the device: `run(session, options,
    /// target)` with the settings completed for the session's device, into
    /// the target of `options.output`, opened now. The file takes its name
    /// only when the command succeeded.
    template <typename Options, typename Run>
    static SessionAction action(Options options, Run run) {
        auto target = RecordingOptions::target(options.output);
        return [options, target, run](DeviceSession& session) mutable {
            options.settings = withDeviceDefaults(options.settings, session.device());
            const int status = run(session, options, *target);
            if (status == 0) {
                target->commit();
            }
            return status;
        };
    }

    /// The writer of the output's format (JSON: JSON lines) into `target`.
    static std::unique_ptr<RecordingWriter> writer(OutputTarget& target,
                                                   const RecordingOutput& output);

private:
    std::string format_;
    std::string out_;
    bool time_ = false;
    bool header_ = false;
    bool noHeader_ = false;
    bool compress_ = false;
    CLI::Option* formatOption_ = nullptr;
    CLI::Option* outOption_ = nullptr;
};

}  // namespace ni_usb_daq::host
