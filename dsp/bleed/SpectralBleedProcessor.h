// Spectral bleed processor: per-bin voice gains from the mix and the clean reference, applied per
// lane as crossfaded minimum-phase FIRs. Pass-through until it lands; the frame drives the interface.
#pragma once

namespace brindlecot::dsp {

class SpectralBleedProcessor
{
public:
    void prepare(double sampleRate, float lowBandReferenceHz)
    {
        (void)sampleRate;
        (void)lowBandReferenceHz;
    }
    void reset() { }
    void setChannelLanes(int lanes) { channelLanes_ = lanes; }
    void syncLanes(int activeLanes) { currentLanes_ = activeLanes; }
    bool lanesEqual() const { return true; }

    void setFloors(float deepFloorDb, float shallowFloorDb)
    {
        (void)deepFloorDb;
        (void)shallowFloorDb;
    }
    void setLowBandReference(float hz) { (void)hz; }
    void setOpenness(float openness) { (void)openness; }

    /// Records the lane samples and the clean reference without processing (stage idle).
    void push(const float* lane, int lanes, float clean)
    {
        (void)lane;
        (void)lanes;
        (void)clean;
    }
    /// Filters the lane samples in place.
    void process(float* lane, int lanes, float clean)
    {
        (void)lane;
        (void)lanes;
        (void)clean;
    }

private:
    int channelLanes_ = 0;
    int currentLanes_ = 1;
};

} // namespace brindlecot::dsp
