#include "dsp/voice/Meters.h"

#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace brindlecot;
using namespace brindlecot::dsp;
using namespace brindlecot::test;

TEST(Meters, BleedReductionIsClampedAtMinus24DecibelsAndReadsFullScale)
{
    ReductionMeter m;
    m.prepare(48000.0);
    for (int n = 0; n < 48000; ++n)
        m.process(0.5f, 0.5f * 0.0316228f); // 30 dB below
    EXPECT_EQ(m.reductionDb(), -24.0f);
    EXPECT_EQ(bleedMeterValue(m.reductionDb()), 1.0f);
    EXPECT_FLOAT_EQ(bleedMeterValue(-12.0f), 0.5f);
    EXPECT_EQ(bleedMeterValue(0.0f), 0.0f);
}

TEST(Meters, ReductionPowersUseAHundredMillisecondTimeConstantAndReadZeroBelowTheirFloor)
{
    ReductionMeter m;
    m.prepare(48000.0);
    for (int n = 0; n < 4800; ++n)
        m.process(1.0f, 0.5f);
    EXPECT_NEAR(m.inputPower, 1.0 - std::exp(-1.0), 1e-3);
    EXPECT_NEAR(m.reductionDb(), -6.0206, 0.01);
    m.reset();
    m.process(1e-5f, 1e-6f); // powers below 1e-9
    EXPECT_EQ(m.reductionDb(), 0.0f);
    m.prepare(0.0);
    EXPECT_EQ(m.coef, 1.0f);
}

TEST(Meters, RideMeterCentresNoRideAndSpansTwelveDecibelsEachWay)
{
    EXPECT_FLOAT_EQ(rideMeterValue(6.0f), 0.75f);
    EXPECT_FLOAT_EQ(rideMeterValue(0.0f), 0.5f);
    EXPECT_EQ(rideMeterValue(-12.0f), 0.0f);
    EXPECT_EQ(rideMeterValue(-20.0f), 0.0f);
    EXPECT_EQ(rideMeterValue(12.0f), 1.0f);
}

TEST(Meters, FeedbackMeterReadsHalfScaleForANineDecibelNotch)
{
    EXPECT_FLOAT_EQ(feedbackMeterValue(9.0f), 0.5f);
    EXPECT_EQ(feedbackMeterValue(20.0f), 1.0f);
    EXPECT_EQ(feedbackMeterValue(0.0f), 0.0f);
    EXPECT_EQ(feedbackMeterValue(std::nanf("")), 0.0f);
}

TEST(Meters, FramePublishesTheInputLevelAndDropsItToMinus96AfterSilence)
{
    FrameHarness h(48000.0, 1);
    EXPECT_EQ(h.frame->published.inputLevelDb.load(), -96.0f);
    std::vector<double> signal = noise(0.1, 48000 * 2, 3);
    h.run({signal}, 256);
    // Uniform noise of amplitude 0.1 has a mean square of 0.01/3 (-24.77 dB).
    EXPECT_NEAR(h.frame->published.inputLevelDb.load(), -24.77, 0.5);

    const std::vector<double> silence(4800, 0.0);
    int blocks = 0;
    while (h.frame->published.inputLevelDb.load() > -96.0f && blocks < 1000) {
        const bool stillAboveFloor = h.frame->inputLevel().meanSquare > std::pow(10.0f, -9.6f);
        EXPECT_TRUE(stillAboveFloor);
        h.run({silence}, 256);
        ++blocks;
    }
    EXPECT_EQ(h.frame->published.inputLevelDb.load(), -96.0f);
    // 71 dB of decay at 4.34 dB per 0.4 s time constant takes about 6.5 s.
    EXPECT_NEAR(blocks * 0.1, 71.2 / 4.3429 * 0.4, 0.2);
}

TEST(Meters, FramePublishesARideOfPlusSixDecibelsAsThreeQuarters)
{
    FrameHarness h(48000.0, 1);
    h.params[kRideStrength] = 6.0;
    h.params[kVocalTarget] = -20.0;
    h.params[kVoiceFloor] = -60.0;
    h.reset();
    const double amplitude = std::sqrt(2.0) * std::pow(10.0, -30.0 / 20.0);
    const std::vector<double> x = sine(300.0, amplitude, 48000.0, 48000 * 12);
    const auto out = h.run({x}, 128);
    EXPECT_NEAR(h.frame->published.rideMeter.load(), 0.75f, 0.002f);
    EXPECT_NEAR(20.0 * std::log10(rmsOf(out[0], 48000 * 11) / rmsOf(x, 48000 * 11)), 6.0, 0.05);
    EXPECT_EQ(h.frame->published.bleedMeter.load(), 0.0f);
    EXPECT_EQ(h.frame->lastReductionDb(), 0.0f);
}
