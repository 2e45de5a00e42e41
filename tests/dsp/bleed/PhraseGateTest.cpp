#include "dsp/bleed/PhraseGate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace brindlecot::dsp;

namespace {

PhraseGate preparedGate(double sampleRate = 48000.0, float depthDb = -12.0f)
{
    PhraseGate g;
    g.prepare(sampleRate);
    g.setDepth(depthDb);
    return g;
}

void feed(PhraseGate& g, float clean, int samples)
{
    for (int n = 0; n < samples; ++n)
        g.process(clean, clean);
}

// The end of a phrase: a short dip, then the voice returns at its peak level, so the gate is rising
// (which arms the hold) when the voice stops.
void endOfPhrase(PhraseGate& g, double rate)
{
    g.setVoicePresent(false);
    feed(g, 0.2f, static_cast<int>(rate * 0.01));
    g.setVoicePresent(true);
    feed(g, 0.2f, static_cast<int>(rate * 0.1));
    g.setVoicePresent(false);
}

} // namespace

TEST(PhraseGate, AtZeroDepthTheGainIsExactlyOneWhateverTheOpenness)
{
    PhraseGate g = preparedGate(48000.0, 0.0f);
    g.setVoicePresent(false);
    feed(g, 0.1f, 96000);
    EXPECT_LT(g.openness(), 0.1f);
    EXPECT_EQ(g.floorGain(), 1.0f);
    EXPECT_EQ(g.gain(), 1.0f);
}

TEST(PhraseGate, DepthIsClampedToZeroAndNaNReadsZero)
{
    PhraseGate g = preparedGate();
    EXPECT_NEAR(g.floorGain(), std::pow(10.0f, -12.0f / 20.0f), 1e-7f);
    g.setDepth(6.0f);
    EXPECT_EQ(g.depthDb(), 0.0f);
    g.setDepth(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(g.floorGain(), 1.0f);
}

TEST(PhraseGate, WithoutVoiceItHoldsForAQuarterSecondThenClosesWithHalfASecondTimeConstant)
{
    PhraseGate g = preparedGate();
    EXPECT_EQ(g.holdSamples(), 12000u);
    endOfPhrase(g, 48000.0);
    EXPECT_GT(g.openness(), 0.999f);
    EXPECT_EQ(g.holdCounter(), 12000u);
    feed(g, 0.2f, 12000);
    EXPECT_GT(g.openness(), 0.999f); // still held after 0.25 s
    feed(g, 0.2f, 24000);
    EXPECT_NEAR(g.openness(), std::exp(-1.0f), 0.01f); // about 0.37 another 0.5 s later
    feed(g, 0.2f, 48000 * 5);
    EXPECT_NEAR(20.0f * std::log10(g.gain()), -12.0f, 0.1f);
}

TEST(PhraseGate, ASteadyCleanSignalAtItsPeakKeepsTheGateOpen)
{
    PhraseGate g = preparedGate();
    g.setVoicePresent(true);
    feed(g, 0.3f, 48000 * 4);
    EXPECT_GT(g.openness(), 0.999f);
    EXPECT_NEAR(g.power(), 0.09f, 1e-4f);
}

TEST(PhraseGate, ALevelEightDbBelowTheHeldPeakOpensTheGateHalfway)
{
    PhraseGate g = preparedGate();
    g.setVoicePresent(false);
    feed(g, 1.0f, 48000 * 2); // peak 1, gate closed
    feed(g, std::pow(10.0f, -8.0f / 20.0f), 48000 * 4); // gate closed: the peak is held
    ASSERT_LT(g.openness(), 0.05f);
    EXPECT_NEAR(g.peak(), 1.0f, 1e-3f);
    g.setVoicePresent(true);
    feed(g, std::pow(10.0f, -8.0f / 20.0f), 960); // 20 ms: ten attack time constants
    EXPECT_NEAR(g.openness(), 0.5f, 0.01f);
}

TEST(PhraseGate, ANaNCleanSampleActsAsSilence)
{
    PhraseGate a = preparedGate(), b = preparedGate();
    for (int n = 0; n < 20000; ++n) {
        const float c = 0.1f * std::sin(0.01f * n);
        const bool bad = n % 1000 == 0;
        a.process(c, bad ? std::numeric_limits<float>::quiet_NaN() : c);
        b.process(c, bad ? 0.0f : c);
        ASSERT_EQ(a.openness(), b.openness());
        ASSERT_EQ(a.power(), b.power());
    }
    a.process(std::numeric_limits<float>::infinity(), std::numeric_limits<float>::infinity());
    EXPECT_TRUE(std::isfinite(a.openness()) && std::isfinite(a.gain()));
}

TEST(PhraseGate, ResetOpenStartsFullyOpenWithNoRememberedPeak)
{
    PhraseGate g = preparedGate();
    g.setVoicePresent(false);
    feed(g, 0.5f, 48000);
    g.reset();
    EXPECT_EQ(g.openness(), 1.0f);
    EXPECT_EQ(g.peak(), 0.0f);
    EXPECT_EQ(g.power(), 0.0f);
    EXPECT_EQ(g.holdCounter(), 0u);
    EXPECT_FALSE(g.voicePresent()); // the voice flag is kept
}

TEST(PhraseGate, CoefficientsFollowTheSampleRate)
{
    for (double rate : {8000.0, 44100.0, 192000.0}) {
        PhraseGate g = preparedGate(rate);
        EXPECT_EQ(g.holdSamples(), static_cast<uint64_t>(static_cast<float>(rate) * 0.25f));
        endOfPhrase(g, rate);
        feed(g, 0.2f, static_cast<int>(g.holdSamples()) + static_cast<int>(rate * 0.5));
        EXPECT_NEAR(g.openness(), std::exp(-1.0f), 0.02f) << rate;
    }
    PhraseGate odd;
    odd.prepare(0.0);
    odd.process(0.5f, 0.5f);
    EXPECT_TRUE(std::isfinite(odd.openness()));
}
