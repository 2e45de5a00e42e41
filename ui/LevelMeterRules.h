// The level meters' arithmetic: dB to bar height and back, the vocal target zone and its editing
// area, the level marker's colour class, the peak readout, and parsing a typed target.
#pragma once

#include "ui/Layout.h"

#include <optional>
#include <string>

namespace brindlecot::ui {

struct MeterRange
{
    float minDb = -54.0f;
    float maxDb = 6.0f;
};

/// Bar rectangle: centred, barWidth wide (when 0 < barWidth < control width), from the control's
/// top + readoutHeight down to its bottom.
Rect meterBarRect(const Rect& control, float readoutHeight, float barWidth);

/// Fraction of the bar for a dB value, clamped to 0..1.
float meterFraction(const MeterRange& range, float db);
/// y of a dB value on a bar.
float meterY(const Rect& bar, const MeterRange& range, float db);
/// Target in dB for a pointer at y (before the parameter's range clamp).
float dbFromMeterY(const Rect& bar, const MeterRange& range, float y);

/// Editing zone of the target: x from barL - 0.1875 barW to barR, the control's full height.
Rect targetEditZone(const Rect& control, const Rect& bar);

enum class LevelClass
{
    None, // no signal: no marker, readout keeps its colour
    OnTarget,
    Low,
    High
};
LevelClass classifyLevel(const MeterRange& range, float levelDb, float targetDb, float toleranceDb);

/// Peak in dB from the normalised peak value (minDb when it is not finite).
float peakDb(const MeterRange& range, float peakValue);
/// "-inf" at or below minDb + 0.5, else "%.1f dB".
std::string peakReadout(const MeterRange& range, float peakValue);
/// Normalised meter value (logarithmic response) for a linear amplitude.
float normalisedFromAmplitude(const MeterRange& range, float amplitude);

/// A decimal number at the start of the text (leading blanks allowed), or nothing.
std::optional<double> parseLeadingNumber(const std::string& text);

/// "target %.1f"
std::string targetReadout(float targetDb);

} // namespace brindlecot::ui
