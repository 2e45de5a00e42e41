// Renders the editor in-process and compares it with reviewed golden images. Re-bless with
// VELARUNE_BLESS=1 after a deliberate change, and look at every image before committing it.
#include "EditorTestSupport.h"

#include "controls/UpdatePillControl.h"
#include "plugin/PresetActions.h"
#include "ui/ControlTags.h"
#include "ui/StatusLine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

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

TEST(EditorScreenshot, PresetLoadedAndModifiedWithTheUpdatePillShown)
{
    // A data folder of its own: the preset and the cached announcement must not reach other tests.
    const std::string previous = std::getenv("XDG_DATA_HOME");
    const auto folder = std::filesystem::path(previous) / "screenshot-preset-pill";
    std::filesystem::remove_all(folder);
    ::setenv("XDG_DATA_HOME", folder.c_str(), 1);
    {
        EditorFixture f;
        f.open();
        PresetActions& actions = f.processor->presetActions();
        ASSERT_TRUE(actions.save("Verse Lead")) << actions.lastError();
        f.setPlain(kAir, 40.0f);
        f.processor->onIdle(); // the idle check marks the preset as edited: "*"
        ASSERT_TRUE(actions.isModified());

        updates::UpdateCheck& check = f.processor->updateCheck();
        check.setHttpGet([](const std::string&, const std::atomic<bool>&) {
            return updates::HttpResult {
                200, R"({"velarune":{"version":"0.13.0","page":"/downloads/velarune"}})"};
        });
        check.checkNow();
        check.refresh();
        auto* pill = dynamic_cast<controls::UpdatePillControl*>(f.editor->updatePillSlot().content());
        ASSERT_NE(pill, nullptr);
        pill->poll();
        ASSERT_FALSE(pill->pillRect().isEmpty());
        EXPECT_EQ(compareWithGolden(render(*f.editor), "preset-modified-pill-1x"), "");
    }
    ::setenv("XDG_DATA_HOME", previous.c_str(), 1);
}
