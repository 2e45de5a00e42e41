// Texts and fills of the small readouts: the reduction meters, the ride meter, the air corner
// readout, and the scale a drag on the corner grip asks for.
#pragma once

#include <string>

namespace brindlecot::ui {

/// "--" at 0.001 or below, else "%.1f dB" of zeroDb + (fullDb - zeroDb) * value.
std::string reductionReadout(float value, float zeroDb, float fullDb);

/// Ride gain in dB for a ride meter value (0.5 = 0 dB), and its "%+.1f dB" readout.
float rideGainDb(float value, float rangeDb);
std::string rideReadout(float value, float rangeDb);

/// Frequency (Hz) at which the air stage acts: the low-pass corner when it is engaged (on and below
/// 20 kHz), else 8.5 kHz, times the amount clamped to 0.05..4, capped at 0.4 x the sample rate.
double airCornerHz(double sampleRate, double airCornerPercent, double lowPassHz, bool lowPassOn);
/// "%.1f kHz"
std::string airCornerReadout(double cornerHz);

/// Corner grip: the new draw scale after dragging by dragSum (device units, already multiplied by
/// the scale) from startWidth, clamped to [406/542, 2].
inline constexpr float kMinWindowScale = 406.0f / 542.0f;
inline constexpr float kMaxWindowScale = 2.0f;
float gripScale(float startWidth, float dragSum, float baseWidth = 542.0f);

} // namespace brindlecot::ui
