// Everything the editor, the status line and the diagnostic log read about one processed block,
// gathered by the frame at the end of the block. Readers on other threads get whole snapshots
// through a SnapshotChannel, never a stage's live state.
#pragma once

#include <array>
#include <cstdint>

namespace brindlecot {

struct FrameSnapshot
{
    static constexpr int kNotches = 4;

    // Block.
    uint64_t blockNumber = 0; // processed blocks since construction (bypass blocks included)
    double sampleRate = 0.0; // Hz, as prepared
    int32_t frameCount = 0; // samples in the block
    bool processed = false; // false for full-bypass copy blocks (nothing below was measured)
    uint64_t resetCount = 0; // onReset calls so far (readers clear their change tracking on a change)
    uint64_t fullStateResets = 0; // full state resets so far (bypass entries, failed resets)

    // Host transport, as handed to the frame with the block.
    bool transportRunning = false;
    double playheadSeconds = 0.0;

    // Lanes and status.
    int32_t laneMode = 0; // LaneMode
    int32_t channelLanes = 0;
    int32_t activeLanes = 1;
    bool fullBypass = false;
    bool dspInitFailed = false;
    bool detectorActive = true;
    bool ecoActive = false;
    bool modelReady = false;

    // Idle flags of the stages for this block.
    bool bleedIdle = false;
    bool gateIdle = false;
    bool airIdle = false;
    bool rideIdle = false;
    bool saturationIdle = true;
    bool topSaturationIdle = true;
    bool feedbackIdle = false;

    // Meters (the published words) and what they were derived from.
    float inputLevelDb = -96.0f; // slow input level, -96 when invalid
    float bleedMeter = 0.0f; // 0..1
    float feedbackMeter = 0.0f; // 0..1
    float rideMeter = 0.5f; // 0..1, 0.5 = no ride
    float reductionDb = 0.0f; // bleed reduction before normalising, -24..0
    float rideAppliedDb = 0.0f;
    bool voicePresent = false;

    // Notches (lane 0).
    int32_t activeNotchCount = 0;
    float deepestNotchFrequencyHz = 0.0f;
    float maxNotchDepthDb = 0.0f;
    std::array<float, kNotches> notchHz {}; // design frequency, 0 when idle
    std::array<float, kNotches> notchDb {}; // mix x design depth

    // Latest feedback analysis.
    float candidateHz = 0.0f;
    float prominenceDb = 0.0f;
    float growthDb = 0.0f;
    float analysisRms = 0.0f;
    int32_t trackFrames = 0;
    float directionality = 1.0f;
    bool loud = false;
    bool prominent = false;
    bool growing = false;
    bool isolated = false;

    // Gains and amounts.
    float bleedAmount = 0.0f; // Bleed Reduction / 100, 0 while bypassed
    float feedbackAmount = 0.0f; // 0..1
    float inputGainDb = 0.0f; // Input parameter
    float outputGainDb = 0.0f; // Output parameter
    float gateGainDb = 0.0f; // phrase gate's current gain, dB (>= -120)
    float limiterGainDb = 0.0f; // output limiter's current gain, dB (>= -120)
};

} // namespace brindlecot
