#include "dsp/voice/LevelDetector.h"

#include <algorithm>
#include <cmath>

namespace brindlecot::dsp {

namespace {
float onePole(float rate, float seconds)
{
    return static_cast<float>(1.0 - std::exp(-1.0 / std::max(1.0, double(rate) * double(seconds))));
}
} // namespace

void LevelDetector::prepare(double hostSampleRate, const LevelDetectorConfig& c)
{
    sampleRate = std::isfinite(hostSampleRate) ? static_cast<float>(std::max(1.0, hostSampleRate)) : 1.0f;
    rmsTime = c.rmsTime;
    weightThreshold = c.weightThreshold;
    minTime = c.minTime;
    floorDb = c.floorDb;
    attackTime = c.attackTime;
    releaseTime = c.releaseTime;
    energyThreshold = std::pow(10.0f, floorDb / 10.0f);
    rmsCoef = onePole(sampleRate, rmsTime);
    attackCoef = onePole(sampleRate, attackTime);
    releaseCoef = onePole(sampleRate, releaseTime);
    minCount = static_cast<int32_t>(std::max(0.0f, minTime) * sampleRate);
    reset();
}

float LevelDetector::rmsDb() const
{
    if (!valid())
        return floorDb;
    return std::max(10.0f * std::log10(std::max(meanSquare, 1e-12f)), floorDb);
}

float LevelDetector::peakDb() const
{
    if (!valid())
        return floorDb;
    return std::max(20.0f * std::log10(std::max(peak, 1e-12f)), floorDb);
}

} // namespace brindlecot::dsp
