#include "ui/Layout.h"

#include <algorithm>
#include <cmath>

namespace brindlecot::ui {

float layoutScale(float width, float height)
{
    const float s = std::min(height / kCanvasHeight, width / kCanvasWidth);
    return std::isfinite(s) && s > 0.0f ? s : 1.0f;
}

float columnCentre(int k)
{
    return 66.0f + 82.0f * static_cast<float>(k);
}

Rect columnRect(int k, float top, float bottom)
{
    const float c = columnCentre(k);
    return {c - 41.0f, top, c + 41.0f, bottom};
}

const std::vector<TaggedRect>& layoutTable()
{
    static const std::vector<TaggedRect> table = [] {
        std::vector<TaggedRect> t = {
            {kCtrlTagBody, {13, 86, 529, 410}},
            {kCtrlTagTitle, {25, 44, 365, 74}},
            {kCtrlTagLogo, {25, 442, 517, 460}},
            {kCtrlTagSeparator, {25, 304, 517, 305}},
            {kCtrlTagInputMeter, {25, 122, 107, 304}},
            {kCtrlTagOutputMeter, {435, 122, 517, 304}},
            {kCtrlTagVoiceFloor, {25, 122, 107, 304}},
            {kCtrlTagRideMeter, {353, 122, 435, 304}},
            {kCtrlTagBleedSlider, {139, 126, 157, 322}},
            {kCtrlTagFeedbackSlider, {221, 126, 239, 322}},
            {kCtrlTagAirSlider, {303, 126, 321, 322}},
            {kCtrlTagBleedReduction, {107, 305, 189, 406}},
            {kCtrlTagFeedbackReduction, {189, 305, 271, 406}},
            {kCtrlTagInputKnob, {36, 314, 96, 374}},
            {kCtrlTagAirCornerKnob, {282, 314, 342, 374}},
            {kCtrlTagRideKnob, {364, 314, 424, 374}},
            {kCtrlTagSaturationKnob, {446, 314, 506, 374}},
            {kCtrlTagBypassPill, {429, 45, 517, 73}},
            {kCtrlTagEcoPill, {357, 45, 421, 73}},
            {kCtrlTagUpdatePill, {209, 45, 349, 73}},
            {kCtrlTagHighPassPill, {25, 422, 71, 442}},
            {kCtrlTagLowPassPill, {471, 422, 517, 442}},
            {kCtrlTagHighPassCaption, {8, 444, 88, 458}},
            {kCtrlTagLowPassCaption, {454, 444, 534, 458}},
            {kCtrlTagBandStrip, {85, 425, 457, 440}},
        };
        for (int k = 0; k < 6; ++k)
            t.push_back({kCtrlTagSectionTitle + k, columnRect(k, 106, 122)});
        for (int k = 1; k <= 3; ++k)
            t.push_back({kCtrlTagSectionValue + k, columnRect(k, 122, 140)});
        t.push_back({kCtrlTagInputCaption, {25, 390, 107, 402}});
        t.push_back({kCtrlTagAirCornerReadout, {271, 390, 353, 402}});
        t.push_back({kCtrlTagRideCaption, {353, 390, 435, 402}});
        t.push_back({kCtrlTagSaturationCaption, {435, 390, 517, 402}});
        for (int k : {0, 3, 4})
            t.push_back({kCtrlTagKnobLabel + k, columnRect(k, 376, 390)});
        t.push_back({kCtrlTagBeef, {435, 376, 517, 390}});
        t.push_back({kCtrlTagStatus, {25, 460, 517, 472}});
        t.push_back({kCtrlTagScrim, {0, 76, 542, 476}});
        return t;
    }();
    return table;
}

Rect layoutRect(int tag)
{
    for (const auto& e : layoutTable())
        if (e.tag == tag)
            return e.base;
    return {};
}

Rect logoRect(float pictureWidth, float pictureHeight)
{
    const float w = pictureHeight > 0.0f ? 18.0f * pictureWidth / pictureHeight : 0.0f;
    const float c = (25.0f + 517.0f) / 2.0f;
    return {c - w / 2.0f, 442.0f, c + w / 2.0f, 460.0f};
}

Rect presetBarRect(float canvasWidth, float scale)
{
    return {0.0f, 0.0f, canvasWidth, 32.0f * scale};
}

Rect menuButtonRect(float canvasWidth, float scale)
{
    // The menu opener sits at the bar's right end, inside its 25-unit margin.
    return {canvasWidth - 25.0f * scale - 24.0f * scale, 4.0f * scale, canvasWidth - 25.0f * scale,
        28.0f * scale};
}

Rect updatePillRect()
{
    return layoutRect(kCtrlTagUpdatePill);
}

Rect cornerGripRect()
{
    return {529, 463, 541, 475};
}

std::vector<Rect> meterBarBackgrounds()
{
    return {{58, 144, 74, 304}, {468, 144, 484, 304}};
}

std::vector<Rect> columnTicks()
{
    std::vector<Rect> r;
    for (int k = 0; k < 6; ++k)
        r.push_back({columnCentre(k) - 0.5f, 301, columnCentre(k) + 0.5f, 308});
    return r;
}

std::vector<Rect> chevronRects()
{
    std::vector<Rect> r;
    for (float x : {105.0f, 187.0f, 269.0f, 351.0f, 433.0f})
        r.push_back({x - 6.0f, 297, x + 6.0f, 309});
    return r;
}

std::vector<ScaleMark> dbScaleMarks()
{
    std::vector<ScaleMark> marks;
    for (int v : {0, -12, -24, -36, -48}) {
        // The meter bars span +6 dB at y = 144 to -54 dB at y = 304.
        const float y = 32.0f + 112.0f + 160.0f * static_cast<float>(6 - v) / 60.0f;
        marks.push_back({v, y, {23, y - 6, 51, y + 6}, {491, y - 6, 519, y + 6}, {53, y, 56, y + 1},
            {486, y, 489, y + 1}});
    }
    return marks;
}

} // namespace brindlecot::ui
