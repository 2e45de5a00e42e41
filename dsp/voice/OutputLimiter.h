// Output safety limiter: instant-attack peak envelope, smoothed gain toward ceiling*0.995, then a
// hard clip at the ceiling (-0.3 dBFS) that only catches the attack before the gain has moved.
#pragma once

namespace brindlecot::dsp {

struct OutputLimiter
{
    float sampleRate = 1.0f;
    float ceilingDb = -0.3f;
    float attackTime = 0.0008f; // s
    float releaseTime = 0.15f; // s
    float ceiling = 1.0f; // linear; 10^(-0.3/20) after reset
    float threshold = 1.0f; // ceiling * 0.995
    float attackCoef = 1.0f;
    float releaseCoef = 1.0f;
    float gain = 1.0f; // smoothed gain factor, at most 1
    float envelope = 0.0f; // peak envelope of the limiter input

    /// Derives the coefficients for a sample rate and clears the running state.
    void prepare(double hostSampleRate);
    /// Clears gain and envelope, keeping the coefficients.
    void reset()
    {
        gain = 1.0f;
        envelope = 0.0f;
    }

    /// Limits `lanes` samples in place (1 or 2). Output is finite and inside [-ceiling, ceiling].
    void process(float* lane, int lanes);
};

} // namespace brindlecot::dsp
