#include "ui/Layout.h"
#include "engine/EditorSizing.h"

#include <gtest/gtest.h>

#include <set>

using namespace brindlecot;
using namespace brindlecot::ui;

TEST(Layout, ScaleIsTheSmallerOfTheTwoCanvasRatios)
{
    EXPECT_FLOAT_EQ(layoutScale(542, 476), 1.0f);
    EXPECT_FLOAT_EQ(layoutScale(1084, 476), 1.0f); // the height limits
    EXPECT_FLOAT_EQ(layoutScale(813, 714), 1.5f);
    EXPECT_FLOAT_EQ(layoutScale(1084, 952), 2.0f);
    EXPECT_FLOAT_EQ(layoutScale(0, 0), 1.0f);
}

TEST(Layout, EveryTagAppearsOnceAndLiesInsideTheCanvas)
{
    std::set<int> seen;
    for (const auto& e : layoutTable()) {
        EXPECT_TRUE(seen.insert(e.tag).second) << e.tag;
        EXPECT_FALSE(e.base.empty()) << e.tag;
        EXPECT_GE(e.base.left, 0.0f);
        EXPECT_LE(e.base.right, kCanvasWidth);
        EXPECT_LE(e.base.bottom, kCanvasHeight);
    }
    // 28 single tags (100..128 without 102), 6 section titles, 3 values, 3 captions, 3 knob
    // labels and the scrim.
    EXPECT_EQ(seen.size(), 44u);
    EXPECT_EQ(seen.count(102), 0u);
    EXPECT_EQ(seen.count(kCtrlTagSectionValue + 0), 0u);
    EXPECT_EQ(seen.count(kCtrlTagKnobLabel + 5), 0u);
}

TEST(Layout, ColumnsAre82UnitsWideFrom25To517)
{
    EXPECT_EQ(columnRect(0, 0, 1), (Rect {25, 0, 107, 1}));
    EXPECT_EQ(columnRect(5, 0, 1), (Rect {435, 0, 517, 1}));
    EXPECT_EQ(layoutRect(kCtrlTagSectionTitle + 2), (Rect {189, 106, 271, 122}));
    EXPECT_EQ(layoutRect(kCtrlTagKnobLabel + 4), (Rect {353, 376, 435, 390}));
}

TEST(Layout, DbScaleMarksLineUpWithTheMeterBars)
{
    const auto marks = dbScaleMarks();
    ASSERT_EQ(marks.size(), 5u);
    const float expected[] = {160, 192, 224, 256, 288};
    for (size_t i = 0; i < 5; ++i)
        EXPECT_FLOAT_EQ(marks[i].y, expected[i]);
    EXPECT_EQ(marks[0].leftText, (Rect {23, 154, 51, 166}));
    EXPECT_EQ(marks[4].rightTick, (Rect {486, 288, 489, 289}));
}

TEST(Layout, LogoIsEighteenUnitsHighAndCentredOnTheMiddleColumn)
{
    const Rect r = logoRect(100, 20);
    EXPECT_FLOAT_EQ(r.width(), 90.0f);
    EXPECT_FLOAT_EQ(r.centreX(), 271.0f);
    EXPECT_FLOAT_EQ(r.top, 442.0f);
    EXPECT_FLOAT_EQ(r.bottom, 460.0f);
}

TEST(Layout, PresetBarSpansTheWholeCanvasWhileTheScrimSpansTheDesign)
{
    const float s = layoutScale(1084, 476);
    EXPECT_EQ(presetBarRect(1084, s), (Rect {0, 0, 1084, 32}));
    EXPECT_EQ(layoutRect(kCtrlTagScrim).scaled(s), (Rect {0, 76, 542, 476}));
}

TEST(EditorResizeRule, KeepsTheAspectRatioInsideTheLimits)
{
    int w = 800, h = 800;
    constrainEditorSize(w, h, 1.0);
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 703);
    w = 300, h = 200;
    constrainEditorSize(w, h, 1.0);
    EXPECT_EQ(w, 406);
    EXPECT_EQ(h, 357);
    w = 2168, h = 1904;
    EXPECT_TRUE(constrainEditorSize(w, h, 2.0));
    EXPECT_EQ(w, 2168);
    EXPECT_EQ(h, 1904);
    EXPECT_DOUBLE_EQ(editorDrawScale(w, h, 2.0), 2.0);
}
