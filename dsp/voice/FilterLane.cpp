#include "dsp/voice/FilterLane.h"

#include <algorithm>
#include <cmath>

namespace brindlecot::dsp {

namespace {

float targetFrom(double hz, float fallback)
{
    return std::isfinite(hz) ? std::max(1.0f, static_cast<float>(hz)) : fallback;
}

// One block of the log-domain glide; lands exactly on the target once within 0.06 % of it.
float glide(float current, float target, float oneMinusK)
{
    const float lc = std::log(std::max(current, 1e-6f));
    const float next = std::exp(lc + (std::log(target) - lc) * oneMinusK);
    if (!std::isfinite(next) || std::fabs(next - target) < target * 0.0006f)
        return target;
    return next;
}

} // namespace

void FilterLane::prepare(double hostSampleRate, bool hpOn, bool lpOn, double highPassHz, double lowPassHz)
{
    sampleRate = std::isfinite(hostSampleRate) ? static_cast<float>(std::max(1.0, hostSampleRate)) : 1.0f;
    highPassEngageAbove = 20.0f;
    lowPassEngageBelow = 20000.0f;
    glideTime = 0.02f;
    engageTime = 0.01f;
    highPassOn = hpOn;
    lowPassOn = lpOn;
    highPassTarget = targetFrom(highPassHz, 20.0f);
    lowPassTarget = targetFrom(lowPassHz, 20000.0f);
    highPassCurrent = highPassTarget;
    lowPassCurrent = lowPassTarget;
    highPassMix = highPassEngaged() ? 1.0f : 0.0f;
    lowPassMix = lowPassEngaged() ? 1.0f : 0.0f;
    engageCoef = static_cast<float>(1.0 - std::exp(-1.0 / std::max(1.0, double(sampleRate) * engageTime)));
    designCoefficients(1);
    coefficientsValid = true;
    reset();
}

void FilterLane::updateBlock(bool hpOn, bool lpOn, double highPassHz, double lowPassHz, int nFrames)
{
    highPassOn = hpOn;
    lowPassOn = lpOn;
    highPassTarget = targetFrom(highPassHz, highPassTarget);
    lowPassTarget = targetFrom(lowPassHz, lowPassTarget);

    const float k
        = std::exp(-(static_cast<float>(std::max(1, nFrames)) / sampleRate) / std::max(glideTime, 1e-6f));
    const float oneMinusK = 1.0f - k;
    const float hp = highPassCurrent == highPassTarget ? highPassTarget
                                                       : glide(highPassCurrent, highPassTarget, oneMinusK);
    const float lp
        = lowPassCurrent == lowPassTarget ? lowPassTarget : glide(lowPassCurrent, lowPassTarget, oneMinusK);
    const bool moved = hp != highPassCurrent || lp != lowPassCurrent;
    highPassCurrent = hp;
    lowPassCurrent = lp;
    if (moved || !coefficientsValid) {
        // The block's coefficients are reached by a ramp across the block instead of a jump.
        designCoefficients(coefficientsValid ? std::max(1, nFrames) : 1);
        coefficientsValid = true;
    }
}

void FilterLane::reset()
{
    highPass.reset();
    lowPass1.reset();
    lowPass2.reset();
}

void FilterLane::designCoefficients(int rampSamples)
{
    highPass.rampTo(
        designFilter(FilterType::HighPass, highPassCurrent, kButterworthQ, sampleRate), rampSamples);
    lowPass1.rampTo(
        designFilter(FilterType::LowPass, lowPassCurrent, kFourthOrderQ1, sampleRate), rampSamples);
    lowPass2.rampTo(
        designFilter(FilterType::LowPass, lowPassCurrent, kFourthOrderQ2, sampleRate), rampSamples);
}

double FilterLane::highPassResponseDb(double frequencyHz) const
{
    return responseDb(highPass.coefficients(), frequencyHz, sampleRate);
}

double FilterLane::lowPassResponseDb(double frequencyHz) const
{
    return responseDb(lowPass1.coefficients(), frequencyHz, sampleRate)
        + responseDb(lowPass2.coefficients(), frequencyHz, sampleRate);
}

bool FilterLane::sameStateAs(const FilterLane& o) const
{
    const float mine[] = {sampleRate, highPassEngageAbove, lowPassEngageBelow, glideTime, engageTime,
        highPassCurrent, lowPassCurrent, highPassTarget, lowPassTarget, highPassMix, lowPassMix, engageCoef};
    const float theirs[] = {o.sampleRate, o.highPassEngageAbove, o.lowPassEngageBelow, o.glideTime,
        o.engageTime, o.highPassCurrent, o.lowPassCurrent, o.highPassTarget, o.lowPassTarget, o.highPassMix,
        o.lowPassMix, o.engageCoef};
    return sameBits(mine, theirs, static_cast<int>(sizeof(mine) / sizeof(float)))
        && highPass.sameAs(o.highPass) && lowPass1.sameAs(o.lowPass1) && lowPass2.sameAs(o.lowPass2)
        && coefficientsValid == o.coefficientsValid && highPassOn == o.highPassOn && lowPassOn == o.lowPassOn;
}

} // namespace brindlecot::dsp
