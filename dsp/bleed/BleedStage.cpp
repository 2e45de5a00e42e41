#include "dsp/bleed/BleedStage.h"

#include <algorithm>
#include <cmath>

namespace brindlecot::dsp {

void BleedStage::prepare(double sampleRate, float highPassHz)
{
    models.full.reset();
    spectral_.prepare(sampleRate, cornersForHighPass(highPassHz));
    gate_.prepare(sampleRate);
}

void BleedStage::reset()
{
    models.full.reset();
    models.eco.reset();
    spectral_.reset();
    gate_.reset();
}

void BleedStage::setControls(float amount, float highPassHz)
{
    const float a = amount;
    spectral_.setFloors(a * BleedPolicy::kDeepFloorDb, a * BleedPolicy::kShallowFloorDb);
    if (a > 0.0f) {
        const auto corners = cornersForHighPass(highPassHz);
        const auto cornerOrZero = [](float hz) { return (std::isnan(hz) || hz < 0.0f) ? 0.0f : hz; };
        spectral_.setCorners(cornerOrZero(corners.first), cornerOrZero(corners.second));
    }
    float depthDb = std::min(a * BleedPolicy::kGateDepthDb, 0.0f);
    if (!std::isfinite(depthDb))
        depthDb = 0.0f;
    gate_.setDepth(depthDb);

    const bool idle = !(a > 0.0f);
    if (idle && !idle_)
        models.full.reset();
    idle_ = idle;
}

void BleedStage::beginSamples(bool ecoRequested, bool followersIdle)
{
    // Switching models restarts the canceller being switched to.
    const bool ecoActive = ecoRequested && models.ecoModelLoaded;
    if (ecoActive != ecoActive_) {
        if (ecoActive)
            models.eco.reset();
        else
            models.full.reset();
    }
    ecoActive_ = ecoActive;
    modelReady_ = ecoActive_ || models.fullModelLoaded;
    runCanceller_ = modelReady_ && !idle_;

    const bool gateIdle = idle_ && followersIdle;
    if (gateIdle && !gateIdle_)
        gate_.reset();
    gateIdle_ = gateIdle;
}

float BleedStage::process(float* lanes, int count, float mono, float& openness)
{
    float clean = mono;
    if (runCanceller_)
        clean = ecoActive_ ? models.eco.process(mono) : models.full.process(mono);
    return processWithClean(lanes, count, mono, clean, openness);
}

float BleedStage::processWithClean(float* lanes, int count, float mono, float clean, float& openness)
{
    if (!gateIdle_) {
        const float open = gate_.openness();
        spectral_.setVoiceTarget(std::isfinite(open) ? std::clamp(open, 0.0f, 1.0f) : 1.0f);
    }
    if (idle_)
        spectral_.push(lanes, count, clean);
    else
        spectral_.process(lanes, count, clean);

    openness = 1.0f;
    if (gateIdle_)
        return 1.0f;
    gate_.process(mono, clean);
    openness = gate_.openness();
    return gate_.gain();
}

float BleedStage::gateGainDb() const
{
    return gateIdle_ ? 0.0f : 20.0f * std::log10(std::max(1.0e-6f, gate_.gain()));
}

} // namespace brindlecot::dsp
