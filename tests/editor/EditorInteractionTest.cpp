#include "EditorTestSupport.h"

#include "controls/BandStripControl.h"
#include "controls/BeefSelectControl.h"
#include "controls/CaptionControl.h"
#include "controls/CornerScaleControl.h"
#include "controls/LevelMeterControl.h"
#include "controls/PillToggleControl.h"
#include "controls/ScrimControl.h"
#include "controls/VoiceFloorHandle.h"
#include "ui/ControlTags.h"

#include <gtest/gtest.h>

using namespace brindlecot;
using namespace brindlecot::ui;
using brindlecot::test::EditorFixture;
using brindlecot::test::Pointer;
using P = juce::Point<float>;

namespace {
// Counts the host-facing gesture calls per parameter.
struct GestureLog : juce::AudioProcessorListener
{
    std::map<int, int> begins, ends, changes;
    void audioProcessorParameterChanged(juce::AudioProcessor*, int index, float) override
    {
        ++changes[index];
    }
    void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails&) override { }
    void audioProcessorParameterChangeGestureBegin(juce::AudioProcessor*, int index) override
    {
        ++begins[index];
    }
    void audioProcessorParameterChangeGestureEnd(juce::AudioProcessor*, int index) override { ++ends[index]; }
};

struct Interaction : testing::Test
{
    EditorFixture f;
    GestureLog log;
    std::unique_ptr<Pointer> pointer;

    void SetUp() override
    {
        f.open();
        f.processor->addListener(&log);
        pointer = std::make_unique<Pointer>(*f.editor);
    }
    void TearDown() override { f.processor->removeListener(&log); }
};
} // namespace

TEST_F(Interaction, DraggingTheTargetZoneIsOneGestureClampedToTheParameterRange)
{
    auto* c = pointer->press(P(62, 200));
    EXPECT_EQ(c, f.editor->control(kCtrlTagInputMeter));
    EXPECT_NEAR(f.plain(kVocalTarget), -15.0f, 0.26f); // (304 - 200) / 160 of the 60 dB bar
    pointer->drag(P(62, 100)); // above the bar: the parameter maximum
    EXPECT_FLOAT_EQ(f.plain(kVocalTarget), -6.0f);
    pointer->drag(P(62, 330)); // below the bar: the minimum
    EXPECT_FLOAT_EQ(f.plain(kVocalTarget), -36.0f);
    EXPECT_TRUE(f.control<controls::LevelMeterControl>(kCtrlTagInputMeter).editing());
    pointer->release();
    EXPECT_EQ(log.begins[kVocalTarget], 1);
    EXPECT_EQ(log.ends[kVocalTarget], 1);
    EXPECT_FALSE(f.control<controls::LevelMeterControl>(kCtrlTagInputMeter).editing());
}

TEST_F(Interaction, TypedTargetIgnoresLettersAndClampsToTheMinimum)
{
    auto& meter = f.control<controls::LevelMeterControl>(kCtrlTagInputMeter);
    pointer->doubleClick(P(62, 250));
    ASSERT_NE(meter.targetEntry(), nullptr);
    const float before = f.plain(kVocalTarget);
    meter.targetEntry()->setText("abc", false);
    meter.targetEntry()->keyPressed(juce::KeyPress(juce::KeyPress::returnKey));
    test::pumpMessages();
    EXPECT_FLOAT_EQ(f.plain(kVocalTarget), before);

    EXPECT_EQ(meter.targetEntry(), nullptr); // closed once the entry finished
    meter.openTargetEntry();
    EXPECT_EQ(meter.targetEntry()->getText(), juce::String(before, 1));
    meter.targetEntry()->setText("-100", false);
    meter.targetEntry()->keyPressed(juce::KeyPress(juce::KeyPress::returnKey));
    test::pumpMessages();
    EXPECT_FLOAT_EQ(f.plain(kVocalTarget), -36.0f);

    meter.openTargetEntry();
    meter.targetEntry()->setText("-12.5 dB", false);
    meter.targetEntry()->keyPressed(juce::KeyPress(juce::KeyPress::returnKey));
    test::pumpMessages();
    EXPECT_FLOAT_EQ(f.plain(kVocalTarget), -12.5f);
}

TEST_F(Interaction, VoiceFloorBottomZoneTurnsTheFloorOffAndPressesLeftOfTheBarEditTheTarget)
{
    // Right of the bar (x >= 74): the floor handle.
    EXPECT_EQ(pointer->press(P(80, 303)), f.editor->control(kCtrlTagVoiceFloor));
    pointer->release();
    EXPECT_FLOAT_EQ(f.plain(kVoiceFloor), -80.0f);
    pointer->press(P(90, 224));
    EXPECT_FLOAT_EQ(f.plain(kVoiceFloor), -24.0f);
    pointer->drag(P(90, 50)); // above the bar: 0 dB, the parameter maximum
    EXPECT_FLOAT_EQ(f.plain(kVoiceFloor), 0.0f);
    pointer->release();
    EXPECT_EQ(log.begins[kVoiceFloor], 2);
    EXPECT_EQ(log.ends[kVoiceFloor], 2);

    // On and left of the bar: the input meter's target, the floor stays.
    const float target = f.plain(kVocalTarget);
    EXPECT_EQ(pointer->press(P(60, 224)), f.editor->control(kCtrlTagInputMeter));
    pointer->release();
    EXPECT_FLOAT_EQ(f.plain(kVoiceFloor), 0.0f);
    EXPECT_NE(f.plain(kVocalTarget), target);
}

TEST_F(Interaction, VoiceFloorLabelShowsWhileHovering)
{
    auto& floor = f.control<controls::VoiceFloorHandle>(kCtrlTagVoiceFloor);
    EXPECT_FALSE(floor.labelShown());
    pointer->hover(P(85, 250));
    EXPECT_TRUE(floor.labelShown());
}

TEST_F(Interaction, BeefBoxesSelectLowAndHighAndIgnoreEverythingElse)
{
    auto& beef = f.control<controls::BeefSelectControl>(kCtrlTagBeef);
    const auto box = [&](juce::Rectangle<float> r) { return r.getCentre() + beef.getPosition().toFloat(); };
    pointer->click(box(beef.highBox()));
    EXPECT_FLOAT_EQ(f.plain(kBeefKnob), 1.0f);
    EXPECT_EQ(log.begins[kBeefKnob], 1);
    pointer->click(box(beef.highBox())); // already selected: nobody is told
    pointer->click(P(476, 383)); // between the boxes
    EXPECT_EQ(log.begins[kBeefKnob], 1);
    EXPECT_EQ(log.changes[kBeefKnob], 1);
    pointer->click(box(beef.lowBox()));
    EXPECT_FLOAT_EQ(f.plain(kBeefKnob), 0.0f);
}

TEST_F(Interaction, BandStripPressPicksTheNearestHandleAndKeepsItInItsHalf)
{
    auto& strip = f.control<controls::BandStripControl>(kCtrlTagBandStrip);
    const auto g = strip.geometry();
    const auto at = [&](float fraction) { return P(g.x(fraction), g.cy) + strip.getPosition().toFloat(); };
    // Both handles at their ends; a press in the middle is a tie and goes to the high-pass, which
    // jumps to the pointer: 1 kHz.
    pointer->press(at(0.5f));
    EXPECT_EQ(strip.draggedHandle(), 0);
    EXPECT_NEAR(f.plain(kHighPass), 1000.0f, 0.5f);
    pointer->drag(at(0.25f));
    EXPECT_NEAR(f.plain(kHighPass), std::sqrt(20.0f * 1000.0f), 0.5f);
    pointer->release();
    EXPECT_EQ(strip.draggedHandle(), -1);

    pointer->press(at(0.9f));
    EXPECT_EQ(strip.draggedHandle(), 1);
    pointer->drag(at(0.0f) - P(40, 0)); // far left: the low-pass stops at 1 kHz
    EXPECT_NEAR(f.plain(kLowPass), 1000.0f, 0.5f);
    pointer->release();
    EXPECT_EQ(log.begins[kLowPass], 1);
    EXPECT_EQ(log.ends[kLowPass], 1);
    EXPECT_NEAR(f.plain(kHighPass), std::sqrt(20.0f * 1000.0f), 0.05f); // the high-pass stayed
}

TEST_F(Interaction, PillsToggleTheirParametersAndTheScrimLetsPressesThrough)
{
    auto& bypass = f.control<controls::PillToggleControl>(kCtrlTagBypassPill);
    EXPECT_EQ(bypass.currentText(), "ACTIVE");
    EXPECT_TRUE(bypass.isLit());
    pointer->click(P(473, 59));
    EXPECT_FLOAT_EQ(f.plain(kSoftBypass), 1.0f);
    EXPECT_EQ(bypass.currentText(), "BYPASSED");
    EXPECT_FALSE(bypass.isLit());
    EXPECT_TRUE(f.control<controls::ScrimControl>(kCtrlTagScrim).veiling());

    // Under the scrim: the HP pill, the ECO pill above it.
    EXPECT_EQ(pointer->target(P(48, 432)), f.editor->control(kCtrlTagHighPassPill));
    pointer->click(P(48, 432));
    EXPECT_FLOAT_EQ(f.plain(kHighPassOn), 0.0f);
    pointer->click(P(389, 59));
    EXPECT_FLOAT_EQ(f.plain(kEcoMode), 1.0f);
    EXPECT_TRUE(f.control<controls::PillToggleControl>(kCtrlTagEcoPill).isLit());
    pointer->click(P(473, 59));
    EXPECT_FLOAT_EQ(f.plain(kSoftBypass), 0.0f);
    EXPECT_EQ(log.begins[kSoftBypass], 2);
    EXPECT_EQ(log.ends[kSoftBypass], 2);
}

TEST_F(Interaction, KnobsAndSlidersDragWithGearingFourInOneGesture)
{
    // The input knob is 60 units high: the whole range takes 240 units of drag.
    pointer->press(P(66, 344));
    pointer->drag(P(66, 344 - 60));
    pointer->drag(P(66, 344 - 120));
    pointer->release();
    EXPECT_NEAR(f.plain(kInput), 0.0f + 48.0f * 0.5f, 0.11f);
    EXPECT_EQ(log.begins[kInput], 1);
    EXPECT_EQ(log.ends[kInput], 1);
    pointer->doubleClick(P(66, 344));
    EXPECT_FLOAT_EQ(f.plain(kInput), 0.0f);

    // The bleed slider's handle travels 196 - 18 units; a drag of that length moves a quarter.
    pointer->press(P(148, 300));
    pointer->drag(P(148, 300 - 178));
    pointer->release();
    EXPECT_NEAR(f.plain(kBleedReduction), 25.0f, 0.6f);
}

TEST_F(Interaction, CornerGripScalesTheWindowAndDoubleClickReturnsToOne)
{
    EXPECT_EQ(pointer->press(P(537, 471)), pointer->target(P(537, 471)));
    ASSERT_NE(dynamic_cast<controls::CornerScaleControl*>(pointer->target(P(537, 471))), nullptr);
    pointer->drag(P(537 + 100, 471 + 20));
    EXPECT_EQ(f.editor->getWidth(), 642);
    EXPECT_EQ(f.editor->getHeight(), 564);
    pointer->drag(P(537 + 2000, 471 + 20));
    EXPECT_EQ(f.editor->getWidth(), 1084);
    EXPECT_EQ(f.editor->getHeight(), 952);
    pointer->release();
    pointer->doubleClick(P(1084 - 5, 952 - 5));
    EXPECT_EQ(f.editor->getWidth(), 542);
    EXPECT_EQ(f.editor->getHeight(), 476);
}

TEST_F(Interaction, ClickingACaptionOpensAValueEntryClampedToTheRange)
{
    auto* c = pointer->press(P(48, 451)); // the high-pass caption
    pointer->release();
    auto* caption = dynamic_cast<controls::CaptionControl*>(c);
    ASSERT_NE(caption, nullptr);
    ASSERT_NE(caption->entry(), nullptr);
    EXPECT_EQ(caption->entry()->getText(), "20.0");
    caption->entry()->setText("150 Hz", false);
    caption->entry()->keyPressed(juce::KeyPress(juce::KeyPress::returnKey));
    test::pumpMessages();
    EXPECT_NEAR(f.plain(kHighPass), 150.0f, 0.01f);
    EXPECT_EQ(log.begins[kHighPass], 1);
    EXPECT_EQ(caption->entry(), nullptr);

    caption->openEntry();
    caption->entry()->setText("lots", false);
    caption->entry()->keyPressed(juce::KeyPress(juce::KeyPress::returnKey));
    test::pumpMessages();
    EXPECT_NEAR(f.plain(kHighPass), 150.0f, 0.01f);
    caption->openEntry();
    caption->entry()->setText("99999", false);
    caption->entry()->keyPressed(juce::KeyPress(juce::KeyPress::returnKey));
    test::pumpMessages();
    EXPECT_FLOAT_EQ(f.plain(kHighPass), 1000.0f);
}
