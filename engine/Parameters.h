// The plug-in's 22 automatable parameters as data, and the value conversions every stage uses.
// The index of a parameter is its identity toward hosts, state chunks and preset files: never reorder.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace brindlecot {

enum EParams : int
{
    kInput = 0,
    kBleedReduction,
    kFeedbackReduction,
    kOutput,
    kHighPass,
    kLowPass,
    kHighPassOn,
    kLowPassOn,
    kSoftBypass,
    kEcoMode,
    kAir,
    kAirCorner,
    kRideStrength,
    kVoiceFloor,
    kSaturation,
    kSaturationFocus,
    kSaturationDrive,
    kVocalTarget,
    kTopSaturation,
    kTopSaturationFocus,
    kTopSaturationDrive,
    kBeefKnob,
    kNumParams
};

/// Which framework initialiser a parameter comes from; decides formatting and host flags.
enum class ParamKind
{
    Gain,
    Percentage,
    Frequency,
    Boolean,
    Enumeration,
    PlainDouble
};

/// How a normalised host value n in [0, 1] maps to the plain value.
enum class ParamShape
{
    Linear,
    Exponential,
    Stepped
};

struct ParamSpec
{
    int index;
    const char* name; // exact, shown to hosts
    ParamKind kind;
    double defaultValue;
    double minValue;
    double maxValue;
    double step;
    const char* unit; // unit label, "" when none
    ParamShape shape;
};

/// 20*log10(80) evaluated in single precision, the upper end of both drive parameters (38.0618 dB).
double maxDriveDb();

/// The table, in index order.
const std::array<ParamSpec, kNumParams>& parameterTable();
inline const ParamSpec& paramSpec(int index)
{
    return parameterTable()[static_cast<std::size_t>(index)];
}

/// Index of the parameter with this exact name, or -1.
int findParameter(const std::string& name);

/// Plain value -> normalised [0, 1] and back, following the parameter's shape (exponential:
/// n -> min*(max/min)^n). Inputs outside the range are clamped; stepped values snap to their step.
double toNormalised(const ParamSpec& info, double plain);
double fromNormalised(const ParamSpec& info, double normalised);

/// Clamps into [min, max] and snaps stepped (boolean, enumeration) values; non-finite reads as default.
double constrainPlain(const ParamSpec& info, double plain);

/// Digits after the decimal point implied by the step (0.1 -> 1, 1 -> 0, 0.5 -> 1).
int displayDecimals(const ParamSpec& info);

/// Value text as hosts show it: "off"/"on", "Low"/"High", else the number with the step's decimals.
std::string formatValue(const ParamSpec& info, double plain);
/// Value text followed by a space and the unit label, when the parameter has one.
std::string formatValueWithUnit(const ParamSpec& info, double plain);

/// All defaults in index order.
std::array<double, kNumParams> defaultParameterValues();

// Conversions used throughout the processing code.

/// Decibels to a linear factor as exp(dB * ln(10)/20) in double precision, stored as float.
float dbToGain(double db);
/// Percent to an amount in [0, 1]; a non-finite value reads as 0.
float percentToAmount(double percent);
/// A boolean parameter is on at 0.5 or more.
inline bool isOn(double value)
{
    return value >= 0.5;
}
/// "BEEF Knob" reads "High" when its value truncated to an integer is 1.
bool beefIsHigh(double value);

} // namespace brindlecot
