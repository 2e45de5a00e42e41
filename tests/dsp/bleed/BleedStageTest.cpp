#include "dsp/bleed/BleedStage.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

using namespace brindlecot;
using namespace brindlecot::dsp;

namespace {
// Runs `seconds` of noise through the stage (one lane); returns the last gate gain.
float runNoise(BleedStage& stage, double seconds, float& openness)
{
    const auto x = test::noise(0.3, static_cast<size_t>(48000.0 * seconds), 11);
    float g = 1.0f;
    for (double v : x) {
        float lane = static_cast<float>(v);
        g = stage.process(&lane, 1, lane, openness);
    }
    return g;
}
} // namespace

TEST(BleedStage, FloorsAndGateDepthScaleWithTheAmount)
{
    BleedStage stage;
    stage.prepare(48000.0, 0.0f);
    stage.setControls(0.5f, 0.0f);
    EXPECT_FLOAT_EQ(stage.spectral().deepFloorDb(), -22.5f);
    EXPECT_FLOAT_EQ(stage.spectral().shallowFloorDb(), -3.5f);
    EXPECT_FLOAT_EQ(stage.gate().depthDb(), -6.0f);
    EXPECT_FALSE(stage.idle());

    // Not above zero, or not a number: idle, and nothing deeper than 0 dB.
    for (float amount : {0.0f, -1.0f, std::nanf("")}) {
        stage.setControls(amount, 0.0f);
        EXPECT_TRUE(stage.idle()) << amount;
        EXPECT_EQ(stage.gate().depthDb(), 0.0f) << amount;
    }
}

TEST(BleedStage, TheGateOpensFullyWhenItGoesIdleAndOnlyThen)
{
    BleedStage stage;
    stage.prepare(48000.0, 0.0f);
    stage.setControls(1.0f, 0.0f);
    stage.setVoicePresent(false);
    stage.beginSamples(false, true);
    ASSERT_FALSE(stage.gateIdle());

    // No voice: after its hold the gate closes toward the -12 dB floor.
    float openness = 1.0f;
    const float closed = runNoise(stage, 1.0, openness);
    ASSERT_LT(openness, 0.5f);
    ASSERT_LT(closed, 0.7f);
    EXPECT_LT(stage.gateGainDb(), -3.0f);

    // Bleed off but the air or the ride still follows the gate: it keeps its state.
    stage.setControls(0.0f, 0.0f);
    stage.beginSamples(false, false);
    EXPECT_FALSE(stage.gateIdle());
    EXPECT_LT(stage.gate().openness(), 0.5f);

    // Everything that follows it idle too: the gate idles fully open and passes the lanes untouched.
    stage.beginSamples(false, true);
    EXPECT_TRUE(stage.gateIdle());
    EXPECT_EQ(stage.gate().openness(), 1.0f);
    EXPECT_EQ(runNoise(stage, 0.01, openness), 1.0f);
    EXPECT_EQ(openness, 1.0f);
    EXPECT_EQ(stage.gateGainDb(), 0.0f);
}
