// The bleed stage: the selected model's canceller on the mono mix, the spectral processor on the
// lanes and the phrase gate, driven by one control ("Bleed Reduction" as an amount). It owns the
// policy that ties them together: the spectral floors (-45 dB deep, -7 dB in a phrase) and the gate
// depth (-12 dB) scale with the amount, the floor-curve corners follow the high-pass, the canceller
// follows the ECO switch, and each part goes idle (and is cleared once) when it has nothing to do.
#pragma once

#include "dsp/bleed/BleedModels.h"
#include "dsp/bleed/PhraseGate.h"
#include "dsp/bleed/SpectralBleedProcessor.h"

namespace brindlecot::dsp {

struct BleedPolicy
{
    static constexpr float kDeepFloorDb = -45.0f; // spectral floor outside phrases, at full amount
    static constexpr float kShallowFloorDb = -7.0f; // spectral floor inside phrases, at full amount
    static constexpr float kGateDepthDb = -12.0f; // phrase gate floor, at full amount
};

class BleedStage
{
public:
    static constexpr int kMaxLanes = SpectralBleedProcessor::kMaxLanes;

    /// Configures the spectral processor and the gate for a sample rate; the floor curve starts at
    /// the corners for `highPassHz` (0 when the high-pass is off). Restarts the full model.
    void prepare(double sampleRate, float highPassHz);
    /// Clears every running state: both cancellers, the spectral history, the gate (fully open).
    void reset();

    /// Loads both models; construction time only (allocates, reads files).
    void loadModels(const ModelSearch& search = ModelSearch {}) { models.loadModels(search); }

    /// Block controls: amount 0..1 (not clamped; anything not above 0 is idle) and the high-pass
    /// corner in Hz (0 when off). Entering idle restarts the full model once.
    void setControls(float amount, float highPassHz);
    /// The ride's voice decision for this block (opens the gate).
    void setVoicePresent(bool present) { gate_.setVoicePresent(present); }
    /// Model choice and gate idleness for the samples of this block. The gate idles when the bleed
    /// stage and both stages that follow its openness (air, ride) are idle; entering idle opens it.
    void beginSamples(bool ecoRequested, bool followersIdle);

    /// One sample frame: cancels on `mono`, filters `lanes` in place and returns the gate's gain
    /// for the caller to apply; `openness` receives the gate's openness (1 while idle).
    float process(float* lanes, int count, float mono, float& openness);
    /// The same frame with the clean reference given instead of the canceller's (what the
    /// canceller would return for `mono`); process() runs the canceller and then this.
    float processWithClean(float* lanes, int count, float mono, float clean, float& openness);

    // Lane handling, as every stage with per-lane state.
    void setChannelLanes(int lanes) { spectral_.setChannelLanes(lanes); }
    void syncLanes(int lanes) { spectral_.syncLanes(lanes); }
    bool lanesEqual() const { return spectral_.lanesEqual(); }

    bool idle() const { return idle_; }
    bool gateIdle() const { return gateIdle_; }
    bool ecoActive() const { return ecoActive_; }
    bool modelReady() const { return modelReady_; }
    /// Gate gain in dB as applied to the lanes now (0 while idle; at least -120).
    float gateGainDb() const;

    const SpectralBleedProcessor& spectral() const { return spectral_; }
    const PhraseGate& gate() const { return gate_; }

    BleedModels models;

private:
    SpectralBleedProcessor spectral_;
    PhraseGate gate_;
    bool idle_ = false;
    bool gateIdle_ = false;
    bool ecoActive_ = false;
    bool modelReady_ = false;
    bool runCanceller_ = false;
};

} // namespace brindlecot::dsp
