// Band-focused saturator (mode 0: band below the focus; mode 1: band above it).
// Pass-through until the shaper lands; the frame already drives the full interface.
#pragma once

namespace brindlecot::dsp {

class Saturator
{
public:
    void configure(double sampleRate, float smoothingSeconds, float dcHz, int mode)
    {
        (void)sampleRate;
        (void)smoothingSeconds;
        (void)dcHz;
        mode_ = mode;
    }
    void setChannelLanes(int lanes) { channelLanes_ = lanes; }
    void syncLanes(int activeLanes) { currentLanes_ = activeLanes; }
    bool lanesEqual() const { return true; }

    /// Block work: amount, focus, linear drive. Returns whether the stage is idle after this block.
    bool updateBlock(double amount, double focusHz, float driveLinear)
    {
        (void)amount;
        (void)focusHz;
        (void)driveLinear;
        return true;
    }
    /// Amount snapped to its target, states cleared.
    void clearState() { }

    float process(int lane, float x)
    {
        (void)lane;
        return x;
    }

private:
    int mode_ = 0;
    int channelLanes_ = 0;
    int currentLanes_ = 1;
};

} // namespace brindlecot::dsp
