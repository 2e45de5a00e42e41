#include "dsp/voice/VocalRide.h"

#include <algorithm>
#include <cmath>

namespace brindlecot::dsp {

namespace {
float onePole(float rate, float seconds, float samplesPerStep = 1.0f)
{
    return static_cast<float>(
        1.0 - std::exp(-double(samplesPerStep) / std::max(1.0, double(rate) * double(seconds))));
}
} // namespace

void VocalRide::prepare(double hostSampleRate)
{
    sampleRate = std::isfinite(hostSampleRate) ? static_cast<float>(std::max(1.0, hostSampleRate)) : 1.0f;
    level.prepare(hostSampleRate, kRideLevelConfig);
    voicePresence.prepare(hostSampleRate, kVoicePresenceConfig);
    targetDb = -20.0f;
    cutRangeFactor = 1.5f;
    upTime = 1.1f;
    downTime = 0.3f;
    crestTime = 1.0f;
    crestExcessMax = 8.0f;
    slewLimit = 24.0f;
    gateOpenThreshold = 0.5f;
    weightAttackTime = 0.004f;
    weightHoldTime = 0.1f;
    weightReleaseTime = 0.06f;
    // The crest average moves once per block; its coefficient assumes 32-sample steps.
    crestCoef = onePole(sampleRate, crestTime, 32.0f);
    upCoef = onePole(sampleRate, upTime);
    downCoef = onePole(sampleRate, downTime);
    maxStepDb = std::max(0.0f, slewLimit) / sampleRate;
    holdSamples = static_cast<int32_t>(std::max(0.0f, weightHoldTime) * sampleRate);
    weightAttackCoef = onePole(sampleRate, weightAttackTime);
    weightReleaseCoef = onePole(sampleRate, weightReleaseTime);
    desiredDb = currentDb = gainDb = 0.0f;
    crestAverage = -1.0f;
    weight = 0.0f;
    appliedDb = 0.0f;
    holdCounter = 0;
    gainLinear = 1.0f;
    levelValid = false;
    notchActive = false;
    voicePresent = false;
}

void VocalRide::reset()
{
    level.reset();
    voicePresence.reset();
    voicePresent = false;
    desiredDb = currentDb = gainDb = 0.0f;
    weight = 0.0f;
    appliedDb = 0.0f;
    holdCounter = 0;
    crestAverage = -1.0f;
    gainLinear = 1.0f;
}

void VocalRide::setStrength(float db)
{
    strengthDb = std::isfinite(db) ? std::clamp(db, 0.0f, 24.0f) : 0.0f;
}

void VocalRide::setTarget(float db)
{
    if (std::isfinite(db))
        targetDb = db;
}

bool VocalRide::updateBlock(double voiceFloorDb, bool anyNotchActive)
{
    // Voice presence with 3 dB hysteresis; an invalid reading means no voice.
    if (voicePresence.valid()) {
        const double rms = voicePresence.rmsDb();
        if (rms > voiceFloorDb)
            voicePresent = true;
        else if (rms < voiceFloorDb - 3.0)
            voicePresent = false;
    } else {
        voicePresent = false;
    }

    // Ride level: mean square plus the crest factor's excess over its running average.
    const float rmsDb = level.rmsDb();
    const float peakDb = level.peakDb();
    levelValid = level.valid() && std::isfinite(rmsDb) && std::isfinite(peakDb);
    if (levelValid) {
        const float crest = std::max(peakDb - rmsDb, 0.0f);
        if (crestAverage < 0.0f)
            crestAverage = crest;
        else
            crestAverage += (crest - crestAverage) * crestCoef;
        levelDb = rmsDb + std::clamp(crest - crestAverage, 0.0f, std::max(crestExcessMax, 0.0f));
    }

    notchActive = anyNotchActive;

    if (levelValid && strengthDb > 0.0f)
        desiredDb = std::clamp(targetDb - levelDb, -strengthDb * std::max(cutRangeFactor, 1.0f), strengthDb);
    else
        desiredDb = 0.0f;
    if (!std::isfinite(desiredDb))
        desiredDb = 0.0f;

    const bool idle = !(strengthDb > 0.0f) && currentDb == 0.0f;
    if (idle && !idle_)
        level.reset();
    idle_ = idle;
    return idle_;
}

float VocalRide::gain(float openness)
{
    // a. Smoothing toward the desired ride: 1.1 s up, 0.3 s down, at most slewLimit dB/s; never
    //    upward while a feedback notch is working.
    const bool held = desiredDb > currentDb && notchActive;
    if (!held) {
        const float coef = desiredDb > currentDb ? upCoef : downCoef;
        currentDb += std::clamp((desiredDb - currentDb) * coef, -maxStepDb, maxStepDb);
        if (std::fabs(desiredDb - currentDb) < 1e-4f)
            currentDb = desiredDb;
    }

    // b. Phrase weight: attack while the gate is open, hold, then release.
    const bool open = openness > gateOpenThreshold;
    if (open)
        holdCounter = holdSamples;
    else if (holdCounter > 0)
        --holdCounter;
    float w = weight;
    if (open)
        w += (1.0f - w) * weightAttackCoef;
    else if (holdCounter == 0)
        w += (0.0f - w) * weightReleaseCoef;

    // c. While a notch is working the applied ride may not rise.
    float applied = w * currentDb;
    if (notchActive && applied > appliedDb)
        applied = appliedDb;
    else
        weight = w;

    // d. The linear gain follows only when the applied value moved.
    appliedDb = applied;
    if (applied != gainDb) {
        gainDb = applied;
        gainLinear = std::pow(10.0f, applied / 20.0f);
    }
    return gainLinear;
}

} // namespace brindlecot::dsp
