#include "ui/LevelMeterRules.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace brindlecot::ui {

Rect meterBarRect(const Rect& control, float readoutHeight, float barWidth)
{
    Rect bar {control.left, control.top + readoutHeight, control.right, control.bottom};
    if (barWidth > 0.0f && barWidth < control.width()) {
        bar.left = control.centreX() - barWidth / 2.0f;
        bar.right = control.centreX() + barWidth / 2.0f;
    }
    return bar;
}

float meterFraction(const MeterRange& range, float db)
{
    const float f = (db - range.minDb) / std::max(1.0f, range.maxDb - range.minDb);
    return std::isfinite(f) ? std::clamp(f, 0.0f, 1.0f) : 0.0f;
}

float meterY(const Rect& bar, const MeterRange& range, float db)
{
    return bar.bottom - bar.height() * meterFraction(range, db);
}

float dbFromMeterY(const Rect& bar, const MeterRange& range, float y)
{
    const float t = std::clamp((bar.bottom - y) / std::max(1.0f, bar.height()), 0.0f, 1.0f);
    return range.minDb + std::max(1.0f, range.maxDb - range.minDb) * t;
}

Rect targetEditZone(const Rect& control, const Rect& bar)
{
    return {bar.left - 0.1875f * bar.width(), control.top, bar.right, control.bottom};
}

LevelClass classifyLevel(const MeterRange& range, float levelDb, float targetDb, float toleranceDb)
{
    if (!(levelDb > range.minDb))
        return LevelClass::None;
    if (std::fabs(levelDb - targetDb) <= toleranceDb)
        return LevelClass::OnTarget;
    return levelDb < targetDb ? LevelClass::Low : LevelClass::High;
}

float peakDb(const MeterRange& range, float peakValue)
{
    if (!std::isfinite(peakValue))
        return range.minDb;
    return range.minDb + (range.maxDb - range.minDb) * std::clamp(peakValue, 0.0f, 1.0f);
}

std::string peakReadout(const MeterRange& range, float peakValue)
{
    const float p = peakDb(range, peakValue);
    if (p <= range.minDb + 0.5f)
        return "-inf";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dB", static_cast<double>(p));
    return text;
}

float normalisedFromAmplitude(const MeterRange& range, float amplitude)
{
    if (!(amplitude > 0.0f) || !std::isfinite(amplitude))
        return 0.0f;
    return meterFraction(range, 20.0f * std::log10(amplitude));
}

std::optional<double> parseLeadingNumber(const std::string& text)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    const double v = std::strtod(begin, &end);
    if (end == begin || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::string targetReadout(float targetDb)
{
    char text[32];
    std::snprintf(text, sizeof text, "target %.1f", static_cast<double>(targetDb));
    return text;
}

} // namespace brindlecot::ui
