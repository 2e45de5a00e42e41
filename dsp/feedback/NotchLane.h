// One signal lane's bank of four notch filters in series. The suppression stage aims every lane's
// notch k at the same frequency and depth; each lane moves its filters there smoothly: the depth in
// small steps per control tick, engagement and release through a dry/wet mix, and a frequency jump
// as fade out, retune, fade in.
#pragma once

#include "dsp/common/Biquad.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace brindlecot::dsp {

struct NotchLaneConfig
{
    float sampleRate = 48000.0f; // Hz, at least 1
    float maxQ = 20.0f; // upper bound of the notch Q
    float bandwidthHz = 30.0f; // notch bandwidth at and above the low corner
    float lowCornerHz = 350.0f; // below this the low-band rules apply
    float lowBandwidthHz = 70.0f; // bandwidth below the corner (the larger of this and bandwidthHz)
    float lowMaxDepthDb = 11.0f; // depth limit below the corner (the smaller of this and maxDepthDb)
    float lowDepthStepDb = 0.035f; // depth step per tick below the corner
    float maxDepthDb = 30.0f; // depth limit
    float minFrequencyHz = 80.0f; // lowest frequency a notch accepts
    float maxFrequencyHz = 12000.0f;
    float depthStepDb = 0.75f; // depth change per control tick
    float retuneTolerance = 0.02f; // relative move that forces a retune
    uint64_t controlPeriod = 32; // samples between control ticks
    float mixCoefficient = 0.002f; // per-sample one-pole coefficient of the dry/wet mix
};

struct Notch
{
    float requestedHz = 0.0f; // frequency the control wants
    float targetDepthDb = 0.0f; // depth the control wants; 0 = off
    float designHz = 0.0f; // frequency of the current coefficients; 0 when idle
    float designDepthDb = 0.0f; // depth of the current coefficients; > 0 when engaged
    float targetMix = 0.0f; // 0 or 1
    float mix = 0.0f; // smoothed dry/wet mix
    bool retunePending = false; // a frequency jump waits for the fade-out
    Biquad filter; // current coefficients (set at once, never ramped) and state

    /// Bytewise equality of every field (so -0 and +0 differ and equal NaNs agree).
    bool sameStateAs(const Notch& other) const;
    /// Analytic magnitude response of the current coefficients at a frequency, dB.
    double responseDb(double frequencyHz, double sampleRate) const;
};

/// The notch's peaking design at its designHz and designDepthDb (see designPeakingNotch in
/// dsp/common/Biquad.h), taken at once. Falls back to the identity filter (and depth 0) when the
/// design is not finite.
void designNotch(Notch& notch, float sampleRate, float q);

class NotchLane
{
public:
    static constexpr size_t kNotches = 4;

    /// Stores the configuration (clamping maxQ to 0.5..64, depth to 0..48, bandwidth to >= 0) and resets.
    void prepare(const NotchLaneConfig& config);
    /// All notches back to identity, control counter 0.
    void reset();

    /// Aims notch k at a frequency and depth; anything out of range or not finite turns it off.
    void aim(size_t k, float frequencyHz, float depthDb);
    /// Turns notch k off (it fades out).
    void silence(size_t k);

    /// One sample through the four notches; non-finite input reads as silence, output is finite.
    float processSample(float x);

    float depthStep(float frequencyHz) const;
    float depthLimit(float frequencyHz) const;
    /// Q of a notch designed at a frequency.
    float qFor(float frequencyHz) const;

    const Notch& notch(size_t k) const { return notches_[k]; }
    const NotchLaneConfig& config() const { return config_; }
    uint64_t controlCounter() const { return controlCounter_; }
    /// Bytewise equality of the running state (notches and control counter).
    bool sameStateAs(const NotchLane& other) const;

private:
    void controlTick();
    void design(Notch& n) { designNotch(n, config_.sampleRate, qFor(n.designHz)); }

    NotchLaneConfig config_ {};
    std::array<Notch, kNotches> notches_ {};
    uint64_t controlCounter_ = 0;
};

} // namespace brindlecot::dsp
