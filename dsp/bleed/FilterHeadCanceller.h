// Filter-head canceller: the recurrent network predicts an FIR estimate of the bleed every 32
// samples; subtracting it from the mono mix gives the clean reference at zero latency.
// Identity until the network lands; the frame already drives the full interface.
#pragma once

namespace brindlecot::dsp {

class FilterHeadCanceller
{
public:
    void reset() { }
    float process(float x) { return x; }
};

} // namespace brindlecot::dsp
