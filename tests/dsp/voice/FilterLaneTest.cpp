#include "dsp/voice/FilterLane.h"

#include "VoiceTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace brindlecot;
using namespace brindlecot::dsp;
using namespace brindlecot::test;

namespace {

constexpr double kRate = 48000.0;

FilterLane laneWith(double rate, bool hpOn, bool lpOn, double hpHz, double lpHz)
{
    FilterLane lane;
    lane.prepare(rate, hpOn, lpOn, hpHz, lpHz);
    return lane;
}

// Measured gain in dB of a steady sine through the high-pass (or low-pass) of a fresh copy.
double measuredDb(FilterLane lane, bool highPass, double frequencyHz, double rate)
{
    const int frames = static_cast<int>(rate * 0.5);
    std::vector<float> x = sineF(frequencyHz, 0.5, rate, frames);
    std::vector<float> y(x.size());
    for (size_t n = 0; n < x.size(); ++n)
        y[n] = highPass ? lane.processHighPass(x[n]) : lane.processLowPass(x[n]);
    return toDb(amplitudeAt(y, frequencyHz, rate, frames / 2) / 0.5);
}

} // namespace

TEST(FilterDesign, HighPassMatchesTheSecondOrderButterworthClosedForm)
{
    const BiquadCoefficients c
        = designFilter(FilterType::HighPass, 150.0f, FilterLane::kButterworthQ, 48000.0f);
    const auto rows = referenceRows("highpass2_150_48000");
    ASSERT_FALSE(rows.empty());
    for (const auto& [f, db] : rows)
        EXPECT_NEAR(responseDb(c, f, kRate), db, 0.01) << f << " Hz";
}

TEST(FilterDesign, TwoLowPassSectionsMatchTheFourthOrderButterworthClosedForm)
{
    const FilterLane lane = laneWith(kRate, false, true, 20.0, 5000.0);
    const auto rows = referenceRows("lowpass4_5000_48000");
    ASSERT_FALSE(rows.empty());
    for (const auto& [f, db] : rows)
        EXPECT_NEAR(lane.lowPassResponseDb(f), db, std::max(0.01, std::fabs(db) * 2e-3)) << f << " Hz";
}

TEST(FilterDesign, DesignFrequencyIsClampedToFortyFivePercentOfTheSampleRate)
{
    EXPECT_FLOAT_EQ(designLimitHz(22050.0f), 9922.5f);
    const BiquadCoefficients clamped = designFilter(FilterType::LowPass, 15000.0f, 0.5f, 22050.0f);
    const BiquadCoefficients atLimit = designFilter(FilterType::LowPass, 9922.5f, 0.5f, 22050.0f);
    EXPECT_EQ(clamped.b0, atLimit.b0);
    EXPECT_EQ(clamped.a1, atLimit.a1);
    EXPECT_EQ(clamped.a2, atLimit.a2);
    const BiquadCoefficients low = designFilter(FilterType::HighPass, 0.01f, 0.7f, 48000.0f);
    const BiquadCoefficients oneHz = designFilter(FilterType::HighPass, 1.0f, 0.7f, 48000.0f);
    EXPECT_EQ(low.a1, oneHz.a1);
}

TEST(FilterLane, MeasuredHighPassResponseMatchesItsAnalyticResponseAndTheReference)
{
    const FilterLane lane = laneWith(kRate, true, false, 150.0, 20000.0);
    ASSERT_TRUE(lane.highPassEngaged());
    for (const auto& [f, db] : referenceRows("highpass2_150_48000")) {
        const double measured = measuredDb(lane, true, f, kRate);
        EXPECT_NEAR(measured, lane.highPassResponseDb(f), 0.02) << f << " Hz";
        EXPECT_NEAR(measured, db, 0.03) << f << " Hz";
    }
}

TEST(FilterLane, MeasuredLowPassResponseMatchesItsAnalyticResponseAndTheReference)
{
    const FilterLane lane = laneWith(kRate, false, true, 20.0, 5000.0);
    ASSERT_TRUE(lane.lowPassEngaged());
    for (const auto& [f, db] : referenceRows("lowpass4_5000_48000")) {
        if (db < -90.0)
            continue; // below what a single-precision sine measurement resolves
        const double measured = measuredDb(lane, false, f, kRate);
        EXPECT_NEAR(measured, lane.lowPassResponseDb(f), 0.05) << f << " Hz";
        EXPECT_NEAR(measured, db, 0.05 + std::fabs(db) * 2e-3) << f << " Hz";
    }
}

TEST(FilterLane, HighPassFallsTwelveDecibelsPerOctaveFarBelowItsCorner)
{
    const FilterLane lane = laneWith(kRate, true, false, 1000.0, 20000.0);
    const double slope = measuredDb(lane, true, 125.0, kRate) - measuredDb(lane, true, 62.5, kRate);
    EXPECT_NEAR(slope, 12.04, 0.1);
}

TEST(FilterLane, LowPassFallsTwentyFourDecibelsPerOctaveFarAboveItsCorner)
{
    const FilterLane lane = laneWith(kRate, false, true, 20.0, 250.0);
    const double slope = measuredDb(lane, false, 1000.0, kRate) - measuredDb(lane, false, 2000.0, kRate);
    // The bilinear transform steepens the slope slightly as frequencies approach Nyquist: 24.23 dB.
    EXPECT_NEAR(slope, 24.23, 0.15);
}

TEST(FilterLane, IsDisengagedAtTheEndsOfItsRangesAndPassesTheSignalBitForBit)
{
    FilterLane lane = laneWith(kRate, true, true, 20.0, 20000.0);
    EXPECT_FALSE(lane.highPassEngaged());
    EXPECT_FALSE(lane.lowPassEngaged());
    const std::vector<float> x = sineF(440.0, 0.7, kRate, 4800);
    for (float v : x) {
        ASSERT_EQ(lane.processHighPass(v), v);
        ASSERT_EQ(lane.processLowPass(v), v);
    }

    FilterLane justBelow = laneWith(kRate, true, true, 20.0, 19999.0);
    EXPECT_TRUE(justBelow.lowPassEngaged());
    FilterLane justAbove = laneWith(kRate, true, true, 20.5, 20000.0);
    EXPECT_TRUE(justAbove.highPassEngaged());
}

TEST(FilterLane, EngagesWithATenMillisecondCrossfadeWhileTheCornerGlides)
{
    FilterLane lane = laneWith(kRate, true, true, 20.0, 20000.0);
    EXPECT_EQ(lane.highPassMix, 0.0f);
    lane.updateBlock(true, true, 80.0, 20000.0, 480);
    EXPECT_TRUE(lane.highPassEngaged());
    for (int n = 0; n < 480; ++n)
        lane.processHighPass(0.0f);
    EXPECT_NEAR(lane.highPassMix, 1.0 - std::exp(-1.0), 2e-3);
    // The corner moved 1 - e^-0.5 of the way (in log frequency) during the same 10 ms block.
    EXPECT_NEAR(std::log(lane.highPassCurrent / 20.0) / std::log(4.0), 1.0 - std::exp(-0.5), 1e-4);
}

TEST(FilterLane, SwitchingOnDoesNotClick)
{
    FilterLane lane = laneWith(kRate, false, false, 400.0, 2000.0);
    const std::vector<float> x = sineF(1000.0, 0.5, kRate, 9600);
    double maxStepIn = 0.0, maxStepOut = 0.0;
    float previous = 0.0f;
    for (size_t n = 0; n < x.size(); ++n) {
        if (n % 64 == 0)
            lane.updateBlock(n >= 2400, n >= 4800, 400.0, 2000.0, 64);
        const float y = lane.processLowPass(lane.processHighPass(x[n]));
        if (n > 0) {
            maxStepIn = std::max(maxStepIn, std::fabs(double(x[n]) - x[n - 1]));
            maxStepOut = std::max(maxStepOut, std::fabs(double(y) - previous));
        }
        previous = y;
    }
    EXPECT_LE(maxStepOut, maxStepIn * 1.05);
}

TEST(FilterLane, CornerStepPassesTheGeometricMeanAfterAboutFourteenMillisecondsAndSnapsOnce)
{
    FilterLane lane = laneWith(kRate, true, false, 20.0, 20000.0);
    const int block = 64;
    const double k = std::exp(-(block / kRate) / 0.02);
    int crossingBlock = -1;
    int snaps = 0;
    float previous = lane.highPassCurrent;
    for (int b = 1; b <= 400; ++b) {
        lane.updateBlock(true, false, 1000.0, 20000.0, block);
        const float now = lane.highPassCurrent;
        if (crossingBlock < 0 && now >= std::sqrt(20.0f * 1000.0f))
            crossingBlock = b;
        if (now == 1000.0f && previous != 1000.0f) {
            ++snaps;
            EXPECT_GE(std::fabs(previous - 1000.0f), 1000.0f * 0.0006f * 0.999f);
        }
        if (previous != 1000.0f && now != 1000.0f) { // still gliding: 20 * 50^(1 - k^b)
            EXPECT_NEAR(now, 20.0 * std::pow(50.0, 1.0 - std::pow(k, b)), now * 1e-4);
        }
        previous = now;
    }
    EXPECT_EQ(snaps, 1);
    EXPECT_EQ(lane.highPassCurrent, 1000.0f);
    const double crossingSeconds = crossingBlock * block / kRate;
    EXPECT_NEAR(crossingSeconds, 0.02 * std::log(2.0), block / kRate);
}

TEST(FilterLane, AtTwentyTwoKilohertzTheLowPassStaysOffAtTwentyKilohertzAndIsClampedWhenEngaged)
{
    const double rate = 22050.0;
    FilterLane off = laneWith(rate, false, true, 20.0, 20000.0);
    EXPECT_FALSE(off.lowPassEngaged());
    const FilterLane lane = laneWith(rate, false, true, 20.0, 15000.0);
    EXPECT_TRUE(lane.lowPassEngaged());
    for (const auto& [f, db] : referenceRows("lowpass4_9922.5_22050")) {
        EXPECT_NEAR(lane.lowPassResponseDb(f), db, 0.02 + std::fabs(db) * 2e-3) << f << " Hz";
        if (db > -90.0) {
            EXPECT_NEAR(measuredDb(lane, false, f, rate), db, 0.05 + std::fabs(db) * 2e-3) << f << " Hz";
        }
    }
}

TEST(FilterLane, CopyOfALaneHasTheSameStateUntilItsInputDiffers)
{
    FilterLane a = laneWith(kRate, true, true, 200.0, 3000.0);
    for (float v : sineF(300.0, 0.3, kRate, 1000)) {
        a.processHighPass(v);
        a.processLowPass(v);
    }
    FilterLane b = a;
    EXPECT_TRUE(b.sameStateAs(a));
    a.processHighPass(0.25f);
    b.processHighPass(0.25f);
    EXPECT_TRUE(b.sameStateAs(a));
    b.processLowPass(0.5f);
    EXPECT_FALSE(b.sameStateAs(a));
}

TEST(FilterLane, NonFiniteInputNeverReachesTheOutputAndTheFilterRecovers)
{
    FilterLane lane = laneWith(kRate, true, true, 100.0, 1000.0);
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
        -std::numeric_limits<float>::infinity(), 3e38f, -3e38f};
    for (float v : bad) {
        EXPECT_TRUE(std::isfinite(lane.processLowPass(v)));
        const float h = lane.processHighPass(std::isfinite(v) ? v : 0.0f);
        EXPECT_TRUE(std::isfinite(h));
    }
    EXPECT_NEAR(measuredDb(lane, false, 500.0, kRate), lane.lowPassResponseDb(500.0), 0.05);
    EXPECT_NEAR(measuredDb(lane, true, 500.0, kRate), lane.highPassResponseDb(500.0), 0.05);
}

TEST(FilterLane, NonFiniteParametersKeepThePreviousTargets)
{
    FilterLane lane = laneWith(kRate, true, true, 300.0, 4000.0);
    lane.updateBlock(true, true, std::nan(""), std::numeric_limits<double>::infinity(), 64);
    EXPECT_EQ(lane.highPassTarget, 300.0f);
    EXPECT_EQ(lane.lowPassTarget, 4000.0f);
}

TEST(FilterLane, ReachesEachBlocksCoefficientsByTheEndOfThatBlock)
{
    FilterLane lane = laneWith(kRate, true, true, 100.0, 5000.0);
    lane.updateBlock(true, true, 400.0, 2000.0, 256);
    const BiquadCoefficients target = lane.highPass.coefficients();
    EXPECT_EQ(lane.highPass.remaining, 256);
    for (int n = 0; n < 256; ++n) {
        lane.processHighPass(0.1f);
        lane.processLowPass(0.1f);
    }
    EXPECT_EQ(lane.highPass.a1, target.a1);
    EXPECT_EQ(lane.lowPass2.a2, lane.lowPass2.coefficients().a2);
    EXPECT_EQ(lane.lowPass1.remaining, 0);
}
