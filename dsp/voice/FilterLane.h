// High-pass (12 dB/oct Butterworth) and low-pass (24 dB/oct Butterworth) filters of one signal
// lane. Corners glide toward their targets at block rate in the log-frequency domain; each filter
// is engaged and disengaged by a 10 ms crossfade with its own input, so neither switching nor
// moving a corner to the end of its range clicks.
#pragma once

#include "dsp/common/Biquad.h"

#include <cmath>

namespace brindlecot::dsp {

struct FilterLane
{
    static constexpr float kButterworthQ = 0.70710677f; // second-order Butterworth
    static constexpr float kFourthOrderQ1 = 0.5411961f; // fourth-order Butterworth, pole pair 1
    static constexpr float kFourthOrderQ2 = 1.306563f; // fourth-order Butterworth, pole pair 2

    float sampleRate = 48000.0f;
    float highPassEngageAbove = 20.0f; // Hz; the high-pass engages only above this corner
    float lowPassEngageBelow = 20000.0f; // Hz; the low-pass engages only below this corner
    float glideTime = 0.02f; // s, corner glide time constant
    float engageTime = 0.01f; // s, engage crossfade time constant
    Biquad highPass;
    Biquad lowPass1;
    Biquad lowPass2;
    bool coefficientsValid = false;
    float highPassCurrent = 20.0f; // Hz
    float lowPassCurrent = 20000.0f;
    float highPassTarget = 20.0f;
    float lowPassTarget = 20000.0f;
    float highPassMix = 0.0f; // engage crossfade position, 0..1
    float lowPassMix = 0.0f;
    float engageCoef = 1.0f;
    bool highPassOn = false;
    bool lowPassOn = false;

    /// Sets every field from the parameters (bypass not considered), snaps corners and crossfades
    /// to their targets, designs the coefficients and clears the states.
    void prepare(double hostSampleRate, bool hpOn, bool lpOn, double highPassHz, double lowPassHz);
    /// Block-rate controls: switches, targets (non-finite values keep the old target), the glide
    /// over nFrames samples and the coefficient update when a corner moved.
    void updateBlock(bool hpOn, bool lpOn, double highPassHz, double lowPassHz, int nFrames);
    /// Clears the biquad states only.
    void reset();

    /// One sample through the high-pass (after the input gain).
    float processHighPass(float x);
    /// One sample through the low-pass (after the phrase gate); a non-finite input reads 0.
    float processLowPass(float x);

    bool highPassEngaged() const { return highPassOn && highPassCurrent > highPassEngageAbove; }
    bool lowPassEngaged() const { return lowPassOn && lowPassEngageBelow > lowPassCurrent; }

    /// Analytic magnitude of the fully engaged filters at their current design, dB.
    double highPassResponseDb(double frequencyHz) const;
    double lowPassResponseDb(double frequencyHz) const;

    /// Bitwise equality of the complete lane record (the frame's dual-mono test).
    bool sameStateAs(const FilterLane& other) const;

private:
    /// Designs all three sections for the current corners, reached over rampSamples samples.
    void designCoefficients(int rampSamples);
};

inline float FilterLane::processHighPass(float x)
{
    const float engaged = highPassEngaged() ? 1.0f : 0.0f;
    highPassMix += (engaged - highPassMix) * engageCoef;
    const float y = highPass.process(x);
    const float out = x + (y - x) * highPassMix;
    if (std::isfinite(out))
        return out;
    // A state that overflowed would keep every later sample non-finite: start the section afresh.
    highPass.reset();
    return x;
}

inline float FilterLane::processLowPass(float x)
{
    if (!std::isfinite(x))
        x = 0.0f;
    const float engaged = lowPassEngaged() ? 1.0f : 0.0f;
    lowPassMix += (engaged - lowPassMix) * engageCoef;
    const float y = lowPass2.process(lowPass1.process(x));
    const float out = x + (y - x) * lowPassMix;
    if (std::isfinite(out))
        return out;
    lowPass1.reset();
    lowPass2.reset();
    return x;
}

} // namespace brindlecot::dsp
