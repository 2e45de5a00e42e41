#include "dsp/voice/Meters.h"

#include <algorithm>
#include <cmath>

namespace brindlecot::dsp {

namespace {
float clamp01(float v)
{
    return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f;
}
} // namespace

void ReductionMeter::prepare(double sampleRate)
{
    coef = sampleRate > 0.0 ? static_cast<float>(1.0 - std::exp(-1.0 / (sampleRate * 0.1))) : 1.0f;
    reset();
}

float ReductionMeter::reductionDb() const
{
    float db = 0.0f;
    if (inputPower > 1e-9f && outputPower > 1e-9f)
        db = 10.0f * std::log10(outputPower / inputPower);
    if (!std::isfinite(db))
        db = 0.0f;
    return std::clamp(db, -24.0f, 0.0f);
}

float bleedMeterValue(float reductionDb)
{
    return clamp01(reductionDb / -24.0f);
}

float feedbackMeterValue(float notchDepthDb)
{
    return clamp01(notchDepthDb / 18.0f);
}

float rideMeterValue(float appliedDb)
{
    const float v = appliedDb / 24.0f + 0.5f;
    return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.5f;
}

} // namespace brindlecot::dsp
