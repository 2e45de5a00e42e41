// The voice stages inside the whole processing frame: wiring, idle transitions, resets, real-time
// safety and robustness, driven through FrameHarness like a host.
#include "engine/ProcessingFrame.h"

#include "support/AllocationCounter.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <vector>

using namespace brindlecot;
using namespace brindlecot::test;

namespace {

void activateVoiceStages(ParameterValues& p)
{
    p[kHighPass] = 150.0;
    p[kLowPass] = 8000.0;
    p[kHighPassOn] = 1.0;
    p[kLowPassOn] = 1.0;
    p[kAir] = 70.0;
    p[kAirCorner] = 110.0;
    p[kSaturation] = 60.0;
    p[kSaturationFocus] = 1500.0;
    p[kSaturationDrive] = 30.0;
    p[kTopSaturation] = 50.0;
    p[kTopSaturationFocus] = 6000.0;
    p[kTopSaturationDrive] = 36.0;
    p[kRideStrength] = 9.0;
    p[kVocalTarget] = -18.0;
    p[kVoiceFloor] = -70.0;
}

bool allFinite(const std::vector<std::vector<double>>& out)
{
    for (const auto& ch : out)
        for (double v : ch)
            if (!std::isfinite(v))
                return false;
    return true;
}

} // namespace

TEST(VoiceFrame, DefaultSettingsLeaveEveryVoiceStageIdleAndTheSignalUntouched)
{
    FrameHarness h(48000.0, 2);
    const std::vector<double> x = sine(440.0, 0.3, 48000.0, 9600);
    const auto out = h.run({x, x}, 256);
    EXPECT_TRUE(h.frame->airIdle());
    EXPECT_TRUE(h.frame->saturationIdle());
    EXPECT_TRUE(h.frame->topSaturationIdle());
    EXPECT_TRUE(h.frame->rideIdle());
    for (size_t n = 0; n < x.size(); ++n)
        ASSERT_EQ(out[0][n], static_cast<double>(static_cast<float>(x[n]))) << n;
}

TEST(VoiceFrame, SaturationAmountsAtZeroLeaveTheSignalBitIdenticalWhateverTheirOtherSettings)
{
    FrameHarness plain(48000.0, 1);
    FrameHarness other(48000.0, 1);
    other.params[kSaturationDrive] = 38.0;
    other.params[kTopSaturationDrive] = 38.0;
    other.params[kSaturationFocus] = 500.0;
    other.params[kTopSaturationFocus] = 3000.0;
    other.reset();
    const std::vector<double> x = noise(0.4, 24000, 5);
    const auto a = plain.run({x}, 128);
    const auto b = other.run({x}, 128);
    EXPECT_TRUE(other.frame->saturationIdle());
    EXPECT_TRUE(other.frame->topSaturationIdle());
    EXPECT_EQ(a[0], b[0]);
}

TEST(VoiceFrame, ActiveVoiceStagesRunAndChangeTheSignal)
{
    FrameHarness h(48000.0, 2);
    activateVoiceStages(h.params);
    h.reset();
    const std::vector<double> x = noise(0.1, 48000, 9);
    const auto out = h.run({x, x}, 256);
    EXPECT_FALSE(h.frame->airIdle());
    EXPECT_FALSE(h.frame->saturationIdle());
    EXPECT_FALSE(h.frame->topSaturationIdle());
    EXPECT_FALSE(h.frame->rideIdle());
    EXPECT_TRUE(h.frame->filterLane(0).highPassEngaged());
    EXPECT_TRUE(h.frame->filterLane(0).lowPassEngaged());
    EXPECT_NE(out[0], x);
    EXPECT_TRUE(allFinite(out));
}

TEST(VoiceFrame, AirCornerFollowsTheEngagedLowPassOfLaneZero)
{
    FrameHarness h(48000.0, 1);
    h.params[kAir] = 100.0;
    h.params[kAirCorner] = 100.0;
    h.params[kLowPass] = 6000.0;
    h.reset();
    h.run({std::vector<double>(4800, 0.0)}, 64);
    EXPECT_NEAR(h.frame->airStage().designedCorner, 6000.0f, 0.01f);
    h.params[kLowPassOn] = 0.0;
    h.run({std::vector<double>(4800, 0.0)}, 64);
    EXPECT_NEAR(h.frame->airStage().designedCorner, 8500.0f, 0.01f);
}

TEST(VoiceFrame, HighPassInTheFrameAttenuatesAsItsAnalyticResponseSays)
{
    FrameHarness h(48000.0, 1);
    h.params[kHighPass] = 1000.0;
    h.reset();
    const std::vector<double> x = sine(250.0, 0.25, 48000.0, 24000);
    const auto out = h.run({x}, 512);
    const double measured = 20.0 * std::log10(rmsOf(out[0], 12000) / rmsOf(x, 12000));
    EXPECT_NEAR(measured, h.frame->filterLane(0).highPassResponseDb(250.0), 0.05);
    EXPECT_NEAR(measured, -24.1, 0.2); // second-order Butterworth two octaves below its corner
}

TEST(VoiceFrame, DualMonoInputStillTakesTheMonoPathWithEveryVoiceStageActive)
{
    FrameHarness h(48000.0, 2);
    activateVoiceStages(h.params);
    h.reset();
    const std::vector<double> x = noise(0.2, 4096, 11);
    const auto out = h.run({x, x}, 256);
    EXPECT_TRUE(h.frame->monoPath());
    EXPECT_EQ(out[0], out[1]);
}

TEST(VoiceFrame, SoftBypassRelaxesTheVoiceStagesAndFullBypassClearsThem)
{
    FrameHarness h(48000.0, 2);
    activateVoiceStages(h.params);
    h.reset();
    const std::vector<double> x = sine(300.0, 0.05, 48000.0, 48000 * 3);
    h.run({x, x}, 256);
    EXPECT_GT(h.frame->ride().currentDb, 1.0f);
    h.params[kSoftBypass] = 1.0;
    h.run({x, x}, 256);
    EXPECT_TRUE(h.frame->fullBypass());
    EXPECT_EQ(h.frame->ride().currentDb, 0.0f);
    EXPECT_EQ(h.frame->ride().gainLinear, 1.0f);
    EXPECT_EQ(h.frame->filterLane(0).highPass.z1, 0.0f);
    EXPECT_EQ(h.frame->airStage().amount, 0.0f);
    EXPECT_EQ(h.frame->inputLevel().count, 0u);
    EXPECT_EQ(h.frame->published.rideMeter.load(), 0.5f);
    EXPECT_EQ(h.frame->published.inputLevelDb.load(), -96.0f);
    EXPECT_EQ(h.frame->saturation().focus(), 20000.0f);
    EXPECT_FALSE(h.frame->filterLane(0).highPassOn);
}

TEST(VoiceFrame, ResetPreparesTheMeterSendersOnlyWhenTheSampleRateChanges)
{
    FrameHarness h(48000.0, 1);
    EXPECT_EQ(h.frame->inputSender().windowSamples(), 240);
    const std::vector<double> loud = sine(1000.0, 0.5, 48000.0, 4800);
    const std::vector<double> silence(480, 0.0);
    // Largest peak the input meter reports for `x` after a reset at `rate`, with the queue drained first.
    const auto peakAfterReset = [&](double rate, const std::vector<double>& x) {
        h.frame->onReset(rate, h.params);
        dsp::PeakAvgValue v;
        while (h.frame->inputSender().pop(v)) { }
        h.run({x}, 480);
        float peak = 0.0f;
        while (h.frame->inputSender().pop(v))
            peak = std::max(peak, v.peak);
        return peak;
    };

    EXPECT_NEAR(peakAfterReset(48000.0, loud), 0.5f, 0.01f);
    // Same rate: the senders keep their measurement, so the 500 ms peak hold still shows 0.5.
    EXPECT_NEAR(peakAfterReset(48000.0, silence), 0.5f, 0.01f);
    EXPECT_EQ(h.frame->inputSender().windowSamples(), 240);
    // New rate: the senders start afresh with 5 ms windows at 44.1 kHz.
    EXPECT_LT(peakAfterReset(44100.0, silence), 1e-6f);
    EXPECT_EQ(h.frame->inputSender().windowSamples(), 220);
    EXPECT_EQ(h.frame->outputSender().windowSamples(), 220);
    EXPECT_FALSE(h.frame->dspInitFailed());
}

TEST(VoiceFrame, MeterSendersReceiveTheMonoBuffersAndTheReaderGetsReadings)
{
    FrameHarness h(48000.0, 2);
    const std::vector<double> x = sine(1000.0, 0.5, 48000.0, 4800);
    h.run({x, x}, 480);
    int readings = 0;
    float peak = 0.0f;
    h.frame->outputSender().transmit([&](const dsp::PeakAvgValue& v) {
        ++readings;
        peak = v.peak;
    });
    EXPECT_EQ(readings, 20);
    EXPECT_NEAR(peak, 0.5f, 1e-3f);
}

TEST(VoiceFrame, ProcessingWithEveryVoiceStageActiveNeverAllocates)
{
    FrameHarness h(48000.0, 2);
    activateVoiceStages(h.params);
    h.reset();
    std::vector<std::vector<double>> io(2, noise(0.3, 48000, 4));
    std::vector<std::vector<double>> big(2, noise(0.3, 10000, 6));
    h.processInPlace(io, 0, 64); // warm-up outside the scope
    AllocationScope scope;
    int pos = 0;
    for (int block : {64, 512, 1, 0, 128, 4096}) {
        h.processInPlace(io, pos, block);
        pos += block;
    }
    h.processInPlace(big, 0, 10000); // longer than the meter buffers
    int readings = 0;
    h.frame->inputSender().transmit([&](const dsp::PeakAvgValue&) { ++readings; });
    EXPECT_EQ(scope.allocations(), 0u);
    EXPECT_GT(readings, 0);
}

TEST(VoiceFrame, NonFiniteInputNeverReachesTheOutputAndTheVoiceChainRecovers)
{
    FrameHarness h(48000.0, 2);
    activateVoiceStages(h.params);
    h.reset();
    std::vector<double> x = noise(0.2, 48000, 8);
    for (int n = 1000; n < 1400; n += 3) {
        x[static_cast<size_t>(n)] = std::numeric_limits<double>::quiet_NaN();
        x[static_cast<size_t>(n + 1)] = std::numeric_limits<double>::infinity();
        x[static_cast<size_t>(n + 2)] = -1e300;
    }
    const auto out = h.run({x, x}, 256);
    ASSERT_TRUE(allFinite(out));
    EXPECT_GT(rmsOf(out[0], 24000), 0.01);
    EXPECT_TRUE(std::isfinite(h.frame->published.inputLevelDb.load()));
    EXPECT_TRUE(std::isfinite(h.frame->published.rideMeter.load()));
}

TEST(VoiceFrame, HugeFiniteInputLeavesEveryVoiceStageStateFinite)
{
    FrameHarness h(48000.0, 2);
    activateVoiceStages(h.params);
    h.reset();
    std::vector<double> x = noise(0.2, 48000, 8);
    for (int n = 5000; n < 6000; ++n)
        x[static_cast<size_t>(n)] = (n % 2 ? 1e30 : -3e38);
    const auto out = h.run({x, x}, 256);
    ASSERT_TRUE(allFinite(out));
    for (const auto& ch : out)
        for (double v : ch)
            ASSERT_LE(std::fabs(v), 0.9661);
    const ProcessingFrame& f = *h.frame;
    const dsp::FilterLane& lane = f.filterLane(0);
    EXPECT_TRUE(std::isfinite(lane.highPass.z1) && std::isfinite(lane.lowPass2.z2));
    EXPECT_TRUE(std::isfinite(f.airStage().lanes[0].shelf2.z1));
    EXPECT_TRUE(std::isfinite(f.ride().level.meanSquare) && std::isfinite(f.ride().level.peak));
    EXPECT_TRUE(std::isfinite(f.ride().voicePresence.meanSquare));
    EXPECT_TRUE(std::isfinite(f.inputLevel().meanSquare));
    EXPECT_TRUE(std::isfinite(f.ride().currentDb) && std::isfinite(f.ride().gainLinear));
    EXPECT_TRUE(
        std::isfinite(f.reductionMeter().inputPower) && std::isfinite(f.reductionMeter().outputPower));
    EXPECT_TRUE(std::isfinite(f.published.inputLevelDb.load()));
}

TEST(VoiceFrame, EverySampleRateFromEightToOneHundredNinetyTwoKilohertzGivesFiniteOutput)
{
    for (double rate : {8000.0, 11025.0, 22050.0, 44100.0, 96000.0, 192000.0}) {
        FrameHarness h(rate, 2);
        activateVoiceStages(h.params);
        h.params[kLowPass] = 19000.0;
        h.params[kTopSaturationFocus] = 16000.0;
        h.reset();
        const std::vector<double> x = noise(0.5, static_cast<int>(rate / 2), 2);
        const auto out = h.run({x, noise(0.5, static_cast<int>(rate / 2), 3)}, 333);
        EXPECT_TRUE(allFinite(out)) << rate;
        EXPECT_GT(rmsOf(out[0]), 0.01) << rate;
        EXPECT_LE(h.frame->airStage().designedCorner, static_cast<float>(rate) * 0.4f + 0.01f) << rate;
    }
}

TEST(VoiceFrame, DegenerateSampleRatesStillGiveFiniteOutput)
{
    for (double rate : {0.0, 1.0, 100.0, 768000.0}) {
        FrameHarness h(48000.0, 2);
        activateVoiceStages(h.params);
        h.frame->onReset(rate, h.params);
        const std::vector<double> x = noise(0.5, 20000, 2);
        const auto out = h.run({x, x}, 256);
        EXPECT_TRUE(allFinite(out)) << rate;
        EXPECT_TRUE(std::isfinite(h.frame->published.inputLevelDb.load())) << rate;
    }
}

namespace {

// Peak of what a click or zipper step leaves above 6 kHz: the output through a fourth-order
// Butterworth high-pass (two cascaded sections, double precision) over [from, to).
double peakAboveSixKilohertz(const std::vector<double>& y, size_t from, size_t to)
{
    double peak = 0.0;
    double s[2][2] = {{0.0, 0.0}, {0.0, 0.0}};
    const dsp::BiquadCoefficients c[2] = {
        dsp::designFilter(dsp::FilterType::HighPass, 6000.0f, 0.5411961f, 48000.0f),
        dsp::designFilter(dsp::FilterType::HighPass, 6000.0f, 1.306563f, 48000.0f),
    };
    for (size_t n = 0; n < to && n < y.size(); ++n) {
        double v = y[n];
        for (int k = 0; k < 2; ++k) {
            const double out = c[k].b0 * v + s[k][0];
            s[k][0] = c[k].b1 * v - c[k].a1 * out + s[k][1];
            s[k][1] = c[k].b2 * v - c[k].a2 * out;
            v = out;
        }
        if (n >= from)
            peak = std::max(peak, std::fabs(v));
    }
    return peak;
}

// Runs a 500 Hz sine at 0.1 in blocks of `block`, changes parameters after 0.5 s and returns the
// largest component above 6 kHz in the 0.25 s after the change, relative to the sine's amplitude,
// less what the settled chain itself puts there before or after (the harmonics of a saturator).
double clickRatio(const std::function<void(ParameterValues&)>& before,
    const std::function<void(ParameterValues&)>& after, int block)
{
    FrameHarness h(48000.0, 1);
    h.params[kVoiceFloor] = -70.0;
    before(h.params);
    h.reset();
    const int half = 24000;
    const std::vector<double> x = sine(500.0, 0.1, 48000.0, half * 4);
    std::vector<std::vector<double>> io {x};
    for (int pos = 0; pos < half; pos += block)
        h.processInPlace(io, pos, std::min(block, half - pos));
    after(h.params);
    for (int pos = half; pos < half * 4; pos += block)
        h.processInPlace(io, pos, std::min(block, half * 4 - pos));
    const double transition = peakAboveSixKilohertz(io[0], half, half + 12000);
    const double settled = std::max(
        peakAboveSixKilohertz(io[0], half / 2, half), peakAboveSixKilohertz(io[0], half * 3, half * 4));
    return std::max(0.0, transition - settled) / 0.1;
}

} // namespace

constexpr double kClickFree = 1e-3; // -60 dB: inaudible under a -20 dBFS tone

TEST(VoiceFrame, SwitchingAndMovingTheFiltersDoesNotClickAtSmallOrLargeBlocks)
{
    for (int block : {64, 512}) {
        EXPECT_LT(clickRatio(
                      [](ParameterValues& p) {
                          p[kHighPass] = 400.0;
                          p[kHighPassOn] = 0.0;
                      },
                      [](ParameterValues& p) { p[kHighPassOn] = 1.0; }, block),
            kClickFree)
            << block;
        EXPECT_LT(clickRatio([](ParameterValues& p) { p[kLowPass] = 20000.0; },
                      [](ParameterValues& p) { p[kLowPass] = 1000.0; }, block),
            kClickFree)
            << block;
        EXPECT_LT(clickRatio([](ParameterValues& p) { p[kLowPass] = 15000.0; },
                      [](ParameterValues& p) { p[kLowPass] = 1000.0; }, block),
            kClickFree)
            << block;
        EXPECT_LT(clickRatio([](ParameterValues& p) { p[kHighPass] = 20.0; },
                      [](ParameterValues& p) { p[kHighPass] = 1000.0; }, block),
            kClickFree)
            << block;
    }
}

TEST(VoiceFrame, RaisingAirSaturationAndRideDoesNotClickAtSmallOrLargeBlocks)
{
    for (int block : {64, 512}) {
        EXPECT_LT(clickRatio([](ParameterValues&) {}, [](ParameterValues& p) { p[kAir] = 100.0; }, block),
            kClickFree)
            << block;
        EXPECT_LT(
            clickRatio([](ParameterValues&) {}, [](ParameterValues& p) { p[kSaturation] = 100.0; }, block),
            kClickFree)
            << block;
        EXPECT_LT(
            clickRatio([](ParameterValues&) {}, [](ParameterValues& p) { p[kTopSaturation] = 100.0; }, block),
            kClickFree)
            << block;
        // Drive and focus each move alone: moved together, the ramp's in-between timbre is itself
        // brighter than either end.
        EXPECT_LT(clickRatio(
                      [](ParameterValues& p) {
                          p[kSaturation] = 100.0;
                          p[kSaturationDrive] = 0.0;
                      },
                      [](ParameterValues& p) { p[kSaturationDrive] = 38.0; }, block),
            kClickFree)
            << block;
        EXPECT_LT(clickRatio([](ParameterValues& p) { p[kSaturation] = 100.0; },
                      [](ParameterValues& p) { p[kSaturationFocus] = 600.0; }, block),
            kClickFree)
            << block;
        EXPECT_LT(clickRatio(
                      [](ParameterValues& p) {
                          p[kRideStrength] = 12.0;
                          p[kVocalTarget] = -30.0;
                      },
                      [](ParameterValues& p) { p[kVocalTarget] = -6.0; }, block),
            kClickFree)
            << block;
    }
}

TEST(VoiceFrame, VoicePresenceListensToTheMonoMixAfterTheHighPass)
{
    const std::vector<double> x = sine(100.0, 0.02, 48000.0, 48000); // -37 dB mean square
    FrameHarness open(48000.0, 1);
    open.params[kVoiceFloor] = -60.0;
    open.params[kRideStrength] = 6.0;
    open.reset();
    open.run({x}, 256);
    EXPECT_TRUE(open.frame->ride().voicePresent);

    FrameHarness filtered(48000.0, 1);
    filtered.params[kVoiceFloor] = -60.0;
    filtered.params[kRideStrength] = 6.0;
    filtered.params[kHighPass] = 1000.0; // 100 Hz falls by 40 dB, below the floor
    filtered.reset();
    filtered.run({x}, 256);
    EXPECT_FALSE(filtered.frame->ride().voicePresent);
    EXPECT_LT(filtered.frame->ride().voicePresence.rmsDb(), -70.0f);
}

TEST(VoiceFrame, HostLayoutChangesClearAndRefillTheVoiceLanes)
{
    FrameHarness h(48000.0, 2);
    activateVoiceStages(h.params);
    h.reset();
    const std::vector<double> a = noise(0.2, 4800, 1);
    const std::vector<double> b = noise(0.2, 4800, 2);
    h.run({a, b}, 256);
    EXPECT_EQ(h.frame->channelLanes(), 2);
    const auto mono = h.run({a}, 256, 1);
    EXPECT_EQ(h.frame->channelLanes(), 1);
    const auto back = h.run({a, b}, 256);
    EXPECT_EQ(h.frame->channelLanes(), 2);
    EXPECT_TRUE(allFinite(mono));
    EXPECT_TRUE(allFinite(back));
    EXPECT_GT(rmsOf(back[1]), 0.01);
}
