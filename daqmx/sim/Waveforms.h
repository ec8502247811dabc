#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "daqmx/NIDAQmx.h"

// The signals the simulated devices acquire and the converter they go
// through. Every value is an exact function of the device, the channel, the
// task's rate and range and the sample index, so a test can compute, bit for
// bit, what a read delivers.
namespace daqmx_sim {

enum class SignalKind { Sine, Square, Triangle, Sawtooth, Noise, Constant };

/// What a channel's input carries, in volts: offset + amplitude * shape(t),
/// t = sample index / rate, plus Gaussian-like noise of `noiseRms`. A noise
/// signal is the noise alone with `amplitude` as its RMS; a constant one is
/// `offset` alone.
struct SignalShape {
    SignalKind kind = SignalKind::Sine;
    double amplitude = 1.0;
    double offset = 0.0;
    double frequencyHz = 10.0;
    double phaseDeg = 0.0;
    double noiseRms = 0.0;
};

/// The signal of a channel the rig does not describe: a sine of its own
/// frequency ((k + 1) * 5 Hz), amplitude (0.5 V steps, repeating every eight
/// channels) and phase, with 1 mV RMS of noise.
SignalShape defaultSignal(std::uint32_t channelIndex);

/// The converter of one channel for one range: `bits` of resolution over
/// [low, high] and the channel's calibration for that range.
struct ConverterSetup {
    double low = -10.0;
    double high = 10.0;
    unsigned bits = 16;
};

/// One channel's samples as a read delivers them.
class SampleSource {
public:
    /// `deviceName` and `channelIndex` seed the noise and the calibration;
    /// `rate` (samples per second) turns indices into time. Without
    /// `realistic` the channel carries the identifying sawtooth instead of its
    /// signal; without `convert` values skip clipping, quantization and
    /// calibration.
    /// `startSeconds` is the moment of sample 0 for signals that are functions of time.
    SampleSource(std::string_view deviceName, std::uint32_t channelIndex, const SignalShape& signal,
                 double rate, const ConverterSetup& converter, bool realistic, bool convert,
                 double startSeconds = 0.0);

    /// The value of sample n (counted from 0 at the task's start).
    double at(std::uint64_t sampleIndex) const;

    /// Writes samples first .. first + count - 1 to out[0], out[stride], ...
    /// (the same values at() gives, computed by the same code).
    void fill(std::uint64_t first, std::uint64_t count, double* out, std::size_t stride) const {
        fill_(params_, first, count, out, stride);
    }

    /// Periodic signals are computed in aligned blocks of this many samples:
    /// a block's phase comes exactly from its index, its samples from that
    /// and their position in it, so where a read starts changes no value.
    static constexpr std::size_t kBlock = 64;

    /// Everything a sample is computed from.
    struct Params {
        std::uint32_t channelIndex = 0;
        double amplitude = 0.0;
        double offset = 0.0;
        std::uint64_t phaseStep = 0;    // cycles per sample, in 2^-64 of a cycle
        std::uint64_t phaseOrigin = 0;  // cycles at sample 0, in 2^-64 of a cycle
        double noiseStep = 0.0;         // volts per unit of the summed noise bits
        double noiseBase = 0.0;         // the offset, less the mean of the noise
        std::uint64_t noiseSeed = 0;
        double low = 0.0;
        double codesPerVolt = 0.0;
        double maxCode = 0.0;
        double scaledCodeWidth = 0.0;  // code width times the calibration gain
        double scaledLow = 0.0;        // low limit through the calibration
        // By position in a block: the phase gained since the block's start
        // (in cycles, [0, 1)) and its sine and cosine.
        std::array<double, kBlock> advance{};
        std::array<double, kBlock> advanceSine{};
        std::array<double, kBlock> advanceCosine{};
    };
    using FillFunction = void (*)(const Params&, std::uint64_t, std::uint64_t, double*,
                                  std::size_t);

private:
    Params params_;
    // One loop per kind of signal, with and without noise, for each way
    // through the converter, so that no per-sample work decides what to
    // compute.
    FillFunction fill_;
};

/// The identifying sawtooth: analogue input k (its position in the device's
/// channel list) at sample n is 0.001 * (k + 1) + 0.000001 * (n mod 1000)
/// volts: the millivolt part names the channel, the microvolt part the sample.
double identifyingSample(std::uint32_t channelIndex, std::uint64_t sampleIndex);

/// Digital line i (its position in the device's line list) at sample n: bit i
/// of the counter n + 1, so the lines of one port count up the reads in binary.
uInt8 digitalSample(std::uint32_t lineIndex, std::uint64_t sampleIndex);

}  // namespace daqmx_sim
