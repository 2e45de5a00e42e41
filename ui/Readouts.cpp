#include "ui/Readouts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace brindlecot::ui {

std::string reductionReadout(float value, float zeroDb, float fullDb)
{
    const float v = std::clamp(std::isfinite(value) ? value : 0.0f, 0.0f, 1.0f);
    if (v <= 0.001f)
        return "--";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dB", static_cast<double>(zeroDb + (fullDb - zeroDb) * v));
    return text;
}

float rideGainDb(float value, float rangeDb)
{
    return (value - 0.5f) * 2.0f * rangeDb;
}

std::string rideReadout(float value, float rangeDb)
{
    char text[32];
    std::snprintf(text, sizeof text, "%+.1f dB", static_cast<double>(rideGainDb(value, rangeDb)));
    return text;
}

double airCornerHz(double sampleRate, double airCornerPercent, double lowPassHz, bool lowPassOn)
{
    const double k = airCornerPercent / 100.0;
    const bool engaged = lowPassOn && lowPassHz < 20000.0;
    const double base = engaged ? std::max(1.0, lowPassHz) : 8500.0;
    return std::min(std::max(1.0, std::max(1.0, sampleRate) * 0.4), base * std::clamp(k, 0.05, 4.0));
}

std::string airCornerReadout(double cornerHz)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f kHz", cornerHz / 1000.0);
    return text;
}

float gripScale(float startWidth, float dragSum, float baseWidth)
{
    return std::clamp((startWidth + dragSum) / baseWidth, kMinWindowScale, kMaxWindowScale);
}

} // namespace brindlecot::ui
