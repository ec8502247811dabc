#include "Waveforms.h"

#include <algorithm>
#include <array>
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
// its Taylor series to the 11th power (error below 1e-7 of the amplitude,
// less than a code of a 20-bit converter), several times cheaper than std::sin.
[[gnu::always_inline]] inline double sineOfCycles(double p) {
    double x = p >= 0.5 ? p - 1.0 : p;  // [-0.5, 0.5)
    x = std::fabs(x) > 0.25 ? std::copysign(0.5, x) - x : x;
    const double y = 2.0 * 3.14159265358979323846 * x;  // [-pi/2, pi/2]
    const double y2 = y * y;
    double series = 1.0 / 39916800.0;
    series = series * y2 - 1.0 / 362880.0;
    series = series * y2 + 1.0 / 5040.0;
    series = series * y2 - 1.0 / 120.0;
    series = series * y2 + 1.0 / 6.0;
    return y - y * y2 * series;
}

// The fractional part of a value in [0, 2^62).
[[gnu::always_inline]] inline double fraction(double t) {
    return t - static_cast<double>(static_cast<std::int64_t>(t));
}

// Sample indices enter the phase modulo 2^52, where a double still counts
// them exactly (143 years at a million samples per second); this keeps the
// phase below 2^53.
constexpr std::uint64_t kPhaseIndexMask = (std::uint64_t{1} << 52) - 1;

// One round of multiply-xorshift over a Weyl sequence: enough mixing for
// noise, at one multiplication per sample.
[[gnu::always_inline]] inline std::uint64_t noiseBits(std::uint64_t seed, std::uint64_t n) {
    std::uint64_t h = seed ^ (n * kGolden);
    h = (h ^ (h >> 32)) * 0xD6E8FEB86659FD93ULL;
    return h ^ (h >> 32);
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

namespace {

// What the loop computes: the signal kinds, with noise and constant merged
// (both are the offset plus noise), and the identifying sawtooth.
enum class Shape { Sine, Square, Triangle, Sawtooth, Flat, Identifying };
constexpr int kShapes = 6;

template <Shape S, bool Noisy, bool Convert>
void fillSamples(const SampleSource::Params& p, std::uint64_t first, std::uint64_t count,
                 double* out, std::size_t stride) {
    for (std::uint64_t s = 0; s < count; ++s) {
        const std::uint64_t n = first + s;
        double volts = 0.0;
        if constexpr (S == Shape::Identifying) {
            volts = identifyingSample(p.channelIndex, n);
        } else {
            if constexpr (Noisy) {
                // Four 16-bit uniforms summed: close to Gaussian; noiseBase
                // takes their mean away, noiseStep scales them to the RMS.
                const std::uint64_t h = noiseBits(p.noiseSeed, n);
                const std::uint64_t pairs =
                    (h & 0x0000FFFF0000FFFFULL) + ((h >> 16) & 0x0000FFFF0000FFFFULL);
                // Signed conversions: x86-64 has no single unsigned one.
                const auto sum = static_cast<double>(
                    static_cast<std::int64_t>((pairs & 0xFFFFFFFFULL) + (pairs >> 32)));
                volts = p.noiseBase + sum * p.noiseStep;
            } else {
                volts = p.offset;
            }
            if constexpr (S != Shape::Flat) {
                const double phase =
                    fraction(static_cast<double>(static_cast<std::int64_t>(n & kPhaseIndexMask)) *
                                 p.cyclesPerSample +
                             p.phaseCycles);
                if constexpr (S == Shape::Sine) {
                    volts += p.amplitude * sineOfCycles(phase);
                } else if constexpr (S == Shape::Square) {
                    volts += phase < 0.5 ? p.amplitude : -p.amplitude;
                } else if constexpr (S == Shape::Triangle) {
                    volts += p.amplitude * (1.0 - 4.0 * std::fabs(phase - 0.5));
                } else {
                    volts += p.amplitude * (2.0 * phase - 1.0);
                }
            }
        }
        if constexpr (Convert) {
            // Clip to the range, quantize to a code, scale back through the calibration.
            const double position =
                std::min(std::max((volts - p.low) * p.codesPerVolt + 0.5, 0.0), p.maxCode);
            const auto code = static_cast<double>(static_cast<std::int64_t>(position));
            volts = code * p.scaledCodeWidth + p.scaledLow;
        }
        out[s * stride] = volts;
    }
}

template <Shape S>
constexpr std::array<SampleSource::FillFunction, 4> loopsOf() {
    return {fillSamples<S, false, false>, fillSamples<S, false, true>, fillSamples<S, true, false>,
            fillSamples<S, true, true>};
}

constexpr std::array<std::array<SampleSource::FillFunction, 4>, kShapes> kLoops{
    loopsOf<Shape::Sine>(),     loopsOf<Shape::Square>(), loopsOf<Shape::Triangle>(),
    loopsOf<Shape::Sawtooth>(), loopsOf<Shape::Flat>(),   loopsOf<Shape::Identifying>()};

Shape shapeOf(SignalKind kind) {
    switch (kind) {
        case SignalKind::Sine:
            return Shape::Sine;
        case SignalKind::Square:
            return Shape::Square;
        case SignalKind::Triangle:
            return Shape::Triangle;
        case SignalKind::Sawtooth:
            return Shape::Sawtooth;
        case SignalKind::Noise:
        case SignalKind::Constant:
            break;
    }
    return Shape::Flat;
}

}  // namespace

SampleSource::SampleSource(std::string_view deviceName, std::uint32_t channelIndex,
                           const SignalShape& signal, double rate, const ConverterSetup& converter,
                           bool realistic, bool convert) {
    Params& p = params_;
    p.channelIndex = channelIndex;
    p.amplitude = signal.amplitude;
    p.offset = signal.offset;
    p.phaseCycles = std::fmod(std::fabs(signal.phaseDeg) / 360.0, 1.0);
    if (signal.phaseDeg < 0.0 && p.phaseCycles > 0.0) {
        p.phaseCycles = 1.0 - p.phaseCycles;
    }
    if (rate > 0.0 && std::isfinite(rate)) {
        // Only the fraction matters: n * whole cycles adds nothing to the phase.
        p.cyclesPerSample = std::fmod(std::fabs(signal.frequencyHz) / rate, 1.0);
    }
    p.noiseRms = signal.kind == SignalKind::Noise ? signal.amplitude : signal.noiseRms;
    // The sum of four uniform 16-bit values has mean 131070 and standard
    // deviation 65536 / sqrt(3).
    p.noiseStep = p.noiseRms * (1.7320508075688772 / 65536.0);
    p.noiseBase = p.offset - 131070.0 * p.noiseStep;
    p.noiseSeed = mix(nameHash(deviceName) ^ mix(channelIndex + 1));
    p.low = converter.low;
    const unsigned bits = std::clamp(converter.bits, 1U, 32U);
    const double codes = std::ldexp(1.0, static_cast<int>(bits));
    p.codeWidth = (converter.high - converter.low) / codes;
    p.codesPerVolt = 1.0 / p.codeWidth;
    p.maxCode = codes - 1.0;
    // Calibration of the device's converter on this range: a gain and an
    // offset that together move no reading by more than a quarter of a code.
    // The channels of a multiplexed device share one converter, so they share
    // its calibration too, and equal codes read as equal volts on all of them.
    const std::uint64_t rangeKey = mix(std::bit_cast<std::uint64_t>(converter.low) ^
                                       mix(std::bit_cast<std::uint64_t>(converter.high)));
    const std::uint64_t calibration = mix(nameHash(deviceName) ^ rangeKey);
    const double largest = std::max(std::fabs(converter.low), std::fabs(converter.high));
    const double gain = 1.0 + symmetricUnit(calibration) * 0.15 * p.codeWidth / largest;
    const double offset = symmetricUnit(mix(calibration + kGolden)) * 0.1 * p.codeWidth;
    // volts = (low + code * width) * gain + offset, folded into one multiply-add.
    p.scaledCodeWidth = p.codeWidth * gain;
    p.scaledLow = p.low * gain + offset;

    const Shape shape = realistic ? shapeOf(signal.kind) : Shape::Identifying;
    const bool noisy = realistic && p.noiseRms != 0.0;
    fill_ = kLoops[static_cast<std::size_t>(shape)][(noisy ? 2 : 0) + (convert ? 1 : 0)];
}

double SampleSource::at(std::uint64_t sampleIndex) const {
    double value = 0.0;
    fill_(params_, sampleIndex, 1, &value, 1);
    return value;
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
