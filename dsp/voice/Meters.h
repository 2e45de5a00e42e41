// Metering helpers of the voice chain: the reduction powers that measure how far the bleed stages
// and the phrase gate pull the level down, and the normalisations of the published meter words.
#pragma once

#include <cmath>

namespace brindlecot::dsp {

/// Smoothed powers before (mono mix after the high-pass) and after the bleed stages (mean of the
/// gated lanes), 100 ms one-pole each.
struct ReductionMeter
{
    float inputPower = 0.0f;
    float outputPower = 0.0f;
    float coef = 1.0f;

    /// Coefficient 1 - exp(-1/(fs * 0.1)) for a positive sample rate, else 1; powers cleared.
    void prepare(double sampleRate);
    void reset()
    {
        inputPower = 0.0f;
        outputPower = 0.0f;
    }
    void process(float before, float after)
    {
        inputPower += (before * before - inputPower) * coef;
        outputPower += (after * after - outputPower) * coef;
        // An overflowed power would stay NaN for good; restart it instead.
        if (!std::isfinite(inputPower))
            inputPower = 0.0f;
        if (!std::isfinite(outputPower))
            outputPower = 0.0f;
    }
    /// 10 log10(output/input) when both powers exceed 1e-9, else 0; clamped to [-24, 0].
    float reductionDb() const;
};

/// Bleed reduction in dB (<= 0) to the meter's 0..1 (24 dB full scale).
float bleedMeterValue(float reductionDb);
/// Deepest notch depth in dB to 0..1 (18 dB full scale).
float feedbackMeterValue(float notchDepthDb);
/// Applied ride in dB to 0..1 with 0.5 for no ride (+-12 dB full scale).
float rideMeterValue(float appliedDb);

} // namespace brindlecot::dsp
