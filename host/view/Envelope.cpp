#include "Envelope.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ni_usb_daq::host::view {

namespace {

constexpr double kBucketSeconds = 1e-3;
constexpr float kNone = std::numeric_limits<float>::quiet_NaN();

/// Minimum and maximum that let a bucket without samples (NaN) take the
/// first value it is given.
void merge(float* pair, float low, float high) {
    pair[0] = std::fmin(pair[0], low);
    pair[1] = std::fmax(pair[1], high);
}

}  // namespace

Envelope::Envelope(std::size_t analogChannels, std::size_t digitalLines, double sampleRateHz,
                   double keepSeconds)
    : analog_(analogChannels),
      channels_(analogChannels + digitalLines),
      samplesPerBucket_(sampleRateHz > 0 ? std::max(1.0, sampleRateHz * kBucketSeconds) : 1.0),
      bucketSeconds_(sampleRateHz > 0 ? samplesPerBucket_ / sampleRateHz : kBucketSeconds),
      capacity_(static_cast<std::size_t>(std::ceil(keepSeconds / bucketSeconds_)) + 2),
      slots_(capacity_ * channels_ * 2, kNone),
      last_(channels_, kNone) {}

std::uint64_t Envelope::bucketOf(std::uint64_t position) const {
    return static_cast<std::uint64_t>(
        std::floor(static_cast<double>(position) / samplesPerBucket_));
}

std::uint64_t Envelope::firstPositionOf(std::uint64_t bucket) const {
    return static_cast<std::uint64_t>(std::ceil(static_cast<double>(bucket) * samplesPerBucket_));
}

float* Envelope::slot(std::uint64_t bucket) {
    return slots_.data() + (bucket % capacity_) * channels_ * 2;
}

const float* Envelope::slot(std::uint64_t bucket) const {
    return slots_.data() + (bucket % capacity_) * channels_ * 2;
}

void Envelope::advanceTo(std::uint64_t bucket) {
    if (bucket < end_) {
        return;
    }
    // Past a long outage only the slots still held need emptying.
    const std::uint64_t from = std::max(end_, bucket + 1 > capacity_ ? bucket + 1 - capacity_ : 0);
    for (std::uint64_t b = from; b <= bucket; ++b) {
        std::fill_n(slot(b), channels_ * 2, kNone);
    }
    end_ = bucket + 1;
}

void Envelope::add(std::uint64_t position, std::uint64_t count, std::span<const double> analog,
                   std::span<const std::uint8_t> digital) {
    if (count == 0 || position < position_) {
        return;
    }
    advanceTo(bucketOf(position + count - 1));
    const std::size_t analogChannels = std::min(analog_, analog.size() / count);
    for (std::size_t c = 0; c < analogChannels; ++c) {
        addRun(c, position, analog.subspan(c * count, count));
        last_[c] = static_cast<float>(analog[c * count + count - 1]);
    }
    for (std::size_t d = 0; d < digital.size() && analog_ + d < channels_; ++d) {
        const float value = digital[d] != 0 ? 1.0F : 0.0F;
        addConstant(analog_ + d, position, count, value);
        last_[analog_ + d] = value;
    }
    position_ = position + count;
}

void Envelope::addRun(std::size_t channel, std::uint64_t position, std::span<const double> values) {
    std::size_t at = 0;
    while (at < values.size()) {
        const std::uint64_t bucket = bucketOf(position + at);
        // At least one sample, should rounding put the next bucket's first
        // sample at this one.
        const std::size_t end = static_cast<std::size_t>(std::clamp<std::uint64_t>(
            firstPositionOf(bucket + 1) - position, at + 1, values.size()));
        const auto [low, high] = std::minmax_element(values.begin() + static_cast<long>(at),
                                                     values.begin() + static_cast<long>(end));
        if (bucket + capacity_ >= end_) {
            merge(slot(bucket) + channel * 2, static_cast<float>(*low), static_cast<float>(*high));
        }
        at = end;
    }
}

void Envelope::addConstant(std::size_t channel, std::uint64_t position, std::uint64_t count,
                           float value) {
    const std::uint64_t last = bucketOf(position + count - 1);
    const std::uint64_t oldest = end_ > capacity_ ? end_ - capacity_ : 0;
    for (std::uint64_t bucket = std::max(bucketOf(position), oldest); bucket <= last; ++bucket) {
        merge(slot(bucket) + channel * 2, value, value);
    }
}

std::uint64_t Envelope::completeBuckets() const {
    return bucketOf(position_);
}

void Envelope::columns(std::uint64_t first, std::size_t columns, std::uint64_t per,
                       std::vector<float>& out) const {
    const std::uint64_t oldest = end_ > capacity_ ? end_ - capacity_ : 0;
    const std::size_t start = out.size();
    out.resize(start + columns * channels_ * 2, kNone);
    float* column = out.data() + start;
    for (std::size_t k = 0; k < columns; ++k, column += channels_ * 2) {
        const std::uint64_t from = std::max((first + k) * per, oldest);
        const std::uint64_t to = std::min((first + k + 1) * per, end_);
        for (std::uint64_t bucket = from; bucket < to; ++bucket) {
            const float* pairs = slot(bucket);
            for (std::size_t c = 0; c < channels_; ++c) {
                merge(column + c * 2, pairs[c * 2], pairs[c * 2 + 1]);
            }
        }
    }
}

}  // namespace ni_usb_daq::host::view
