#include "ui/VoiceFloorRules.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace brindlecot::ui {

float voiceFloorY(const Rect& bar, const VoiceFloorScale& sc, float valueDb)
{
    const float t = std::clamp((sc.maxDb - valueDb) / std::max(1.0f, sc.maxDb - sc.minDb), 0.0f, 1.0f);
    return bar.top + bar.height() * (std::isfinite(t) ? t : 1.0f);
}

float voiceFloorFromY(const Rect& bar, const VoiceFloorScale& sc, float y)
{
    const float t = std::clamp((y - bar.top) / std::max(1.0f, bar.height()), 0.0f, 1.0f);
    if (t > 0.98f)
        return sc.paramMinDb;
    const float d = sc.maxDb - std::max(1.0f, sc.maxDb - sc.minDb) * t;
    return std::clamp(d, sc.paramMinDb, sc.paramMaxDb);
}

bool voiceFloorHit(const Rect& control, const Rect& bar, float x, float y)
{
    return x >= bar.right && control.contains(x, y);
}

bool voiceFloorOff(const VoiceFloorScale& sc, float valueDb)
{
    return valueDb <= sc.minDb;
}

std::string voiceFloorLabel(const VoiceFloorScale& sc, float valueDb)
{
    if (voiceFloorOff(sc, valueDb))
        return "floor off";
    char text[32];
    std::snprintf(text, sizeof text, "floor %.0f dB", static_cast<double>(valueDb));
    return text;
}

} // namespace brindlecot::ui
