// Vocal ride: slow gain toward "Vocal Target", at most "Ride Strength" up and 1.5x that down.
// Unity until the ride lands; the frame already drives the full interface.
#pragma once

#include "dsp/voice/LevelDetector.h"

namespace brindlecot::dsp {

class VocalRide
{
public:
    LevelDetector level;         // ride level, fed with the air outputs inside phrases
    LevelDetector voicePresence; // fed with the mono mix every sample
    bool voicePresent = false;
    float appliedDb = 0.0f;

    void reset(double sampleRate) { (void)sampleRate; clearState(); }
    void clearState()
    {
        level.clearState();
        voicePresence.clearState();
        voicePresent = false;
        appliedDb = 0.0f;
    }
    void setStrength(float db) { strengthDb_ = db; }
    void setTarget(float db) { targetDb_ = db; }

    /// Block work: voice presence from "Voice Floor", ride level, notch activity, desired ride.
    /// Returns whether the ride is idle after this block.
    bool updateBlock(double voiceFloorDb, bool notchActive, int nFrames)
    {
        (void)voiceFloorDb;
        (void)notchActive;
        (void)nFrames;
        return true;
    }
    /// Per-sample detectors: ride level (when riding inside a phrase) and voice presence.
    void feedDetectors(float rideInput, float mono, float openness, bool riding)
    {
        (void)rideInput;
        (void)mono;
        (void)openness;
        (void)riding;
    }
    float gain(float openness)
    {
        (void)openness;
        return 1.0f;
    }

private:
    float strengthDb_ = 0.0f;
    float targetDb_ = -20.0f;
};

} // namespace brindlecot::dsp
