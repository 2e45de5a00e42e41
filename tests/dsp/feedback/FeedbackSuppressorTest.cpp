#include "dsp/feedback/FeedbackSuppressor.h"
#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>

using brindlecot::dsp::FeedbackSuppressor;
using brindlecot::dsp::SuppressorConfig;

namespace {

constexpr double kRate = 48000.0;

std::unique_ptr<FeedbackSuppressor> suppressor(float amount = 1.0f, int lanes = 1, double rate = kRate)
{
    auto s = std::make_unique<FeedbackSuppressor>();
    s->prepare(rate, 0);
    s->setChannelLanes(lanes);
    s->syncLanes(lanes);
    s->setAmount(amount);
    return s;
}

void runSilence(FeedbackSuppressor& s, uint64_t frames)
{
    for (uint64_t n = 0; n < frames; ++n) {
        float x[2] = {0.0f, 0.0f};
        s.process(x, s.laneCount());
    }
}

int activeSlots(const FeedbackSuppressor& s)
{
    int count = 0;
    for (size_t k = 0; k < FeedbackSuppressor::kSlots; ++k)
        count += s.slot(k).active ? 1 : 0;
    return count;
}

} // namespace

TEST(FeedbackSuppressor, ScalesTheSlotDepthByTheAmountIntoTheNotchTarget)
{
    auto s = suppressor(0.5f);
    const float depth = s->detector().depthForProminence(70.0f, 30.0f);
    s->engage(1000.0f, depth);
    EXPECT_FLOAT_EQ(s->slot(0).depthDb, 20.0f);
    EXPECT_FLOAT_EQ(s->lane(0).notch(0).targetDepthDb, 10.0f);
    EXPECT_FLOAT_EQ(s->lane(1).notch(0).targetDepthDb, 10.0f); // the idle lane receives every aim
    runSilence(*s, 32 * 20);
    EXPECT_FLOAT_EQ(s->lane(0).notch(0).designDepthDb, 10.0f);
}

TEST(FeedbackSuppressor, DerivesItsTimingFromTheSampleRate)
{
    auto s = suppressor();
    EXPECT_EQ(s->holdSamples(), 24000u);
    EXPECT_EQ(s->floorHoldSamples(), 480000u);
    EXPECT_EQ(s->maxAgeSamples(), 960000u);
    EXPECT_FLOAT_EQ(s->decayPerTick(), 0.008f);
    EXPECT_TRUE(s->detectorActive());
}

TEST(FeedbackSuppressor, MergesDetectionsWithinSixtyCentsIntoOneSlot)
{
    auto s = suppressor();
    s->engage(1000.0f, 10.0f);
    s->engage(1030.0f, 12.0f); // 0.043 octave
    EXPECT_EQ(activeSlots(*s), 1);
    EXPECT_FLOAT_EQ(s->slot(0).frequencyHz, 1030.0f);
    EXPECT_FLOAT_EQ(s->slot(0).depthDb, 12.0f);

    auto t = suppressor();
    t->engage(1000.0f, 10.0f);
    t->engage(1040.0f, 10.0f); // 0.057 octave
    EXPECT_EQ(activeSlots(*t), 2);
    EXPECT_FLOAT_EQ(t->slot(1).frequencyHz, 1040.0f);
}

TEST(FeedbackSuppressor, ExcludesTheBandOfEveryActiveSlotFromTheSearch)
{
    auto s = suppressor();
    s->engage(3150.0f, 10.0f);
    const float bin = 3150.0f * 2048.0f / 48000.0f;
    EXPECT_TRUE(s->detector().excluded(bin));
    EXPECT_TRUE(s->detector().excluded(bin * 1.034f));
    EXPECT_FALSE(s->detector().excluded(bin * 1.04f));
}

TEST(FeedbackSuppressor, ReplacesTheSlotConfirmedLongestAgo)
{
    auto s = suppressor();
    s->engage(500.0f, 10.0f);
    runSilence(*s, 10);
    s->engage(1000.0f, 10.0f);
    runSilence(*s, 10);
    s->engage(2000.0f, 10.0f);
    s->engage(4000.0f, 10.0f);
    runSilence(*s, 10);
    s->engage(500.0f, 10.0f); // reconfirms slot 0: slot 1 is now the oldest
    s->engage(7000.0f, 8.0f);
    EXPECT_FLOAT_EQ(s->slot(1).frequencyHz, 7000.0f);
    EXPECT_FLOAT_EQ(s->slot(1).depthDb, 10.0f); // a taken-over slot keeps its depth ...
    EXPECT_EQ(s->slot(1).engagedAt, 10u); // ... and its engagement time
    EXPECT_FLOAT_EQ(s->lane(0).notch(1).requestedHz, 7000.0f);
}

TEST(FeedbackSuppressor, ReplacesTheHigherNumberedSlotOnATie)
{
    auto s = suppressor();
    runSilence(*s, 5);
    for (float f : {500.0f, 1000.0f, 2000.0f, 4000.0f})
        s->engage(f, 10.0f);
    s->engage(8000.0f, 10.0f);
    EXPECT_FLOAT_EQ(s->slot(3).frequencyHz, 8000.0f);
    EXPECT_FLOAT_EQ(s->slot(2).frequencyHz, 2000.0f);
}

TEST(FeedbackSuppressor, HoldsDecaysFloorsAndReleasesASlotWhosePeakIsGone)
{
    auto s = suppressor();
    s->engage(1000.0f, 20.0f);
    runSilence(*s, 24000 - 32); // inside the hold
    EXPECT_FLOAT_EQ(s->slot(0).depthDb, 20.0f);
    runSilence(*s, 48000 + 32); // 1 s of decay at 12 dB/s
    EXPECT_NEAR(s->slot(0).depthDb, 8.0f, 0.05f);
    runSilence(*s, 48000); // held at the 5 dB floor
    EXPECT_FLOAT_EQ(s->slot(0).depthDb, 5.0f);
    // Released about 10.4 s after the last confirmation: the floor ends at 10 s, then 0.4 s of decay.
    uint64_t releasedAt = 0;
    while (s->slot(0).active && s->sampleCount() < 12 * 48000) {
        runSilence(*s, 32);
        if (!s->slot(0).active)
            releasedAt = s->sampleCount();
    }
    EXPECT_NEAR(static_cast<double>(releasedAt) / kRate, 10.4, 0.02);
    EXPECT_EQ(s->lane(0).notch(0).targetDepthDb, 0.0f);
    EXPECT_FALSE(s->detector().excluded(1000.0f * 2048.0f / 48000.0f));
}

TEST(FeedbackSuppressor, ClearsEverySlotWhenTheAmountIsZero)
{
    auto s = suppressor();
    s->engage(1000.0f, 20.0f);
    s->engage(2000.0f, 20.0f);
    runSilence(*s, 3000);
    s->setAmount(0.0f);
    s->engage(3000.0f, 20.0f); // even a slot taken after the amount went to 0 is cleared
    runSilence(*s, 32);
    EXPECT_EQ(activeSlots(*s), 0);
    for (size_t k = 0; k < FeedbackSuppressor::kSlots; ++k)
        EXPECT_EQ(s->lane(0).notch(k).targetDepthDb, 0.0f);
}

TEST(FeedbackSuppressor, ResetStartsFromAnEmptyRegistry)
{
    auto s = suppressor();
    s->engage(1000.0f, 20.0f);
    runSilence(*s, 3000);
    EXPECT_EQ(s->activeNotchCount(), 1);
    s->reset();
    EXPECT_EQ(activeSlots(*s), 0);
    EXPECT_EQ(s->activeNotchCount(), 0);
    EXPECT_EQ(s->sampleCount(), 0u);
    EXPECT_FALSE(s->detector().excluded(1000.0f * 2048.0f / 48000.0f));
    EXPECT_EQ(s->lane(0).notch(0).filter.b0, 1.0f);
}

TEST(FeedbackSuppressor, PublishesCountDepthAndFrequencyOfTheSoundingNotches)
{
    auto s = suppressor();
    EXPECT_EQ(s->activeNotchCount(), 0);
    EXPECT_EQ(s->maxNotchDepth(), 0.0f);
    EXPECT_EQ(s->deepestNotchFrequency(), 0.0f);
    s->engage(1000.0f, 6.0f);
    s->engage(3150.0f, 20.0f);
    runSilence(*s, 12000); // depth reached and mix settled, still inside the 0.5 s hold
    EXPECT_EQ(s->activeNotchCount(), 2);
    EXPECT_NEAR(s->maxNotchDepth(), 20.0f, 0.01f);
    EXPECT_FLOAT_EQ(s->deepestNotchFrequency(), 3150.0f);
    EXPECT_TRUE(s->anyNotchActive());
}

TEST(FeedbackSuppressor, KeepsTheIdleLaneInStepAndCopiesLaneZeroWhenItReturns)
{
    auto s = suppressor(1.0f, 2);
    EXPECT_EQ(s->configuredLaneCount(), 2);
    s->syncLanes(1);
    s->engage(2000.0f, 12.0f);
    runSilence(*s, 2000);
    EXPECT_FALSE(s->lanesEqual());
    EXPECT_EQ(s->lane(1).notch(0).targetDepthDb, 12.0f);
    s->syncLanes(2);
    EXPECT_TRUE(s->lanesEqual());
    for (int n = 0; n < 500; ++n) {
        float x[2] = {0.3f * std::sin(n * 0.1f), 0.3f * std::sin(n * 0.1f)};
        s->process(x, 2);
        ASSERT_EQ(x[0], x[1]);
    }
    EXPECT_TRUE(s->lanesEqual());
    s->setChannelLanes(1); // a layout change resets the stage
    EXPECT_EQ(activeSlots(*s), 0);
    EXPECT_EQ(s->laneCount(), 1);
}

TEST(FeedbackSuppressor, KeepsTheLanesRunningWhenTheDetectorCannotBeConfigured)
{
    auto s = std::make_unique<FeedbackSuppressor>();
    s->prepare(NAN, 0);
    s->setAmount(1.0f);
    EXPECT_FALSE(s->detectorActive());
    float x[1] = {0.25f};
    s->process(x, 1);
    EXPECT_EQ(x[0], 0.25f);
}

TEST(FeedbackSuppressor, AcceptsNotchesUpTo3999HzAtEightKilohertz)
{
    auto s = suppressor(1.0f, 1, 8000.0);
    EXPECT_EQ(s->detector().minBin(), 21u);
    EXPECT_EQ(s->detector().maxBin(), 921u);
    s->engage(3990.0f, 10.0f);
    EXPECT_FLOAT_EQ(s->lane(0).notch(0).targetDepthDb, 10.0f);
}

TEST(FeedbackSuppressor, StaggersTheDetectorsOfSixteenInstances)
{
    for (uint64_t instance : {0u, 1u, 15u, 16u, 17u}) {
        FeedbackSuppressor s;
        s.prepare(kRate, instance);
        EXPECT_EQ(s.detector().config().hopPhase, (instance % 16) * 32);
    }
}

TEST(FeedbackSuppressor, NotchesAGrowingRingAndLeavesTheRestOfTheSignal)
{
    auto s = suppressor();
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> noise(-0.02f, 0.02f);
    int firstNotch = -1;
    double ringIn = 0.0, ringOut = 0.0;
    for (int n = 0; n < 3 * 48000; ++n) {
        const float t = static_cast<float>(n) / 48000.0f;
        const float amp = std::min(0.3f, 0.002f * std::exp(6.0f * t));
        const float ring = amp * std::sin(2.0f * float(M_PI) * 3150.0f * t);
        float x[1] = {noise(rng) + ring};
        s->process(x, 1);
        if (firstNotch < 0 && s->activeNotchCount() > 0)
            firstNotch = n;
        if (n >= 2 * 48000) {
            ringIn += double(ring) * ring;
            // Correlate with the ring to measure what is left of it.
            ringOut += double(x[0]) * ring;
        }
    }
    ASSERT_GE(firstNotch, 0);
    EXPECT_LT(firstNotch, 48000);
    EXPECT_NEAR(s->deepestNotchFrequency(), 3150.0f, 3150.0f * 0.02f);
    EXPECT_GT(s->maxNotchDepth(), 10.0f);
    EXPECT_LT(ringOut / ringIn, 0.3);
}

TEST(FeedbackSuppressor, NeverAllocatesWhileProcessing)
{
    auto s = suppressor(1.0f, 2);
    std::mt19937 rng(2);
    std::uniform_real_distribution<float> noise(-0.02f, 0.02f);
    brindlecot::test::AllocationScope scope;
    for (int n = 0; n < 48000; ++n) {
        const float ring = 0.2f * std::sin(2.0f * float(M_PI) * 2000.0f * n / 48000.0f);
        float x[2] = {noise(rng) + ring, noise(rng) + ring};
        s->process(x, 2);
    }
    s->engage(5000.0f, 10.0f);
    s->reset();
    EXPECT_EQ(scope.allocations(), 0u);
}

TEST(FeedbackSuppressor, FeedsTheDetectorOnlyFiniteSamplesAndOutputsFiniteOnes)
{
    auto s = suppressor();
    for (int n = 0; n < 2047; ++n) {
        float x[1] = {n % 3 == 0 ? NAN : (n % 3 == 1 ? INFINITY : 1.0e30f)};
        s->process(x, 1);
        ASSERT_TRUE(std::isfinite(x[0]));
    }
    EXPECT_EQ(s->detector().captureCount(), 0u);
    for (int n = 0; n < 4096; ++n) {
        float x[1] = {n % 2 ? 3.0e38f : -3.0e38f};
        s->process(x, 1);
        ASSERT_TRUE(std::isfinite(x[0]));
    }
    EXPECT_GT(s->detector().analysisCount(), 0u);
    EXPECT_TRUE(std::isfinite(s->detector().prominenceDb()));
    for (size_t b = s->detector().minBin(); b <= s->detector().maxBin(); ++b)
        ASSERT_TRUE(std::isfinite(s->detector().smoothedPower(b))) << b;
}

TEST(FeedbackSuppressor, NotchesARingAtEveryCommonSampleRate)
{
    for (double rate : {8000.0, 44100.0, 96000.0, 192000.0}) {
        auto s = suppressor(1.0f, 1, rate);
        std::mt19937 rng(3);
        std::uniform_real_distribution<float> noise(-0.01f, 0.01f);
        const int frames = static_cast<int>(3.0 * rate);
        for (int n = 0; n < frames; ++n) {
            const double t = n / rate;
            float x[1] = {noise(rng)
                + static_cast<float>(
                    std::min(0.3, 0.002 * std::exp(4.0 * t)) * std::sin(2.0 * M_PI * 3150.0 * t))};
            s->process(x, 1);
            ASSERT_TRUE(std::isfinite(x[0]));
        }
        EXPECT_GE(s->activeNotchCount(), 1) << rate;
        EXPECT_NEAR(s->deepestNotchFrequency(), 3150.0f, 3150.0f * 0.02f) << rate;
    }
}

TEST(FeedbackSuppressor, StaysFiniteAtExtremeSampleRates)
{
    for (double rate : {0.0, 1.0, 100.0, 1.0e6, -5.0}) {
        auto s = suppressor(1.0f, 2, rate);
        for (int n = 0; n < 5000; ++n) {
            float x[2] = {std::sin(n * 0.01f), std::cos(n * 0.02f)};
            s->process(x, 2);
            ASSERT_TRUE(std::isfinite(x[0]) && std::isfinite(x[1])) << rate;
        }
        EXPECT_TRUE(s->detectorActive()) << rate; // raised to at least 1 Hz, always a valid range
    }
}
