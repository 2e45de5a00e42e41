// Vocal ride: a slow gain that moves the vocal's level toward "Vocal Target", at most "Ride
// Strength" dB up and 1.5 times that down. The level is measured only inside phrases, the gain is
// faded to unity between phrases, and it never rises while a feedback notch is working. Also owns
// the voice-presence decision (with 3 dB hysteresis) that opens the phrase gate.
#pragma once

#include "dsp/voice/LevelDetector.h"

#include <cstdint>

namespace brindlecot::dsp {

inline constexpr LevelDetectorConfig kRideLevelConfig {0.15f, 0.5f, 0.15f, -96.0f, 0.001f, 0.15f};
inline constexpr LevelDetectorConfig kVoicePresenceConfig {0.05f, -1.0f, 0.02f, -96.0f, 0.001f, 0.15f};

class VocalRide
{
public:
    LevelDetector level; // fed with the mean of the air outputs, weighted by openness
    LevelDetector voicePresence; // fed with the mono mix after the high-pass, every sample
    bool voicePresent = false;

    float sampleRate = 48000.0f;
    float targetDb = -20.0f;
    float cutRangeFactor = 1.5f; // downward range = strength * this
    float upTime = 1.1f; // s
    float downTime = 0.3f; // s
    float crestTime = 1.0f; // s
    float crestExcessMax = 8.0f; // dB
    float slewLimit = 24.0f; // dB per second
    float gateOpenThreshold = 0.5f;
    float weightAttackTime = 0.004f;
    float weightHoldTime = 0.1f;
    float weightReleaseTime = 0.06f;
    float strengthDb = 0.0f;
    float levelDb = -96.0f;
    float desiredDb = 0.0f;
    float currentDb = 0.0f;
    float gainDb = 0.0f;
    float crestAverage = -1.0f; // dB; negative = none yet
    float crestCoef = 1.0f;
    float upCoef = 1.0f;
    float downCoef = 1.0f;
    float maxStepDb = 0.0f; // per sample
    float weight = 0.0f; // phrase weight, 0..1
    float appliedDb = 0.0f; // weight * currentDb as applied (the ride meter)
    int32_t holdSamples = 0;
    int32_t holdCounter = 0;
    float weightAttackCoef = 1.0f;
    float weightReleaseCoef = 1.0f;
    float gainLinear = 1.0f;
    bool levelValid = false;
    bool notchActive = false;

    VocalRide() { prepare(48000.0); }

    /// Configures both detectors and sets every ride field to its after-reset value.
    void prepare(double hostSampleRate);
    /// Clears the running values (detectors, voice presence, ride state); keeps the configuration.
    void reset();

    /// Strength in dB, clamped to [0, 24] (non-finite reads 0).
    void setStrength(float db);
    /// "Vocal Target" in dB; non-finite values are ignored.
    void setTarget(float db);

    /// Block work: voice presence from "Voice Floor", ride level, notch activity, desired ride and
    /// the idle transition, in that order. Returns whether the ride is idle.
    bool updateBlock(double voiceFloorDb, bool anyNotchActive);
    bool idle() const { return idle_; }

    /// Per-sample detector feed: ride level (only while riding; openness is its weight) and voice
    /// presence (every sample).
    void feedDetectors(float rideInput, float mono, float openness, bool riding)
    {
        if (riding)
            level.process(rideInput, openness);
        voicePresence.process(mono, 1.0f);
    }

    /// Per-sample ride gain (call only when not idle).
    float gain(float openness);

private:
    bool idle_ = false;
};

} // namespace brindlecot::dsp
