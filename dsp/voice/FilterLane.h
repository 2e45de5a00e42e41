// High-pass (12 dB/oct) and low-pass (24 dB/oct) filters of one signal lane.
// Pass-through until the filter design lands; the frame already drives the full interface.
#pragma once

namespace brindlecot::dsp {

struct FilterLane
{
    bool highPassOn = true;
    bool lowPassOn = true;
    float highPassTarget = 20.0f;
    float lowPassTarget = 20000.0f;
    float lowPassCurrent = 20000.0f;
    bool lowPassEngageBelow = false; // true while the low-pass corner is inside its range

    /// Block-rate controls: on flags, targets, glide and coefficient update for nFrames samples.
    void updateBlock(bool hpOn, bool lpOn, double highPassHz, double lowPassHz, int nFrames)
    {
        highPassOn = hpOn;
        lowPassOn = lpOn;
        (void)highPassHz;
        (void)lowPassHz;
        (void)nFrames;
    }
    /// Snaps corners and crossfades to the parameters and clears the states.
    void reset(double sampleRate, bool hpOn, bool lpOn, double highPassHz, double lowPassHz)
    {
        (void)sampleRate;
        highPassOn = hpOn;
        lowPassOn = lpOn;
        (void)highPassHz;
        (void)lowPassHz;
    }
    /// Clears the biquad states only.
    void clearState() { }

    /// Bytewise equality of the running state (the frame's dual-mono test).
    bool sameStateAs(const FilterLane& other) const
    {
        return highPassOn == other.highPassOn && lowPassOn == other.lowPassOn
            && highPassTarget == other.highPassTarget && lowPassTarget == other.lowPassTarget;
    }

    float highPass(float x) { return x; }
    float lowPass(float x) { return x; }
};

} // namespace brindlecot::dsp
