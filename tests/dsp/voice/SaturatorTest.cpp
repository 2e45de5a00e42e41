#include "dsp/voice/Saturator.h"

#include "VoiceTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace brindlecot::dsp;
using namespace brindlecot::test;

namespace {

constexpr double kRate = 48000.0;

Saturator makeSaturator(int mode, double amount, double focusHz, double driveDb, double rate = kRate)
{
    Saturator s;
    s.prepare(rate, 0.02f, 10.0f, mode);
    s.setChannelLanes(1);
    s.updateBlock(amount, focusHz, std::pow(10.0, driveDb / 20.0));
    s.reset(); // start at the target amount
    return s;
}

std::vector<float> run(Saturator& s, const std::vector<float>& x)
{
    std::vector<float> y(x);
    for (float& v : y)
        s.process(&v, 1);
    return y;
}

} // namespace

TEST(Saturator, MakeupTableMatchesAnIndependentFourierComputation)
{
    const Saturator s = makeSaturator(0, 1.0, 2000.0, 30.0);
    const auto rows = referenceRows("makeup");
    ASSERT_EQ(rows.size(), 65u);
    for (const auto& [i, v] : rows)
        EXPECT_NEAR(s.makeup(static_cast<int>(i)), v, v * 2e-6) << "entry " << i;
    const Saturator top = makeSaturator(1, 1.0, 8000.0, 30.0);
    for (int i = 0; i < Saturator::kMakeupEntries; ++i)
        EXPECT_EQ(top.makeup(i), 1.0f);
}

TEST(Saturator, ShaperIsNearlyLinearForSmallInputsAndSaturatesAsymmetrically)
{
    EXPECT_EQ(saturationShaper(0.0f), 0.0f);
    EXPECT_EQ(saturationShaper(std::numeric_limits<float>::quiet_NaN()), 0.0f);
    EXPECT_EQ(saturationShaper(std::numeric_limits<float>::infinity()), 0.0f);
    EXPECT_NEAR(saturationShaper(1e-3f), 1e-3 + 0.093e-6, 1e-9);
    EXPECT_NEAR(saturationShaper(1e6f), 1.0 / std::sqrt(0.4386) + 0.093 / 0.9064516, 1e-5);
    EXPECT_NEAR(saturationShaper(-1e6f), -1.0 / std::sqrt(0.4386) + 0.093 / 0.9064516, 1e-5);
}

TEST(Saturator, LeavesTheFundamentalOfAMinus22DbfsSineUnchangedAtEveryDrive)
{
    const double amplitude = 0.0794;
    const int frames = 48000;
    const std::vector<float> x = sineF(200.0, amplitude, kRate, frames);
    for (double driveDb : {0.0, 6.0, 12.0, 20.0, 30.0, 38.0618}) {
        for (double amount : {1.0, 0.5}) {
            Saturator s = makeSaturator(0, amount, 2000.0, driveDb);
            const std::vector<float> y = run(s, x);
            const double fundamental = amplitudeAt(y, 200.0, kRate, frames / 2);
            EXPECT_NEAR(toDb(fundamental / amplitude), 0.0, 0.1) << driveDb << " dB drive, amount " << amount;
        }
    }
}

TEST(Saturator, AddsSecondAndThirdHarmonicsWhenDriven)
{
    const int frames = 48000;
    const std::vector<float> x = sineF(200.0, 0.0794, kRate, frames);
    Saturator s = makeSaturator(0, 1.0, 2000.0, 30.0);
    const std::vector<float> y = run(s, x);
    const double h1 = amplitudeAt(y, 200.0, kRate, frames / 2);
    EXPECT_GT(amplitudeAt(y, 400.0, kRate, frames / 2) / h1, 0.01);
    EXPECT_GT(amplitudeAt(y, 600.0, kRate, frames / 2) / h1, 0.01);
    EXPECT_LT(amplitudeAt(x, 400.0, kRate, frames / 2) / h1, 1e-5);
}

TEST(Saturator, StillSoftlyLimitsALoudBandAtZeroDecibelsOfDrive)
{
    const int frames = 48000;
    const std::vector<float> x = sineF(200.0, 1.0, kRate, frames);
    Saturator s = makeSaturator(0, 1.0, 2000.0, 0.0);
    const std::vector<float> y = run(s, x);
    EXPECT_LT(amplitudeAt(y, 200.0, kRate, frames / 2), 0.93);
}

TEST(Saturator, TopSaturationWithItsFocusFullyOpenAddsNothing)
{
    Saturator s = makeSaturator(1, 1.0, 20000.0, 38.0);
    const std::vector<float> x = sineF(5000.0, 0.5, kRate, 4800);
    const std::vector<float> y = run(s, x);
    for (size_t n = 0; n < x.size(); ++n)
        ASSERT_EQ(y[n], x[n]);
}

TEST(Saturator, TopSaturationDrivesTheBandAboveItsFocusFarHarderThanTheBandBelow)
{
    const int frames = 48000;
    // Third harmonics: 300 Hz well below an 8 kHz focus, 6 kHz well above a 2 kHz focus.
    Saturator low = makeSaturator(1, 1.0, 8000.0, 30.0);
    const std::vector<float> yl = run(low, sineF(300.0, 0.3, kRate, frames));
    const double lowHarmonic = amplitudeAt(yl, 900.0, kRate, frames / 2);
    Saturator high = makeSaturator(1, 1.0, 2000.0, 30.0);
    const std::vector<float> yh = run(high, sineF(6000.0, 0.3, kRate, frames));
    const double highHarmonic = amplitudeAt(yh, 18000.0, kRate, frames / 2);
    EXPECT_GT(highHarmonic, 0.3 * 1e-2);
    EXPECT_GT(highHarmonic, 10.0 * lowHarmonic);
}

TEST(Saturator, AtZeroAmountTheSignalIsBitIdentical)
{
    for (int mode : {0, 1}) {
        Saturator s = makeSaturator(mode, 0.0, 2000.0, 30.0);
        EXPECT_TRUE(s.idle());
        const std::vector<float> x = sineF(440.0, 0.8, kRate, 4800);
        const std::vector<float> y = run(s, x);
        for (size_t n = 0; n < x.size(); ++n)
            ASSERT_EQ(y[n], x[n]);
    }
}

TEST(Saturator, AmountGlidesPerSampleWithATwentyMillisecondTimeConstant)
{
    Saturator s = makeSaturator(0, 0.0, 2000.0, 30.0);
    EXPECT_FALSE(s.updateBlock(1.0, 2000.0, 31.6));
    float v = 0.0f;
    for (int n = 0; n < 960; ++n)
        s.process(&v, 1);
    EXPECT_NEAR(s.amount(), 1.0 - std::exp(-1.0), 1e-3);
}

TEST(Saturator, GoesIdleOnceTheAmountHasFadedAndClearsItsStates)
{
    Saturator s = makeSaturator(0, 1.0, 2000.0, 30.0);
    EXPECT_FALSE(s.idle());
    s.updateBlock(0.0, 2000.0, 31.6);
    EXPECT_FALSE(s.idle()); // still fading out
    float v = 0.2f;
    for (int n = 0; n < 48000; ++n)
        s.process(&v, 1);
    EXPECT_TRUE(s.updateBlock(0.0, 2000.0, 31.6));
    EXPECT_EQ(s.amount(), 0.0f);
}

TEST(Saturator, FocusIsClampedAndDesignedAtFortyFivePercentOfTheSampleRate)
{
    const Saturator s = makeSaturator(1, 1.0, 16000.0, 30.0, 32000.0);
    EXPECT_EQ(s.focus(), 16000.0f);
    EXPECT_NEAR(s.focusResponseDb(14400.0), -3.0103, 0.01);
    EXPECT_EQ(makeSaturator(0, 1.0, 50.0, 30.0).focus(), 200.0f);
    EXPECT_EQ(makeSaturator(0, 1.0, std::nan(""), 30.0).focus(), 20000.0f);
    EXPECT_EQ(makeSaturator(0, 1.0, 2000.0, 60.0).drive(), 80.0f);
    EXPECT_EQ(makeSaturator(0, 1.0, 2000.0, -10.0).drive(), 1.0f);
}

TEST(Saturator, LanesCopyOnGrowAndCompareEqualForTheDualMonoPath)
{
    Saturator s = makeSaturator(0, 1.0, 2000.0, 30.0);
    s.setChannelLanes(2);
    float io[2] = {0.3f, -0.1f};
    s.process(io, 2);
    EXPECT_FALSE(s.lanesEqual());
    s.syncLanes(1);
    s.syncLanes(2);
    EXPECT_TRUE(s.lanesEqual());
    io[0] = io[1] = 0.25f;
    s.process(io, 2);
    EXPECT_TRUE(s.lanesEqual());
    EXPECT_EQ(io[0], io[1]);
}

TEST(Saturator, NonFiniteInputBecomesSilenceAndNeverReachesTheOutput)
{
    Saturator s = makeSaturator(0, 1.0, 2000.0, 38.0);
    const float bad[]
        = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 3e38f};
    for (float b : bad) {
        float v = b;
        s.process(&v, 1);
        EXPECT_TRUE(std::isfinite(v));
    }
    float v = 0.1f;
    s.process(&v, 1);
    EXPECT_TRUE(std::isfinite(v));
}
