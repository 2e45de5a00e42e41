#include "ui/Palette.h"

#include <algorithm>

namespace brindlecot::ui {

const std::array<Theme, kNumThemes>& themes()
{
    static const std::array<Theme, kNumThemes> table = {{
        {"Green", {255, 21, 232, 121}},
        {"Red", {255, 233, 21, 90}},
        {"Orange", {255, 255, 122, 0}},
        {"Blue", {255, 0, 184, 255}},
        {"Purple", {255, 134, 0, 255}},
        {"DAW color", {255, 21, 232, 121}},
    }};
    return table;
}

Argb readableAccent(int32_t hostRgb)
{
    const Argb fallback = themes()[kThemeDawColour].colour;
    if (hostRgb < 0)
        return fallback;
    double r = (hostRgb >> 16) & 0xFF;
    double g = (hostRgb >> 8) & 0xFF;
    double b = hostRgb & 0xFF;
    // Rec. 709 luma weights.
    const double l = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    if (l < 1.0)
        return fallback;
    double k = 1.0;
    if (l < 47.0)
        k = 47.0 / l;
    else if (l > 200.0)
        k = 200.0 / l;
    auto channel = [k](double c) { return static_cast<uint8_t>(std::clamp(c * k, 0.0, 255.0)); };
    return {255, channel(r), channel(g), channel(b)};
}

Argb accentColour(int themeIndex, int32_t hostRgb, uint8_t alpha)
{
    const int i = themeIndex >= 0 && themeIndex < kNumThemes ? themeIndex : 0;
    if (i != kThemeDawColour)
        return themes()[static_cast<size_t>(i)].colour.withAlpha(alpha);
    return readableAccent(hostRgb).withAlpha(alpha);
}

} // namespace brindlecot::ui
