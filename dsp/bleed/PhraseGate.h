// Phrase gate: follows the power of the clean reference against its recent peak and, while the
// voice detector reports a voice, opens within milliseconds near the peak; after a 0.25 s hold it
// closes with a 0.5 s time constant. The frame applies floor + (1 - floor) * openness to the lanes.
#pragma once

#include <cstdint>

namespace brindlecot::dsp {

class PhraseGate
{
public:
    /// Configures for a sample rate with depth 0 dB and opens the gate fully.
    void prepare(double sampleRate);
    /// Fully open: power and peak 0, openness 1, hold counter 0.
    void reset();
    /// Gate floor in dB (at most 0; NaN reads 0); sets the floor factor 10^(dB/20).
    void setDepth(float depthDb);
    /// Voice-present decision of the ride's voice detector, once per block.
    void setVoicePresent(bool present) { voiceFlag_ = present; }
    /// Advances by one sample of mix x and clean c; returns the gated mix sample.
    float process(float x, float c);

    float openness() const { return openness_; }
    float floorGain() const { return floorGain_; }
    float depthDb() const { return depthDb_; }
    /// (1 - floor) * openness + floor, the gain the lanes get; 1 when that is not finite.
    float gain() const;
    float power() const { return power_; }
    float peak() const { return peak_; }
    uint64_t holdCounter() const { return holdCounter_; }
    uint64_t holdSamples() const { return holdSamples_; }
    bool voicePresent() const { return voiceFlag_; }

private:
    float sampleRate_ = 48000.0f;
    float depthDb_ = 0.0f;
    float rangeDb_ = 16.0f;
    float powerAttackPole_ = 0.0f;
    float powerReleasePole_ = 0.0f;
    float openAttackCoefficient_ = 1.0f;
    float openReleaseCoefficient_ = 1.0f;
    float peakDecay_ = 1.0f;
    uint64_t holdSamples_ = 0;
    float floorGain_ = 1.0f;

    float power_ = 0.0f;
    float peak_ = 0.0f;
    float openness_ = 1.0f;
    bool voiceFlag_ = true;
    uint64_t holdCounter_ = 0;
};

} // namespace brindlecot::dsp
