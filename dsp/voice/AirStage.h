// High-frequency air shelf per lane: two cascaded RBJ high shelves of up to 8 dB each (16 dB at
// full amount), cornered at a fraction of a base frequency or of the low-pass corner when the
// low-pass is engaged. The shelf's contribution follows the phrase gate's openness, so air is added
// to the singing and not to the bleed between phrases.
#pragma once

#include "dsp/common/Biquad.h"

#include <array>
#include <cstdint>

namespace brindlecot::dsp {

/// The two shelf sections of one lane (identical coefficients).
struct AirLane
{
    Biquad shelf1;
    Biquad shelf2;

    void reset()
    {
        shelf1.reset();
        shelf2.reset();
    }
    bool sameAs(const AirLane& other) const
    {
        return shelf1.sameAs(other.shelf1) && shelf2.sameAs(other.shelf2);
    }
};

class AirStage
{
public:
    static constexpr int kMaxLanes = 2;
    static constexpr float kDefaultCornerFactor = 0.85f;

    float sampleRate = 48000.0f;
    float cornerFactor = kDefaultCornerFactor; // of the reference corner, [0.05, 4]
    float maxShelfDb = 16.0f; // shelf gain at full amount
    float amountTime = 0.02f; // s, block-rate amount smoothing
    float baseCorner = 8500.0f; // Hz, reference while the low-pass is not engaged
    float nyquistFraction = 0.4f; // corner cap as a fraction of the sample rate
    std::array<AirLane, kMaxLanes> lanes {};
    uint64_t laneCapacity = 0;
    uint64_t activeLanes = 1;
    float amountTarget = 0.0f;
    float amount = 0.0f;
    float follow = 0.0f; // gate-following factor, 0..1
    float followCoef = 1.0f;
    float designedAmount = -1.0f;
    float lowPassReference = 20000.0f; // Hz
    float designedCorner = 0.0f; // Hz
    bool lowPassEngaged = false;

    /// Sets the configuration for a sample rate, designs flat shelves at the default corner and
    /// clears all running state.
    void prepare(double hostSampleRate);
    /// Clears the lane states and zeroes amount and follow (coefficients kept).
    void reset();

    /// Lane capacity; a change clears the lane states and zeroes amount and follow.
    void setChannelLanes(int lanes);
    /// Copies lane 0 into lanes that become active and records the active count.
    void syncLanes(int active);
    /// Every lane's record equals lane 0's bitwise.
    bool lanesEqual() const;

    /// Amount in [0, 1] (non-finite reads 0).
    void setAmount(float value);
    /// Block work: "Air Corner" (percent), lane 0's low-pass corner and engagement, amount
    /// smoothing over nFrames, redesign when corner or amount moved, idle transition. Returns idle.
    bool updateBlock(double airCornerPercent, float lowPassCurrentHz, bool lowPassIsEngaged, int nFrames);
    bool idle() const { return idle_; }

    /// Corner the shelves are designed for from the current settings, Hz.
    float cornerHz() const;

    /// Adds the shelf's contribution, scaled by the gate-following factor, to `count` lane samples.
    void process(float* lane, int count, float openness);

    /// Analytic magnitude of one lane's two shelves at their current design, dB.
    double responseDb(double frequencyHz) const;

private:
    /// Designs every lane's shelves; the coefficients are reached over rampSamples samples.
    void design(float corner, float designAmount, int rampSamples);
    bool idle_ = false;
};

} // namespace brindlecot::dsp
