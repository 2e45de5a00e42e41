#include "dsp/bleed/FilterHeadCanceller.h"

#include "BleedTestSupport.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

using namespace brindlecot::dsp;
using namespace brindlecot::test::bleed;

namespace {

struct CancellerFixture : ::testing::Test
{
    std::unique_ptr<EcoModelWeights> weights = makeSyntheticWeights<EcoModelWeights>();
    std::unique_ptr<EcoModelCanceller> canceller = std::make_unique<EcoModelCanceller>();
    void SetUp() override
    {
        canceller->setWeights(weights.get());
        canceller->reset();
    }
    void run(int samples, uint32_t offset = 0)
    {
        for (int n = 0; n < samples; ++n)
            canceller->process(syntheticInput(offset + static_cast<uint32_t>(n)));
    }
};

template <typename Weights, typename Canceller> void expectFastCancellerMatchesReference(uint32_t seed)
{
    auto weights = makeSyntheticWeights<Weights>(seed);
    auto fast = std::make_unique<Canceller>();
    auto reference = std::make_unique<ReferenceCanceller<Weights>>();
    fast->setWeights(weights.get());
    fast->reset();
    reference->network.weights = weights.get();
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-0.8f, 0.8f);
    float worst = 0.0f;
    for (int n = 0; n < 32 * 100; ++n) {
        const float x = dist(rng);
        worst = std::max(worst, std::fabs(fast->process(x) - reference->process(x)));
    }
    EXPECT_LT(worst, 1e-5f);
}

} // namespace

TEST(FilterHeadCanceller, FastCancellerEqualsTheScalarReferenceOverAHundredHops)
{
    expectFastCancellerMatchesReference<FullModelWeights, FullModelCanceller>(21);
    expectFastCancellerMatchesReference<EcoModelWeights, EcoModelCanceller>(22);
}

TEST_F(CancellerFixture, ImmediatelyAfterResetTheFirst32OutputsEqualTheInputs)
{
    run(300);
    canceller->reset();
    for (uint32_t n = 0; n < 32; ++n) {
        const float x = syntheticInput(1000 + n);
        ASSERT_EQ(canceller->process(x), x) << n;
    }
    EXPECT_NE(canceller->process(0.5f), 0.5f); // the first taps fade in from here
}

TEST_F(CancellerFixture, AllZeroTapsAreTheIdentityAndAUnitTapCancelsEverything)
{
    canceller->setWeights(nullptr); // no network: taps stay zero
    canceller->reset();
    for (int n = 0; n < 100; ++n)
        ASSERT_EQ(canceller->process(0.3f + 0.001f * n), 0.3f + 0.001f * n);

    canceller->reset();
    canceller->currentTaps[0] = 1.0f;
    canceller->previousTaps[0] = 1.0f;
    for (int n = 0; n < 32; ++n)
        ASSERT_EQ(canceller->process(0.25f - 0.01f * n), 0.0f) << n;
}

TEST_F(CancellerFixture, CrossfadeWeightRunsFromOne32ndToExactlyOne)
{
    canceller->setWeights(nullptr);
    canceller->reset();
    canceller->currentTaps[0] = 1.0f; // previous filter: none
    for (int h = 0; h < 32; ++h) {
        const float y = canceller->process(1.0f);
        ASSERT_FLOAT_EQ(1.0f - y, (h + 1) / 32.0f) << h;
    }
}

TEST_F(CancellerFixture, ANaNInputActsAsZeroAndStoresZero)
{
    auto twin = std::make_unique<EcoModelCanceller>();
    twin->setWeights(weights.get());
    twin->reset();
    for (uint32_t n = 0; n < 200; ++n) {
        const float x = syntheticInput(n);
        const bool bad = n == 77 || n == 150;
        const float a = canceller->process(bad ? std::numeric_limits<float>::quiet_NaN() : x);
        const float b = twin->process(bad ? 0.0f : x);
        ASSERT_EQ(a, b) << n;
        if (bad) {
            ASSERT_EQ(canceller->historyAt(0), 0.0f);
        }
    }
}

TEST_F(CancellerFixture, HistoryHoldsTheLastKSamplesNewestFirst)
{
    for (uint32_t n = 0; n < 500; ++n)
        canceller->process(static_cast<float>(n));
    for (std::size_t age = 0; age < 192; ++age)
        ASSERT_EQ(canceller->historyAt(age), static_cast<float>(499 - age));
}

TEST_F(CancellerFixture, InfiniteTapsResetTheNetworkAndFadeToNoFilter)
{
    run(32); // first step: finite taps
    const auto firstTaps = canceller->currentTaps;
    float firstSize = 0.0f;
    for (float t : firstTaps)
        firstSize += std::fabs(t);
    ASSERT_GT(firstSize, 0.0f);

    weights->outputScale = std::numeric_limits<float>::infinity();
    run(32, 32); // second step produces infinite taps
    EXPECT_EQ(canceller->previousTaps, firstTaps);
    for (std::size_t k = 0; k < 192; ++k) {
        ASSERT_EQ(canceller->currentTaps[k], 0.0f);
        ASSERT_EQ(canceller->newTaps[k], 0.0f);
    }
    for (float v : canceller->network.window)
        ASSERT_EQ(v, 0.0f);
    for (std::size_t j = 0; j < 64; ++j) {
        ASSERT_EQ(canceller->network.gru1State[j], 0.0f);
        ASSERT_EQ(canceller->network.gru2State[j], 0.0f);
    }
    // The next hop fades from the old filter to none: on its last sample the output is the input.
    weights->outputScale = 1.0f;
    float lastIn = 0.0f, lastOut = 0.0f, firstIn = 0.0f, firstOut = 0.0f;
    for (uint32_t n = 0; n < 32; ++n) {
        lastIn = syntheticInput(64 + n);
        lastOut = canceller->process(lastIn);
        if (n == 0) {
            firstIn = lastIn;
            firstOut = lastOut;
        }
    }
    EXPECT_NE(firstOut, firstIn);
    EXPECT_EQ(lastOut, lastIn);
}

TEST_F(CancellerFixture, NonFiniteAndHugeInputsNeverGiveANonFiniteOutput)
{
    const float inf = std::numeric_limits<float>::infinity();
    for (int n = 0; n < 2000; ++n) {
        float x = syntheticInput(static_cast<uint32_t>(n));
        if (n % 97 == 0)
            x = inf;
        if (n % 89 == 0)
            x = -1e30f;
        if (n % 83 == 0)
            x = std::numeric_limits<float>::quiet_NaN();
        ASSERT_TRUE(std::isfinite(canceller->process(x))) << n;
    }
}

TEST_F(CancellerFixture, ResetSnapsTheGainToItsTarget)
{
    canceller->gainTarget = 0.5f;
    canceller->reset();
    EXPECT_EQ(canceller->gain, 0.5f);
    EXPECT_EQ(canceller->historyIndex, 0u);
    EXPECT_EQ(canceller->hopIndex, 0u);
    EXPECT_EQ(canceller->weights(), weights.get());
}
