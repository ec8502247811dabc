// Synchronised devices side by side, one CSV row per tick.
#include "TickCsv.h"

#include <algorithm>

#include "HostError.h"

namespace ni_usb_daq::host {

/// One device's samples not yet written, channel by channel, and its gaps.
struct TickCsv::Pending {
    std::vector<std::vector<double>> channels;
    std::vector<GapRecord> gaps;
    bool begun = false;

    std::size_t count() const { return channels.empty() ? 0 : channels.front().size(); }
    void drop(std::size_t count) {
        for (auto& channel : channels) {
            channel.erase(channel.begin(), channel.begin() + static_cast<std::ptrdiff_t>(
                                                                 std::min(count, channel.size())));
        }
    }
};

/// The writer one device's stream is handed.
class TickCsv::Part : public RecordingWriter {
public:
    Part(TickCsv& csv, std::size_t index) : csv_(csv), index_(index) {}
    void begin(const RecordingFacts& facts) override { csv_.begin(index_, facts); }
    void frame(const FrameRecord& frame) override { csv_.frame(index_, frame); }
    void gap(const GapRecord& gap) override { csv_.gap(index_, gap); }
    void end(const RecordingEnd& end) override { csv_.end(index_, end); }
    void endAfterFailure(const RecordingEnd& end) noexcept override { csv_.endAfterFailure(end); }

private:
    TickCsv& csv_;
    std::size_t index_;
};

TickCsv::TickCsv(const RigPlan& plan, std::size_t devices, OutputTarget& target, bool timeColumn)
    : plan_(plan),
      target_(target),
      csv_(target, timeColumn),
      pending_(devices),
      facts_(devices),
      ends_(devices) {
    for (std::size_t i = 0; i < devices; ++i) {
        parts_.push_back(std::make_unique<Part>(*this, i));
    }
}

TickCsv::~TickCsv() = default;

RecordingWriter& TickCsv::writer(std::size_t index) {
    return *parts_.at(index);
}

void TickCsv::begin(std::size_t index, const RecordingFacts& facts) {
    facts_.at(index) = facts;
    pending_[index].channels.assign(facts.channels.size(), {});
    pending_[index].begun = true;
    if (!std::all_of(pending_.begin(), pending_.end(), [](const Pending& p) { return p.begun; })) {
        return;
    }
    // The leader's facts describe the rows; every device's channels are columns.
    RecordingFacts merged = facts_.front();
    merged.device.clear();
    std::string devices;
    for (std::size_t i = 1; i < facts_.size(); ++i) {
        merged.channels.insert(merged.channels.end(), facts_[i].channels.begin(),
                               facts_[i].channels.end());
    }
    for (std::size_t i = 0; i < facts_.size(); ++i) {
        const RecordingFacts& device = facts_[i];
        devices += "# device_" + std::to_string(i) + ": " + device.device + " (" +
                   device.productType + ", serial " + device.serialNumber +
                   (i == 0 ? ", leader)" : ")") + "\n";
    }
    merged.device = plan_.leader().name;
    std::string wiring;
    for (const std::string& line : plan_.wiring()) {
        wiring += "# wiring: " + line + "\n";
    }
    target_.stream() << devices << wiring << "# synchronisation: " << plan_.synchronisationText()
                     << "\n";
    csv_.begin(merged);
}

void TickCsv::frame(std::size_t index, const FrameRecord& frame) {
    Pending& pending = pending_.at(index);
    if (pending.count() == 0 && index == 0) {
        nextIndex_ = frame.firstSample;
    }
    for (std::size_t c = 0; c < pending.channels.size(); ++c) {
        const auto run = frame.samples.subspan(c * frame.sampleCount, frame.sampleCount);
        pending.channels[c].insert(pending.channels[c].end(), run.begin(), run.end());
    }
    writeRows();
}

void TickCsv::writeRows() {
    std::size_t count = pending_.front().count();
    std::size_t channels = 0;
    for (const Pending& pending : pending_) {
        count = std::min(count, pending.count());
        channels += pending.channels.size();
    }
    if (count == 0) {
        return;
    }
    merged_.resize(count * channels);
    auto out = merged_.begin();
    for (Pending& pending : pending_) {
        for (const auto& channel : pending.channels) {
            out = std::copy_n(channel.begin(), count, out);
        }
        pending.drop(count);
    }
    FrameRecord record;
    record.sequenceNo = ++frames_;
    record.firstSample = nextIndex_;
    record.sampleCount = count;
    record.channelCount = channels;
    record.samples = merged_;
    csv_.frame(record);
    rows_ += count;
    nextIndex_ += count;
}

void TickCsv::gap(std::size_t index, const GapRecord& gap) {
    pending_.at(index).gaps.push_back(gap);
    if (!std::all_of(pending_.begin(), pending_.end(),
                     [](const Pending& p) { return !p.gaps.empty(); })) {
        return;
    }
    // The devices restarted together: the rows every one of them delivered
    // are written, and the leader's gap moves the index on for all.
    writeRows();
    const GapRecord leaderGap = pending_.front().gaps.front();
    for (Pending& pending : pending_) {
        pending.drop(pending.count());
        pending.gaps.erase(pending.gaps.begin());
    }
    csv_.gap(leaderGap);
    nextIndex_ = leaderGap.lastSampleIndex + (leaderGap.hasLastSample ? 1 : 0) +
                 leaderGap.estimatedLostSamples;
}

void TickCsv::end(std::size_t index, const RecordingEnd& end) {
    ends_.at(index) = end;
    if (!std::all_of(ends_.begin(), ends_.end(), [](const auto& e) { return e.has_value(); })) {
        return;
    }
    writeRows();
    RecordingEnd merged = *ends_.front();
    merged.samplesPerChannel = rows_;
    merged.frames = frames_;
    for (std::size_t i = 1; i < ends_.size(); ++i) {
        merged.errors += ends_[i]->errors;
        if (merged.kind != RecordingEndKind::Error && ends_[i]->kind == RecordingEndKind::Error) {
            merged.kind = RecordingEndKind::Error;
            merged.errorMessage = facts_[i].device + ": " + ends_[i]->errorMessage;
            merged.errorStatus = ends_[i]->errorStatus;
        }
    }
    csv_.end(merged);
}

void TickCsv::endAfterFailure(const RecordingEnd& end) noexcept {
    if (!failed_) {
        failed_ = true;
        csv_.endAfterFailure(end);
    }
}

}  // namespace ni_usb_daq::host
