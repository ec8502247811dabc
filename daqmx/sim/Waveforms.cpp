#include "Waveforms.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace daqmx_sim {

namespace {

// splitmix64's finaliser: a cheap, well-mixed hash of 64 bits.
constexpr std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ULL;

// FNV-1a over the lower-cased name: "dev1" and "Dev1" are one device.
std::uint64_t nameHash(std::string_view name) {
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (const char c : name) {
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        hash = (hash ^ static_cast<unsigned char>(lower)) * 0x100000001B3ULL;
    }
    return hash;
}

// A uniform value in [-1, 1) from the top 53 bits of a hash.
double symmetricUnit(std::uint64_t hash) {
    return static_cast<double>(hash >> 11) * 0x1.0p-52 - 1.0;
}

// sin(2 pi p) for p in [0, 1): folded onto a quarter wave and evaluated by
// its Taylor series to the 13th power (error below 1e-9), several times
// cheaper than std::sin.
double sineOfCycles(double p) {
    double x = p >= 0.5 ? p - 1.0 : p;  // [-0.5, 0.5)
    if (x > 0.25) {
        x = 0.5 - x;
    } else if (x < -0.25) {
        x = -0.5 - x;
    }
    const double y = 2.0 * 3.14159265358979323846 * x;  // [-pi/2, pi/2]
    const double y2 = y * y;
    double series = -1.0 / 6227020800.0;
    series = series * y2 + 1.0 / 39916800.0;
    series = series * y2 - 1.0 / 362880.0;
    series = series * y2 + 1.0 / 5040.0;
    series = series * y2 - 1.0 / 120.0;
    series = series * y2 + 1.0 / 6.0;
    return y - y * y2 * series;
}

// The fractional part of a non-negative value.
double fraction(double t) {
    if (t >= 0x1.0p62) {
        return std::fmod(t, 1.0);
    }
    return t - static_cast<double>(static_cast<std::int64_t>(t));
}

}  // namespace

SignalShape defaultSignal(std::uint32_t channelIndex) {
    SignalShape shape;
    shape.kind = SignalKind::Sine;
    shape.frequencyHz = 5.0 * (static_cast<double>(channelIndex) + 1.0);
    shape.amplitude = 0.5 * (static_cast<double>(channelIndex % 8) + 1.0);
    shape.phaseDeg = 30.0 * static_cast<double>(channelIndex % 12);
    shape.noiseRms = 0.001;
    return shape;
}

SampleSource::SampleSource(std::string_view deviceName, std::uint32_t channelIndex,
                           const SignalShape& signal, double rate, const ConverterSetup& converter,
                           bool realistic, bool convert)
    : kind_(signal.kind),
      realistic_(realistic),
      convert_(convert),
      channelIndex_(channelIndex),
      amplitude_(signal.amplitude),
      offset_(signal.offset),
      cyclesPerSample_(0.0),
      phaseCycles_(fraction(std::fabs(signal.phaseDeg) / 360.0)),
      noiseRms_(signal.kind == SignalKind::Noise ? signal.amplitude : signal.noiseRms),
      noiseSeed_(mix(nameHash(deviceName) ^ mix(channelIndex + 1))),
      low_(converter.low),
      codeWidth_(0.0),
      codesPerVolt_(0.0),
      maxCode_(0.0),
      gain_(1.0),
      calibrationOffset_(0.0) {
    if (signal.phaseDeg < 0.0 && phaseCycles_ > 0.0) {
        phaseCycles_ = 1.0 - phaseCycles_;
    }
    if (rate > 0.0 && std::isfinite(rate)) {
        // Only the fraction matters: n * whole cycles adds nothing to the phase.
        cyclesPerSample_ = fraction(std::fabs(signal.frequencyHz) / rate);
    }
    const unsigned bits = std::clamp(converter.bits, 1U, 32U);
    const double codes = std::ldexp(1.0, static_cast<int>(bits));
    codeWidth_ = (converter.high - converter.low) / codes;
    codesPerVolt_ = 1.0 / codeWidth_;
    maxCode_ = codes - 1.0;
    // Calibration of this channel on this range: a gain and an offset that
    // together move no reading by more than a quarter of a code.
    const std::uint64_t rangeKey = mix(std::bit_cast<std::uint64_t>(converter.low) ^
                                       mix(std::bit_cast<std::uint64_t>(converter.high)));
    const std::uint64_t calibration = mix(noiseSeed_ ^ rangeKey);
    const double largest = std::max(std::fabs(converter.low), std::fabs(converter.high));
    gain_ = 1.0 + symmetricUnit(calibration) * 0.15 * codeWidth_ / largest;
    calibrationOffset_ = symmetricUnit(mix(calibration + kGolden)) * 0.1 * codeWidth_;
}

double SampleSource::signalAt(std::uint64_t sampleIndex) const {
    if (!realistic_) {
        return identifyingSample(channelIndex_, sampleIndex);
    }
    double value = offset_;
    if (noiseRms_ != 0.0) {
        // Four 16-bit uniforms summed: close to Gaussian, unit variance.
        const std::uint64_t h = mix(noiseSeed_ + sampleIndex * kGolden);
        const auto sum = static_cast<double>((h & 0xFFFF) + ((h >> 16) & 0xFFFF) +
                                             ((h >> 32) & 0xFFFF) + (h >> 48));
        value += noiseRms_ * (sum - 131070.0) * (1.7320508075688772 / 65536.0);
    }
    const double p = fraction(static_cast<double>(sampleIndex) * cyclesPerSample_ + phaseCycles_);
    switch (kind_) {
        case SignalKind::Sine:
            return value + amplitude_ * sineOfCycles(p);
        case SignalKind::Square:
            return value + (p < 0.5 ? amplitude_ : -amplitude_);
        case SignalKind::Triangle:
            return value + amplitude_ * (1.0 - 4.0 * std::fabs(p - 0.5));
        case SignalKind::Sawtooth:
            return value + amplitude_ * (2.0 * p - 1.0);
        case SignalKind::Noise:
        case SignalKind::Constant:
            break;
    }
    return value;
}

double SampleSource::convert(double volts) const {
    // Clip to the range, quantize to a code, scale back through the calibration.
    const double position = std::clamp((volts - low_) * codesPerVolt_ + 0.5, 0.0, maxCode_);
    const auto code = static_cast<double>(static_cast<std::int64_t>(position));
    return (low_ + code * codeWidth_) * gain_ + calibrationOffset_;
}

double SampleSource::at(std::uint64_t sampleIndex) const {
    const double volts = signalAt(sampleIndex);
    return convert_ ? convert(volts) : volts;
}

void SampleSource::fill(std::uint64_t first, std::uint64_t count, double* out,
                        std::size_t stride) const {
    for (std::uint64_t s = 0; s < count; ++s) {
        out[s * stride] = at(first + s);
    }
}

double identifyingSample(std::uint32_t channelIndex, std::uint64_t sampleIndex) {
    return 0.001 * (static_cast<double>(channelIndex) + 1.0) +
           0.000001 * static_cast<double>(sampleIndex % 1000);
}

uInt8 digitalSample(std::uint32_t lineIndex, std::uint64_t sampleIndex) {
    if (lineIndex >= 64) {
        return 0;
    }
    return static_cast<uInt8>(((sampleIndex + 1) >> lineIndex) & 1U);
}

}  // namespace daqmx_sim
