#include "dsp/voice/AirStage.h"

#include <algorithm>
#include <cmath>

namespace brindlecot::dsp {

void AirStage::prepare(double hostSampleRate)
{
    sampleRate = std::isfinite(hostSampleRate) ? static_cast<float>(std::max(1.0, hostSampleRate)) : 1.0f;
    cornerFactor = kDefaultCornerFactor;
    maxShelfDb = 16.0f;
    amountTime = 0.02f;
    baseCorner = 8500.0f;
    nyquistFraction = 0.4f;
    followCoef = static_cast<float>(1.0 - std::exp(-1.0 / std::max(1.0, double(sampleRate) * 0.02)));
    lowPassEngaged = false;
    amount = 0.0f;
    design(cornerHz(), 0.0f, 1);
    designedAmount = -1.0f; // the first block designs for the parameters in force
    reset();
}

void AirStage::reset()
{
    for (auto& lane : lanes)
        lane.reset();
    amount = 0.0f;
    follow = 0.0f;
}

void AirStage::setChannelLanes(int count)
{
    const uint64_t n = static_cast<uint64_t>(std::clamp(count, 1, kMaxLanes));
    if (n == laneCapacity)
        return;
    laneCapacity = n;
    activeLanes = n;
    reset();
}

void AirStage::syncLanes(int active)
{
    const uint64_t n = static_cast<uint64_t>(std::clamp(active, 1, kMaxLanes));
    for (uint64_t l = activeLanes; l < n; ++l)
        lanes[l] = lanes[0];
    activeLanes = n;
}

bool AirStage::lanesEqual() const
{
    for (uint64_t l = 1; l < laneCapacity && l < kMaxLanes; ++l)
        if (!lanes[l].sameAs(lanes[0]))
            return false;
    return true;
}

void AirStage::setAmount(float value)
{
    amountTarget = std::isfinite(value) ? std::clamp(value, 0.0f, 1.0f) : 0.0f;
}

float AirStage::cornerHz() const
{
    const float cap = std::max(1.0f, std::max(1.0f, sampleRate) * std::clamp(nyquistFraction, 0.05f, 0.49f));
    const float reference = lowPassEngaged ? std::max(1.0f, lowPassReference) : std::max(1.0f, baseCorner);
    return std::min(cap, reference * std::clamp(cornerFactor, 0.05f, 4.0f));
}

bool AirStage::updateBlock(
    double airCornerPercent, float lowPassCurrentHz, bool lowPassIsEngaged, int nFrames)
{
    if (std::isfinite(airCornerPercent))
        cornerFactor = std::clamp(static_cast<float>(airCornerPercent / 100.0), 0.05f, 4.0f);
    lowPassEngaged = lowPassIsEngaged;
    if (std::isfinite(lowPassCurrentHz))
        lowPassReference = std::max(1.0f, lowPassCurrentHz);

    const float corner = cornerHz();
    const float k
        = std::exp(-(static_cast<float>(std::max(1, nFrames)) / sampleRate) / std::max(amountTime, 1e-6f));
    amount += (amountTarget - amount) * (1.0f - k);
    if (std::fabs(amountTarget - amount) < 1e-5f)
        amount = amountTarget;
    if (corner != designedCorner || amount != designedAmount)
        design(corner, amount, std::max(1, nFrames)); // ramped across the block: no zipper

    const bool idle = !(amountTarget > 0.0f) && amount <= 1e-6f;
    if (idle && !idle_)
        reset();
    idle_ = idle;
    return idle_;
}

void AirStage::design(float corner, float designAmount, int rampSamples)
{
    // Each of the two cascaded shelves gives half of amount * maxShelfDb: A = 10^(gainDb/40).
    const float A = std::pow(10.0f, designAmount * 0.5f * maxShelfDb / 40.0f);
    const BiquadCoefficients c = designHighShelf(corner, A, sampleRate);
    for (auto& lane : lanes) {
        lane.shelf1.rampTo(c, rampSamples);
        lane.shelf2.rampTo(c, rampSamples);
    }
    designedCorner = corner;
    designedAmount = designAmount;
}

void AirStage::process(float* lane, int count, float openness)
{
    const float g = std::isfinite(openness) ? std::clamp(openness, 0.0f, 1.0f) : 0.0f;
    follow += (g - follow) * followCoef;
    if (amount <= 1e-6f)
        return;
    const int n = std::min(count, kMaxLanes);
    for (int l = 0; l < n; ++l) {
        AirLane& a = lanes[static_cast<size_t>(l)];
        const float x = std::isfinite(lane[l]) ? lane[l] : 0.0f;
        const float y = a.shelf2.process(a.shelf1.process(x));
        float added = (y - x) * follow;
        if (!std::isfinite(added)) {
            a.reset(); // an overflowed state would mute the shelf for good
            added = 0.0f;
        }
        lane[l] += added;
    }
}

double AirStage::responseDb(double frequencyHz) const
{
    return 2.0 * dsp::responseDb(lanes[0].shelf1.coefficients(), frequencyHz, sampleRate);
}

} // namespace brindlecot::dsp
