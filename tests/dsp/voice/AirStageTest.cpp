#include "dsp/voice/AirStage.h"

#include "VoiceTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace brindlecot::dsp;
using namespace brindlecot::test;

namespace {

constexpr double kRate = 48000.0;
constexpr int kBlock = 64;

AirStage settledAir(double rate, float amount, double cornerPercent, float lowPassHz = 20000.0f,
    bool lowPassEngaged = false, int lanes = 1)
{
    AirStage air;
    air.prepare(rate);
    air.setChannelLanes(lanes);
    air.syncLanes(lanes);
    air.setAmount(amount);
    for (int b = 0; b < 2000; ++b)
        air.updateBlock(cornerPercent, lowPassHz, lowPassEngaged, kBlock);
    return air;
}

// Gain in dB that the stage applies to a steady sine (block work every 64 samples).
double measuredAirDb(AirStage air, double frequencyHz, float openness, double rate = kRate)
{
    const int frames = static_cast<int>(rate);
    const std::vector<float> x = sineF(frequencyHz, 0.1, rate, frames);
    std::vector<float> y(x.size());
    for (size_t n = 0; n < x.size(); ++n) {
        if (n % kBlock == 0)
            air.updateBlock(air.cornerFactor * 100.0, air.lowPassReference, air.lowPassEngaged, kBlock);
        float v = x[n];
        air.process(&v, 1, openness);
        y[n] = v;
    }
    return toDb(amplitudeAt(y, frequencyHz, rate, frames / 2) / 0.1);
}

} // namespace

TEST(AirStage, AddsSixteenDecibelsAboveTheCornerAtFullAmountWithTheGateOpen)
{
    const AirStage air = settledAir(kRate, 1.0f, 90.0);
    EXPECT_FLOAT_EQ(air.amount, 1.0f);
    EXPECT_NEAR(air.designedCorner, 7650.0f, 0.01f);
    const auto rows = referenceRows("airshelf_7650_16db_48000");
    ASSERT_FALSE(rows.empty());
    for (const auto& [f, db] : rows) {
        EXPECT_NEAR(air.responseDb(f), db, 0.01) << f << " Hz";
        EXPECT_NEAR(measuredAirDb(air, f, 1.0f), db, 0.03) << f << " Hz";
    }
    EXPECT_NEAR(air.responseDb(23999.0), 16.0, 0.01);
}

TEST(AirStage, AddsNothingWhileThePhraseGateIsClosed)
{
    AirStage air = settledAir(kRate, 1.0f, 90.0);
    const std::vector<float> x = sineF(12000.0, 0.3, kRate, 9600);
    for (float v : x) {
        float y = v;
        air.process(&y, 1, 0.0f);
        ASSERT_EQ(y, v);
    }
}

TEST(AirStage, ShelfFollowsTheGateOpennessWithATwentyMillisecondTimeConstant)
{
    AirStage air = settledAir(kRate, 1.0f, 90.0);
    float v = 0.0f;
    for (int n = 0; n < 960; ++n)
        air.process(&v, 1, 1.0f);
    EXPECT_NEAR(air.follow, 1.0 - std::exp(-1.0), 2e-3);
}

TEST(AirStage, CornerFollowsAirCornerOfTheBaseFrequencyOrOfTheEngagedLowPass)
{
    EXPECT_NEAR(settledAir(kRate, 0.5f, 130.0).cornerHz(), 11050.0f, 0.01f);
    EXPECT_NEAR(settledAir(kRate, 0.5f, 90.0, 6000.0f, true).cornerHz(), 5400.0f, 0.01f);
    // A low-pass that is not engaged leaves the base frequency as the reference.
    EXPECT_NEAR(settledAir(kRate, 0.5f, 90.0, 6000.0f, false).cornerHz(), 7650.0f, 0.01f);
    // Capped at 0.4 of the sample rate.
    EXPECT_NEAR(settledAir(22050.0, 0.5f, 130.0).cornerHz(), 8820.0f, 0.01f);
    EXPECT_NEAR(settledAir(22050.0, 0.5f, 100.0, 15000.0f, true).cornerHz(), 8820.0f, 0.01f);
    EXPECT_NEAR(settledAir(kRate, 0.5f, 130.0, 18000.0f, true).cornerHz(), 19200.0f, 0.01f);
}

TEST(AirStage, ResetDesignsAFlatShelfAtTheDefaultCornerAndForcesADesignOnTheFirstBlock)
{
    AirStage air;
    air.prepare(kRate);
    EXPECT_NEAR(air.designedCorner, 0.85f * 8500.0f, 0.01f);
    EXPECT_NEAR(air.responseDb(15000.0), 0.0, 1e-6);
    EXPECT_EQ(air.designedAmount, -1.0f);
    air.setAmount(0.0f);
    air.updateBlock(90.0, 20000.0f, false, kBlock);
    EXPECT_EQ(air.designedAmount, 0.0f);
    EXPECT_NEAR(air.designedCorner, 7650.0f, 0.01f);
}

TEST(AirStage, AmountGlidesAtBlockRateAndTheStageGoesIdleOnlyOnceItHasFallenToZero)
{
    AirStage air;
    air.prepare(kRate);
    air.setChannelLanes(1);
    air.setAmount(1.0f);
    EXPECT_FALSE(air.updateBlock(90.0, 20000.0f, false, 960));
    EXPECT_NEAR(air.amount, 1.0 - std::exp(-1.0), 1e-4); // one 20 ms block: one time constant
    for (int b = 0; b < 200; ++b)
        air.updateBlock(90.0, 20000.0f, false, kBlock);
    float v = 0.5f;
    air.process(&v, 1, 1.0f);
    EXPECT_NE(air.lanes[0].shelf1.z1, 0.0f);

    air.setAmount(0.0f);
    int blocks = 0;
    while (!air.updateBlock(90.0, 20000.0f, false, kBlock) && blocks < 10000)
        ++blocks;
    EXPECT_GT(blocks, 100); // not before the shelf has faded out
    EXPECT_EQ(air.amount, 0.0f);
    EXPECT_EQ(air.follow, 0.0f);
    EXPECT_EQ(air.lanes[0].shelf1.z1, 0.0f);
    EXPECT_TRUE(air.idle());
}

TEST(AirStage, LaneCopyOnGrowAndLaneCapacityChangeBehaveAsTheDualMonoPathNeeds)
{
    AirStage air = settledAir(kRate, 1.0f, 90.0, 20000.0f, false, 2);
    float io[2] = {0.3f, -0.2f};
    air.process(io, 2, 1.0f);
    EXPECT_FALSE(air.lanesEqual());
    air.syncLanes(1);
    air.syncLanes(2);
    EXPECT_TRUE(air.lanesEqual());
    air.setChannelLanes(1);
    EXPECT_EQ(air.amount, 0.0f);
    EXPECT_EQ(air.lanes[0].shelf1.z1, 0.0f);
}

TEST(AirStage, NonFiniteSamplesAndParametersLeaveTheOutputFinite)
{
    AirStage air = settledAir(kRate, 1.0f, 90.0);
    air.updateBlock(std::nan(""), std::numeric_limits<float>::infinity(), false, kBlock);
    EXPECT_NEAR(air.cornerHz(), 7650.0f, 0.01f);
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(), 3e38f, -3e38f, 0.1f};
    for (float b : bad) {
        float v = b;
        air.process(&v, 1, std::numeric_limits<float>::quiet_NaN());
        air.process(&v, 1, 1.0f);
        if (std::isfinite(b)) {
            EXPECT_TRUE(std::isfinite(v));
        }
    }
    float v = 0.1f;
    air.process(&v, 1, 1.0f);
    EXPECT_TRUE(std::isfinite(v));
}
