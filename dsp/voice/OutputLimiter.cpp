#include "dsp/voice/OutputLimiter.h"

#include <algorithm>
#include <cmath>

namespace brindlecot::dsp {

void OutputLimiter::prepare(double hostSampleRate)
{
    sampleRate = std::max(1.0f, static_cast<float>(hostSampleRate));
    if (!std::isfinite(sampleRate))
        sampleRate = 1.0f;
    ceilingDb = -0.3f;
    attackTime = 0.0008f;
    releaseTime = 0.15f;
    ceiling = std::pow(10.0f, ceilingDb / 20.0f);
    threshold = ceiling * 0.995f;
    attackCoef = 1.0f - std::exp(-1.0f / std::max(1.0f, sampleRate * attackTime));
    releaseCoef = 1.0f - std::exp(-1.0f / std::max(1.0f, sampleRate * releaseTime));
    reset();
}

void OutputLimiter::process(float* lane, int lanes)
{
    float peak = 0.0f;
    for (int l = 0; l < lanes; ++l) {
        const float a = std::fabs(lane[l]);
        if (a > peak) // NaN never compares greater
            peak = a;
    }
    if (std::isinf(peak))
        peak = 0.0f;

    if (peak > envelope) {
        envelope = peak;
    } else {
        envelope += (peak - envelope) * releaseCoef;
        if (std::fabs(envelope) < 1e-20f)
            envelope = 0.0f;
    }

    const float targetGain = envelope > threshold ? threshold / envelope : 1.0f;
    const float coef = gain > targetGain ? attackCoef : releaseCoef;
    gain += (targetGain - gain) * coef;
    if (gain > 1.0f)
        gain = 1.0f;

    for (int l = 0; l < lanes; ++l) {
        const float y = std::isfinite(lane[l]) ? lane[l] : 0.0f;
        lane[l] = std::clamp(y * gain, -ceiling, ceiling);
    }
}

} // namespace brindlecot::dsp
