#include "ViewState.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>

#include "StreamSession.h"
#include "UtcText.h"
#include "ViewProtocol.h"

namespace ni_usb_daq::host::view {

namespace {

/// The longest window a page can ask for, and what it may scroll back over.
constexpr double kKeepSeconds = kLongestWindowS;
/// "NIVW" once written little-endian.
constexpr std::uint32_t kMagic = 'N' | ('I' << 8) | ('V' << 16) | (std::uint32_t{'W'} << 24);
/// Gap markers a page is sent; older ones have scrolled out of any window.
constexpr std::size_t kMostGaps = 1000;

nlohmann::json channel(const std::string& name, const char* kind, double low, double high,
                       const std::string& units) {
    return {{"name", name},
            {"kind", kind},
            {"range_min_v", low},
            {"range_max_v", high},
            {"units", units}};
}

/// Little-endian, whatever the machine's order.
void put(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void putFloat(std::vector<std::uint8_t>& out, float value) {
    put(out, std::bit_cast<std::uint32_t>(value), 4);
}

void putDouble(std::vector<std::uint8_t>& out, double value) {
    put(out, std::bit_cast<std::uint64_t>(value), 8);
}

}  // namespace

ViewState::ViewState(std::string recordingFile) {
    status_ = {{"type", "status"},
               {"device", nullptr},
               {"channels", nlohmann::json::array()},
               {"recording",
                {{"file", recordingFile.empty() ? nlohmann::json() : nlohmann::json(recordingFile)},
                 {"state", "starting"},
                 {"frames", 0},
                 {"samples", 0},
                 {"gaps", 0},
                 {"errors", 0},
                 {"error", nullptr}}},
               {"gaps", nlohmann::json::array()}};
}

void ViewState::begin(const RecordingFacts& facts) {
    nlohmann::json channels = nlohmann::json::array();
    for (const ChannelFacts& c : facts.channels) {
        channels.push_back(channel(c.name, "analog", c.rangeMinV, c.rangeMaxV, c.units));
    }
    for (const std::string& line : facts.digitalLines) {
        channels.push_back(channel(line, "digital", 0.0, 1.0, ""));
    }
    const std::scoped_lock lock(mutex_);
    envelope_.emplace(facts.channels.size(), facts.digitalLines.size(), facts.sampleRateHz,
                      kKeepSeconds);
    sampleRateHz_ = facts.sampleRateHz;
    status_["device"] = facts.device;
    status_["product_type"] = facts.productType;
    status_["serial_number"] = facts.serialNumber;
    status_["sample_rate_hz"] = facts.sampleRateHz;
    status_["requested_sample_rate_hz"] = facts.requestedSampleRateHz;
    status_["started_utc"] = utcText(facts.start);
    status_["channels"] = std::move(channels);
    status_["recording"]["state"] =
        status_["recording"]["file"].is_null() ? "viewing" : "recording";
    changed();
}

void ViewState::frame(const FrameRecord& frame) {
    const std::scoped_lock lock(mutex_);
    if (envelope_) {
        envelope_->add(frame.firstSample, frame.sampleCount, frame.samples, frame.digitalLines);
        samplesAdded_ += frame.sampleCount;
    }
}

void ViewState::gap(const GapRecord& gap) {
    const double start = gap.hasLastSample ? static_cast<double>(gap.lastSampleIndex + 1) : 0.0;
    const std::scoped_lock lock(mutex_);
    const double rate = sampleRateHz_;
    const double duration =
        rate > 0 ? static_cast<double>(gap.estimatedLostSamples) / rate
                 : std::chrono::duration<double>(gap.outageEnd - gap.outageStart).count();
    gaps_.push_back(
        {{"t_s", rate > 0 ? start / rate : 0.0}, {"duration_s", duration}, {"reason", gap.reason}});
    if (gaps_.size() > kMostGaps) {
        gaps_.pop_front();
    }
    status_["gaps"] = nlohmann::json(gaps_);
    changed();
}

void ViewState::progress(const StreamStats& stats) {
    const std::scoped_lock lock(mutex_);
    nlohmann::json& recording = status_["recording"];
    const bool files = !recording["file"].is_null();
    recording["frames"] = stats.frames;
    recording["samples"] = stats.samples;
    recording["gaps"] = stats.gaps;
    recording["errors"] = stats.errors();
    if (recording["state"] != "stopped" && recording["state"] != "error") {
        recording["state"] = stats.state == kWaitingForTrigger ? kWaitingForTrigger
                             : !stats.state.empty()            ? "waiting for the device"
                             : files                           ? "recording"
                                                               : "viewing";
        recording["detail"] = stats.state;
    }
    changed();
}

void ViewState::ended(const std::string& error) {
    const std::scoped_lock lock(mutex_);
    nlohmann::json& recording = status_["recording"];
    recording["state"] = error.empty() ? "stopped" : "error";
    recording["error"] = error.empty() ? nlohmann::json() : nlohmann::json(error);
    recording["detail"] = "";
    changed();
}

std::optional<std::string> ViewState::statusSince(std::uint64_t& version) const {
    const std::scoped_lock lock(mutex_);
    if (version == statusVersion_) {
        return std::nullopt;
    }
    version = statusVersion_;
    return status_.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool ViewState::update(PageCursor& cursor, std::vector<std::uint8_t>& message) const {
    const std::scoped_lock lock(mutex_);
    if (!envelope_ || !cursor.window) {
        return false;
    }
    const Envelope& envelope = *envelope_;
    const double wanted = cursor.window->windowS / cursor.window->columns;
    const auto per = std::max<std::uint64_t>(1, std::llround(wanted / envelope.bucketSeconds()));
    if (per != cursor.bucketsPerColumn) {
        cursor.bucketsPerColumn = per;
        cursor.snapshotDue = true;
    }
    const double columnS = static_cast<double>(per) * envelope.bucketSeconds();
    const auto inWindow = static_cast<std::uint64_t>(std::ceil(cursor.window->windowS / columnS));
    const std::uint64_t complete = envelope.completeBuckets() / per;
    // A page further behind than its window gets the window afresh.
    const bool replace = cursor.snapshotDue || complete > cursor.nextColumn + inWindow;
    const std::uint64_t first =
        replace ? (complete > inWindow ? complete - inWindow : 0) : cursor.nextColumn;
    if (!replace && first >= complete && samplesAdded_ == cursor.samplesSeen) {
        return false;
    }
    const std::size_t count = static_cast<std::size_t>(complete - std::min(first, complete));
    const std::size_t channels = envelope.channels();

    message.clear();
    message.reserve(kHeaderBytes + 4 * channels + count * channels * 8);
    put(message, kMagic, 4);
    put(message, kProtocolVersion, 2);
    put(message, replace ? kReplace : 0, 2);
    put(message, channels, 4);
    put(message, count, 4);
    put(message, ++cursor.updates, 4);
    put(message, 0, 4);
    putDouble(message, static_cast<double>(first));
    putDouble(message, columnS);
    for (const float value : envelope.lastValues()) {
        putFloat(message, value);
    }
    std::vector<float> pairs;
    envelope.columns(first, count, per, pairs);
    for (const float value : pairs) {
        putFloat(message, value);
    }
    cursor.nextColumn = std::max(complete, first);
    cursor.samplesSeen = samplesAdded_;
    cursor.snapshotDue = false;
    return true;
}

}  // namespace ni_usb_daq::host::view
