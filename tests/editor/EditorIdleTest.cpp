#include "EditorTestSupport.h"

#include "controls/LevelMeterControl.h"
#include "controls/ReductionMeterControl.h"
#include "controls/RideMeterControl.h"
#include "controls/RingKnobControl.h"
#include "controls/TextControl.h"
#include "ui/ControlTags.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace brindlecot;
using namespace brindlecot::ui;
using brindlecot::controls::TextControl;
using brindlecot::test::EditorFixture;

namespace {
void processSine(BrindlecotDeFeedback& p, int blocks, float amplitude, float hz = 440.0f)
{
    juce::AudioBuffer<float> buffer(2, 512);
    juce::MidiBuffer midi;
    double phase = 0.0;
    for (int b = 0; b < blocks; ++b) {
        for (int i = 0; i < 512; ++i) {
            const float v = amplitude * static_cast<float>(std::sin(phase));
            phase += 2.0 * juce::MathConstants<double>::pi * hz / 48000.0;
            buffer.setSample(0, i, v);
            buffer.setSample(1, i, v);
        }
        p.processBlock(buffer, midi);
    }
}
} // namespace

TEST(EditorIdle, ForwardsMetersAndTheStatusLineToTheOpenEditor)
{
    EditorFixture f;
    f.open();
    processSine(*f.processor, 120, 0.25f);
    f.processor->onIdle();
    auto& in = f.control<controls::LevelMeterControl>(kCtrlTagInputMeter);
    auto& out = f.control<controls::LevelMeterControl>(kCtrlTagOutputMeter);
    // A 0.25 sine: peak -12 dBFS, RMS about -15 dB.
    EXPECT_NEAR(ui::peakDb({}, in.peakValue()), -12.04f, 0.3f);
    EXPECT_GT(in.value(), 0.5f);
    EXPECT_GT(out.value(), 0.5f);
    EXPECT_NEAR(in.levelDb(), -15.05f, 1.0f);
    EXPECT_EQ(f.control<controls::RideMeterControl>(kCtrlTagRideMeter).readoutText(), "+0.0 dB");
    const auto status = f.control<TextControl>(kCtrlTagStatus).text().toStdString();
    EXPECT_EQ(status, f.processor->frame().models().status + " \xC2\xB7 mono path");
}

TEST(EditorIdle, ShowsTheHostTrackNameAndFallsBackToTheProductName)
{
    EditorFixture f;
    f.open();
    f.processor->onIdle();
    EXPECT_EQ(f.control<TextControl>(kCtrlTagTitle).text(), "VELARUNE");
    juce::AudioProcessor::TrackProperties props;
    props.name = "Lead vox";
    f.processor->updateTrackProperties(props);
    f.processor->onIdle();
    EXPECT_EQ(f.control<TextControl>(kCtrlTagTitle).text(), "Lead vox");
    // A new editor starts with the title already known.
    f.close();
    f.open();
    EXPECT_EQ(f.control<TextControl>(kCtrlTagTitle).text(), "Lead vox");
}

TEST(EditorIdle, DawColourFollowsTheHostTrackColourByRebuildingTheControls)
{
    EditorFixture f;
    f.open();
    ASSERT_EQ(f.processor->accentIndex(), 5);
    f.processor->onIdle();
    const int builds = f.editor->buildCount();
    EXPECT_EQ(f.processor->accentColour(255), (Argb {255, 21, 232, 121}));

    juce::AudioProcessor::TrackProperties props;
    props.colour = juce::Colour(0xFFFFFFFF); // white: darkened to luma 200
    f.processor->updateTrackProperties(props);
    f.processor->onIdle();
    EXPECT_EQ(f.editor->buildCount(), builds + 1);
    EXPECT_EQ(f.processor->accentColour(255), (Argb {255, 200, 200, 200}));
    f.processor->onIdle();
    EXPECT_EQ(f.editor->buildCount(), builds + 1); // unchanged colour: no rebuild

    // Other themes ignore the host colour.
    f.processor->setAccentIndex(3);
    f.processor->onIdle();
    EXPECT_EQ(f.editor->buildCount(), builds + 2);
    EXPECT_EQ(f.processor->accentColour(255), (Argb {255, 0, 184, 255}));
    f.processor->setAccentIndex(9);
    EXPECT_EQ(f.processor->accentIndex(), 0);
}

TEST(EditorIdle, AThemeRebuildKeepsEveryControlsValue)
{
    EditorFixture f;
    f.open();
    const float values[][2] = {{kInput, 6.5f}, {kBleedReduction, 40.0f}, {kFeedbackReduction, 70.0f},
        {kHighPass, 120.0f}, {kLowPass, 9000.0f}, {kHighPassOn, 0.0f}, {kSoftBypass, 1.0f}, {kEcoMode, 1.0f},
        {kAir, 30.0f}, {kAirCorner, 110.0f}, {kRideStrength, 4.0f}, {kVoiceFloor, -30.0f},
        {kVocalTarget, -14.0f}, {kBeefKnob, 1.0f}, {kTopSaturation, 55.0f}};
    for (const auto& v : values)
        f.setPlain(static_cast<int>(v[0]), v[1]);
    f.processor->onIdle(); // title and status as the idle task shows them
    auto snapshotBefore = f.editor->createComponentSnapshot(f.editor->getLocalBounds(), true, 1.0f);

    f.processor->setAccentIndex(0);
    f.processor->onIdle();
    f.processor->setAccentIndex(5);
    f.processor->onIdle();
    for (const auto& v : values)
        EXPECT_NEAR(f.plain(static_cast<int>(v[0])), v[1], 0.05f) << "parameter " << v[0];
    // The rebuilt saturation knob still follows "Top Saturation" (BEEF High).
    auto& knob = f.control<controls::RingKnobControl>(kCtrlTagSaturationKnob);
    EXPECT_EQ(knob.binding().index(), kTopSaturation);
    // And the editor looks the same as before the two theme changes.
    auto snapshotAfter = f.editor->createComponentSnapshot(f.editor->getLocalBounds(), true, 1.0f);
    int differing = 0;
    for (int y = 0; y < snapshotAfter.getHeight(); ++y)
        for (int x = 0; x < snapshotAfter.getWidth(); ++x)
            differing += snapshotAfter.getPixelAt(x, y) != snapshotBefore.getPixelAt(x, y);
    EXPECT_EQ(differing, 0);
}

TEST(EditorIdle, BeefReBindsTheSaturationKnobAndItsCaption)
{
    EditorFixture f;
    f.open();
    auto& knob = f.control<controls::RingKnobControl>(kCtrlTagSaturationKnob);
    EXPECT_EQ(knob.binding().index(), kSaturation);
    f.setPlain(kBeefKnob, 1.0f);
    EXPECT_EQ(knob.binding().index(), kTopSaturation);
    f.setPlain(kBeefKnob, 0.0f);
    EXPECT_EQ(knob.binding().index(), kSaturation);
}
