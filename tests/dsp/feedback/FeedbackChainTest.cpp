// Feedback suppression through the whole processing frame, driven like a host.
#include "support/AllocationCounter.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using brindlecot::kFeedbackReduction;
using brindlecot::test::FrameHarness;

namespace {

constexpr double kRate = 48000.0;
constexpr int kBlock = 64;

// Noise plus a 3150 Hz ring that grows by about 26 dB per second up to 0.25.
std::vector<double> ringingSignal(int frames, uint32_t seed)
{
    std::vector<double> x = brindlecot::test::noise(0.01, frames, seed);
    for (int n = 0; n < frames; ++n) {
        const double t = n / kRate;
        x[static_cast<size_t>(n)] += std::min(0.25, 0.002 * std::exp(3.0 * t)) * std::sin(2.0 * M_PI * 3150.0 * t);
    }
    return x;
}

// A sung vowel on E4, held steady: 16 harmonics of 330 Hz falling 6 dB per octave, with a formant
// near 1 kHz, over a quiet noise floor. Its partials stand far above the floor (they are prominent),
// so only the sub-harmonic and harmonic-series tests keep it from being notched.
std::vector<double> sungTone(int frames)
{
    std::vector<double> x = brindlecot::test::noise(0.001, frames, 9);
    for (int n = 0; n < frames; ++n) {
        const double phase = 2.0 * M_PI * 330.0 * n / kRate;
        double v = 0.0;
        for (int h = 1; h <= 16; ++h) {
            const double formant = 1.0 + 3.0 * std::exp(-std::pow((h * 330.0 - 1000.0) / 300.0, 2.0));
            v += formant / h * std::sin(h * phase);
        }
        x[static_cast<size_t>(n)] += 0.06 * v;
    }
    return x;
}

struct Observed
{
    int maxNotches = 0;
    int firstNotchBlock = -1;
};

Observed runBlocks(FrameHarness& h, std::vector<std::vector<double>>& io, int frames)
{
    Observed o;
    for (int pos = 0, block = 0; pos + kBlock <= frames; pos += kBlock, ++block) {
        h.processInPlace(io, pos, kBlock);
        const int count = h.frame->published.activeNotchCount.load();
        o.maxNotches = std::max(o.maxNotches, count);
        if (count > 0 && o.firstNotchBlock < 0)
            o.firstNotchBlock = block;
    }
    return o;
}

} // namespace

TEST(FeedbackChain, NotchesASyntheticRingAndPublishesIt)
{
    FrameHarness h(kRate, 2);
    h.params[kFeedbackReduction] = 100.0;
    h.reset();
    const int frames = static_cast<int>(3 * kRate);
    std::vector<std::vector<double>> io { ringingSignal(frames, 1), ringingSignal(frames, 2) };
    const std::vector<double> dry = io[0];
    const Observed o = runBlocks(h, io, frames);

    ASSERT_GE(o.firstNotchBlock, 0);
    EXPECT_LT(o.firstNotchBlock * kBlock, static_cast<int>(1.5 * kRate));
    EXPECT_GE(h.frame->published.activeNotchCount.load(), 1);
    EXPECT_NEAR(h.frame->published.deepestNotchFrequency.load(), 3150.0f, 3150.0f * 0.02f);
    EXPECT_GT(h.frame->published.feedbackMeter.load(), 0.3f);
    EXPECT_FALSE(h.frame->feedbackIdle());

    // In the last second the ring is well below its level at the input.
    auto ringLevel = [&](const std::vector<double>& x) {
        double c = 0.0, s = 0.0;
        for (int n = frames - static_cast<int>(kRate); n < frames; ++n) {
            const double p = 2.0 * M_PI * 3150.0 * n / kRate;
            c += x[static_cast<size_t>(n)] * std::cos(p);
            s += x[static_cast<size_t>(n)] * std::sin(p);
        }
        return std::hypot(c, s);
    };
    EXPECT_LT(20.0 * std::log10(ringLevel(io[0]) / ringLevel(dry)), -10.0);
}

TEST(FeedbackChain, LeavesASungHarmonicToneUnnotched)
{
    FrameHarness h(kRate, 1);
    h.params[kFeedbackReduction] = 100.0;
    h.reset();
    const int frames = static_cast<int>(6 * kRate);
    std::vector<std::vector<double>> io { sungTone(frames) };
    const Observed o = runBlocks(h, io, frames);
    EXPECT_EQ(o.maxNotches, 0);
    EXPECT_EQ(h.frame->published.deepestNotchFrequency.load(), 0.0f);
    // The tone is loud and its partials are prominent: the harmonic tests are what reject it.
    const auto& detector = h.frame->feedbackSuppressor().detector();
    EXPECT_TRUE(detector.flags().loud);
    EXPECT_TRUE(detector.flags().prominent);
    EXPECT_FALSE(detector.flags().isolated);
    EXPECT_EQ(detector.trackFrames(), 0u);
}

TEST(FeedbackChain, PassesTheSignalUntouchedAndClearsTheSlotsAtZeroReduction)
{
    FrameHarness h(kRate, 1);
    h.params[kFeedbackReduction] = 100.0;
    h.reset();
    const int frames = static_cast<int>(2 * kRate);
    std::vector<std::vector<double>> io { ringingSignal(frames, 3) };
    runBlocks(h, io, frames);
    ASSERT_GT(h.frame->published.activeNotchCount.load(), 0);

    h.params[kFeedbackReduction] = 0.0;
    std::vector<std::vector<double>> quiet { ringingSignal(frames, 4) };
    runBlocks(h, quiet, kBlock);
    EXPECT_TRUE(h.frame->feedbackIdle());
    EXPECT_EQ(h.frame->published.activeNotchCount.load(), 0);
    EXPECT_EQ(h.frame->feedbackSuppressor().slot(0).active, false);

    // Raising it again starts from an empty registry.
    h.params[kFeedbackReduction] = 50.0;
    std::vector<std::vector<double>> again { ringingSignal(kBlock, 5) };
    runBlocks(h, again, kBlock);
    EXPECT_EQ(h.frame->published.activeNotchCount.load(), 0);
    EXPECT_FLOAT_EQ(h.frame->feedbackSuppressor().amount(), 0.5f);
}

TEST(FeedbackChain, EntersTheMonoPathForIdenticalChannelsWithNotchesEngaged)
{
    FrameHarness h(kRate, 2);
    h.params[kFeedbackReduction] = 100.0;
    h.reset();
    const int frames = static_cast<int>(2 * kRate);
    const std::vector<double> x = ringingSignal(frames, 6);
    std::vector<std::vector<double>> io { x, x };
    runBlocks(h, io, frames);
    EXPECT_TRUE(h.frame->monoPath());
    EXPECT_GT(h.frame->published.activeNotchCount.load(), 0);
    EXPECT_EQ(io[0], io[1]);
}

TEST(FeedbackChain, NeverAllocatesAndStaysFiniteWithNonFiniteInput)
{
    FrameHarness h(kRate, 2);
    h.params[kFeedbackReduction] = 100.0;
    h.reset();
    const int frames = static_cast<int>(kRate);
    std::vector<std::vector<double>> io { ringingSignal(frames, 7), ringingSignal(frames, 8) };
    for (int n = 1000; n < frames; n += 997) {
        io[0][static_cast<size_t>(n)] = NAN;
        io[1][static_cast<size_t>(n + 1)] = INFINITY;
        io[0][static_cast<size_t>(n + 2)] = 1.0e300;
    }
    brindlecot::test::AllocationScope scope;
    runBlocks(h, io, frames);
    EXPECT_EQ(scope.allocations(), 0u);
    for (const auto& ch : io)
        for (double v : ch)
            ASSERT_TRUE(std::isfinite(v));
}
