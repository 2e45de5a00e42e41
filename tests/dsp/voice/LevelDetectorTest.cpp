#include "dsp/voice/LevelDetector.h"
#include "dsp/voice/VocalRide.h"

#include "VoiceTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace brindlecot::dsp;
using namespace brindlecot::test;

namespace {
constexpr double kRate = 48000.0;
}

TEST(LevelDetector, ReadsTheMeanSquareAndPeakOfASteadySine)
{
    LevelDetector d;
    d.prepare(kRate, kRideLevelConfig);
    const double amplitude = std::sqrt(2.0) * std::pow(10.0, -30.0 / 20.0); // -30 dB mean square
    for (float v : sineF(440.0, amplitude, kRate, 96000))
        d.process(v, 1.0f);
    EXPECT_TRUE(d.valid());
    EXPECT_NEAR(d.rmsDb(), -30.0, 0.05);
    // The follower catches each crest (1 ms attack) and droops a little between them (0.15 s).
    EXPECT_LT(d.peakDb(), -30.0 + 3.0103);
    EXPECT_GT(d.peakDb(), -30.0 + 3.0103 - 0.3);
}

TEST(LevelDetector, BecomesValidOnlyAfterItsMinimumTimeOfIntegratedSignal)
{
    LevelDetector d;
    d.prepare(kRate, kRideLevelConfig);
    EXPECT_EQ(d.minCount, 7200);
    for (int n = 0; n < 7199; ++n)
        d.process(0.1f, 1.0f);
    EXPECT_FALSE(d.valid());
    EXPECT_EQ(d.rmsDb(), -96.0f);
    EXPECT_EQ(d.peakDb(), -96.0f);
    d.process(0.1f, 1.0f);
    EXPECT_TRUE(d.valid());
}

TEST(LevelDetector, IntegratesOnlyWhileTheWeightExceedsItsThreshold)
{
    LevelDetector d;
    d.prepare(kRate, kRideLevelConfig);
    for (int n = 0; n < 48000; ++n)
        d.process(0.1f, 0.5f);
    EXPECT_EQ(d.count, 0u);
    EXPECT_EQ(d.meanSquare, 0.0f);
    d.process(0.1f, 0.51f);
    EXPECT_EQ(d.count, 1u);

    LevelDetector presence;
    presence.prepare(kRate, kVoicePresenceConfig);
    presence.process(0.1f, 0.0f); // threshold -1: every sample counts
    EXPECT_EQ(presence.count, 1u);
}

TEST(LevelDetector, NonFiniteInputCountsAsSilence)
{
    LevelDetector d;
    d.prepare(kRate, kRideLevelConfig);
    for (int n = 0; n < 10000; ++n)
        d.process(0.1f, 1.0f);
    const float before = d.meanSquare;
    d.process(std::numeric_limits<float>::quiet_NaN(), 1.0f);
    d.process(std::numeric_limits<float>::infinity(), 1.0f);
    EXPECT_TRUE(std::isfinite(d.meanSquare));
    EXPECT_LT(d.meanSquare, before);
    EXPECT_EQ(d.count, 10002u);
}

TEST(LevelDetector, FallsToTheFloorOnceTheMeanSquareDecaysBelowIt)
{
    LevelDetector d;
    d.prepare(kRate, {0.4f, 0.5f, 0.3f, -96.0f, 0.001f, 0.15f});
    for (int n = 0; n < 48000 * 8; ++n)
        d.process(0.1f, 1.0f);
    EXPECT_NEAR(d.rmsDb(), -20.0, 0.01);
    int samples = 0;
    while (d.valid() && samples < 48000 * 20) {
        d.process(0.0f, 1.0f);
        ++samples;
    }
    EXPECT_EQ(d.rmsDb(), -96.0f);
    // From -20 dB down to -96 dB at 10 log10(e) dB per 0.4 s time constant: 76 / 4.343 * 0.4 s.
    EXPECT_NEAR(samples / kRate, 76.0 / 4.3429448 * 0.4, 0.05);
}
