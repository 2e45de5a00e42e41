// Renders the editor in-process and compares it with reviewed golden images. Re-bless with
// VELARUNE_BLESS=1 after a deliberate change, and look at every image before committing it.
#include "EditorTestSupport.h"

#include "ui/ControlTags.h"
#include "ui/StatusLine.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace brindlecot;
using namespace brindlecot::ui;
using brindlecot::test::compareWithGolden;
using brindlecot::test::EditorFixture;

namespace {
juce::Image render(editor::VelaruneEditor& e)
{
    return e.createComponentSnapshot(e.getLocalBounds(), true, 1.0f);
}

float amplitude(float db)
{
    return std::pow(10.0f, db / 20.0f);
}

// A busy moment: singing near the target, two notches, bleed and ride working.
void showActivity(EditorFixture& f)
{
    f.setPlain(kBleedReduction, 45.0f);
    f.setPlain(kFeedbackReduction, 70.0f);
    f.setPlain(kAir, 30.0f);
    f.setPlain(kRideStrength, 6.0f);
    f.setPlain(kVoiceFloor, -42.0f);
    f.setPlain(kHighPass, 90.0f);
    f.setPlain(kLowPass, 12000.0f);
    f.setPlain(kSaturation, 35.0f);
    auto& e = *f.editor;
    e.pushMeterReading(kCtrlTagInputMeter, amplitude(-9.0f), amplitude(-18.5f));
    e.pushMeterReading(kCtrlTagOutputMeter, amplitude(-0.0f), amplitude(-14.0f));
    e.sendInputLevel(-19.0f);
    e.setControlValue(kCtrlTagBleedReduction, 0.35f);
    e.setControlValue(kCtrlTagFeedbackReduction, 0.6f);
    e.setControlValue(kCtrlTagRideMeter, 0.62f);
    StatusInputs s;
    s.activeNotchCount = 2;
    s.deepestNotchHz = 3150.0f;
    e.setControlText(kCtrlTagStatus, composeStatus(s));
}
} // namespace

TEST(EditorScreenshot, DefaultsAtOneAndTwoTimes)
{
    EditorFixture f;
    f.open();
    f.processor->onIdle();
    EXPECT_EQ(compareWithGolden(render(*f.editor), "defaults-1x"), "");
    f.editor->applyWindowScale(2.0f);
    EXPECT_EQ(compareWithGolden(render(*f.editor), "defaults-2x"), "");
}

TEST(EditorScreenshot, BypassedVeilsTheBody)
{
    EditorFixture f;
    f.open();
    f.setPlain(kSoftBypass, 1.0f);
    f.processor->onIdle();
    EXPECT_EQ(compareWithGolden(render(*f.editor), "bypassed-1x"), "");
}

TEST(EditorScreenshot, NotchingWithMetersActive)
{
    EditorFixture f;
    f.open();
    showActivity(f);
    EXPECT_EQ(compareWithGolden(render(*f.editor), "active-1x"), "");
    f.editor->applyWindowScale(2.0f);
    showActivity(f);
    EXPECT_EQ(compareWithGolden(render(*f.editor), "active-2x"), "");
}

TEST(EditorScreenshot, EachTheme)
{
    EditorFixture f;
    f.open();
    const char* names[] = {"green", "red", "orange", "blue", "purple"};
    for (int i = 0; i < 5; ++i) {
        f.processor->setAccentIndex(i);
        f.processor->onIdle();
        showActivity(f);
        EXPECT_EQ(compareWithGolden(render(*f.editor), std::string("theme-") + names[i]), "");
    }
    // "DAW color" with a dark host track colour, brightened to luma 47, and a track name.
    juce::AudioProcessor::TrackProperties props;
    props.name = "Lead vox";
    props.colour = juce::Colour(0xFF10102A);
    f.processor->updateTrackProperties(props);
    f.processor->setAccentIndex(5);
    f.processor->onIdle();
    showActivity(f);
    EXPECT_EQ(compareWithGolden(render(*f.editor), "theme-daw"), "");
}
