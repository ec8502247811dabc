#include "Hdf5RecordingWriter.h"

#include <hdf5.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <span>
#include <system_error>
#include <tuple>
#include <utility>

#include "HostError.h"
#include "UtcText.h"

namespace ni_usb_daq::host {

namespace {

/// Rows of "/frames" and "/gaps" per chunk.
constexpr hsize_t kTableChunk = 256;
/// The smallest chunk of a sample dataset, in values (32 KiB of analogue
/// samples): smaller ones would make the chunk index and the library's work
/// per chunk outweigh the samples.
constexpr hsize_t kSmallestChunk = hsize_t{1} << 12;
/// The largest, in values (8 MiB of analogue samples): a chunk is written
/// from the writer's memory as a whole.
constexpr hsize_t kLargestChunk = hsize_t{1} << 20;

/// Rows per chunk: whole blocks, as few as make up kSmallestChunk values, so
/// that each frame fills whole chunks (written as they are, none kept over)
/// and a recording never holds more unused chunk space than that; a block
/// larger than kLargestChunk is split into chunks of that size. Without a
/// known block size a row counts as the block.
hsize_t chunkRows(std::uint64_t samplesPerFrame, hsize_t width) {
    const hsize_t blockRows = std::max<hsize_t>(samplesPerFrame, 1);
    if (blockRows > kLargestChunk || blockRows * width > kLargestChunk) {
        return std::max<hsize_t>(kLargestChunk / width, 1);
    }
    const hsize_t block = blockRows * width;
    return blockRows * ((kSmallestChunk + block - 1) / block);
}

/// Fixed sizes of the texts that are written after the file is shared:
/// attributes and table fields cannot change size then.
constexpr std::size_t kStateText = 16;
constexpr std::size_t kErrorText = 4096;
constexpr std::size_t kReasonText = 32;
constexpr std::size_t kDeviceText = 64;
constexpr std::size_t kSerialText = 32;
constexpr std::size_t kEstimateText = 16;
/// What "/digital" holds on the rows of a frame without a snapshot.
constexpr std::uint8_t kNoDigitalValue = 255;

/// One identifier of the library, closed when the handle goes.
class Handle {
public:
    Handle() = default;
    Handle(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
    Handle(Handle&& other) noexcept
        : id_(std::exchange(other.id_, H5I_INVALID_HID)), close_(other.close_) {}
    Handle& operator=(Handle&& other) noexcept {
        std::swap(id_, other.id_);
        std::swap(close_, other.close_);
        return *this;
    }
    ~Handle() {
        if (id_ >= 0) {
            close_(id_);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    hid_t get() const { return id_; }
    bool valid() const { return id_ >= 0; }

    /// Closes now, reporting whether the library could.
    bool close() { return close_(std::exchange(id_, H5I_INVALID_HID)) >= 0; }
    /// Lets go without closing.
    void abandon() { id_ = H5I_INVALID_HID; }

private:
    hid_t id_ = H5I_INVALID_HID;
    herr_t (*close_)(hid_t) = nullptr;
};

/// The library's failure as one line: the call that failed, and the
/// system's reason when a system call failed under it (the "errno = N" of its
/// message), else the library's most specific message. The error stack,
/// which the library would print at length, is cleared.
std::string libraryFailure() {
    struct Found {
        std::string call;     ///< the last one walked: the call made into the library
        std::string message;  ///< the first one walked: the most specific
        int systemError = 0;
    } found;
    H5Ewalk2(
        H5E_DEFAULT, H5E_WALK_UPWARD,
        [](unsigned, const H5E_error2_t* error, void* target) -> herr_t {
            auto& found = *static_cast<Found*>(target);
            if (error->func_name != nullptr) {
                found.call = error->func_name;
            }
            if (error->desc == nullptr) {
                return 0;
            }
            if (found.message.empty()) {
                found.message = error->desc;
            }
            const char* number = std::strstr(error->desc, "errno = ");
            if (found.systemError == 0 && number != nullptr) {
                found.systemError = std::atoi(number + std::strlen("errno = "));
            }
            return 0;
        },
        &found);
    H5Eclear2(H5E_DEFAULT);
    if (found.call.empty()) {
        return {};
    }
    return found.call + " failed: " +
           (found.systemError != 0 ? std::generic_category().message(found.systemError)
                                   : found.message);
}

std::int64_t nanosecondsSinceEpoch(std::chrono::system_clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

/// A row of "/frames".
struct FrameRow {
    std::uint64_t sequenceNo;
    std::int64_t timestampNs;
    std::uint64_t firstSample;
    std::uint64_t sampleCount;
    std::uint64_t row;  ///< its first row in "/analog"
};

/// A row of "/gaps".
struct GapRow {
    char reason[kReasonText];
    std::int32_t status;
    std::int64_t outageStartNs;
    std::int64_t outageEndNs;
    std::int64_t lastSampleIndex;  ///< -1 when no sample came before it
    std::uint64_t estimatedLostSamples;
    std::uint64_t row;  ///< rows of "/analog" before it
    char estimatedFrom[kEstimateText];
    char device[kDeviceText];  ///< the device of the samples after it
    char serialNumber[kSerialText];
};

/// Channels-first samples as rows of `channels`, in `rows` (kept from frame
/// to frame). A value that is not finite becomes NaN, as the frame text's
/// null does, so a recording holds the same values from either topic.
void transposeToRows(std::span<const double> samples, std::uint64_t count, std::uint64_t channels,
                     std::vector<double>& rows) {
    if (rows.size() < samples.size()) {
        rows.resize(samples.size());
    }
    const double noValue = std::numeric_limits<double>::quiet_NaN();
    // A tile of rows at a time keeps every channel's run being read, and the
    // rows being written, within the cache.
    constexpr std::uint64_t kTile = 256;
    for (std::uint64_t first = 0; first < count; first += kTile) {
        const std::uint64_t last = std::min(count, first + kTile);
        for (std::uint64_t c = 0; c < channels; ++c) {
            const double* from = samples.data() + c * count;
            double* to = rows.data() + c;
            for (std::uint64_t s = first; s < last; ++s) {
                const double value = from[s];
                to[s * channels] = std::isfinite(value) ? value : noValue;
            }
        }
    }
}

/// `text` cut to leave room for the terminating zero of a fixed-size field.
template <std::size_t N>
void copyText(char (&target)[N], std::string_view text) {
    std::memset(target, 0, N);
    std::memcpy(target, text.data(), std::min(text.size(), N - 1));
}

}  // namespace

/// The file and everything in it the writer keeps open; every library call
/// goes through here so that a failure becomes an OutputFailed naming the
/// file, with what its last flush holds.
struct Hdf5RecordingWriter::File {
    std::string path;
    RecordingTally flushed;
    Handle file;
    Handle group;  ///< a writer's own group of a shared file; invalid: the root
    Handle analog;
    Handle digital;
    Handle frames;
    Handle gaps;
    Handle frameType;
    Handle gapType;

    [[noreturn]] void fail(const std::string& what) const {
        const std::string detail = libraryFailure();
        throw OutputFailed(
            "cannot write '" + path + "': " + what + (detail.empty() ? "" : ": " + detail),
            flushed);
    }

    /// Where the writer's datasets and attributes go: its group, or the root.
    hid_t place() const { return group.valid() ? group.get() : file.get(); }

    hid_t check(hid_t id, const char* what) const {
        if (id < 0) {
            fail(what);
        }
        return id;
    }

    Handle own(hid_t id, herr_t (*close)(hid_t), const char* what) const {
        return Handle(check(id, what), close);
    }

    Handle textType(std::size_t size) const {
        Handle type = own(H5Tcopy(H5T_C_S1), H5Tclose, "string type");
        check(H5Tset_size(type.get(), size == 0 ? H5T_VARIABLE : size), "string type");
        check(H5Tset_cset(type.get(), H5T_CSET_UTF8), "string type");
        return type;
    }

    /// A new attribute: one value, or an array of `count` when `array`.
    void attribute(hid_t object, const char* name, hid_t type, const void* values,
                   hsize_t count = 1, bool array = false) const {
        Handle space = own(array ? H5Screate_simple(1, &count, nullptr) : H5Screate(H5S_SCALAR),
                           H5Sclose, name);
        Handle attribute = own(
            H5Acreate2(object, name, type, space.get(), H5P_DEFAULT, H5P_DEFAULT), H5Aclose, name);
        if (count != 0) {
            check(H5Awrite(attribute.get(), type, values), name);
        }
    }

    void text(hid_t object, const char* name, const std::string& value) const {
        const char* pointer = value.c_str();
        attribute(object, name, textType(0).get(), &pointer);
    }

    void texts(hid_t object, const char* name, const std::vector<std::string>& values) const {
        std::vector<const char*> pointers;
        for (const std::string& value : values) {
            pointers.push_back(value.c_str());
        }
        attribute(object, name, textType(0).get(), pointers.data(), values.size(), true);
    }

    void fixedText(hid_t object, const char* name, std::size_t size, std::string_view value,
                   bool create) const {
        std::vector<char> bytes(size, '\0');
        std::memcpy(bytes.data(), value.data(), std::min(value.size(), size - 1));
        Handle type = textType(size);
        if (create) {
            attribute(object, name, type.get(), bytes.data());
            return;
        }
        Handle attribute = own(H5Aopen(object, name, H5P_DEFAULT), H5Aclose, name);
        check(H5Awrite(attribute.get(), type.get(), bytes.data()), name);
    }

    /// A number attribute; `create` false rewrites one made before.
    template <typename Number>
    void number(hid_t object, const char* name, hid_t type, Number value, bool create) const {
        if (create) {
            attribute(object, name, type, &value);
            return;
        }
        Handle attribute = own(H5Aopen(object, name, H5P_DEFAULT), H5Aclose, name);
        check(H5Awrite(attribute.get(), type, &value), name);
    }

    /// A 2-D dataset of `columns` growing by rows.
    Handle samples(const char* name, hid_t type, std::uint64_t columns, std::uint64_t blockRows,
                   bool compress, const void* fill) const {
        const hsize_t width = std::max<hsize_t>(columns, 1);
        const hsize_t dims[2] = {0, columns};
        const hsize_t maxDims[2] = {H5S_UNLIMITED, width};
        const hsize_t chunk[2] = {chunkRows(blockRows, width), width};
        Handle space = own(H5Screate_simple(2, dims, maxDims), H5Sclose, name);
        Handle properties = own(H5Pcreate(H5P_DATASET_CREATE), H5Pclose, name);
        check(H5Pset_chunk(properties.get(), 2, chunk), name);
        check(H5Pset_fill_value(properties.get(), type, fill), name);
        if (compress) {
            check(H5Pset_shuffle(properties.get()), name);
            check(H5Pset_deflate(properties.get(), 1), name);
        }
        return own(H5Dcreate2(place(), relative(name), type, space.get(), H5P_DEFAULT,
                              properties.get(), H5P_DEFAULT),
                   H5Dclose, name);
    }

    /// A 1-D table of `type` records growing by one.
    Handle table(const char* name, hid_t type) const {
        const hsize_t dims = 0;
        const hsize_t maxDims = H5S_UNLIMITED;
        Handle space = own(H5Screate_simple(1, &dims, &maxDims), H5Sclose, name);
        Handle properties = own(H5Pcreate(H5P_DATASET_CREATE), H5Pclose, name);
        check(H5Pset_chunk(properties.get(), 1, &kTableChunk), name);
        return own(H5Dcreate2(place(), relative(name), type, space.get(), H5P_DEFAULT,
                              properties.get(), H5P_DEFAULT),
                   H5Dclose, name);
    }

    /// The record type of "/frames".
    Handle frameRowType() const {
        Handle type = own(H5Tcreate(H5T_COMPOUND, sizeof(FrameRow)), H5Tclose, "/frames");
        const std::tuple<const char*, std::size_t, hid_t> fields[] = {
            {"sequence_no", HOFFSET(FrameRow, sequenceNo), H5T_NATIVE_UINT64},
            {"timestamp_ns", HOFFSET(FrameRow, timestampNs), H5T_NATIVE_INT64},
            {"first_sample", HOFFSET(FrameRow, firstSample), H5T_NATIVE_UINT64},
            {"sample_count", HOFFSET(FrameRow, sampleCount), H5T_NATIVE_UINT64},
            {"row", HOFFSET(FrameRow, row), H5T_NATIVE_UINT64}};
        for (const auto& [name, offset, fieldType] : fields) {
            check(H5Tinsert(type.get(), name, offset, fieldType), "/frames");
        }
        return type;
    }

    /// The record type of "/gaps".
    Handle gapRowType() const {
        Handle type = own(H5Tcreate(H5T_COMPOUND, sizeof(GapRow)), H5Tclose, "/gaps");
        const auto field = [&](const char* name, std::size_t offset, hid_t fieldType) {
            check(H5Tinsert(type.get(), name, offset, fieldType), "/gaps");
        };
        const auto text = [&](const char* name, std::size_t offset, std::size_t size) {
            field(name, offset, textType(size).get());
        };
        text("reason", HOFFSET(GapRow, reason), kReasonText);
        field("status", HOFFSET(GapRow, status), H5T_NATIVE_INT32);
        field("outage_start_ns", HOFFSET(GapRow, outageStartNs), H5T_NATIVE_INT64);
        field("outage_end_ns", HOFFSET(GapRow, outageEndNs), H5T_NATIVE_INT64);
        field("last_sample_index", HOFFSET(GapRow, lastSampleIndex), H5T_NATIVE_INT64);
        field("estimated_lost_samples", HOFFSET(GapRow, estimatedLostSamples), H5T_NATIVE_UINT64);
        field("row", HOFFSET(GapRow, row), H5T_NATIVE_UINT64);
        text("estimated_from", HOFFSET(GapRow, estimatedFrom), kEstimateText);
        text("device", HOFFSET(GapRow, device), kDeviceText);
        text("serial_number", HOFFSET(GapRow, serialNumber), kSerialText);
        return type;
    }

    /// Grows a table by `count` records and writes them from `values`.
    void appendRecords(const Handle& table, hid_t type, hsize_t first, hsize_t count,
                       const void* values, const char* name) const {
        append(table, type, 1, first, count, 0, values, name);
    }

    /// Grows a sample dataset by `count` rows of `columns` and writes them.
    void appendRows(const Handle& dataset, hid_t type, hsize_t first, hsize_t count,
                    hsize_t columns, const void* values, const char* name) const {
        append(dataset, type, 2, first, count, columns, values, name);
    }

private:
    /// "/analog" as "analog": within the writer's group, which is the root
    /// of a file of its own.
    static const char* relative(const char* name) { return name[0] == '/' ? name + 1 : name; }

    void append(const Handle& dataset, hid_t type, int rank, hsize_t first, hsize_t count,
                hsize_t columns, const void* values, const char* name) const {
        const hsize_t size[2] = {first + count, columns};
        check(H5Dset_extent(dataset.get(), size), name);
        if (count == 0 || (rank == 2 && columns == 0)) {
            return;
        }
        Handle fileSpace = own(H5Dget_space(dataset.get()), H5Sclose, name);
        const hsize_t start[2] = {first, 0};
        const hsize_t extent[2] = {count, columns};
        check(H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, start, nullptr, extent, nullptr),
              name);
        Handle memory = own(H5Screate_simple(rank, extent, nullptr), H5Sclose, name);
        check(H5Dwrite(dataset.get(), type, memory.get(), fileSpace.get(), H5P_DEFAULT, values),
              name);
    }
};

namespace {

/// A new file at `path`, replacing one that is there.
std::unique_ptr<Hdf5RecordingWriter::File> createFile(const std::string& path) {
    // A file whose close failed (its last writes could not be made) stays
    // half closed in the library, whose clean-up at exit then crashes on it;
    // every handle is closed here anyway, so the clean-up is not asked for.
    // This takes effect only before the library's first call.
    H5dont_atexit();
    // Failures are reported as exceptions with the library's message; its
    // own printing of the error stack would only repeat them on stderr.
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    auto file = std::make_unique<Hdf5RecordingWriter::File>();
    Hdf5RecordingWriter::File& f = *file;
    f.path = path;
    // The newest format: the one that lets readers follow a growing file.
    Handle access = f.own(H5Pcreate(H5P_FILE_ACCESS), H5Pclose, "file access");
    f.check(H5Pset_libver_bounds(access.get(), H5F_LIBVER_LATEST, H5F_LIBVER_LATEST),
            "file format");
    f.file = f.own(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, access.get()), H5Fclose,
                   "creating the file");
    return file;
}

}  // namespace

Hdf5RecordingWriter::Hdf5RecordingWriter(const std::string& path, const Hdf5WriterOptions& options)
    : path_(path), options_(options), file_(createFile(path)) {}

Hdf5RecordingWriter::Hdf5RecordingWriter(std::unique_ptr<File> file, std::string group,
                                         const Hdf5WriterOptions& options)
    : path_(file->path), group_(std::move(group)), options_(options), file_(std::move(file)) {}

Hdf5RecordingWriter::~Hdf5RecordingWriter() = default;

void Hdf5RecordingWriter::begin(const RecordingFacts& facts) {
    File& f = *file_;
    if (!group_.empty()) {
        f.group =
            f.own(H5Gcreate2(f.file.get(), group_.c_str(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
                  H5Gclose, "group");
    }
    const hid_t root = f.place();
    channels_ = facts.channels.size();
    lines_ = facts.digitalLines.size();

    f.text(root, "device", facts.device);
    f.text(root, "product_type", facts.productType);
    f.text(root, "serial_number", facts.serialNumber);
    // An acquisition without a sample clock (read --single) has no rate to state.
    if (facts.sampleRateHz > 0) {
        f.number(root, "sample_rate_hz", H5T_NATIVE_DOUBLE, facts.sampleRateHz, true);
        f.number(root, "requested_sample_rate_hz", H5T_NATIVE_DOUBLE, facts.requestedSampleRateHz,
                 true);
    }
    f.text(root, "sample_mode", facts.sampleMode);
    f.text(root, "start_time_utc", utcText(facts.start, 9));
    f.number(root, "start_time_ns", H5T_NATIVE_INT64, nanosecondsSinceEpoch(facts.start), true);
    f.text(root, "settings_json", facts.settingsJson);
    if (!facts.startTriggerJson.empty()) {
        f.text(root, "start_trigger_json", facts.startTriggerJson);
    }
    if (!facts.referenceTriggerJson.empty()) {
        f.text(root, "reference_trigger_json", facts.referenceTriggerJson);
    }
    f.text(root, "program", facts.program);
    // How the run ended: made now, since nothing can be added once readers
    // may follow the file, and rewritten by end().
    f.fixedText(root, "end_state", kStateText, "recording", true);
    f.fixedText(root, "end_error_message", kErrorText, "", true);
    f.number(root, "end_error_status", H5T_NATIVE_INT32, std::int32_t{0}, true);
    for (const char* total : {"end_samples_per_channel", "end_frames", "end_gaps",
                              "end_estimated_lost_samples", "end_errors"}) {
        f.number(root, total, H5T_NATIVE_UINT64, std::uint64_t{0}, true);
    }
    f.number(root, "end_duration_s", H5T_NATIVE_DOUBLE, 0.0, true);

    const double noValue = std::numeric_limits<double>::quiet_NaN();
    f.analog = f.samples("/analog", H5T_NATIVE_DOUBLE, channels_, facts.samplesPerFrame,
                         options_.compress, &noValue);
    std::vector<std::string> names, units, terminals;
    std::vector<double> low, high;
    for (const ChannelFacts& channel : facts.channels) {
        names.push_back(channel.name);
        units.push_back(channel.units);
        terminals.push_back(channel.terminalConfig);
        low.push_back(channel.rangeMinV);
        high.push_back(channel.rangeMaxV);
    }
    const hid_t analog = f.analog.get();
    f.texts(analog, "channel_names", names);
    f.texts(analog, "units", units);
    f.texts(analog, "terminal_configs", terminals);
    f.attribute(analog, "range_min_v", H5T_NATIVE_DOUBLE, low.data(), channels_, true);
    f.attribute(analog, "range_max_v", H5T_NATIVE_DOUBLE, high.data(), channels_, true);
    if (lines_ != 0) {
        f.digital = f.samples("/digital", H5T_NATIVE_UINT8, lines_, facts.samplesPerFrame,
                              options_.compress, &kNoDigitalValue);
        f.texts(f.digital.get(), "line_names", facts.digitalLines);
        f.number(f.digital.get(), "no_snapshot_value", H5T_NATIVE_UINT8, kNoDigitalValue, true);
    }

    f.frameType = f.frameRowType();
    f.frames = f.table("/frames", f.frameType.get());
    f.gapType = f.gapRowType();
    f.gaps = f.table("/gaps", f.gapType.get());

    // From here on readers may follow the file; only data and values of
    // existing attributes change. A shared file is opened to them once every
    // group has begun.
    if (group_.empty()) {
        f.check(H5Fstart_swmr_write(f.file.get()), "readers while it grows");
        flush();
    }
}

void Hdf5RecordingWriter::frame(const FrameRecord& frame) {
    File& f = *file_;
    const std::uint64_t count = frame.sampleCount;
    if (frame.channelCount != channels_ || frame.samples.size() != channels_ * count) {
        throw HostError("cannot write '" + path_ + "': frame " + std::to_string(frame.sequenceNo) +
                        " does not hold " + std::to_string(channels_) + " channels of " +
                        std::to_string(count) + " samples");
    }
    transposeToRows(frame.samples, count, channels_, analogRows_);
    f.appendRows(f.analog, H5T_NATIVE_DOUBLE, rows_, count, channels_, analogRows_.data(),
                 "/analog");

    if (lines_ != 0) {
        const auto snapshot = frame.digitalLines;
        digitalRows_.resize(count * lines_);
        if (snapshot.size() == lines_) {
            for (std::uint64_t s = 0; s < count; ++s) {
                std::copy(snapshot.begin(), snapshot.end(), digitalRows_.begin() + s * lines_);
            }
        } else {
            std::fill(digitalRows_.begin(), digitalRows_.end(), kNoDigitalValue);
        }
        f.appendRows(f.digital, H5T_NATIVE_UINT8, rows_, count, lines_, digitalRows_.data(),
                     "/digital");
    }

    const FrameRow row{frame.sequenceNo, frame.timestampNs, frame.firstSample, count, rows_};
    f.appendRecords(f.frames, f.frameType.get(), frames_, 1, &row, "/frames");
    rows_ += count;
    ++frames_;
    flushIfDue();
}

void Hdf5RecordingWriter::gap(const GapRecord& gap) {
    File& f = *file_;
    GapRow row{};
    copyText(row.reason, gap.reason);
    row.status = gap.status;
    row.outageStartNs = nanosecondsSinceEpoch(gap.outageStart);
    row.outageEndNs = nanosecondsSinceEpoch(gap.outageEnd);
    row.lastSampleIndex = gap.hasLastSample ? static_cast<std::int64_t>(gap.lastSampleIndex) : -1;
    row.estimatedLostSamples = gap.estimatedLostSamples;
    row.row = rows_;
    copyText(row.estimatedFrom, gap.estimatedFrom);
    copyText(row.device, gap.device);
    copyText(row.serialNumber, gap.serialNumber);
    f.appendRecords(f.gaps, f.gapType.get(), gaps_, 1, &row, "/gaps");
    ++gaps_;
    lost_ += gap.estimatedLostSamples;
    flushIfDue();
}

void Hdf5RecordingWriter::end(const RecordingEnd& end) {
    File& f = *file_;
    const hid_t root = f.place();
    f.fixedText(root, "end_error_message", kErrorText, end.errorMessage, false);
    f.number(root, "end_error_status", H5T_NATIVE_INT32, end.errorStatus, false);
    const std::pair<const char*, std::uint64_t> totals[] = {
        {"end_samples_per_channel", end.samplesPerChannel},
        {"end_frames", end.frames},
        {"end_gaps", end.gaps},
        {"end_estimated_lost_samples", end.estimatedLostSamples},
        {"end_errors", end.errors}};
    for (const auto& [name, value] : totals) {
        f.number(root, name, H5T_NATIVE_UINT64, value, false);
    }
    f.number(root, "end_duration_s", H5T_NATIVE_DOUBLE, end.durationS, false);
    // The state last: a reader that sees it finished sees the totals too.
    f.fixedText(root, "end_state", kStateText, endKindName(end.kind), false);
    flush();
    for (Handle* handle :
         {&f.analog, &f.digital, &f.frames, &f.gaps, &f.frameType, &f.gapType, &f.group}) {
        if (handle->valid() && !handle->close()) {
            f.fail("closing");
        }
    }
    if (!f.file.close()) {
        f.fail("closing");
    }
}

void Hdf5RecordingWriter::idle() {
    if (file_ && file_->file.valid()) {
        flushIfDue();
    }
}

void Hdf5RecordingWriter::endAfterFailure(const RecordingEnd&) noexcept {
    // Neither the end attributes nor a close can reach the file past the
    // write that failed, and a close that fails halfway marks the file
    // closed over metadata that points beyond its end, which nothing then
    // opens. Left open, it is what a killed writer leaves: SWMR readers (and
    // a plain open after `h5clear -s`) find it as its last flush wrote it.
    if (file_) {
        for (Handle* handle : {&file_->analog, &file_->digital, &file_->frames, &file_->gaps,
                               &file_->frameType, &file_->gapType, &file_->group, &file_->file}) {
            handle->abandon();
        }
    }
}

void Hdf5RecordingWriter::flushIfDue() {
    if (std::chrono::steady_clock::now() - lastFlush_ >= options_.flushInterval) {
        flush();
    }
}

void Hdf5RecordingWriter::flush() {
    file_->check(H5Fflush(file_->file.get(), H5F_SCOPE_LOCAL), "flushing");
    file_->flushed = {frames_, rows_, gaps_, lost_};
    lastFlush_ = std::chrono::steady_clock::now();
}

/// Several writers' groups in one file: each writer holds a reference of
/// its own to the open file, which closes when the last one lets go.
class Hdf5GroupedFile : public GroupedRecordingFile {
public:
    Hdf5GroupedFile(const std::string& path, const Hdf5WriterOptions& options)
        : options_(options), root_(createFile(path)) {}

    std::unique_ptr<RecordingWriter> group(const std::string& name) override {
        auto file = std::make_unique<Hdf5RecordingWriter::File>();
        file->path = root_->path;
        root_->check(H5Iinc_ref(root_->file.get()), "sharing the file");
        file->file = Handle(root_->file.get(), H5Fclose);
        return std::make_unique<Hdf5RecordingWriter>(std::move(file), "/" + name, options_);
    }

    void texts(const std::string& path, const std::string& name,
               const std::vector<std::string>& values) override {
        root_->texts(open(path).get(), name.c_str(), values);
    }

    void text(const std::string& path, const std::string& name, const std::string& value) override {
        root_->text(open(path).get(), name.c_str(), value);
    }

    void share() override {
        root_->check(H5Fstart_swmr_write(root_->file.get()), "readers while it grows");
        root_->check(H5Fflush(root_->file.get(), H5F_SCOPE_GLOBAL), "flushing");
    }

    void close() override {
        if (root_->file.valid() && !root_->file.close()) {
            root_->fail("closing");
        }
    }

private:
    Handle open(const std::string& path) const {
        return root_->own(H5Oopen(root_->file.get(), path.c_str(), H5P_DEFAULT), H5Oclose,
                          path.c_str());
    }

    Hdf5WriterOptions options_;
    std::unique_ptr<Hdf5RecordingWriter::File> root_;
};

std::unique_ptr<GroupedRecordingFile> makeGroupedHdf5File(const std::string& path,
                                                          const Hdf5WriterOptions& options) {
    return std::make_unique<Hdf5GroupedFile>(path, options);
}

}  // namespace ni_usb_daq::host
