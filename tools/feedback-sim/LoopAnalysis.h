// What a room allows, worked out from its open-loop response rather than by running the loop: the
// stable-gain limit and the bound that ideal notches at the strongest peaks could reach.
#pragma once

#include "feedback-sim/BenchDsp.h"

#include <complex>
#include <functional>
#include <vector>

namespace brindlecot::sim {

/// Open-loop response L(f) at 0 dB loop gain on a fine grid: room impulse response, the
/// processing chain's impulse response at unity gain and the loop's delay in samples (the host
/// block), zero-padded to at least `oversample` times their length.
struct OpenLoopResponse
{
    double sampleRate = 48000.0;
    double binHz = 1.0;
    std::vector<std::complex<double>> bins; // 0 .. N/2

    /// L times the response of extra sections (e.g. notches) in the loop.
    OpenLoopResponse withSections(const std::vector<Sos>& sections) const;
};

OpenLoopResponse openLoopResponse(const std::vector<float>& room, const std::vector<double>& chainImpulse,
    int loopDelaySamples, double sampleRate, int oversample = 16);

/// -20 log10 max |L| over [loHz, hiHz]: the loop gain below which the loop is stable whatever the
/// phase (small-gain theorem), dB.
double magnitudeLimitDb(const OpenLoopResponse& r, double loHz, double hiHz);

/// The loop gain at which this loop becomes unstable (Nyquist): the loop first reaches +1 where
/// L(f) crosses the positive real axis, so the limit is -20 log10 of the largest such crossing,
/// interpolated linearly between grid points; dB. Returns the crossing frequency in *atHz.
double nyquistLimitDb(const OpenLoopResponse& r, double loHz, double hiHz, double* atHz = nullptr);

/// The ideal-notch bound: notch the frequency that limits the loop, recompute, repeat `notches`
/// times. Each notch is an RBJ notch of infinite depth and fixed bandwidth in octaves.
struct NotchBound
{
    double limitDb = 0.0; // without notches
    double boundDb = 0.0; // with the notches
    std::vector<double> notchHz;
    std::vector<Sos> sections;
    double addedDb() const { return boundDb - limitDb; }
};

/// phaseAware: limits by the Nyquist crossing (this loop as simulated); otherwise by |L| (any phase).
NotchBound notchBound(const OpenLoopResponse& r, double loHz, double hiHz, int notches,
    double bandwidthOctaves, bool phaseAware);
/// The same with notches of any shape: designNotch(frequencyHz) gives the section.
NotchBound notchBound(const OpenLoopResponse& r, double loHz, double hiHz, int notches,
    const std::function<Sos(double)>& designNotch, bool phaseAware);

} // namespace brindlecot::sim
