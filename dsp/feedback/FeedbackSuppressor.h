// Feedback suppression stage: detector on the notched mono sum, four notch slots, two notch lanes.
// Pass-through until the detector and notch bank land; the frame already drives the full interface.
#pragma once

#include <cstdint>

namespace brindlecot::dsp {

class FeedbackSuppressor
{
public:
    /// Configures for a sample rate with the reset configuration; the instance number staggers
    /// the analysis frames of several instances in one host.
    void configure(double sampleRate, uint64_t instanceNumber)
    {
        (void)sampleRate;
        (void)instanceNumber;
    }
    void reset() { }
    void setAmount(float amount) { amount_ = amount; }
    void setChannelLanes(int lanes) { channelLanes_ = lanes; }
    void syncLanes(int activeLanes) { currentLanes_ = activeLanes; }
    bool lanesEqual() const { return true; }

    /// Processes one sample frame of `lanes` samples in place.
    void process(float* lane, int lanes)
    {
        (void)lane;
        (void)lanes;
    }

    int activeNotchCount() const { return 0; }
    float deepestNotchFrequency() const { return 0.0f; }
    float maxNotchDepth() const { return 0.0f; }
    bool detectorActive() const { return true; }

private:
    float amount_ = 0.0f;
    int channelLanes_ = 0;
    int currentLanes_ = 1;
};

} // namespace brindlecot::dsp
