#include "engine/Parameters.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace brindlecot {

double maxDriveDb()
{
    return static_cast<double>(20.0f * std::log10(80.0f));
}

const std::array<ParamSpec, kNumParams>& parameterTable()
{
    using K = ParamKind;
    using S = ParamShape;
    static const double drive = maxDriveDb();
    static const std::array<ParamSpec, kNumParams> table = {{
        {kInput, "Input", K::Gain, 0.0, -24.0, 24.0, 0.1, "dB", S::Linear},
        {kBleedReduction, "Bleed Reduction", K::Percentage, 0.0, 0.0, 100.0, 1.0, "%", S::Linear},
        {kFeedbackReduction, "Feedback Reduction", K::Percentage, 0.0, 0.0, 100.0, 1.0, "%", S::Linear},
        {kOutput, "Output", K::Gain, 0.0, -24.0, 24.0, 0.1, "dB", S::Linear},
        {kHighPass, "High-Pass", K::Frequency, 20.0, 20.0, 1000.0, 0.1, "Hz", S::Exponential},
        {kLowPass, "Low-Pass", K::Frequency, 20000.0, 1000.0, 20000.0, 0.1, "Hz", S::Exponential},
        {kHighPassOn, "High-Pass On", K::Boolean, 1.0, 0.0, 1.0, 1.0, "", S::Stepped},
        {kLowPassOn, "Low-Pass On", K::Boolean, 1.0, 0.0, 1.0, 1.0, "", S::Stepped},
        {kSoftBypass, "Soft Bypass", K::Boolean, 0.0, 0.0, 1.0, 1.0, "", S::Stepped},
        {kEcoMode, "ECO Mode", K::Boolean, 0.0, 0.0, 1.0, 1.0, "", S::Stepped},
        {kAir, "Air", K::Percentage, 0.0, 0.0, 100.0, 1.0, "%", S::Linear},
        {kAirCorner, "Air Corner", K::PlainDouble, 90.0, 50.0, 130.0, 1.0, "%", S::Linear},
        {kRideStrength, "Ride Strength", K::PlainDouble, 0.0, 0.0, 12.0, 0.1, "dB", S::Linear},
        {kVoiceFloor, "Voice Floor", K::PlainDouble, -60.0, -80.0, 0.0, 0.5, "dB", S::Linear},
        {kSaturation, "Saturation", K::Percentage, 0.0, 0.0, 100.0, 1.0, "%", S::Linear},
        {kSaturationFocus, "Saturation Focus", K::Frequency, 2000.0, 200.0, 20000.0, 0.1, "Hz",
            S::Exponential},
        {kSaturationDrive, "Saturation Drive", K::PlainDouble, 30.0, 0.0, drive, 0.1, "dB", S::Linear},
        {kVocalTarget, "Vocal Target", K::PlainDouble, -20.0, -36.0, -6.0, 0.5, "dB", S::Linear},
        {kTopSaturation, "Top Saturation", K::Percentage, 0.0, 0.0, 100.0, 1.0, "%", S::Linear},
        {kTopSaturationFocus, "Top Saturation Focus", K::Frequency, 10000.0, 2000.0, 16000.0, 0.1, "Hz",
            S::Exponential},
        {kTopSaturationDrive, "Top Saturation Drive", K::PlainDouble, 38.0, 0.0, drive, 0.1, "dB", S::Linear},
        {kBeefKnob, "BEEF Knob", K::Enumeration, 0.0, 0.0, 1.0, 1.0, "", S::Stepped},
    }};
    return table;
}

int findParameter(const std::string& name)
{
    for (const auto& info : parameterTable())
        if (name == info.name)
            return info.index;
    return -1;
}

double constrainPlain(const ParamSpec& info, double plain)
{
    if (!std::isfinite(plain))
        return info.defaultValue;
    double v = std::clamp(plain, info.minValue, info.maxValue);
    if (info.shape == ParamShape::Stepped)
        v = std::clamp(std::round(v / info.step) * info.step, info.minValue, info.maxValue);
    return v;
}

double toNormalised(const ParamSpec& info, double plain)
{
    const double v = constrainPlain(info, plain);
    double n = 0.0;
    if (info.shape == ParamShape::Exponential)
        n = std::log(v / info.minValue) / std::log(info.maxValue / info.minValue);
    else
        n = (v - info.minValue) / (info.maxValue - info.minValue);
    return std::clamp(n, 0.0, 1.0);
}

double fromNormalised(const ParamSpec& info, double normalised)
{
    const double n = std::isfinite(normalised) ? std::clamp(normalised, 0.0, 1.0) : 0.0;
    double v = 0.0;
    if (info.shape == ParamShape::Exponential)
        v = info.minValue * std::pow(info.maxValue / info.minValue, n);
    else
        v = info.minValue + n * (info.maxValue - info.minValue);
    return constrainPlain(info, v);
}

int displayDecimals(const ParamSpec& info)
{
    // Count decimal places until the step becomes whole (at most 6).
    double step = info.step;
    int decimals = 0;
    while (decimals < 6 && step != std::floor(step)) {
        step *= 10.0;
        ++decimals;
    }
    return decimals;
}

std::string formatValue(const ParamSpec& info, double plain)
{
    if (info.kind == ParamKind::Boolean)
        return isOn(plain) ? "on" : "off";
    if (info.kind == ParamKind::Enumeration)
        return beefIsHigh(plain) ? "High" : "Low";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", displayDecimals(info), plain);
    return text;
}

std::string formatValueWithUnit(const ParamSpec& info, double plain)
{
    std::string text = formatValue(info, plain);
    if (info.unit[0] != '\0')
        text += std::string(" ") + info.unit;
    return text;
}

std::array<double, kNumParams> defaultParameterValues()
{
    std::array<double, kNumParams> values {};
    for (const auto& info : parameterTable())
        values[static_cast<std::size_t>(info.index)] = info.defaultValue;
    return values;
}

float dbToGain(double db)
{
    return static_cast<float>(std::exp(db * 0.1151292546497));
}

float percentToAmount(double percent)
{
    const double amount = percent / 100.0;
    if (!std::isfinite(amount))
        return 0.0f;
    return static_cast<float>(std::clamp(amount, 0.0, 1.0));
}

bool beefIsHigh(double value)
{
    return value >= 1.0 && value < 2.0; // trunc(value) == 1; NaN compares false
}

} // namespace brindlecot
