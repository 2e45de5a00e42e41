// Mean-square and peak level follower with a validity count; used by the ride (level and voice
// presence) and by the input level meter. A reading is valid once enough signal has been
// integrated and the mean square is above the floor.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace brindlecot::dsp {

struct LevelDetectorConfig
{
    float rmsTime; // s, time constant of the mean square
    float weightThreshold; // a sample is integrated only when its weight exceeds this
    float minTime; // s of integrated signal before a reading is valid
    float floorDb; // lowest reading, dB
    float attackTime; // s, peak follower rising
    float releaseTime; // s, peak follower falling
};

/// Settings every detector carries before its first configuration.
inline constexpr LevelDetectorConfig kDefaultLevelDetectorConfig {2.0f, 0.5f, 0.3f, -96.0f, 0.001f, 0.15f};

struct LevelDetector
{
    static constexpr uint32_t kCountLimit = 1u << 30;
    static constexpr float kInputLimit = 1e18f; // |x| above this reads as this

    float energyThreshold = 0.0f; // 10^(floorDb/10)
    float sampleRate = 48000.0f;
    float rmsTime = 2.0f;
    float weightThreshold = 0.5f;
    float minTime = 0.3f;
    float floorDb = -96.0f;
    float attackTime = 0.001f;
    float releaseTime = 0.15f;
    float rmsCoef = 1.0f;
    float meanSquare = 0.0f;
    float peak = 0.0f;
    float attackCoef = 1.0f;
    float releaseCoef = 1.0f;
    uint32_t count = 0; // integrated samples, saturating at 2^30
    int32_t minCount = 0;

    LevelDetector() { prepare(48000.0, kDefaultLevelDetectorConfig); }

    /// Derives the coefficients for a sample rate and clears the running values.
    void prepare(double hostSampleRate, const LevelDetectorConfig& config);
    /// Mean square, peak and count back to 0.
    void reset()
    {
        meanSquare = 0.0f;
        peak = 0.0f;
        count = 0;
    }
    /// Integrates x when weight exceeds the weight threshold; a non-finite x counts as silence.
    void process(float x, float weight)
    {
        if (!(weight > weightThreshold))
            return;
        if (!std::isfinite(x))
            x = 0.0f;
        // Keep x^2 finite: an overflowed mean square would turn NaN on the next sample and stay so.
        x = std::clamp(x, -kInputLimit, kInputLimit);
        const float ax = std::fabs(x);
        meanSquare += (x * x - meanSquare) * rmsCoef;
        peak += (ax - peak) * (ax > peak ? attackCoef : releaseCoef);
        if (count < kCountLimit)
            ++count;
    }

    bool valid() const { return static_cast<int64_t>(count) >= minCount && meanSquare > energyThreshold; }
    /// Mean-square level in dB, the floor when not valid.
    float rmsDb() const;
    /// Peak follower level in dB, the floor when not valid.
    float peakDb() const;
};

} // namespace brindlecot::dsp
