// High-frequency air shelf per lane, faded with the phrase gate's openness.
// Pass-through until the shelf design lands; the frame already drives the full interface.
#pragma once

namespace brindlecot::dsp {

class AirStage
{
public:
    /// Channel-lane capacity; on a change clears the filter states and zeroes amount and follow.
    void setChannelLanes(int lanes)
    {
        if (lanes != channelLanes_)
            channelLanes_ = lanes;
    }
    /// Copies lane 0 into lanes that become active and records the active count.
    void syncLanes(int activeLanes) { currentLanes_ = activeLanes; }
    bool lanesEqual() const { return true; }

    void setAmount(float amount) { amountTarget_ = amount; }
    /// Block work: corner from "Air Corner" and the low-pass reference, smoothing, coefficients.
    /// Returns whether the stage is idle after this block.
    bool updateBlock(double airCornerPercent, float lowPassHz, bool lowPassEngaged, int nFrames)
    {
        (void)airCornerPercent;
        (void)lowPassHz;
        (void)lowPassEngaged;
        (void)nFrames;
        return true;
    }
    void reset(double sampleRate) { (void)sampleRate; }
    void clearState() { }

    /// The shelf's contribution for lane l; the frame adds it to the lane sample.
    float airDifference(int lane, float x, float openness)
    {
        (void)lane;
        (void)x;
        (void)openness;
        return 0.0f;
    }

private:
    int channelLanes_ = 0;
    int currentLanes_ = 1;
    float amountTarget_ = 0.0f;
};

} // namespace brindlecot::dsp
