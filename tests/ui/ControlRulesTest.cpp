#include "ui/BandStripRules.h"
#include "ui/LevelMeterRules.h"
#include "ui/Readouts.h"
#include "ui/VoiceFloorRules.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace brindlecot::ui;

namespace {
const Rect kInputMeter {25, 122, 107, 304};
const Rect kInputBar {58, 144, 74, 304};
const MeterRange kRange {};
const BandRange kHighPass {20.0, 1000.0};
const BandRange kLowPass {1000.0, 20000.0};
} // namespace

TEST(LevelMeter, BarIsSixteenUnitsCentredBelowTheReadout)
{
    EXPECT_EQ(meterBarRect(kInputMeter, 22, 16), kInputBar);
    EXPECT_EQ(meterBarRect(kInputMeter, 22, 200), (Rect {25, 144, 107, 304}));
}

TEST(LevelMeter, MapsDecibelsOntoTheBarAndBack)
{
    EXPECT_FLOAT_EQ(meterY(kInputBar, kRange, 6.0f), 144.0f);
    EXPECT_FLOAT_EQ(meterY(kInputBar, kRange, -54.0f), 304.0f);
    EXPECT_FLOAT_EQ(meterY(kInputBar, kRange, -24.0f), 224.0f);
    EXPECT_FLOAT_EQ(meterY(kInputBar, kRange, -200.0f), 304.0f);
    EXPECT_FLOAT_EQ(dbFromMeterY(kInputBar, kRange, 224.0f), -24.0f);
    EXPECT_FLOAT_EQ(dbFromMeterY(kInputBar, kRange, 0.0f), 6.0f); // above the bar: top
    EXPECT_FLOAT_EQ(dbFromMeterY(kInputBar, kRange, 999.0f), -54.0f);
}

TEST(LevelMeter, TargetEditZoneReachesThreeUnitsLeftOfTheBarAndStopsAtItsRightEdge)
{
    const Rect z = targetEditZone(kInputMeter, kInputBar);
    EXPECT_FLOAT_EQ(z.left, 55.0f);
    EXPECT_FLOAT_EQ(z.right, 74.0f);
    EXPECT_FLOAT_EQ(z.top, 122.0f);
}

TEST(LevelMeter, ClassifiesTheLevelAgainstTheTargetZone)
{
    EXPECT_EQ(classifyLevel(kRange, -20.0f, -20.0f, 4.0f), LevelClass::OnTarget);
    EXPECT_EQ(classifyLevel(kRange, -24.1f, -20.0f, 4.0f), LevelClass::Low);
    EXPECT_EQ(classifyLevel(kRange, -15.9f, -20.0f, 4.0f), LevelClass::High);
    EXPECT_EQ(classifyLevel(kRange, -54.0f, -20.0f, 4.0f), LevelClass::None);
    EXPECT_EQ(classifyLevel(kRange, -96.0f, -20.0f, 4.0f), LevelClass::None);
}

TEST(LevelMeter, PeakReadoutShowsMinusInfinityWithinHalfADecibelOfTheFloor)
{
    const auto valueFor = [](float db) { return (db + 54.0f) / 60.0f; };
    EXPECT_EQ(peakReadout(kRange, valueFor(-53.5f)), "-inf");
    EXPECT_EQ(peakReadout(kRange, valueFor(-53.4f)), "-53.4 dB");
    EXPECT_EQ(peakReadout(kRange, NAN), "-inf");
    EXPECT_EQ(peakReadout(kRange, 1.0f), "6.0 dB");
    EXPECT_FLOAT_EQ(normalisedFromAmplitude(kRange, 1.0f), 0.9f);
    EXPECT_FLOAT_EQ(normalisedFromAmplitude(kRange, 0.0f), 0.0f);
}

TEST(LevelMeter, TypedTargetsParseALeadingNumberAndIgnoreLetters)
{
    EXPECT_FALSE(parseLeadingNumber("abc").has_value());
    EXPECT_FALSE(parseLeadingNumber("").has_value());
    EXPECT_DOUBLE_EQ(*parseLeadingNumber("-100"), -100.0);
    EXPECT_DOUBLE_EQ(*parseLeadingNumber(" -12.5 dB"), -12.5);
    EXPECT_FALSE(parseLeadingNumber("nan").has_value());
    EXPECT_EQ(targetReadout(-20.0f), "target -20.0");
}

TEST(VoiceFloor, BottomTwoPercentTurnsTheFloorOffAndTheTopClampsToTheParameterMaximum)
{
    const VoiceFloorScale sc;
    EXPECT_FLOAT_EQ(voiceFloorFromY(kInputBar, sc, 304.0f), -80.0f);
    EXPECT_FLOAT_EQ(voiceFloorFromY(kInputBar, sc, 144.0f + 0.985f * 160.0f), -80.0f);
    EXPECT_NEAR(voiceFloorFromY(kInputBar, sc, 144.0f + 0.975f * 160.0f), -52.5f, 1e-3);
    EXPECT_FLOAT_EQ(voiceFloorFromY(kInputBar, sc, 100.0f), 0.0f); // above the bar: 0 dB, not +6
    EXPECT_FLOAT_EQ(voiceFloorFromY(kInputBar, sc, 224.0f), -24.0f);
}

TEST(VoiceFloor, TakesOnlyPressesRightOfTheBar)
{
    EXPECT_FALSE(voiceFloorHit(kInputMeter, kInputBar, 60.0f, 200.0f));
    EXPECT_FALSE(voiceFloorHit(kInputMeter, kInputBar, 40.0f, 200.0f));
    EXPECT_TRUE(voiceFloorHit(kInputMeter, kInputBar, 74.0f, 200.0f));
    EXPECT_TRUE(voiceFloorHit(kInputMeter, kInputBar, 100.0f, 200.0f));
    EXPECT_FALSE(voiceFloorHit(kInputMeter, kInputBar, 110.0f, 200.0f));
}

TEST(VoiceFloor, LabelsAndPointerPosition)
{
    const VoiceFloorScale sc;
    EXPECT_EQ(voiceFloorLabel(sc, -60.0f), "floor off");
    EXPECT_EQ(voiceFloorLabel(sc, -54.0f), "floor off");
    EXPECT_EQ(voiceFloorLabel(sc, -53.4f), "floor -53 dB");
    EXPECT_FLOAT_EQ(voiceFloorY(kInputBar, sc, -60.0f), 304.0f);
    EXPECT_FLOAT_EQ(voiceFloorY(kInputBar, sc, 6.0f), 144.0f);
}

TEST(BandStrip, CornersMeetAtOneKilohertzInTheMiddle)
{
    EXPECT_FLOAT_EQ(bandPosition(0, kHighPass, 20.0), 0.0f);
    EXPECT_FLOAT_EQ(bandPosition(0, kHighPass, 1000.0), 0.5f);
    EXPECT_FLOAT_EQ(bandPosition(1, kLowPass, 1000.0), 0.5f);
    EXPECT_FLOAT_EQ(bandPosition(1, kLowPass, 20000.0), 1.0f);
    EXPECT_NEAR(bandPosition(0, kHighPass, std::sqrt(20.0 * 1000.0)), 0.25f, 1e-6);
}

TEST(BandStrip, APressHalfwayBetweenTheHandlesPicksTheHighPass)
{
    const auto g = bandStripGeometry({85, 425, 457, 440}, 1.0f);
    EXPECT_FLOAT_EQ(g.xL, 91.0f);
    EXPECT_FLOAT_EQ(g.xR, 451.0f);
    EXPECT_EQ(nearestBandHandle(g, g.x(0.5f), 0.25f, 0.75f), 0);
    EXPECT_EQ(nearestBandHandle(g, g.x(0.51f), 0.25f, 0.75f), 1);
    EXPECT_EQ(nearestBandHandle(g, g.x(0.1f), 0.25f, 0.75f), 0);
}

TEST(BandStrip, EachHandleStaysInItsOwnHalf)
{
    const auto g = bandStripGeometry({85, 425, 457, 440}, 1.0f);
    EXPECT_DOUBLE_EQ(bandFrequencyAt(g, 1, kLowPass, g.xL - 50.0f), 1000.0);
    EXPECT_DOUBLE_EQ(bandFrequencyAt(g, 0, kHighPass, g.xR + 50.0f), 1000.0);
    EXPECT_DOUBLE_EQ(bandFrequencyAt(g, 0, kHighPass, g.xL), 20.0);
    EXPECT_NEAR(bandFrequencyAt(g, 1, kLowPass, g.x(0.75f)), std::sqrt(1000.0 * 20000.0), 1e-6);
}

TEST(BandStrip, ADisabledFilterLeavesTheBandOpenAtItsEnd)
{
    auto span = bandSpan(0.2f, 0.8f, false, true);
    EXPECT_FLOAT_EQ(span.from, 0.0f);
    EXPECT_FLOAT_EQ(span.to, 0.8f);
    span = bandSpan(0.2f, 0.8f, true, false);
    EXPECT_FLOAT_EQ(span.to, 1.0f);
}

TEST(Readouts, ReductionAndRideTexts)
{
    EXPECT_EQ(reductionReadout(0.0005f, 0.0f, -24.0f), "--");
    EXPECT_EQ(reductionReadout(1.0f, 0.0f, -18.0f), "-18.0 dB");
    EXPECT_EQ(reductionReadout(0.5f, 0.0f, -24.0f), "-12.0 dB");
    EXPECT_EQ(rideReadout(0.25f, 12.0f), "-6.0 dB");
    EXPECT_EQ(rideReadout(0.5f, 12.0f), "+0.0 dB");
    EXPECT_EQ(rideReadout(0.75f, 12.0f), "+6.0 dB");
}

TEST(Readouts, AirCornerFollowsTheLowPassOrFallsBackTo8500Hz)
{
    EXPECT_EQ(airCornerReadout(airCornerHz(48000, 100, 4000, true)), "4.0 kHz");
    EXPECT_EQ(airCornerReadout(airCornerHz(48000, 100, 4000, false)), "8.5 kHz");
    EXPECT_EQ(airCornerReadout(airCornerHz(48000, 100, 20000, true)), "8.5 kHz");
    EXPECT_EQ(airCornerReadout(airCornerHz(16000, 100, 20000, true)), "6.4 kHz");
    EXPECT_EQ(airCornerReadout(airCornerHz(48000, 90, 20000, true)), "7.7 kHz");
}

TEST(Readouts, CornerGripScalesBetweenThreeQuartersAndTwo)
{
    EXPECT_FLOAT_EQ(gripScale(542, 100), 642.0f / 542.0f);
    EXPECT_FLOAT_EQ(gripScale(542, 5000), 2.0f);
    EXPECT_FLOAT_EQ(gripScale(542, -5000), 406.0f / 542.0f);
}
