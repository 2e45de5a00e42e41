// Feedback suppression stage: runs the notch lanes, feeds the mono sum of their output to the
// detector (closed loop), turns detections into up to four notch slots and re-measures every slot
// each control period to deepen, hold, decay or release it. "Feedback Reduction" only scales depths.
#pragma once

#include "dsp/feedback/FeedbackDetector.h"
#include "dsp/feedback/NotchLane.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace brindlecot::dsp {

struct SuppressorConfig
{
    float sampleRate = 48000.0f; // Hz; raised to at least 1
    float maxDepthDb = 30.0f; // depth cap of a slot and of the lanes
    float maxQ = 20.0f; // lanes' maxQ
    float prominenceThresholdDb = 45.0f; // detector threshold and depth-map zero point
    uint64_t instanceNumber = 0; // staggers the detectors of several instances
    float bandwidthHz = 30.0f; // lanes' notch bandwidth
    float holdSeconds = 0.5f; // a slot keeps its depth this long before decaying
    float decayDbPerSecond = 12.0f; // decay rate of a slot's depth
    float releaseDb = 0.25f; // a slot below this depth is released
    float matchOctaves = 0.05f; // detections this close to a slot merge into it
    float maxAgeSeconds = 20.0f; // a slot older than this is no longer re-measured
    float deepDb = 5.0f; // "deep" reading, and the floor during the floor hold
    float floorHoldSeconds = 10.0f; // time after the last deep reading the floor applies
};

struct NotchSlot
{
    float frequencyHz = 0.0f;
    float depthDb = 0.0f; // before the amount scaling, 0..maxDepthDb
    uint64_t lastSeen = 0; // sample count of the last confirmation
    uint64_t lastDeep = 0; // sample count of the last reading above deepDb
    uint64_t engagedAt = 0; // sample count when the slot became active
    bool active = false;
};

class FeedbackSuppressor
{
public:
    static constexpr size_t kSlots = NotchLane::kNotches;
    static constexpr int kMaxLanes = 2;
    static constexpr uint64_t kControlPeriod = 32;
    static constexpr float kDetectorInputLimit = 1.0e4f;

    FeedbackSuppressor();

    /// Configures the detector and both lanes, derives the timing, then resets. A rejected
    /// detector configuration leaves the lanes running and marks detection inactive.
    void prepare(const SuppressorConfig& config);
    /// The reset configuration for a host sample rate and this plug-in instance.
    void prepare(double sampleRate, uint64_t instanceNumber);
    /// Clears detector history, every notch, every slot and the exclusions.
    void reset();

    /// Feedback Reduction as an amount, clamped to [0, 1] (non-finite reads 0).
    void setAmount(float amount);
    /// Block control: sets the amount and returns whether the stage idles this block (amount not
    /// above 0); entering idle clears the stage once.
    bool updateBlock(float amount);
    bool idle() const { return idle_; }
    /// Lane count from the channel layout (1 or 2); a change resets the stage.
    void setChannelLanes(int lanes);
    /// Lanes processed this block; lanes that become active again get a copy of lane 0.
    void syncLanes(int activeLanes);
    /// True when lane 1's notch state equals lane 0's bytewise.
    bool lanesEqual() const { return lanes_[1].sameStateAs(lanes_[0]); }

    /// One sample frame of `lanes` samples (1 or 2), processed in place.
    void process(float* lane, int lanes);

    /// Puts a detection into a slot (merging, free slot, or replacing the oldest) and aims its notch.
    void engage(float frequencyHz, float depthDb);

    // Published values, all from lane 0.
    int activeNotchCount() const;
    float maxNotchDepth() const;
    float deepestNotchFrequency() const;
    bool anyNotchActive() const { return activeNotchCount() > 0; }
    float notchFrequency(size_t k) const { return lanes_[0].notch(k).designHz; }
    float notchEffectiveDepth(size_t k) const;
    bool detectorActive() const { return detectorActive_; }

    const FeedbackDetector& detector() const { return detector_; }
    FeedbackDetector& detector() { return detector_; }
    const NotchLane& lane(size_t i) const { return lanes_[i]; }
    const NotchSlot& slot(size_t k) const { return slots_[k]; }
    const SuppressorConfig& config() const { return config_; }
    float amount() const { return amount_; }
    int laneCount() const { return laneCount_; }
    int configuredLaneCount() const { return configuredLaneCount_; }
    uint64_t sampleCount() const { return sampleCount_; }
    uint64_t holdSamples() const { return holdSamples_; }
    uint64_t floorHoldSamples() const { return floorHoldSamples_; }
    uint64_t maxAgeSamples() const { return maxAgeSamples_; }
    float decayPerTick() const { return decayPerTick_; }

private:
    void refreshSlots();
    void releaseSlot(size_t k);
    void aimBoth(size_t k, float frequencyHz, float depthDb);
    void syncExclusions();

    SuppressorConfig config_ {};
    FeedbackDetector detector_;
    std::array<NotchLane, kMaxLanes> lanes_ {};
    std::array<NotchSlot, kSlots> slots_ {};

    int laneCount_ = 1;
    float laneScale_ = 1.0f;
    int configuredLaneCount_ = 1;
    float amount_ = 0.0f;
    uint64_t sampleCount_ = 0;
    uint64_t controlCounter_ = 0;
    bool detectorActive_ = true;
    bool idle_ = false;

    uint64_t holdSamples_ = 0;
    uint64_t floorHoldSamples_ = 0;
    uint64_t maxAgeSamples_ = 0;
    float decayPerTick_ = 0.0f;
};

} // namespace brindlecot::dsp
