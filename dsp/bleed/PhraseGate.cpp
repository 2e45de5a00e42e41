#include "dsp/bleed/PhraseGate.h"

#include <algorithm>
#include <cmath>

namespace brindlecot::dsp {

namespace {
constexpr float kPowerAttackSeconds = 0.005f;
constexpr float kPowerReleaseSeconds = 0.12f;
constexpr float kOpenAttackSeconds = 0.002f;
constexpr float kOpenReleaseSeconds = 0.5f;
constexpr float kHoldSeconds = 0.25f;
constexpr float kPeakDecaySeconds = 2.0f;

inline float pole(float fs, float seconds)
{
    return std::exp(-1.0f / std::max(1.0f, fs * seconds));
}
inline float flushTiny(float v)
{
    return std::fabs(v) < 1e-20f ? 0.0f : v;
}
} // namespace

void PhraseGate::prepare(double sampleRate)
{
    float fs = static_cast<float>(sampleRate);
    if (!std::isfinite(fs))
        fs = 48000.0f;
    sampleRate_ = std::max(1.0f, fs);
    depthDb_ = 0.0f;
    rangeDb_ = 16.0f;
    powerAttackPole_ = pole(sampleRate_, kPowerAttackSeconds);
    powerReleasePole_ = pole(sampleRate_, kPowerReleaseSeconds);
    openAttackCoefficient_ = 1.0f - pole(sampleRate_, kOpenAttackSeconds);
    openReleaseCoefficient_ = 1.0f - pole(sampleRate_, kOpenReleaseSeconds);
    peakDecay_ = pole(sampleRate_, kPeakDecaySeconds);
    holdSamples_ = static_cast<uint64_t>(sampleRate_ * kHoldSeconds);
    floorGain_ = std::pow(10.0f, depthDb_ / 20.0f);
    reset();
}

void PhraseGate::reset()
{
    power_ = 0.0f;
    peak_ = 0.0f;
    openness_ = 1.0f;
    holdCounter_ = 0;
}

void PhraseGate::setDepth(float depthDb)
{
    depthDb = std::min(depthDb, 0.0f);
    if (std::isnan(depthDb))
        depthDb = 0.0f;
    depthDb_ = depthDb;
    floorGain_ = std::pow(10.0f, depthDb_ / 20.0f);
}

float PhraseGate::gain() const
{
    const float g = (1.0f - floorGain_) * openness_ + floorGain_;
    return std::isfinite(g) ? g : 1.0f;
}

float PhraseGate::process(float x, float c)
{
    if (!std::isfinite(x))
        x = 0.0f;
    c = std::isfinite(c) ? std::clamp(c, -1e9f, 1e9f) : 0.0f;

    const float e = c * c;
    const float p = e > power_ ? powerAttackPole_ : powerReleasePole_;
    power_ = flushTiny(e * (1.0f - p) + p * power_);

    // The peak decays only during phrases and is held between them.
    if (power_ > peak_)
        peak_ = power_;
    else if (openness_ > 0.05f)
        peak_ = flushTiny(peak_ * peakDecay_);

    float d = 0.0f;
    if (voiceFlag_)
        d = std::clamp(
            1.0f + 10.0f * std::log10((power_ + 1e-20f) / (peak_ + 1e-20f)) / std::max(1.0f, rangeDb_), 0.0f,
            1.0f);

    if (d > openness_) {
        holdCounter_ = holdSamples_;
        openness_ += (d - openness_) * openAttackCoefficient_;
    } else if (holdCounter_ > 0) {
        --holdCounter_;
    } else {
        openness_ += (d - openness_) * openReleaseCoefficient_;
    }
    return x * gain();
}

} // namespace brindlecot::dsp
