#include "dsp/voice/GainRamp.h"
#include "dsp/voice/OutputLimiter.h"

#include <gtest/gtest.h>

#include <cmath>

using brindlecot::dsp::GainRamp;
using brindlecot::dsp::OutputLimiter;

TEST(GainRamp, MovesInAStraightLineOverTwentyMillisecondsAndRestartsFromWhereItIs)
{
    GainRamp ramp;
    ramp.prepare(48000.0, 1.0f);
    EXPECT_EQ(ramp.length, 960);
    ramp.setTarget(2.0f);
    float previous = ramp.current;
    for (int n = 1; n <= 480; ++n) {
        const float v = ramp.advance();
        EXPECT_NEAR(v - previous, 1.0f / 960.0f, 1e-6f);
        previous = v;
    }
    EXPECT_NEAR(ramp.current, 1.5f, 1e-4f);

    // Half-way: a new target starts a full-length ramp from the value reached.
    ramp.setTarget(0.5f);
    EXPECT_EQ(ramp.remaining, 960);
    EXPECT_NEAR(ramp.increment, (0.5f - 1.5f) / 960.0f, 1e-6f);
    for (int n = 0; n < 959; ++n)
        ramp.advance();
    EXPECT_TRUE(ramp.running());
    EXPECT_EQ(ramp.advance(), 0.5f); // lands exactly
    EXPECT_FALSE(ramp.running());
    ramp.setTarget(0.5f); // unchanged target: nothing starts
    EXPECT_FALSE(ramp.running());
}

TEST(GainRamp, LengthIsTwentyMillisecondsTruncatedAndAtLeastOne)
{
    EXPECT_EQ(GainRamp::lengthFor(44100.0), 882);
    EXPECT_EQ(GainRamp::lengthFor(8000.0), 160);
    EXPECT_EQ(GainRamp::lengthFor(192000.0), 3840);
    EXPECT_EQ(GainRamp::lengthFor(22.05e3 + 0.04), 441);
    EXPECT_EQ(GainRamp::lengthFor(10.0), 1);
    EXPECT_EQ(GainRamp::lengthFor(0.0), 1);
    EXPECT_EQ(GainRamp::lengthFor(std::nan("")), 1);
}

TEST(OutputLimiter, SettlesAFullScaleSquareAtThresholdAndNeverExceedsTheCeiling)
{
    OutputLimiter lim;
    lim.prepare(48000.0);
    EXPECT_NEAR(lim.ceiling, 0.96605f, 1e-5f);
    EXPECT_NEAR(lim.threshold, 0.96605f * 0.995f, 1e-5f);
    float last = 0.0f;
    for (int n = 0; n < 48000; ++n) {
        float x[2] = {(n / 50) % 2 ? 1.0f : -1.0f, 0.0f};
        lim.process(x, 1);
        EXPECT_LE(std::fabs(x[0]), lim.ceiling);
        last = std::fabs(x[0]);
    }
    EXPECT_NEAR(last, 0.9612f, 1e-4f);
}

TEST(OutputLimiter, SettlesWithinAFewMillisecondsAndReleasesSlowly)
{
    OutputLimiter lim;
    lim.prepare(48000.0);
    float x[1];
    for (int n = 0; n < 480; ++n) { // 10 ms of full scale
        x[0] = 1.0f;
        lim.process(x, 1);
    }
    EXPECT_NEAR(x[0], 0.9612f, 2e-3f);
    // Back under the threshold, the gain recovers with the 150 ms release, not at once.
    x[0] = 0.5f;
    lim.process(x, 1);
    EXPECT_LT(x[0], 0.5f);
    for (int n = 0; n < 48000; ++n) {
        x[0] = 0.5f;
        lim.process(x, 1);
    }
    // Single-precision smoothing stalls within 2.2e-4 of unity (the release step drops under
    // half an ulp of 1), i.e. less than 0.002 dB.
    EXPECT_NEAR(x[0], 0.5f, 0.5f * 2.2e-4f);
}

TEST(OutputLimiter, TreatsNonFiniteSamplesAsSilence)
{
    OutputLimiter lim;
    lim.prepare(44100.0);
    for (float bad : {NAN, INFINITY, -INFINITY, 1e30f, -1e30f}) {
        float x[2] = {bad, 0.25f};
        lim.process(x, 2);
        EXPECT_TRUE(std::isfinite(x[0]));
        EXPECT_LE(std::fabs(x[0]), lim.ceiling);
        EXPECT_TRUE(std::isfinite(x[1]));
        EXPECT_TRUE(std::isfinite(lim.gain));
        EXPECT_TRUE(std::isfinite(lim.envelope));
    }
}
