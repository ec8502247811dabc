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

constexpr std::uint32_t kBlock = SampleSource::kBlock;
constexpr std::uint64_t kBlockMask = kBlock - 1;

// A fraction of a cycle held in 2^-64 of a cycle as a double in [0, 1): its
// top 53 bits, exactly.
double cyclesOf(std::uint64_t fixed) {
    return static_cast<double>(static_cast<std::int64_t>(fixed >> 11)) * 0x1.0p-53;
}

// A fraction of a cycle, [0, 1), in 2^-64 of a cycle.
std::uint64_t fixedCycles(double cycles) {
    return cycles > 0.0 && cycles < 1.0 ? static_cast<std::uint64_t>(std::ldexp(cycles, 64)) : 0;
}

// The nested forms of the series, sin r = r (1 - r^2/(2*3) (1 - r^2/(4*5)
// (1 - ...))) and cos r = 1 - r^2/(1*2) (1 - r^2/(3*4) (1 - ...)), by their
// factors 1/(k (k + 1)): eight of them leave only the rounding of doubles for
// |r| <= pi/4.
constexpr int kSeriesTerms = 8;

template <int First>
constexpr std::array<double, kSeriesTerms> seriesFactors() {
    std::array<double, kSeriesTerms> factors{};
    for (int t = 0; t < kSeriesTerms; ++t) {
        const double k = First + 2 * t;
        factors[static_cast<std::size_t>(t)] = 1.0 / (k * (k + 1.0));
    }
    return factors;
}

double nestedSeries(double r2, const std::array<double, kSeriesTerms>& factors) {
    double value = 1.0;
    for (auto factor = factors.rbegin(); factor != factors.rend(); ++factor) {
        value = 1.0 - r2 * *factor * value;
    }
    return value;
}

struct SineCosine {
    double sine = 0.0;
    double cosine = 1.0;
};

// sin and cos of 2 pi p, for p of a few cycles at most: p less its nearest
// quarter cycle (exact) leaves an angle of at most pi/4 for the series, and
// the quarter says how sine and cosine swap and change sign. This runs once
// per block and per table, not per sample, so accuracy costs little.
SineCosine sineCosineOfCycles(double p) {
    static constexpr auto kSineFactors = seriesFactors<2>();
    static constexpr auto kCosineFactors = seriesFactors<1>();
    const double quarters = std::floor(p * 4.0 + 0.5);
    const double r = 2.0 * 3.14159265358979323846 * (p - quarters * 0.25);
    const double r2 = r * r;
    const double s = r * nestedSeries(r2, kSineFactors);
    const double c = nestedSeries(r2, kCosineFactors);
    switch (static_cast<std::int64_t>(quarters) & 3) {
        case 1:
            return {c, -s};
        case 2:
            return {-s, -c};
        case 3:
            return {-c, s};
        default:
            return {s, c};
    }
}

// Four 16-bit uniforms summed: close to Gaussian, mean 131070. The bits are
// one round of multiply-xorshift over a Weyl sequence: enough mixing for
// noise, at one 64-bit multiplication per sample.
double noiseSum(std::uint64_t seed, std::uint64_t sampleIndex) {
    std::uint64_t h = seed ^ (sampleIndex * kGolden);
    h = (h ^ (h >> 32)) * 0xD6E8FEB86659FD93ULL;
    h ^= h >> 32;
    const std::uint64_t pairs = (h & 0x0000FFFF0000FFFFULL) + ((h >> 16) & 0x0000FFFF0000FFFFULL);
    // Signed: x86-64 has no single unsigned conversion.
    return static_cast<double>(static_cast<std::int64_t>((pairs & 0xFFFFFFFFULL) + (pairs >> 32)));
}

// identifyingSample, in a form the loops inline (a shared library's exported
// functions may be replaced at load time, so calls to them stay calls).
[[gnu::always_inline]] inline double identifyingVolts(std::uint32_t channelIndex,
                                                      std::uint64_t sampleIndex) {
    return 0.001 * (static_cast<double>(channelIndex) + 1.0) +
           0.000001 * static_cast<double>(sampleIndex % 1000);
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

// Whether and how samples go through the converter: codes below 2^31 are
// whole numbers through a 32-bit integer, the conversion every target has in
// vector form; a 32-bit converter's codes need 64 bits.
enum class Conversion { None, Narrow, Wide };

// The converter: clip to the range, quantize to a code, scale back through
// the calibration. A NaN reads as the bottom of the range.
template <Conversion C>
struct Converter {
    double low, codesPerVolt, maxCode, scaledCodeWidth, scaledLow;

    explicit Converter(const SampleSource::Params& p)
        : low(p.low),
          codesPerVolt(p.codesPerVolt),
          maxCode(p.maxCode),
          scaledCodeWidth(p.scaledCodeWidth),
          scaledLow(p.scaledLow) {}

    [[gnu::always_inline]] double operator()(double volts) const {
        if constexpr (C == Conversion::None) {
            return volts;
        } else {
            double position = (volts - low) * codesPerVolt + 0.5;
            position = position > 0.0 ? position : 0.0;
            position = position < maxCode ? position : maxCode;
            const double code = C == Conversion::Narrow
                                    ? static_cast<double>(static_cast<std::int32_t>(position))
                                    : static_cast<double>(static_cast<std::int64_t>(position));
            return code * scaledCodeWidth + scaledLow;
        }
    }
};

// What the samples of one block share, from the block's index alone.
struct BlockStart {
    double phase = 0.0;     // cycles, [0, 1)
    SineCosine sineCosine;  // of the phase
};

template <Shape S>
BlockStart blockStart(const SampleSource::Params& p, std::uint64_t block) {
    BlockStart start;
    if constexpr (S != Shape::Flat) {
        // The phase in 64-bit fixed point wraps exactly at whole cycles, so it
        // is exact for any index.
        start.phase = cyclesOf(block * kBlock * p.phaseStep + p.phaseOrigin);
        if constexpr (S == Shape::Sine) {
            start.sineCosine = sineCosineOfCycles(start.phase);
        }
    }
    return start;
}

// Positions from .. to - 1 of one block, samples first .. first + to - from - 1,
// into out[0 .. to - from): every value from the block's start, the
// position's table entries and the sample's noise. The noise comes first, in
// a loop of its own; the loop that makes volts is straight vector code, with
// the parameters copied into locals so that no store can be taken to change
// them.
template <Shape S, bool Noisy, Conversion C>
void computeBlock(const SampleSource::Params& p, const BlockStart& start, std::uint64_t first,
                  std::uint32_t from, std::uint32_t to, double* out) {
    const std::uint32_t count = to - from;
    // Scalar code: SSE2 has no 64-bit product or conversion to piece this
    // together from at less cost.
    std::array<double, kBlock> noise;
    if constexpr (Noisy) {
        for (std::uint32_t i = 0; i < count; ++i) {
            noise[i] = noiseSum(p.noiseSeed, first + i);
        }
    }
    const double amplitude = p.amplitude;
    const double offset = p.offset;
    const double noiseBase = p.noiseBase;
    const double noiseStep = p.noiseStep;
    const BlockStart block = start;
    const Converter<C> convert(p);
    const double* const advance = p.advance.data() + from;
    const double* const advanceSine = p.advanceSine.data() + from;
    const double* const advanceCosine = p.advanceCosine.data() + from;
    for (std::uint32_t i = 0; i < count; ++i) {
        double volts = offset;
        if constexpr (Noisy) {
            // noiseBase takes the noise's mean away, noiseStep scales it to the RMS.
            volts = noiseBase + noise[i] * noiseStep;
        }
        if constexpr (S == Shape::Sine) {
            // sin(a + b) = sin a cos b + cos a sin b
            volts += amplitude * (block.sineCosine.sine * advanceCosine[i] +
                                  block.sineCosine.cosine * advanceSine[i]);
        } else if constexpr (S != Shape::Flat) {
            // Both parts are below 1: one whole cycle at most to take away.
            const double cycles = block.phase + advance[i];
            const double phase = cycles - static_cast<double>(static_cast<std::int32_t>(cycles));
            if constexpr (S == Shape::Square) {
                volts += phase < 0.5 ? amplitude : -amplitude;
            } else if constexpr (S == Shape::Triangle) {
                volts += amplitude * (1.0 - 4.0 * std::fabs(phase - 0.5));
            } else {
                volts += amplitude * (2.0 * phase - 1.0);
            }
        }
        out[i] = convert(volts);
    }
}

template <Shape S, bool Noisy, Conversion C>
void fillSamples(const SampleSource::Params& p, std::uint64_t first, std::uint64_t count,
                 double* out, std::size_t stride) {
    std::array<double, kBlock> spread{};
    while (count > 0) {
        const std::uint64_t block = first / kBlock;
        const auto from = static_cast<std::uint32_t>(first & kBlockMask);
        const auto to = static_cast<std::uint32_t>(std::min<std::uint64_t>(kBlock, from + count));
        double* const target = stride == 1 ? out : spread.data();
        computeBlock<S, Noisy, C>(p, blockStart<S>(p, block), first, from, to, target);
        const std::uint32_t done = to - from;
        if (stride != 1) {
            for (std::uint32_t i = 0; i < done; ++i) {
                out[i * stride] = spread[i];
            }
        }
        first += done;
        count -= done;
        out += done * stride;
    }
}

// The identifying sawtooth, optionally through the converter.
template <Conversion C>
void fillIdentifying(const SampleSource::Params& p, std::uint64_t first, std::uint64_t count,
                     double* out, std::size_t stride) {
    const Converter<C> convert(p);
    for (std::uint64_t s = 0; s < count; ++s) {
        out[s * stride] = convert(identifyingVolts(p.channelIndex, first + s));
    }
}

using Loops = std::array<SampleSource::FillFunction, 3>;  // by Conversion

template <Shape S, bool Noisy>
constexpr Loops loopsOf() {
    if constexpr (S == Shape::Identifying) {
        return {fillIdentifying<Conversion::None>, fillIdentifying<Conversion::Narrow>,
                fillIdentifying<Conversion::Wide>};
    } else {
        return {fillSamples<S, Noisy, Conversion::None>, fillSamples<S, Noisy, Conversion::Narrow>,
                fillSamples<S, Noisy, Conversion::Wide>};
    }
}

// By shape, then quiet or noisy.
constexpr std::array<std::array<Loops, 2>, kShapes> kLoops{{
    {loopsOf<Shape::Sine, false>(), loopsOf<Shape::Sine, true>()},
    {loopsOf<Shape::Square, false>(), loopsOf<Shape::Square, true>()},
    {loopsOf<Shape::Triangle, false>(), loopsOf<Shape::Triangle, true>()},
    {loopsOf<Shape::Sawtooth, false>(), loopsOf<Shape::Sawtooth, true>()},
    {loopsOf<Shape::Flat, false>(), loopsOf<Shape::Flat, true>()},
    {loopsOf<Shape::Identifying, false>(), loopsOf<Shape::Identifying, false>()},
}};

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

// The phase each position of a block gains over the block's start, exactly.
void tabulateAdvance(SampleSource::Params& p) {
    for (std::uint32_t k = 0; k < kBlock; ++k) {
        p.advance[k] = cyclesOf(k * p.phaseStep);
    }
}

// The sine and cosine of that advance, stepped round the circle by one
// sample's turn: a rotation per entry is far cheaper than the series, and
// the steps of one block are too few for their rounding to add up to more
// than a few parts in 1e14.
void tabulateAdvanceRotation(SampleSource::Params& p) {
    const SineCosine turn = sineCosineOfCycles(cyclesOf(p.phaseStep));
    SineCosine at;  // of position 0: no advance
    for (std::uint32_t k = 0; k < kBlock; ++k) {
        p.advanceSine[k] = at.sine;
        p.advanceCosine[k] = at.cosine;
        at = {at.sine * turn.cosine + at.cosine * turn.sine,
              at.cosine * turn.cosine - at.sine * turn.sine};
    }
}

}  // namespace

SampleSource::SampleSource(std::string_view deviceName, std::uint32_t channelIndex,
                           const SignalShape& signal, double rate, const ConverterSetup& converter,
                           bool realistic, bool convert, double startSeconds) {
    Params& p = params_;
    p.channelIndex = channelIndex;
    p.amplitude = signal.amplitude;
    p.offset = signal.offset;
    double phaseCycles = std::fmod(std::fabs(signal.phaseDeg) / 360.0, 1.0);
    if (signal.phaseDeg < 0.0 && phaseCycles > 0.0) {
        phaseCycles = 1.0 - phaseCycles;
    }
    if (startSeconds != 0.0) {
        const double elapsed = std::fmod(std::fabs(signal.frequencyHz) * startSeconds, 1.0);
        phaseCycles = std::fmod(phaseCycles + (elapsed < 0.0 ? elapsed + 1.0 : elapsed), 1.0);
    }
    p.phaseOrigin = fixedCycles(phaseCycles);
    if (rate > 0.0 && std::isfinite(rate)) {
        // Only the fraction matters: n * whole cycles adds nothing to the phase.
        p.phaseStep = fixedCycles(std::fmod(std::fabs(signal.frequencyHz) / rate, 1.0));
    }
    const double noiseRms = signal.kind == SignalKind::Noise ? signal.amplitude : signal.noiseRms;
    // The sum of four uniform 16-bit values has mean 131070 and standard
    // deviation 65536 / sqrt(3).
    p.noiseStep = noiseRms * (1.7320508075688772 / 65536.0);
    p.noiseBase = p.offset - 131070.0 * p.noiseStep;
    p.noiseSeed = mix(nameHash(deviceName) ^ mix(channelIndex + 1));
    p.low = converter.low;
    const unsigned bits = std::clamp(converter.bits, 1U, 32U);
    const double codes = std::ldexp(1.0, static_cast<int>(bits));
    const double codeWidth = (converter.high - converter.low) / codes;
    p.codesPerVolt = 1.0 / codeWidth;
    p.maxCode = codes - 1.0;
    // Calibration of the device's converter on this range: a gain and an
    // offset that together move no reading by more than a quarter of a code.
    // The channels of a multiplexed device share one converter, so they share
    // its calibration too, and equal codes read as equal volts on all of them.
    const std::uint64_t rangeKey = mix(std::bit_cast<std::uint64_t>(converter.low) ^
                                       mix(std::bit_cast<std::uint64_t>(converter.high)));
    const std::uint64_t calibration = mix(nameHash(deviceName) ^ rangeKey);
    const double largest = std::max(std::fabs(converter.low), std::fabs(converter.high));
    const double gain = 1.0 + symmetricUnit(calibration) * 0.15 * codeWidth / largest;
    const double offset = symmetricUnit(mix(calibration + kGolden)) * 0.1 * codeWidth;
    // volts = (low + code * width) * gain + offset, folded into one multiply-add.
    p.scaledCodeWidth = codeWidth * gain;
    p.scaledLow = p.low * gain + offset;

    const Shape shape = realistic ? shapeOf(signal.kind) : Shape::Identifying;
    const bool noisy = realistic && noiseRms != 0.0;
    if (shape == Shape::Sine) {
        tabulateAdvanceRotation(p);
    } else if (shape != Shape::Flat && shape != Shape::Identifying) {
        tabulateAdvance(p);
    }
    const Conversion conversion =
        !convert ? Conversion::None : (bits < 32 ? Conversion::Narrow : Conversion::Wide);
    fill_ = kLoops[static_cast<std::size_t>(shape)][noisy ? 1 : 0]
                  [static_cast<std::size_t>(conversion)];
}

double SampleSource::at(std::uint64_t sampleIndex) const {
    double value = 0.0;
    fill_(params_, sampleIndex, 1, &value, 1);
    return value;
}

double identifyingSample(std::uint32_t channelIndex, std::uint64_t sampleIndex) {
    return identifyingVolts(channelIndex, sampleIndex);
}

uInt8 digitalSample(std::uint32_t lineIndex, std::uint64_t sampleIndex) {
    if (lineIndex >= 64) {
        return 0;
    }
    return static_cast<uInt8>(((sampleIndex + 1) >> lineIndex) & 1U);
}

}  // namespace daqmx_sim
