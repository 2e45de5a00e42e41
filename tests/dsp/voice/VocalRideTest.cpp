#include "dsp/voice/VocalRide.h"

#include "VoiceTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

using namespace brindlecot::dsp;
using namespace brindlecot::test;

namespace {

constexpr double kRate = 48000.0;
constexpr int kBlock = 64;

double sineAmplitudeForRmsDb(double db)
{
    return std::sqrt(2.0) * std::pow(10.0, db / 20.0);
}

// Drives the ride like the frame does: block work, then per sample the detectors and the gain.
struct RideDriver
{
    VocalRide ride;
    double phase = 0.0;
    long samples = 0;
    float lastGain = 1.0f;

    RideDriver(float strengthDb, float targetDb)
    {
        ride.prepare(kRate);
        ride.setStrength(strengthDb);
        ride.setTarget(targetDb);
    }

    // Runs `seconds` of a 300 Hz sine at rmsDb, with the given openness and notch activity;
    // onBlock sees the ride after each block's block work.
    void run(double seconds, double rmsDb, float openness = 1.0f, bool notch = false,
        double voiceFloorDb = -60.0, const std::function<void(const VocalRide&)>& onBlock = {})
    {
        const double amplitude = sineAmplitudeForRmsDb(rmsDb);
        const long frames = static_cast<long>(seconds * kRate);
        for (long done = 0; done < frames; done += kBlock) {
            const bool idle = ride.updateBlock(voiceFloorDb, notch);
            if (onBlock)
                onBlock(ride);
            for (int n = 0; n < kBlock; ++n) {
                const float x = static_cast<float>(amplitude * std::sin(phase));
                phase += 2.0 * M_PI * 300.0 / kRate;
                ride.feedDetectors(x, x, openness, !idle);
                lastGain = idle ? 1.0f : ride.gain(openness);
                ++samples;
            }
        }
    }
};

} // namespace

TEST(VocalRide, AsksForPlusSixDecibelsForAVocalTenDecibelsUnderTheTarget)
{
    RideDriver d(6.0f, -20.0f);
    d.run(1.0, -30.0);
    EXPECT_TRUE(d.ride.levelValid);
    EXPECT_NEAR(d.ride.levelDb, -30.0, 0.1);
    EXPECT_FLOAT_EQ(d.ride.desiredDb, 6.0f);
}

TEST(VocalRide, CutsByOneAndAHalfTimesTheStrengthForAVocalTwelveDecibelsOverTheTarget)
{
    RideDriver d(6.0f, -20.0f);
    d.run(1.0, -8.0);
    EXPECT_FLOAT_EQ(d.ride.desiredDb, -9.0f);
    d.run(6.0, -8.0);
    // Single-precision steps stall within 0.007 dB of the goal (the step falls below half an ulp).
    EXPECT_NEAR(d.ride.currentDb, -9.0, 0.01);
    EXPECT_NEAR(toDb(d.lastGain), -9.0, 0.01);
}

TEST(VocalRide, RisesWithAnElevenHundredMillisecondTimeConstant)
{
    RideDriver d(6.0f, -20.0f);
    long startSample = -1;
    double atTimeConstant = 0.0;
    d.run(3.0, -30.0, 1.0f, false, -60.0, [&](const VocalRide& r) {
        if (startSample < 0 && r.desiredDb == 6.0f)
            startSample = d.samples;
        if (startSample >= 0 && d.samples - startSample == 52800 / kBlock * kBlock)
            atTimeConstant = r.currentDb;
    });
    ASSERT_GE(startSample, 0);
    // 6 dB * (1 - e^-1) after 1.1 s (52800 samples).
    EXPECT_NEAR(atTimeConstant, 6.0 * (1.0 - std::exp(-(52800 / kBlock * kBlock) / (kRate * 1.1))), 0.01);
}

TEST(VocalRide, NeverMovesFasterThanTwentyFourDecibelsPerSecond)
{
    RideDriver d(6.0f, -20.0f);
    long startSample = -1;
    double at37Blocks = 0.0;
    double previous = 0.0;
    double fastest = 0.0;
    d.run(2.0, -8.0, 1.0f, false, -60.0, [&](const VocalRide& r) {
        if (startSample < 0 && r.desiredDb == -9.0f)
            startSample = d.samples;
        if (startSample >= 0 && d.samples - startSample == 37 * kBlock)
            at37Blocks = r.currentDb;
        fastest = std::max(fastest, std::fabs(r.currentDb - previous) / (kBlock / kRate));
        previous = r.currentDb;
    });
    ASSERT_GE(startSample, 0);
    // The unlimited 0.3 s fall would start at 30 dB/s; the slew limit holds it at 24 dB/s.
    EXPECT_NEAR(at37Blocks, -24.0 * 37 * kBlock / kRate, 0.002);
    EXPECT_LE(fastest, 24.0 * 1.001);
}

TEST(VocalRide, DoesNotRiseWhileAFeedbackNotchIsActiveButStillFalls)
{
    RideDriver d(6.0f, -20.0f);
    d.run(2.0, -30.0, 1.0f, true);
    EXPECT_FLOAT_EQ(d.ride.desiredDb, 6.0f);
    EXPECT_EQ(d.ride.currentDb, 0.0f);
    EXPECT_EQ(d.ride.appliedDb, 0.0f);
    EXPECT_EQ(d.lastGain, 1.0f);

    d.run(1.0, -30.0, 1.0f, false);
    const float risen = d.ride.currentDb;
    EXPECT_GT(risen, 2.0f);
    d.run(0.5, -30.0, 1.0f, true);
    EXPECT_EQ(d.ride.currentDb, risen);
    d.run(2.0, -8.0, 1.0f, true);
    EXPECT_LT(d.ride.currentDb, -5.0f);
}

TEST(VocalRide, GivesNoValidLevelDuringTheFirstFifteenHundredthsOfASecond)
{
    RideDriver d(6.0f, -20.0f);
    d.run(0.5, -30.0, 1.0f, false, -60.0, [&](const VocalRide& r) {
        if (r.level.count < 7200u) {
            EXPECT_FALSE(r.levelValid);
            EXPECT_EQ(r.desiredDb, 0.0f);
        } else {
            EXPECT_EQ(r.desiredDb, 6.0f);
        }
    });
    EXPECT_GE(d.samples, 7200);
}

TEST(VocalRide, MeasuresOnlyInsidePhrasesAndFadesToUnityAfterAPhraseCloses)
{
    RideDriver closed(6.0f, -20.0f);
    closed.run(1.0, -30.0, 0.4f);
    EXPECT_EQ(closed.ride.level.count, 0u);
    EXPECT_EQ(closed.ride.desiredDb, 0.0f);

    RideDriver d(6.0f, -20.0f);
    d.run(8.0, -30.0, 1.0f);
    const float full = d.ride.appliedDb;
    EXPECT_NEAR(full, 6.0f, 0.02f);
    d.run(0.1 - 1.0 / kRate * kBlock, -30.0, 0.0f); // hold: weight unchanged
    EXPECT_NEAR(d.ride.appliedDb, d.ride.currentDb * 1.0f, 0.01f);
    d.run(0.06 + 2.0 / kRate * kBlock, -30.0, 0.0f);
    EXPECT_NEAR(d.ride.weight, std::exp(-1.0), 0.03);
}

TEST(VocalRide, GainIsExactlyOneAtZeroStrengthAndRaisingItRestartsFromAClearedDetector)
{
    RideDriver d(6.0f, -20.0f);
    d.run(3.0, -30.0);
    EXPECT_GT(d.ride.currentDb, 1.0f);
    d.ride.setStrength(0.0f);
    d.run(5.0, -30.0);
    EXPECT_TRUE(d.ride.idle());
    EXPECT_EQ(d.ride.currentDb, 0.0f);
    EXPECT_EQ(d.lastGain, 1.0f);
    EXPECT_EQ(d.ride.level.count, 0u);
    d.ride.setStrength(6.0f);
    d.run(0.1, -30.0);
    EXPECT_FALSE(d.ride.idle());
    EXPECT_FALSE(d.ride.levelValid);
}

TEST(VocalRide, VoicePresenceHasThreeDecibelsOfHysteresisBelowTheVoiceFloor)
{
    RideDriver d(0.0f, -20.0f);
    d.run(0.5, -41.0, 1.0f, false, -40.0);
    EXPECT_FALSE(d.ride.voicePresent);
    d.run(0.5, -39.0, 1.0f, false, -40.0);
    EXPECT_TRUE(d.ride.voicePresent);
    d.run(0.5, -42.5, 1.0f, false, -40.0);
    EXPECT_TRUE(d.ride.voicePresent);
    d.run(0.5, -43.5, 1.0f, false, -40.0);
    EXPECT_FALSE(d.ride.voicePresent);
    d.run(0.5, -39.0, 1.0f, false, -40.0);
    EXPECT_TRUE(d.ride.voicePresent);
    d.ride.reset();
    EXPECT_FALSE(d.ride.voicePresent);
}

TEST(VocalRide, ResetStartsFromUnityWithTheDocumentedCoefficients)
{
    VocalRide r;
    r.prepare(kRate);
    EXPECT_EQ(r.gainLinear, 1.0f);
    EXPECT_EQ(r.crestAverage, -1.0f);
    EXPECT_EQ(r.holdSamples, 4800);
    EXPECT_FLOAT_EQ(r.maxStepDb, 24.0f / 48000.0f);
    EXPECT_NEAR(r.crestCoef, 1.0 - std::exp(-32.0 / 48000.0), 1e-9);
    EXPECT_EQ(r.level.minCount, 7200);
    EXPECT_EQ(r.voicePresence.minCount, 960);
}
