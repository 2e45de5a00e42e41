#include "EditorTestSupport.h"

#include "controls/TextControl.h"
#include "ui/Layout.h"

#include <gtest/gtest.h>

using namespace brindlecot;
using namespace brindlecot::ui;
using brindlecot::test::EditorFixture;

namespace {
juce::Rectangle<int> expected(const Rect& r, float s)
{
    return {juce::roundToInt(r.left * s), juce::roundToInt(r.top * s),
        juce::roundToInt(r.right * s) - juce::roundToInt(r.left * s),
        juce::roundToInt(r.bottom * s) - juce::roundToInt(r.top * s)};
}
} // namespace

class EditorGeometry : public testing::TestWithParam<float>
{
};

TEST_P(EditorGeometry, EveryTaggedControlSitsAtItsLayoutRectangleTimesTheScale)
{
    const float k = GetParam();
    EditorFixture f;
    f.open();
    f.editor->applyWindowScale(k);
    ASSERT_EQ(f.editor->getWidth(), juce::roundToInt(542.0f * k));
    ASSERT_EQ(f.editor->getHeight(), juce::roundToInt(476.0f * k));
    const float s = f.editor->layoutScaleNow();
    EXPECT_NEAR(s, k, 2e-3);
    int checked = 0;
    for (const auto& e : layoutTable()) {
        auto* c = f.editor->control(e.tag);
        ASSERT_NE(c, nullptr) << "tag " << e.tag;
        Rect base = e.base;
        if (e.tag == kCtrlTagLogo && dynamic_cast<brindlecot::controls::TextControl*>(c) == nullptr)
            continue; // the picture's rectangle depends on its aspect ratio (checked below)
        EXPECT_EQ(c->getBounds(), expected(base, s)) << "tag " << e.tag << " at " << k << "x";
        ++checked;
    }
    EXPECT_GE(checked, 43);
    auto* logo = f.editor->control(kCtrlTagLogo);
    EXPECT_NEAR(logo->getBounds().getCentreX(), 271.0f * s, 1.0f);
    EXPECT_EQ(logo->getHeight(), juce::roundToInt(460 * s) - juce::roundToInt(442 * s));
    // The preset bar spans the whole window width.
    EXPECT_EQ(f.editor->presetBarSlot().getBounds(),
        juce::Rectangle<int>(0, 0, f.editor->getWidth(), juce::roundToInt(32 * s)));
    EXPECT_EQ(f.editor->presetBarSlot().getName(), "presetBarSlot");
    EXPECT_EQ(f.editor->menuButtonSlot().getName(), "menuButtonSlot");
    EXPECT_EQ(f.editor->updatePillSlot().getName(), "updatePillSlot");
}

INSTANTIATE_TEST_SUITE_P(Scales, EditorGeometry, testing::Values(1.0f, 1.5f, 2.0f));

TEST(EditorWindow, HostResizesFollowTheAspectRule)
{
    EditorFixture f;
    f.open();
    auto* c = f.editor->getConstrainer();
    ASSERT_NE(c, nullptr);
    const auto constrained = [c](int w, int h) {
        juce::Rectangle<int> r(0, 0, w, h);
        c->checkBounds(r, {}, {}, false, false, false, false);
        return r;
    };
    EXPECT_EQ(constrained(800, 800), juce::Rectangle<int>(0, 0, 800, 703));
    EXPECT_EQ(constrained(300, 200), juce::Rectangle<int>(0, 0, 406, 357));
    EXPECT_EQ(constrained(5000, 5000), juce::Rectangle<int>(0, 0, 1084, 952));
}

TEST(EditorWindow, ReopensAtTheSizeItHadWhenClosed)
{
    EditorFixture f;
    f.open();
    f.editor->applyWindowScale(1.5f);
    f.close();
    f.open();
    EXPECT_EQ(f.editor->getWidth(), 813);
    EXPECT_EQ(f.editor->getHeight(), 714);
}

TEST(EditorWindow, TheTitleEndsBeforeAShownUpdatePill)
{
    EditorFixture f;
    f.open();
    auto* title = f.editor->control(kCtrlTagTitle);
    EXPECT_EQ(title->getRight(), 365);
    f.editor->setUpdatePillArea({209, 45, 140, 28}); // its full place
    EXPECT_EQ(title->getRight(), 201); // 209 - 28 * 8 / 28
    f.editor->setUpdatePillArea({300, 45, 49, 28}); // a narrower pill further right
    EXPECT_EQ(title->getRight(), 292);
    f.editor->setUpdatePillArea({});
    EXPECT_EQ(title->getRight(), 365);
    // The shrink survives a rescale.
    f.editor->setUpdatePillArea({418, 90, 280, 56});
    f.editor->applyWindowScale(2.0f); // rebuilds the controls at the new scale
    EXPECT_EQ(f.editor->control(kCtrlTagTitle)->getRight(), 402);
}
