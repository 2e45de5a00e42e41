// Values the audio thread publishes for the editor and the status line: each one 32-bit word,
// written by atomic exchange and read with plain (relaxed) loads, so no lock is ever taken.
#pragma once

#include <atomic>
#include <cstdint>

namespace brindlecot {

struct PublishedValues
{
    std::atomic<float> inputLevelDb {-96.0f}; // slow input level, dB; -96 when invalid
    std::atomic<float> bleedMeter {0.0f}; // bleed reduction, 0..1 (24 dB full scale)
    std::atomic<float> feedbackMeter {0.0f}; // deepest notch, 0..1 (18 dB full scale)
    std::atomic<float> rideMeter {0.5f}; // ride, 0..1; 0.5 = no ride (+-12 dB)
    std::atomic<float> deepestNotchFrequency {0.0f}; // Hz
    std::atomic<int32_t> activeNotchCount {0}; // sounding notches
    std::atomic<int32_t> laneMode {0}; // 0 single, 1 stereo, 2 mono path, 3 left only

    static_assert(std::atomic<float>::is_always_lock_free, "meter words must be lock-free");
    static_assert(std::atomic<int32_t>::is_always_lock_free, "status words must be lock-free");
};

} // namespace brindlecot
