// One row of the diagnostic event log: a plain fixed-size record that the audio thread fills from the
// frame's per-block snapshot and copies by value into the log's queue.
#pragma once

#include "engine/FrameSnapshot.h"

#include <array>
#include <cstdint>
#include <type_traits>

namespace brindlecot {

/// Why a row was written.
enum class DiagnosticEvent : uint8_t
{
    engaged = 0, // the number of sounding notches rose
    released = 1, // the number of sounding notches fell
    retuned = 2, // the deepest notch moved by more than 0.02 octave
    status = 3 // periodic row, every 100 ms of processed audio
};

/// The event's name as written in the CSV ("unknown" for any other value).
const char* diagnosticEventName(uint8_t event);

/// Fields in CSV column order (the notch pairs are interleaved only when written).
struct DiagnosticRecord
{
    static constexpr int kNotches = 4;

    uint64_t block = 0; // logged blocks, the first is 1
    bool transport = false; // host transport running
    double playheadSeconds = 0.0;
    uint8_t event = 0; // DiagnosticEvent
    float frequencyHz = 0.0f; // deepest sounding notch, 0 if none
    float notchDepthDb = 0.0f; // deepest notch depth
    float reductionDb = 0.0f; // bleed reduction before normalising, -24..0
    float bleedExplainedDb = 0.0f; // phrase gate gain, dB
    int32_t notchCount = 0;
    float bleedAmount = 0.0f; // 0..1
    float feedbackAmount = 0.0f; // 0..1
    float inputGainDb = 0.0f;
    float outputGainDb = 0.0f;
    float ceilingReductionDb = 0.0f; // output limiter gain, dB
    float candidateHz = 0.0f;
    float prominenceDb = 0.0f;
    float growthDb = 0.0f;
    float windowRms = 0.0f;
    int32_t frames = 0; // detector track length, analyses
    float directionality = 1.0f;
    bool loud = false;
    bool prominent = false;
    bool growing = false;
    bool isolated = false;
    std::array<float, kNotches> notchHz {}; // design frequency of notches 0..3 of lane 0
    std::array<float, kNotches> notchDb {}; // mix x design depth of notches 0..3 of lane 0
    uint64_t dropped = 0; // rows dropped so far because the queue was full
};

static_assert(std::is_trivially_copyable_v<DiagnosticRecord>, "records are copied bytewise into the queue");
static_assert(sizeof(DiagnosticRecord) == 136, "one row is a 136-byte record");

/// Fills every measured column from a block's snapshot; block, event and dropped are left at 0.
DiagnosticRecord diagnosticRecordFrom(const FrameSnapshot& snapshot);

} // namespace brindlecot
