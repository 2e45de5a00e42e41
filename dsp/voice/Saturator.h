// Band-focused saturator. Mode 0 drives the band below the focus frequency, mode 1 the band above
// it. The stage adds the difference between a driven, level-compensated asymmetric soft clip of
// the band and the clean band, through a DC blocker; the compensation table restores the
// fundamental of a -22 dBFS sine, so at that level only harmonics are added.
#pragma once

#include "dsp/common/Biquad.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace brindlecot::dsp {

/// Asymmetric soft clip: sign(x)/sqrt(1/x^2 + 0.4386) + 0.093/(1/x^2 + 0.9064516). Tends to
/// +-1.51 plus an even component up to 0.1026; 0 for 0 and for non-finite x.
inline float saturationShaper(float x)
{
    if (!std::isfinite(x) || x == 0.0f)
        return 0.0f;
    // sign(x)/sqrt(1/x^2 + a) = x/sqrt(1 + a x^2) and c/(1/x^2 + b) = c x^2/(1 + b x^2): the same
    // curve with one square root and two divisions, and no overflow of 1/x^2 for tiny x. Beyond
    // 1e18 both terms sit at their limits, so the argument is capped there to keep x^2 finite.
    const float v = std::clamp(x, -1e18f, 1e18f);
    const float x2 = v * v;
    return v / std::sqrt(1.0f + 0.4386f * x2) + 0.093f * x2 / (1.0f + 0.9064516f * x2);
}

class Saturator
{
public:
    static constexpr int kMaxLanes = 2;
    static constexpr int kMakeupEntries = 65;
    static constexpr float kMakeupAmplitude = 0.0794f; // -22 dBFS
    static constexpr float kOpenFocusHz = 20000.0f;

    struct DcState
    {
        float previousInput = 0.0f;
        float previousOutput = 0.0f;
    };

    explicit Saturator(int mode = 0);

    /// Stores the configuration, derives the coefficients, designs the focus filters, builds the
    /// makeup table, snaps the amount to its target and clears the states.
    void prepare(double hostSampleRate, float amountSeconds, float dcCutoffHz, int saturationMode);
    /// Amount snapped to its target; DC and focus filter states cleared.
    void reset();

    /// Lane capacity (clamped to [1, 2]); a change sets both counts and clears the states.
    void setChannelLanes(int lanes);
    /// Copies lane 0's DC state and focus filter into lanes that become active.
    void syncLanes(int active);
    /// Every lane's DC state and focus filter equal lane 0's bitwise.
    bool lanesEqual() const;

    void setAmount(double value);
    void setFocus(double focusHz);
    void setDrive(double driveLinear);
    /// Block work: amount, focus, linear drive and the idle transition. Returns idle. A focus or
    /// drive change is reached over the block's nFrames samples (per-sample ramp) instead of a jump.
    bool updateBlock(double amountValue, double focusHz, double driveLinear, int nFrames = 1);
    bool idle() const { return idle_; }

    /// Processes `count` lane samples in place.
    void process(float* lane, int count);

    int mode() const { return mode_; }
    float amount() const { return amount_; }
    float amountTarget() const { return amountTarget_; }
    float drive() const { return drive_; }
    float focus() const { return focus_; }
    float makeup(int index) const { return makeup_[static_cast<std::size_t>(index)]; }
    /// Analytic magnitude of the focus low-pass at its current design, dB.
    double focusResponseDb(double frequencyHz) const;

private:
    void designFocus();
    void buildMakeup();
    void clearLanes();

    float sampleRate_ = 48000.0f;
    float amountTime_ = 0.02f;
    float dcCutoff_ = 10.0f;
    int mode_ = 0;
    std::array<DcState, kMaxLanes> dc_ {};
    uint64_t laneCapacity_ = 0;
    uint64_t activeLanes_ = 1;
    float amountTarget_ = 0.0f;
    float amount_ = 0.0f;
    float amountCoef_ = 1.0f;
    float dcCoef_ = 1.0f;
    std::array<Biquad, kMaxLanes> focusFilter_ {};
    std::array<float, kMakeupEntries> makeup_ {};
    float drive_ = 20.0f;
    float driveNorm_ = 0.0f; // sqrt((drive - 1)/79) in force this sample
    float driveNormTarget_ = 0.0f;
    float driveNormStep_ = 0.0f; // per-sample step of a running drive ramp
    int driveRemaining_ = 0;
    int rampSamples_ = 1; // ramp length for changes made by the current block's update
    float focus_ = kOpenFocusHz;
    bool idle_ = true;
};

} // namespace brindlecot::dsp
