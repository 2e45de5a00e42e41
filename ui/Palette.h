// Colours of the editor as plain data (alpha, red, green, blue, 0..255 each), the six themes and
// the rule that turns a host track colour into a readable accent.
#pragma once

#include <array>
#include <cstdint>

namespace brindlecot::ui {

struct Argb
{
    uint8_t a = 255, r = 0, g = 0, b = 0;

    constexpr Argb withAlpha(uint8_t alpha) const { return {alpha, r, g, b}; }
    constexpr uint32_t packed() const
    {
        return (uint32_t(a) << 24) | (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
    }
    constexpr bool operator==(const Argb& o) const { return a == o.a && r == o.r && g == o.g && b == o.b; }
};

/// Primary text colour at an alpha: (a, 250, 250, 250).
constexpr Argb ink(uint8_t alpha = 255)
{
    return {alpha, 250, 250, 250};
}

namespace palette {
inline constexpr Argb background {255, 10, 10, 10};
inline constexpr Argb body {255, 20, 20, 20};
inline constexpr Argb scrim {179, 10, 10, 10};
inline constexpr Argb pillOrange {255, 252, 120, 92};
inline constexpr Argb pillOrangeHover {255, 253, 146, 124};
inline constexpr Argb amber {255, 255, 157, 46};
inline constexpr Argb knobBody {255, 30, 30, 30};
inline constexpr Argb knobPressed {255, 34, 34, 34};
inline constexpr Argb sliderPressed {255, 210, 210, 210};
inline constexpr Argb meterPeak {209, 250, 250, 250};
inline constexpr Argb meterClip {255, 235, 64, 52};
inline constexpr Argb meterLow {255, 232, 176, 63};
inline constexpr Argb meterHigh {255, 235, 64, 52};
inline constexpr Argb zoneShade {122, 0, 0, 0};
inline constexpr Argb zoneShadeEdit {158, 0, 0, 0};
inline constexpr Argb zoneLine {204, 250, 250, 250};
inline constexpr Argb zoneLineEdit {255, 250, 250, 250};
inline constexpr Argb reductionFill {209, 250, 250, 250};
inline constexpr Argb rideCut {255, 240, 240, 240};
inline constexpr Argb chevron {51, 250, 250, 250};
inline constexpr Argb gripIdle {80, 250, 250, 250};
inline constexpr Argb gripHover {180, 250, 250, 250};
inline constexpr Argb floorOff {90, 250, 250, 250};
inline constexpr Argb white {255, 255, 255, 255};
inline constexpr Argb black {255, 0, 0, 0};
} // namespace palette

inline constexpr int kNumThemes = 6;
inline constexpr int kThemeDawColour = 5;

struct Theme
{
    const char* name; // menu text
    Argb colour;
};

/// "Green", "Red", "Orange", "Blue", "Purple", "DAW color" (its colour is the fallback).
const std::array<Theme, kNumThemes>& themes();

/// Accent for a theme index and the host's track colour (0xRRGGBB, or -1 when none is usable).
/// Indices outside 0..5 read as 0; index 5 follows the host colour, brightened to luma 47 or
/// darkened to luma 200 so that it stays readable on the dark body, and falls back to row 5 when
/// there is no colour or it is black (luma below 1).
Argb accentColour(int themeIndex, int32_t hostRgb, uint8_t alpha = 255);

/// The luma rule alone, for an opaque host colour 0xRRGGBB.
Argb readableAccent(int32_t hostRgb);

} // namespace brindlecot::ui
