#include "RecordingOptions.h"

#include "Hdf5WriterFactory.h"
#include "HostError.h"
#include "TextRecordingWriters.h"

namespace ni_usb_daq::host {

RecordingOptions::RecordingOptions(CLI::App& command, const std::string& formats) {
    formatOption_ = command.add_option("--format", format_, formats);
    outOption_ = command.add_option(
        "--out", out_, "write to FILE instead of standard output (format from its extension)");
    command.add_flag("--time", time_, "CSV: a time_s column (sample index / achieved rate)");
    command.add_flag("--header", header_, "JSON: the recording's metadata too");
    command.add_flag("--no-header", noHeader_, "JSON lines: no header event first");
    command.add_flag("--compress", compress_,
                     "HDF5: shuffle and deflate (level 1) the samples; off by default");
}

RecordingOutput RecordingOptions::resolve(const std::vector<OutputFormat>& accepted,
                                          OutputFormat fallback, bool headerByDefault) const {
    RecordingOutput output;
    const auto given = [](const CLI::Option* option, const std::string& value) {
        return option->count() > 0 ? std::optional<std::string>(value) : std::nullopt;
    };
    output.path = given(outOption_, out_);
    output.format = chooseFormat(given(formatOption_, format_), output.path, accepted, fallback);
    output.time = time_;
    output.header = header_ || (headerByDefault && !noHeader_);
    output.compress = compress_;
    if (time_ && output.format != OutputFormat::Csv) {
        throw UsageError("--time adds a column to CSV output; give --format csv");
    }
    if (compress_ && output.format != OutputFormat::Hdf5) {
        throw UsageError(
            "--compress is for HDF5 recordings; name the file --out NAME.h5 or give --format "
            "hdf5");
    }
    if (output.format == OutputFormat::Hdf5) {
        requireHdf5Support();
        if (!output.path) {
            throw UsageError("an HDF5 recording is a file: give --out NAME.h5");
        }
    }
    return output;
}

std::shared_ptr<OutputTarget> RecordingOptions::target(const RecordingOutput& output) {
    // HDF5 files are written by the library, which opens its file by name.
    return std::make_shared<OutputTarget>(output.path, output.format == OutputFormat::Hdf5
                                                           ? OutputAccess::Path
                                                           : OutputAccess::Stream);
}

std::unique_ptr<RecordingWriter> RecordingOptions::writer(OutputTarget& target,
                                                          const RecordingOutput& output) {
    if (output.format == OutputFormat::Hdf5) {
        Hdf5WriterOptions options;
        options.compress = output.compress;
        return makeHdf5Writer(target.writePath(), options);
    }
    if (output.format == OutputFormat::Csv) {
        return std::make_unique<CsvRecordingWriter>(target, output.time);
    }
    return std::make_unique<JsonLinesRecordingWriter>(target, output.header);
}

}  // namespace ni_usb_daq::host
