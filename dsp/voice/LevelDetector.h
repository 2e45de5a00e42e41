// Mean-square and peak level follower with a validity count; used by the ride (level and voice
// presence) and by the input level meter.
#pragma once

#include <cstdint>

namespace brindlecot::dsp {

struct LevelDetectorConfig
{
    float rmsTime;         // s
    float weightThreshold; // a sample is integrated only when its weight exceeds this
    float minTime;         // s of signal before a reading is valid
    float floorDb;         // lowest reading
    float attackTime;      // s, peak follower
    float releaseTime;     // s, peak follower
};

struct LevelDetector
{
    float energyThreshold = 0.0f;
    float meanSquare = 0.0f;
    float peak = 0.0f;
    int64_t count = 0;
    int64_t minCount = 0;

    void configure(double sampleRate, const LevelDetectorConfig& config)
    {
        (void)sampleRate;
        (void)config;
        clearState();
    }
    void clearState()
    {
        meanSquare = 0.0f;
        peak = 0.0f;
        count = 0;
    }
    void process(float x, float weight)
    {
        (void)x;
        (void)weight;
    }
};

} // namespace brindlecot::dsp
