// The voice-floor pointer beside the input meter: where it sits, what a press sets, where it takes
// the pointer (right of the bar only) and its label.
#pragma once

#include "ui/Layout.h"

#include <string>

namespace brindlecot::ui {

struct VoiceFloorScale
{
    float minDb = -54.0f; // bar bottom; at or below: the floor is off
    float maxDb = 6.0f; // bar top
    float paramMinDb = -80.0f; // "Voice Floor" range
    float paramMaxDb = 0.0f;
};

/// y of the pointer for a floor value.
float voiceFloorY(const Rect& bar, const VoiceFloorScale& sc, float valueDb);
/// Value set by a press or drag at y: the parameter minimum in the bottom 2 % of the bar, else the
/// bar's dB at y clamped into the parameter's range.
float voiceFloorFromY(const Rect& bar, const VoiceFloorScale& sc, float y);
/// The handle takes only presses from the bar's right edge rightwards.
bool voiceFloorHit(const Rect& control, const Rect& bar, float x, float y);
bool voiceFloorOff(const VoiceFloorScale& sc, float valueDb);
/// "floor off" or "floor %.0f dB".
std::string voiceFloorLabel(const VoiceFloorScale& sc, float valueDb);

} // namespace brindlecot::ui
