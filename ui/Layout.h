// The editor's geometry as data: the 542 x 476 design canvas in base units, every tagged control's
// rectangle, the untagged decorations, and the single scale factor that maps base units onto any
// canvas. Drawing code multiplies these rectangles by the scale and nothing else.
#pragma once

#include "ui/ControlTags.h"

#include <vector>

namespace brindlecot::ui {

inline constexpr float kCanvasWidth = 542.0f;
inline constexpr float kCanvasHeight = 476.0f;

/// Axis-aligned rectangle, (left, top, right, bottom).
struct Rect
{
    float left = 0.0f;
    float top = 0.0f;
    float right = 0.0f;
    float bottom = 0.0f;

    float width() const { return right - left; }
    float height() const { return bottom - top; }
    float centreX() const { return 0.5f * (left + right); }
    float centreY() const { return 0.5f * (top + bottom); }
    bool contains(float x, float y) const { return x >= left && x < right && y >= top && y < bottom; }
    bool empty() const { return right <= left || bottom <= top; }
    Rect scaled(float s) const { return {left * s, top * s, right * s, bottom * s}; }
    bool operator==(const Rect& o) const
    {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

/// s = min(H / 476, W / 542): the canvas holds the whole design, aspect ratio kept.
float layoutScale(float width, float height);

/// Column k (0..5): 82 units wide, centre 66 + 82k, spanning 25..517 together.
float columnCentre(int k);
Rect columnRect(int k, float top, float bottom);

struct TaggedRect
{
    int tag;
    Rect base; // base units
};

/// Every tagged control's rectangle in base units, in creation order. The logo (117) is listed
/// with its text-fallback rectangle; logoRect() gives the picture's.
const std::vector<TaggedRect>& layoutTable();
/// The rectangle of a tag, or an empty rectangle when the tag has no control.
Rect layoutRect(int tag);

/// Picture logo: 18 units high (442..460), width from the picture's aspect ratio, centred on 271.
Rect logoRect(float pictureWidth, float pictureHeight);

/// Places that other editor pieces fill in later (preset bar, menu button, update pill).
Rect presetBarRect(float canvasWidth, float scale); // 0, 0, full canvas width, 32s
Rect menuButtonRect(float canvasWidth, float scale); // right end of the preset bar
Rect updatePillRect(); // 209, 45, 349, 73

/// Untagged decoration rectangles.
Rect cornerGripRect(); // 529, 463, 541, 475
std::vector<Rect> meterBarBackgrounds(); // input and output bar tracks
std::vector<Rect> columnTicks(); // six 1-unit ticks on the separator line
std::vector<Rect> chevronRects(); // five flow arrows between the columns

/// dB scale beside the meters: marks 0, -12, -24, -36, -48.
struct ScaleMark
{
    int db;
    float y; // base units
    Rect leftText, rightText, leftTick, rightTick;
};
std::vector<ScaleMark> dbScaleMarks();

} // namespace brindlecot::ui
