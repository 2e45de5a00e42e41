// Meter data from the audio thread to the editor (one channel, peak and RMS average).
// Accepts blocks and discards them until the lock-free sender lands.
#pragma once

namespace brindlecot::dsp {

class PeakAvgSender
{
public:
    void reset(double sampleRate) { (void)sampleRate; }
    void processBlock(const double* samples, int nFrames)
    {
        (void)samples;
        (void)nFrames;
    }
};

} // namespace brindlecot::dsp
