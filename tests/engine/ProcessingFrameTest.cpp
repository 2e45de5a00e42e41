#include "engine/ProcessingFrame.h"
#include "support/AllocationCounter.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace brindlecot;
using namespace brindlecot::test;

namespace {
const float kCeiling = std::pow(10.0f, -0.3f / 20.0f); // -0.3 dBFS

// Default settings pass the signal unchanged except for the limiter; keep test signals under it.
void expectPassesUnchanged(const std::vector<double>& in, const std::vector<double>& out)
{
    ASSERT_EQ(in.size(), out.size());
    for (size_t n = 0; n < in.size(); ++n)
        ASSERT_NEAR(out[n], in[n], 1e-7) << "sample " << n;
}
} // namespace

TEST(ProcessingFrame, ProcessesEmptySingleAndLongBlocks)
{
    FrameHarness h(48000.0);
    const auto x = sine(440.0, 0.5, 48000.0, 10000);
    // Zero frames: the prologue runs, no sample is touched, the meters get an empty block.
    double dummy = 42.0;
    const double* ip[2] = {&dummy, &dummy};
    double* op[2] = {&dummy, &dummy};
    h.frame->process(h.params, ip, 2, op, 2, 0);
    EXPECT_EQ(dummy, 42.0);
    EXPECT_EQ(h.frame->published.laneMode.load(), kLaneStereo);

    for (int block : {1, 10000}) {
        h.reset();
        const auto out = h.run({x, x}, block);
        expectPassesUnchanged(x, out[0]);
        expectPassesUnchanged(x, out[1]);
    }
}

TEST(ProcessingFrame, LongInPlaceBlocksMeterWhatCameInNotWhatGoesOut)
{
    // At Output -12 dB the output is a quarter of the input: the input meter must read the input's
    // 0.5 peak even when the host hands one buffer for both and the block is longer than the
    // frame's meter buffers.
    for (int block : {8192, 10000, 20000}) {
        FrameHarness h(48000.0);
        h.params[kOutput] = -12.0;
        h.reset();
        auto x = sine(440.0, 0.5, 48000.0, 40000);
        std::fill(x.begin(), x.begin() + 2000, 0.0); // silence while the output ramp settles
        std::vector<std::vector<double>> io {x, x};
        h.processInPlace(io, 0, 2000);
        dsp::PeakAvgValue v;
        while (h.frame->inputSender().pop(v)) { }
        while (h.frame->outputSender().pop(v)) { }
        h.processInPlace(io, 2000, block);

        float inputPeak = 0.0f, outputPeak = 0.0f;
        int readings = 0;
        while (h.frame->inputSender().pop(v)) {
            inputPeak = std::max(inputPeak, v.peak);
            ++readings;
        }
        while (h.frame->outputSender().pop(v))
            outputPeak = std::max(outputPeak, v.peak);
        EXPECT_GT(readings, std::min(block / 240 - 2, 60))
            << block; // a reading per 5 ms window, 64 queued at most
        EXPECT_NEAR(inputPeak, 0.5f, 0.01f) << block;
        EXPECT_NEAR(outputPeak, 0.5f * std::pow(10.0f, -12.0f / 20.0f), 0.01f) << block;
    }
}

TEST(ProcessingFrame, OneInputAndTwoOutputsCopiesTheProcessedChannel)
{
    FrameHarness h(44100.0);
    h.params[kOutput] = -6.0;
    h.reset();
    const auto x = noise(0.5, 4096, 3);
    const auto out = h.run({x}, 256, 2);
    EXPECT_EQ(h.frame->channelLanes(), 1);
    EXPECT_EQ(h.frame->published.laneMode.load(), kLaneSingle);
    EXPECT_EQ(std::memcmp(out[0].data(), out[1].data(), out[0].size() * sizeof(double)), 0);
    EXPECT_NEAR(out[0][100], x[100] * 0.50118723, 1e-6);
}

TEST(ProcessingFrame, IdenticalInputsRunTheMonoPathUntilTheFirstDifferingSample)
{
    FrameHarness h(48000.0);
    h.params[kOutput] = -3.0;
    h.reset();
    auto x = noise(0.3, 512, 5);
    std::vector<std::vector<double>> io {x, x};
    h.processInPlace(io, 0, 512);
    EXPECT_TRUE(h.frame->monoPath());
    EXPECT_EQ(h.frame->activeLanes(), 1);
    EXPECT_EQ(h.frame->published.laneMode.load(), kLaneMonoPath);
    EXPECT_EQ(std::memcmp(io[0].data(), io[1].data(), 512 * sizeof(double)), 0);

    // One differing sample anywhere in a later block ends the mono path in that block.
    std::vector<std::vector<double>> io2 {x, x};
    io2[1][300] += 1e-3;
    h.processInPlace(io2, 0, 512);
    EXPECT_FALSE(h.frame->monoPath());
    EXPECT_EQ(h.frame->activeLanes(), 2);
    EXPECT_EQ(h.frame->published.laneMode.load(), kLaneStereo);
    EXPECT_NE(io2[0][300], io2[1][300]);
}

TEST(ProcessingFrame, LeftChannelOnlyProcessesLaneZeroAndMixesOnlyTheDryRight)
{
    FrameHarness h(48000.0);
    h.frame->inputMode.store(kInputLeftOnly);
    const auto left = sine(300.0, 0.4, 48000.0, 2048);
    const auto right = sine(1234.0, 0.4, 48000.0, 2048);
    auto out = h.run({left, right}, 512);
    EXPECT_EQ(h.frame->published.laneMode.load(), kLaneLeftOnly);
    EXPECT_EQ(h.frame->activeLanes(), 1);
    // Bypass mix 0: the right output carries lane 0's processed signal.
    expectPassesUnchanged(left, out[1]);

    // While the bypass crossfades, the right input is heard only through the dry part of the mix.
    h.params[kSoftBypass] = 1.0;
    std::vector<std::vector<double>> io {left, right};
    h.processInPlace(io, 0, 480); // half of the 960-sample ramp
    const double b = h.frame->bypassRamp().current;
    EXPECT_NEAR(b, 0.5, 1e-3);
    EXPECT_NEAR(io[1][479], b * right[479] + (1.0 - b) * left[479], 1e-6);
}

TEST(ProcessingFrame, InputGainAppliesFromTheFirstSampleAfterResetAndRampsOnChange)
{
    FrameHarness h(48000.0);
    h.params[kInput] = -6.0;
    h.reset();
    const std::vector<double> dc(2000, 0.25);
    auto out = h.run({dc}, 64);
    EXPECT_NEAR(out[0][0], 0.25 * 0.50118723, 1e-7);

    h.params[kInput] = 0.0;
    out = h.run({dc}, 64);
    // Straight line in linear gain over exactly 960 samples; the last step lands on the target.
    const double step = 0.25 * (1.0 - 0.50118723) / 960.0;
    for (int n = 1; n < 959; ++n)
        ASSERT_NEAR(out[0][n] - out[0][n - 1], step, 1e-7) << n;
    EXPECT_NE(out[0][958], 0.25);
    EXPECT_EQ(out[0][959], 0.25);
    EXPECT_NEAR(out[0][1500], 0.25, 1e-7);
}

TEST(ProcessingFrame, SaturationIsInForceFromTheFirstBlockAfterReset)
{
    // A fresh instance reset with the saturators on must not fade them in over the first 100 ms:
    // its first block equals the first block of an instance that processed the same settings
    // before the reset.
    const auto x = sine(220.0, 0.3, 48000.0, 512);
    FrameHarness fresh(48000.0);
    FrameHarness used(48000.0);
    for (FrameHarness* h : {&fresh, &used}) {
        h->params[kSaturation] = 80.0;
        h->params[kTopSaturation] = 60.0;
        h->params[kSaturationDrive] = 30.0;
        h->params[kSaturationFocus] = 900.0;
    }
    used.reset();
    used.run({noise(0.5, 48000, 4), noise(0.5, 48000, 5)}, 512);
    used.reset();
    fresh.reset();
    EXPECT_EQ(fresh.frame->saturation().amount(), 0.8f);
    EXPECT_EQ(fresh.frame->topSaturation().amount(), 0.6f);
    const auto a = fresh.run({x, x}, 512);
    const auto b = used.run({x, x}, 512);
    for (size_t n = 0; n < x.size(); ++n)
        ASSERT_EQ(a[0][n], b[0][n]) << n;
    double added = 0.0;
    for (size_t n = 0; n < 64; ++n)
        added = std::max(added, std::fabs(a[0][n] - x[n]));
    EXPECT_GT(added, 1e-3); // the saturation acts within the first 64 samples
}

TEST(ProcessingFrame, ResetSetsTwentyMillisecondRampsForTheNewRate)
{
    FrameHarness h(48000.0);
    EXPECT_EQ(h.frame->inputRamp().length, 960);
    h.frame->onReset(44100.0, h.params);
    EXPECT_EQ(h.frame->inputRamp().length, 882);
    EXPECT_EQ(h.frame->outputRamp().length, 882);
    EXPECT_EQ(h.frame->bypassRamp().length, 882);
    EXPECT_FALSE(h.frame->dspInitFailed());
    EXPECT_EQ(h.frame->published.inputLevelDb.load(), -96.0f);
    EXPECT_EQ(h.frame->published.rideMeter.load(), 0.5f);
}

TEST(ProcessingFrame, LimiterHoldsTheOutputUnderTheCeiling)
{
    FrameHarness h(48000.0);
    h.params[kOutput] = 24.0;
    h.reset();
    std::vector<double> square(48000);
    for (size_t n = 0; n < square.size(); ++n)
        square[n] = (n / 40) % 2 ? 1.0 : -1.0;
    const auto out = h.run({square, square}, 512);
    for (const auto& ch : out)
        for (double v : ch)
            ASSERT_LE(std::fabs(v), kCeiling);
    EXPECT_NEAR(std::fabs(out[0].back()), 0.96605 * 0.995, 1e-4);
}

TEST(ProcessingFrame, SoftBypassEndsBitIdenticalAndFadesBackInFromAClearedChain)
{
    FrameHarness h(48000.0);
    h.params[kOutput] = 24.0;
    h.reset();
    const auto x = noise(0.9, 48000, 9);
    h.run({x, x}, 512);

    h.params[kSoftBypass] = 1.0;
    const uint64_t resetsBefore = h.frame->fullStateResets();
    auto out = h.run({x, x}, 512);
    // The 960-sample ramp runs inside the first two blocks; from the third block on the copy path.
    EXPECT_TRUE(h.frame->fullBypass());
    EXPECT_EQ(h.frame->fullStateResets(), resetsBefore + 1);
    for (int n = 1024; n < 48000; ++n)
        ASSERT_EQ(out[0][static_cast<size_t>(n)], x[static_cast<size_t>(n)]) << n;
    // Still the ramp: a mix of the input and the limited, amplified signal.
    EXPECT_NE(out[0][100], x[100]);

    h.params[kSoftBypass] = 0.0;
    out = h.run({x, x}, 512);
    EXPECT_FALSE(h.frame->fullBypass());
    EXPECT_NEAR(out[0][0], x[0], 0.02); // starts at the input...
    EXPECT_LE(std::fabs(out[0][2000]), kCeiling); // ...and fades to the limited chain
    EXPECT_EQ(h.frame->bypassRamp().current, 0.0f);
}

TEST(ProcessingFrame, ResetWithBypassOnEntersFullBypassOnTheFirstBlock)
{
    FrameHarness h(48000.0);
    h.params[kSoftBypass] = 1.0;
    h.params[kOutput] = 12.0;
    h.reset();
    EXPECT_FALSE(h.frame->bypassRamp().running());
    const uint64_t resetsBefore = h.frame->fullStateResets();
    const auto x = noise(1.5, 256, 2);
    const auto out = h.run({x, x}, 256);
    EXPECT_TRUE(h.frame->fullBypass());
    EXPECT_EQ(h.frame->fullStateResets(), resetsBefore + 1);
    EXPECT_EQ(std::memcmp(out[0].data(), x.data(), x.size() * sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(out[1].data(), x.data(), x.size() * sizeof(double)), 0);
}

TEST(ProcessingFrame, NonFiniteAndHugeInputNeverReachesTheOutput)
{
    for (double bypass : {0.0, 1.0}) {
        FrameHarness h(48000.0);
        h.params[kSoftBypass] = bypass;
        h.params[kOutput] = 24.0;
        h.reset();
        auto x = sine(1000.0, 0.5, 48000.0, 4096);
        const double bad[] = {NAN, INFINITY, -INFINITY, 1e30, -1e30, 1e300};
        for (size_t i = 0; i < x.size(); i += 7)
            x[i] = bad[(i / 7) % 6];
        const auto out = h.run({x, x}, 100);
        for (const auto& ch : out) {
            for (size_t n = 0; n < ch.size(); ++n) {
                ASSERT_TRUE(std::isfinite(ch[n])) << n;
                if (bypass == 0.0) {
                    ASSERT_LE(std::fabs(ch[n]), kCeiling) << n;
                }
            }
        }
    }
}

TEST(ProcessingFrame, ProcessingBlocksOfEverySizeAllocatesNothing)
{
    FrameHarness h(48000.0);
    std::vector<std::vector<double>> io {noise(0.5, 10000, 1), noise(0.5, 10000, 2)};
    std::vector<std::vector<double>> mono {noise(0.5, 10000, 3)};
    h.processInPlace(io, 0, 64); // warm-up outside the counted scope
    AllocationScope scope;
    for (int frames : {0, 1, 2, 63, 64, 512, 4096, 8192, 8193, 10000}) {
        h.processInPlace(io, 0, frames);
        h.processInPlace(mono, 0, frames);
    }
    h.params[kSoftBypass] = 1.0;
    for (int i = 0; i < 4; ++i)
        h.processInPlace(io, 0, 512);
    h.frame->inputMode.store(kInputLeftOnly);
    h.processInPlace(io, 0, 512);
    EXPECT_EQ(scope.allocations(), 0u);
}

TEST(ProcessingFrame, SurvivesEverySampleRateFromEightToOneHundredNinetyTwoKilohertz)
{
    for (double rate : {8000.0, 22050.0, 44100.0, 96000.0, 192000.0}) {
        FrameHarness h(rate);
        const auto x = sine(440.0, 0.5, rate, 4096);
        const auto out = h.run({x, x}, 333);
        expectPassesUnchanged(x, out[0]);
        EXPECT_EQ(h.frame->inputRamp().length, static_cast<int>(rate * 0.02));
    }
}

TEST(ProcessingFrame, IdenticalInputsStartTheMonoPathOnlyOnceTheLaneStatesAgree)
{
    FrameHarness h(48000.0);
    h.params[kHighPass] = 120.0;
    h.params[kLowPass] = 8000.0;
    h.params[kSaturation] = 40.0;
    h.params[kFeedbackReduction] = 50.0;
    h.reset();
    std::vector<std::vector<double>> io {noise(0.3, 512, 11), noise(0.3, 512, 12)};
    h.processInPlace(io, 0, 512);
    EXPECT_FALSE(h.frame->monoPath());

    // The lanes carry different filter histories: identical input does not start the mono path at
    // once, but as soon as both lanes have settled into the same state.
    int blocksUntilMono = -1;
    for (int block = 0; block < 400 && blocksUntilMono < 0; ++block) {
        const auto x = noise(0.3, 512, 100 + static_cast<uint32_t>(block));
        std::vector<std::vector<double>> same {x, x};
        h.processInPlace(same, 0, 512);
        if (h.frame->monoPath())
            blocksUntilMono = block;
        else
            EXPECT_EQ(h.frame->published.laneMode.load(), kLaneStereo);
    }
    EXPECT_GT(blocksUntilMono, 0);
    EXPECT_EQ(h.frame->published.laneMode.load(), kLaneMonoPath);
}
