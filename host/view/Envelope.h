#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ni_usb_daq::host::view {

/// The minimum and maximum of every channel over short, fixed stretches of
/// time (buckets of about a millisecond, or one sample at slower rates),
/// for the last stretch of a run. A page's pixel column is a whole number
/// of buckets, so the envelope it draws covers every sample, however fast
/// the channel: a 250 kS/s sine shows its full swing, not an alias.
class Envelope {
public:
    /// `keepSeconds` of buckets for `analogChannels` channels and then
    /// `digitalLines` lines, sampled at `sampleRateHz` (0 when there is no
    /// sample clock: a bucket per sample then, at a nominal millisecond each).
    Envelope(std::size_t analogChannels, std::size_t digitalLines, double sampleRateHz,
             double keepSeconds);

    std::size_t channels() const { return channels_; }
    double bucketSeconds() const { return bucketSeconds_; }

    /// Adds `count` samples per channel starting at sample `position` (the
    /// run's sample index, outages counted); `analog` holds them channel
    /// after channel, and each of `digital` holds its value for all of them
    /// (a digital line is sampled once per frame). Positions must not go
    /// back; a jump leaves buckets without samples.
    void add(std::uint64_t position, std::uint64_t count, std::span<const double> analog,
             std::span<const std::uint8_t> digital);

    /// Buckets that no later sample can change.
    std::uint64_t completeBuckets() const;

    /// Minimum and maximum of each channel over buckets [first x per,
    /// (first + columns) x per), per column and channel, appended to `out`
    /// as float pairs; NaN pairs where no sample is held.
    void columns(std::uint64_t first, std::size_t columns, std::uint64_t per,
                 std::vector<float>& out) const;

    /// The last value of each channel (NaN before the first sample).
    std::span<const float> lastValues() const { return last_; }

private:
    std::uint64_t bucketOf(std::uint64_t position) const;
    /// The first sample position in bucket `bucket`.
    std::uint64_t firstPositionOf(std::uint64_t bucket) const;
    /// Makes `bucket` the newest, emptying the slots it passes.
    void advanceTo(std::uint64_t bucket);
    float* slot(std::uint64_t bucket);
    const float* slot(std::uint64_t bucket) const;
    void addRun(std::size_t channel, std::uint64_t position, std::span<const double> values);
    void addConstant(std::size_t channel, std::uint64_t position, std::uint64_t count, float value);

    std::size_t analog_;
    std::size_t channels_;     ///< analog channels, then digital lines
    double samplesPerBucket_;  ///< 1 or more
    double bucketSeconds_;
    std::size_t capacity_;      ///< buckets held
    std::vector<float> slots_;  ///< capacity_ x channels_ x {min, max}
    std::vector<float> last_;
    std::uint64_t end_ = 0;       ///< one past the newest bucket
    std::uint64_t position_ = 0;  ///< one past the newest sample
};

}  // namespace ni_usb_daq::host::view
