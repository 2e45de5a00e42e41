#include "dsp/feedback/NotchLane.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using brindlecot::dsp::Notch;
using brindlecot::dsp::NotchLane;
using brindlecot::dsp::NotchLaneConfig;

namespace {

NotchLane laneAt(float rate)
{
    NotchLaneConfig c;
    c.sampleRate = rate;
    NotchLane lane;
    lane.prepare(c);
    return lane;
}

// Runs whole control ticks of silence (32 samples each).
void runTicks(NotchLane& lane, int ticks)
{
    for (int n = 0; n < ticks * 32; ++n)
        lane.processSample(0.0f);
}

double rmsOfSine(NotchLane& lane, double hz, double rate, int settle, int measure)
{
    double sum = 0.0;
    for (int n = 0; n < settle + measure; ++n) {
        const float y = lane.processSample(static_cast<float>(std::sin(2.0 * M_PI * hz * n / rate)));
        if (n >= settle)
            sum += static_cast<double>(y) * y;
    }
    return std::sqrt(sum / measure);
}

} // namespace

TEST(NotchLane, LeavesTheNotchOffForAimsOutsideItsRange)
{
    NotchLane lane = laneAt(48000.0f);
    lane.aim(0, 79.0f, 20.0f);
    lane.aim(1, 12001.0f, 20.0f);
    lane.aim(2, 1000.0f, 0.0f);
    lane.aim(3, NAN, 20.0f);
    for (size_t k = 0; k < 4; ++k)
        EXPECT_EQ(lane.notch(k).targetDepthDb, 0.0f) << k;

    NotchLane low = laneAt(8000.0f);
    low.aim(0, 4000.0f, 20.0f); // at half the sample rate
    low.aim(1, 3999.0f, 20.0f);
    low.aim(2, 1000.0f, INFINITY);
    EXPECT_EQ(low.notch(0).targetDepthDb, 0.0f);
    EXPECT_EQ(low.notch(1).targetDepthDb, 20.0f);
    EXPECT_EQ(low.notch(2).targetDepthDb, 0.0f);
}

TEST(NotchLane, KeepsTheRequestedFrequencyWhenAnAimIsRejected)
{
    NotchLane lane = laneAt(48000.0f);
    lane.aim(0, 1000.0f, 10.0f);
    lane.aim(0, 20000.0f, 10.0f);
    EXPECT_EQ(lane.notch(0).requestedHz, 1000.0f);
    EXPECT_EQ(lane.notch(0).targetDepthDb, 0.0f);
}

TEST(NotchLane, LimitsAThreeHundredHzNotchToElevenDbInSlowSteps)
{
    NotchLane lane = laneAt(48000.0f);
    lane.aim(0, 300.0f, 30.0f);
    EXPECT_FLOAT_EQ(lane.notch(0).targetDepthDb, 11.0f);
    runTicks(lane, 1);
    EXPECT_FLOAT_EQ(lane.notch(0).designDepthDb, 0.035f);
    runTicks(lane, 1);
    EXPECT_NEAR(lane.notch(0).designDepthDb, 0.07f, 1e-6f);
    runTicks(lane, 98);
    EXPECT_NEAR(lane.notch(0).designDepthDb, 3.5f, 1e-3f);
    runTicks(lane, 300);
    EXPECT_FLOAT_EQ(lane.notch(0).designDepthDb, 11.0f);
}

TEST(NotchLane, ReachesThirtyDbAfterFortyTicksAtOneKilohertz)
{
    NotchLane lane = laneAt(48000.0f);
    lane.aim(0, 1000.0f, 30.0f);
    runTicks(lane, 39);
    EXPECT_FLOAT_EQ(lane.notch(0).designDepthDb, 29.25f);
    runTicks(lane, 1);
    EXPECT_FLOAT_EQ(lane.notch(0).designDepthDb, 30.0f);
    EXPECT_EQ(lane.notch(0).designHz, 1000.0f);
    EXPECT_EQ(lane.notch(0).targetMix, 1.0f);
}

TEST(NotchLane, RetunesOnlyWhenTheRequestMovesMoreThanTwoPercent)
{
    NotchLane lane = laneAt(48000.0f);
    lane.aim(0, 1000.0f, 30.0f);
    runTicks(lane, 200);
    lane.aim(0, 1015.0f, 30.0f); // 1.5 %
    runTicks(lane, 100);
    EXPECT_EQ(lane.notch(0).requestedHz, 1015.0f);
    EXPECT_EQ(lane.notch(0).designHz, 1000.0f);
    EXPECT_FLOAT_EQ(lane.notch(0).designDepthDb, 30.0f);
    EXPECT_GT(lane.notch(0).mix, 0.99f);

    lane.aim(0, 1030.0f, 30.0f); // 3 %
    runTicks(lane, 1);
    EXPECT_TRUE(lane.notch(0).retunePending);
    EXPECT_EQ(lane.notch(0).targetMix, 0.0f);
    EXPECT_EQ(lane.notch(0).designHz, 1000.0f);
    // Fade out until the mix is below 0.01, then the jump with a fresh shallow depth.
    int ticks = 0;
    while (lane.notch(0).retunePending && ticks < 1000) {
        runTicks(lane, 1);
        ++ticks;
    }
    EXPECT_GT(ticks, 50); // about 2300 samples of fade at 0.002 per sample
    EXPECT_EQ(lane.notch(0).designHz, 1030.0f);
    EXPECT_FLOAT_EQ(lane.notch(0).designDepthDb, 0.75f);
    EXPECT_EQ(lane.notch(0).targetMix, 1.0f);
    EXPECT_LT(lane.notch(0).mix, 0.1f); // faded in again for the rest of one tick only
}

TEST(NotchLane, KeepsFilteringASilencedNotchUntilItsMixFallsBelowOnePercent)
{
    NotchLane lane = laneAt(48000.0f);
    lane.aim(0, 1000.0f, 30.0f);
    runTicks(lane, 300);
    lane.silence(0);
    runTicks(lane, 10);
    EXPECT_EQ(lane.notch(0).designHz, 1000.0f);
    EXPECT_GT(lane.notch(0).mix, 0.01f);
    // Still filtering: a 1 kHz tone is attenuated by roughly the remaining mix.
    const double rms = rmsOfSine(lane, 1000.0, 48000.0, 0, 480);
    EXPECT_LT(rms, 0.65);
    int ticks = 0;
    while (lane.notch(0).designHz > 0.0f && ticks < 2000) {
        EXPECT_GE(lane.notch(0).mix, 0.0f);
        runTicks(lane, 1);
        ++ticks;
    }
    EXPECT_LT(lane.notch(0).mix, 0.01f);
    EXPECT_EQ(lane.notch(0).designDepthDb, 0.0f);
}

TEST(NotchLane, MeasuresTheDesignedDepthAtTheCentreFrequency)
{
    for (float hz : {1000.0f, 3150.0f, 500.0f}) {
        NotchLane lane = laneAt(48000.0f);
        lane.aim(0, hz, 24.0f);
        runTicks(lane, 400); // depth reached, mix settled
        const Notch& n = lane.notch(0);
        ASSERT_FLOAT_EQ(n.designDepthDb, 24.0f);
        EXPECT_NEAR(n.responseDb(hz, 48000.0), -24.0, 0.05) << hz;
        const double rms = rmsOfSine(lane, hz, 48000.0, 4800, 48000);
        EXPECT_NEAR(20.0 * std::log10(rms / std::sqrt(0.5)), -24.0, 0.3) << hz;
        // An octave away the notch (Q 20 / 16.7) leaves the tone nearly untouched.
        NotchLane away = lane;
        EXPECT_NEAR(
            20.0 * std::log10(rmsOfSine(away, hz * 2.0, 48000.0, 4800, 48000) / std::sqrt(0.5)), 0.0, 0.3);
    }
}

TEST(NotchLane, WidensTheBandBelowTheLowCorner)
{
    NotchLane lane = laneAt(48000.0f);
    EXPECT_NEAR(lane.qFor(100.0f), 1.4286f, 1e-3f);
    EXPECT_NEAR(lane.qFor(300.0f), 4.2857f, 1e-3f);
    EXPECT_NEAR(lane.qFor(350.0f), 11.667f, 1e-3f);
    EXPECT_FLOAT_EQ(lane.qFor(600.0f), 20.0f);
    EXPECT_FLOAT_EQ(lane.qFor(5000.0f), 20.0f);
    EXPECT_FLOAT_EQ(lane.depthStep(300.0f), 0.035f);
    EXPECT_FLOAT_EQ(lane.depthStep(350.0f), 0.75f);
    EXPECT_FLOAT_EQ(lane.depthLimit(349.0f), 11.0f);
    EXPECT_FLOAT_EQ(lane.depthLimit(350.0f), 30.0f);
}

TEST(NotchLane, TurnsNonFiniteAndOverflowingInputIntoFiniteOutput)
{
    NotchLane lane = laneAt(48000.0f);
    lane.aim(0, 1000.0f, 30.0f);
    runTicks(lane, 100);
    EXPECT_EQ(lane.processSample(NAN), 0.0f);
    EXPECT_EQ(lane.processSample(INFINITY), 0.0f);
    for (int n = 0; n < 64; ++n)
        EXPECT_TRUE(std::isfinite(lane.processSample(n % 2 ? 3.0e38f : -3.0e38f)));
    // The filters recover: ordinary signal is notched again.
    const double rms = rmsOfSine(lane, 1000.0, 48000.0, 4800, 4800);
    EXPECT_LT(rms, 0.05);
}

TEST(NotchLane, ComparesItsStateBytewise)
{
    NotchLane a = laneAt(48000.0f);
    NotchLane b = a;
    EXPECT_TRUE(a.sameStateAs(b));
    a.aim(1, 2000.0f, 6.0f);
    b.aim(1, 2000.0f, 6.0f);
    for (int n = 0; n < 100; ++n) {
        const float x = static_cast<float>(std::sin(n * 0.3));
        a.processSample(x);
        b.processSample(x);
    }
    EXPECT_TRUE(a.sameStateAs(b));
    b.processSample(0.0f);
    EXPECT_FALSE(a.sameStateAs(b));
}
