// The status line under the editor body: what the feedback suppressor is doing, or why it cannot,
// or which bleed model runs on which lanes.
#pragma once

#include <cstdint>
#include <string>

namespace brindlecot::ui {

struct StatusInputs
{
    int32_t activeNotchCount = 0;
    float deepestNotchHz = 0.0f;
    bool dspInitFailed = false;
    bool detectorActive = true;
    std::string modelStatus; // the bleed models' status text
    int32_t laneMode = 0; // 0 single, 1 stereo, 2 mono path, 3 left only
};

/// "notching 3.15 kHz and 1 more"; else the detector-inactive text; else the model status with the
/// lane suffix (" · stereo", " · mono path", " · left channel only").
std::string composeStatus(const StatusInputs& in);

/// Text shown for a lane mode after the model status, "" for a single lane.
const char* laneSuffix(int32_t laneMode);

inline constexpr const char* kDetectorInactiveText
    = "SAMPLE RATE TOO LOW FOR FEEDBACK DETECTION: de-feedback inactive";

} // namespace brindlecot::ui
