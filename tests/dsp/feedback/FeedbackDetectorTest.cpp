#include "dsp/feedback/FeedbackDetector.h"
#include "dsp/feedback/FeedbackSignals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>

using brindlecot::dsp::DetectorConfig;
using brindlecot::dsp::FeedbackDetector;
using namespace brindlecot::test;

namespace {

constexpr float kRate = 48000.0f;
constexpr double kTwoPi = 2.0 * M_PI;

std::unique_ptr<FeedbackDetector> detectorAt(float rate, uint64_t hopPhase = 0)
{
    auto d = std::make_unique<FeedbackDetector>();
    d->prepare(DetectorConfig::forSampleRate(rate, 45.0f, hopPhase));
    return d;
}

std::string messageOf(const DetectorConfig& c)
{
    FeedbackDetector d;
    try {
        d.prepare(c);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "";
}

// Amplitude of a bin-centred sine that stands `prominenceDb` above uniform noise of amplitude a:
// sine power A^2 (sum w / 2)^2 against the median of exponential noise bins, ln 2 * sigma^2 sum w^2.
float sineForProminence(float prominenceDb, float noiseAmplitude)
{
    const double sigma2 = noiseAmplitude * noiseAmplitude / 3.0;
    const double sumW = 1023.5;
    const double sumW2 = 767.625;
    const double floor = std::log(2.0) * sigma2 * sumW2;
    return static_cast<float>(std::sqrt(std::pow(10.0, prominenceDb / 10.0) * floor) / (sumW / 2.0));
}

} // namespace

TEST(FeedbackDetector, SearchesEightyHzToThirtySixHundredAtEightKilohertz)
{
    auto d = detectorAt(8000.0f);
    EXPECT_FLOAT_EQ(d->config().minFrequencyHz, 80.0f);
    EXPECT_FLOAT_EQ(d->config().maxFrequencyHz, 3600.0f);
    EXPECT_EQ(d->minBin(), 21u);
    EXPECT_EQ(d->maxBin(), 921u);
}

TEST(FeedbackDetector, SearchesEightyHzToTwelveKilohertzAtFortyEightKilohertz)
{
    auto d = detectorAt(48000.0f);
    EXPECT_EQ(d->minBin(), 4u);
    EXPECT_EQ(d->maxBin(), 512u);
}

TEST(FeedbackDetector, AcceptsTheSuppliedConfigurationForAnyFinitePositiveRate)
{
    for (float rate : {1.0f, 100.0f, 8000.0f, 44100.0f, 96000.0f, 192000.0f, 1.0e6f})
        EXPECT_EQ(messageOf(DetectorConfig::forSampleRate(rate, 45.0f, 0)), "") << rate;
}

TEST(FeedbackDetector, RejectsBadConfigurationsWithTheFirstFailingRuleInOrder)
{
    // Start with every rule broken, then repair one rule at a time: each step reports the next rule.
    DetectorConfig c = DetectorConfig::forSampleRate(kRate, 45.0f, 0);
    c.sampleRate = std::numeric_limits<float>::quiet_NaN();
    c.minFrequencyHz = 0.0f;
    c.hop = 0;
    c.floorGuard = 30; // neighbourhood 24 - guard 30 wraps around as an unsigned difference
    c.binSmoothing = 0.0f;
    c.growingPersistence = 0;
    c.sustainedPersistence = 0;
    EXPECT_EQ(messageOf(c), "detector sample rate must be positive");
    c.sampleRate = kRate;
    EXPECT_EQ(messageOf(c), "detector frequency range is invalid");
    c.minFrequencyHz = 1000.0f;
    c.maxFrequencyHz = 1100.0f;
    EXPECT_EQ(messageOf(c), "detector hop is outside the window");
    c.hop = 512;
    EXPECT_EQ(messageOf(c), "detector floor window exceeds its buffer");
    c.floorGuard = 24;
    EXPECT_EQ(messageOf(c), "detector bin smoothing must be in (0, 1]");
    c.binSmoothing = 1.0f;
    EXPECT_EQ(messageOf(c), "detector floor neighbourhood must exceed its guard");
    c.floorGuard = 3;
    EXPECT_EQ(messageOf(c), "detector persistence must contain frames");
    c.growingPersistence = 24;
    EXPECT_EQ(messageOf(c), "detector sustained persistence must not be shorter than its growing one");
    c.sustainedPersistence = 24;
    EXPECT_EQ(messageOf(c), "detector range is too narrow for its neighbourhood"); // bins 43 .. 46
    c.maxFrequencyHz = 1300.0f;
    EXPECT_EQ(messageOf(c), "");
}

TEST(FeedbackDetector, ChecksEachRuleAtItsBoundary)
{
    const DetectorConfig base = DetectorConfig::forSampleRate(kRate, 45.0f, 0);
    auto with = [&](auto edit) {
        DetectorConfig c = base;
        edit(c);
        return messageOf(c);
    };
    EXPECT_EQ(with([](DetectorConfig& c) { c.sampleRate = -1.0f; }), "detector sample rate must be positive");
    EXPECT_EQ(
        with([](DetectorConfig& c) { c.sampleRate = INFINITY; }), "detector sample rate must be positive");
    EXPECT_EQ(
        with([](DetectorConfig& c) { c.maxFrequencyHz = 24001.0f; }), "detector frequency range is invalid");
    EXPECT_EQ(
        with([](DetectorConfig& c) { c.minFrequencyHz = 12000.0f; }), "detector frequency range is invalid");
    EXPECT_EQ(with([](DetectorConfig& c) { c.maxFrequencyHz = NAN; }), "detector frequency range is invalid");
    EXPECT_EQ(with([](DetectorConfig& c) { c.maxFrequencyHz = 24000.0f; }), "");
    EXPECT_EQ(with([](DetectorConfig& c) { c.hop = 2049; }), "detector hop is outside the window");
    EXPECT_EQ(with([](DetectorConfig& c) { c.hop = 2048; }), "");
    EXPECT_EQ(with([](DetectorConfig& c) { c.floorNeighbourhood = 68; }),
        "detector floor window exceeds its buffer");
    EXPECT_EQ(with([](DetectorConfig& c) { c.floorNeighbourhood = 67; }), "");
    EXPECT_EQ(
        with([](DetectorConfig& c) { c.binSmoothing = 1.01f; }), "detector bin smoothing must be in (0, 1]");
    EXPECT_EQ(
        with([](DetectorConfig& c) { c.binSmoothing = NAN; }), "detector bin smoothing must be in (0, 1]");
    EXPECT_EQ(with([](DetectorConfig& c) { c.floorNeighbourhood = 3; }),
        "detector floor neighbourhood must exceed its guard");
    EXPECT_EQ(with([](DetectorConfig& c) { c.sustainedPersistence = 23; }),
        "detector sustained persistence must not be shorter than its growing one");
}

TEST(FeedbackDetector, AnalysesNothingBeforeTheWindowAndHopPhaseHavePassed)
{
    auto d = detectorAt(kRate, 96);
    for (int n = 0; n < 2048 + 96 - 1; ++n)
        d->pushSample(0.1f);
    EXPECT_EQ(d->captureCount(), 0u);
    d->pushSample(0.1f); // sample 2048 + 96: first capture
    EXPECT_EQ(d->captureCount(), 1u);
    for (int n = 0; n < 510; ++n)
        d->pushSample(0.1f);
    EXPECT_EQ(d->analysisCount(), 0u);
    d->pushSample(0.1f); // hop - 1 samples after the capture
    EXPECT_EQ(d->analysisCount(), 1u);
    EXPECT_FLOAT_EQ(d->growthDb(), 0.0f);
    EXPECT_NEAR(d->analysisRms(), 0.1f, 1e-6f);
    d->pushSample(0.1f);
    EXPECT_EQ(d->captureCount(), 2u);
}

TEST(FeedbackDetector, NeverCapturesAndAnalysesOnTheSameSample)
{
    for (uint64_t instance = 0; instance < 16; ++instance) {
        auto d = detectorAt(kRate, instance * 32);
        uint64_t firstCapture = 0;
        for (uint64_t n = 1; n <= 20000; ++n) {
            const uint64_t c = d->captureCount();
            const uint64_t a = d->analysisCount();
            d->pushSample(0.01f * static_cast<float>(std::sin(0.1 * static_cast<double>(n))));
            const bool captured = d->captureCount() != c;
            const bool analysed = d->analysisCount() != a;
            ASSERT_FALSE(captured && analysed) << "sample " << n;
            if (captured && firstCapture == 0)
                firstCapture = n;
        }
        EXPECT_EQ(firstCapture, 2048 + instance * 32);
    }
}

TEST(FeedbackDetector, EqualsTheCapturedFramesPowerSpectrum)
{
    // The power of a full-scale bin-centred sine is (A sum w / 2)^2 at its bin.
    auto d = detectorAt(kRate);
    Source s([](uint64_t n) { return 0.5f * static_cast<float>(std::sin(kTwoPi * 100.0 * n / 2048.0)); });
    runAnalyses(*d, s, 1);
    EXPECT_NEAR(std::sqrt(d->power(100)) / (1023.5 / 2.0), 0.5, 0.005);
    EXPECT_EQ(d->power(2), 0.0); // outside the searched range stays 0
    EXPECT_EQ(d->power(600), 0.0);
}

TEST(FeedbackDetector, RefinesThePeakBetweenBins)
{
    auto d = detectorAt(kRate);
    Source s([](uint64_t n) { return 0.3f * static_cast<float>(std::sin(kTwoPi * 150.3 * n / 2048.0)); });
    runAnalyses(*d, s, 2);
    EXPECT_NEAR(d->candidateHz(), binHz(150.3), binHz(0.05));
    EXPECT_GT(d->prominenceDb(), 65.0f);
    EXPECT_TRUE(d->flags().loud);
    EXPECT_TRUE(d->flags().prominent);
    EXPECT_TRUE(d->flags().isolated);
}

TEST(FeedbackDetector, ReadsAStationaryPeakAsGrowingUntilTheSmoothingConverges)
{
    auto d = detectorAt(kRate);
    Source s([](uint64_t n) { return 0.3f * static_cast<float>(std::sin(kTwoPi * 200.0 * n / 2048.0)); });
    runAnalyses(*d, s, 1);
    EXPECT_FLOAT_EQ(d->growthDb(), 0.0f);
    runAnalyses(*d, s, 1);
    EXPECT_NEAR(d->growthDb(), 10.0 * std::log10(1.0 / 0.02), 0.1); // about +17 dB
    EXPECT_TRUE(d->flags().growing);
    runAnalyses(*d, s, 60);
    EXPECT_LT(d->growthDb(), 6.0f);
    EXPECT_FALSE(d->flags().growing);
}

TEST(FeedbackDetector, ComputesTheProminenceAgainstTheUpperMedianOfTheNeighbourhood)
{
    // A 50 dB sine over noise reads close to 50 dB; the neighbourhood alone reads near 0 dB.
    Noise noise(0.02f, 11);
    const float a = sineForProminence(50.0f, 0.02f);
    auto d = detectorAt(kRate);
    Source s(
        [&](uint64_t n) { return noise() + a * static_cast<float>(std::sin(kTwoPi * 128.0 * n / 2048.0)); });
    runAnalyses(*d, s, 4);
    EXPECT_EQ(d->binOf(static_cast<float>(binHz(128.0))), 128u);
    EXPECT_NEAR(d->prominenceDb(), 50.0f, 2.0f);
    EXPECT_FLOAT_EQ(d->prominenceAt(128), d->prominenceDb());
    EXPECT_LT(std::fabs(d->prominenceAt(300)), 10.0f);
}

TEST(FeedbackDetector, NeverChoosesAnExcludedBinEvenIfItHoldsTheLoudestPeak)
{
    auto d = detectorAt(kRate);
    const double loud = binHz(200.0);
    d->setExclusion(0, static_cast<float>(loud));
    Source s([&](uint64_t n) {
        return 0.5f * static_cast<float>(std::sin(kTwoPi * 200.0 * n / 2048.0))
            + 0.05f * static_cast<float>(std::sin(kTwoPi * 301.0 * n / 2048.0));
    });
    runAnalyses(*d, s, 3);
    EXPECT_NEAR(d->candidateHz(), binHz(301.0), binHz(0.1));
    EXPECT_TRUE(d->excluded(200.0f));
    EXPECT_TRUE(d->excluded(200.0f * 1.03f));
    EXPECT_FALSE(d->excluded(200.0f * 1.04f));
    d->clearExclusions();
    runAnalyses(*d, s, 1);
    EXPECT_NEAR(d->candidateHz(), loud, binHz(0.1));
}

TEST(FeedbackDetector, FindsNothingProminentWhenEveryBinIsExcluded)
{
    FeedbackDetector d;
    DetectorConfig c = DetectorConfig::forSampleRate(kRate, 45.0f, 0);
    c.minFrequencyHz = 1000.0f; // bins 43 .. 51
    c.maxFrequencyHz = 1200.0f;
    d.prepare(c);
    d.setExclusion(0, 1040.0f); // each range spans 0.1 octave: three cover bins 42.9 .. 52.1
    d.setExclusion(1, 1110.0f);
    d.setExclusion(2, 1180.0f);
    Source s([](uint64_t n) { return 0.5f * static_cast<float>(std::sin(kTwoPi * 47.0 * n / 2048.0)); });
    runAnalyses(d, s, 2);
    EXPECT_FLOAT_EQ(d.prominenceDb(), -1000.0f);
    EXPECT_FALSE(d.flags().prominent);
    EXPECT_FALSE(d.candidate());
    d.setExclusion(1, NAN); // empties the range again
    runAnalyses(d, s, 1);
    EXPECT_TRUE(d.flags().prominent);
}

TEST(FeedbackDetector, RejectsAPeakWithALouderSubharmonic)
{
    // The sub-harmonic at bin 100 is louder but excluded from the search, so the peak at 200 wins
    // the search and is then disqualified by it.
    auto d = detectorAt(kRate);
    d->setExclusion(0, static_cast<float>(binHz(100.0)));
    Source s([](uint64_t n) {
        return 0.3f * static_cast<float>(std::sin(kTwoPi * 100.0 * n / 2048.0))
            + 0.1f * static_cast<float>(std::sin(kTwoPi * 200.0 * n / 2048.0));
    });
    runAnalyses(*d, s, 3);
    EXPECT_NEAR(d->candidateHz(), binHz(200.0), binHz(0.1));
    EXPECT_TRUE(d->flags().prominent);
    EXPECT_FALSE(d->flags().isolated);
    EXPECT_EQ(d->trackFrames(), 0u);
}

TEST(FeedbackDetector, RejectsAPeakWithAHarmonicSeries)
{
    auto d = detectorAt(kRate);
    Source s([](uint64_t n) {
        const double p = kTwoPi * 60.0 * n / 2048.0;
        return static_cast<float>(0.3 * std::sin(p) + 0.05 * std::sin(2 * p) + 0.02 * std::sin(3 * p));
    });
    runAnalyses(*d, s, 3);
    EXPECT_NEAR(d->candidateHz(), binHz(60.0), binHz(0.1));
    EXPECT_TRUE(d->flags().prominent);
    EXPECT_FALSE(d->flags().isolated);
}

TEST(FeedbackDetector, CountsAPeakWhoseHarmonicsFallAboveTheRangeAsIsolated)
{
    auto d = detectorAt(kRate);
    Source s([](uint64_t n) {
        const double p = kTwoPi * 300.0 * n / 2048.0; // harmonics at bins 600, 900: above bin 512
        return static_cast<float>(0.3 * std::sin(p) + 0.2 * std::sin(2 * p) + 0.2 * std::sin(3 * p));
    });
    runAnalyses(*d, s, 3);
    EXPECT_NEAR(d->candidateHz(), binHz(300.0), binHz(0.1));
    EXPECT_TRUE(d->flags().isolated);
}

TEST(FeedbackDetector, RestartsTheTrackWhenThePeakJumpsMoreThanThreeBins)
{
    auto d = detectorAt(kRate);
    double bin = 200.0;
    double phase = 0.0;
    Source s([&](uint64_t) {
        phase += kTwoPi * bin / 2048.0;
        return 0.3f * static_cast<float>(std::sin(phase));
    });
    runAnalyses(*d, s, 6);
    const uint64_t before = d->trackFrames();
    EXPECT_GE(before, 5u);
    bin = 202.0; // within 3 bins: the track continues (the frame in between may mix both tones)
    runAnalyses(*d, s, 5);
    EXPECT_EQ(d->trackFrames(), before + 5);
    bin = 207.0; // 5 bins: the track starts again
    runAnalyses(*d, s, 5);
    EXPECT_LT(d->trackFrames(), 5u);
    EXPECT_GE(d->trackFrames(), 1u);
}

TEST(FeedbackDetector, ReportsAStrongSteadyPeakOnItsEighthFrame)
{
    auto d = detectorAt(kRate);
    Source s([](uint64_t n) { return 0.3f * static_cast<float>(std::sin(kTwoPi * 134.0 * n / 2048.0)); });
    uint64_t firstCandidateFrame = 0;
    runAnalyses(*d, s, 20, [&] {
        if (d->candidate() && firstCandidateFrame == 0)
            firstCandidateFrame = d->trackFrames();
    });
    EXPECT_GE(d->prominenceDb(), 65.0f);
    EXPECT_EQ(firstCandidateFrame, 8u);
    EXPECT_NEAR(d->candidateHz(), binHz(134.0), binHz(0.05));
}

TEST(FeedbackDetector, ReportsAGrowingFiftyDbPeakOnFrameTwentyFour)
{
    Noise noise(0.02f, 5);
    const float a = sineForProminence(50.0f, 0.02f);
    bool sineOn = false;
    auto d = detectorAt(kRate);
    Source s([&](uint64_t n) {
        return noise() + (sineOn ? a * static_cast<float>(std::sin(kTwoPi * 160.0 * n / 2048.0)) : 0.0f);
    });
    runAnalyses(*d, s, 150); // the smoothed spectrum settles on the noise
    EXPECT_EQ(d->trackFrames(), 0u);
    sineOn = true;
    uint64_t firstCandidateFrame = 0;
    uint64_t lastFrames = 0;
    bool restarted = false;
    runAnalyses(*d, s, 60, [&] {
        if (d->trackFrames() > 0 && d->trackFrames() < lastFrames)
            restarted = true;
        lastFrames = d->trackFrames();
        if (d->candidate() && firstCandidateFrame == 0)
            firstCandidateFrame = d->trackFrames();
    });
    EXPECT_FALSE(restarted);
    EXPECT_NEAR(d->prominenceDb(), 50.0f, 3.0f);
    EXPECT_EQ(d->growFrames(), 8u);
    EXPECT_EQ(firstCandidateFrame, 24u);
}

TEST(FeedbackDetector, NeedsNinetySixFramesForASteadyPeakThatDidNotGrow)
{
    // While the bin is excluded the smoothed spectrum learns the peak, so it never reads as growing.
    Noise noise(0.02f, 9);
    const float a = sineForProminence(50.0f, 0.02f);
    auto d = detectorAt(kRate);
    Source s(
        [&](uint64_t n) { return noise() + a * static_cast<float>(std::sin(kTwoPi * 170.0 * n / 2048.0)); });
    d->setExclusion(0, static_cast<float>(binHz(170.0)));
    runAnalyses(*d, s, 300);
    EXPECT_FALSE(d->flags().prominent);
    d->clearExclusions();
    uint64_t firstCandidateFrame = 0;
    runAnalyses(*d, s, 110, [&] {
        if (d->candidate() && firstCandidateFrame == 0)
            firstCandidateFrame = d->trackFrames();
    });
    EXPECT_EQ(d->growFrames(), 0u);
    EXPECT_EQ(firstCandidateFrame, 96u);
}

TEST(FeedbackDetector, NeverReportsAPeakThatWandersWithoutDirection)
{
    // A 52 dB tone whose frequency wanders +-1 bin with a 0.5 s period: tracked, but neither steady
    // nor a consistent glide.
    Noise noise(0.02f, 13);
    const float a = sineForProminence(52.0f, 0.02f);
    double phase = 0.0;
    auto d = detectorAt(kRate);
    Source s([&](uint64_t n) {
        const double bin = 180.0 + std::sin(kTwoPi * static_cast<double>(n) / 24000.0);
        phase += kTwoPi * bin / 2048.0;
        return noise() + a * static_cast<float>(std::sin(phase));
    });
    bool everCandidate = false;
    uint64_t longestTrack = 0;
    runAnalyses(*d, s, 400, [&] {
        everCandidate = everCandidate || d->candidate();
        longestTrack = std::max(longestTrack, d->trackFrames());
        if (d->trackFrames() > 24) {
            EXPECT_GT(d->absDrift() / static_cast<float>(d->trackFrames()), 0.05f);
            EXPECT_LT(d->directionality(), 0.85f);
        }
    });
    EXPECT_GT(longestTrack, 96u);
    EXPECT_FALSE(everCandidate);
}

TEST(FeedbackDetector, MapsProminenceToNotchDepth)
{
    FeedbackDetector d;
    EXPECT_FLOAT_EQ(d.depthForProminence(45.0f, 30.0f), 0.0f);
    EXPECT_FLOAT_EQ(d.depthForProminence(70.0f, 30.0f), 20.0f);
    EXPECT_FLOAT_EQ(d.depthForProminence(90.0f, 30.0f), 30.0f);
    EXPECT_FLOAT_EQ(d.depthForProminence(46.0f, 30.0f), 0.8f);
    EXPECT_FLOAT_EQ(d.depthForProminence(20.0f, 30.0f), 0.0f);
    EXPECT_FLOAT_EQ(d.depthForProminence(NAN, 30.0f), 0.0f);
    EXPECT_FLOAT_EQ(d.depthForProminence(INFINITY, 30.0f), 0.0f);
}

TEST(FeedbackDetector, ReturnsNoProminenceWithoutNeighboursAndRoundsBinsHalfAway)
{
    FeedbackDetector d;
    EXPECT_FLOAT_EQ(d.prominenceAt(5000), -1000.0f);
    EXPECT_EQ(d.binOf(static_cast<float>(binHz(100.5))), 101u);
    EXPECT_EQ(d.binOf(static_cast<float>(binHz(100.49))), 100u);
    EXPECT_EQ(d.binOf(NAN), 0u);
}

TEST(FeedbackDetector, ResetClearsHistoryButKeepsExclusions)
{
    auto d = detectorAt(kRate);
    Source s([](uint64_t n) { return 0.3f * static_cast<float>(std::sin(kTwoPi * 134.0 * n / 2048.0)); });
    d->setExclusion(3, 5000.0f);
    runAnalyses(*d, s, 12);
    EXPECT_TRUE(d->candidate());
    d->reset();
    EXPECT_FALSE(d->candidate());
    EXPECT_EQ(d->trackFrames(), 0u);
    EXPECT_EQ(d->analysisCount(), 0u);
    EXPECT_EQ(d->power(134), 0.0);
    EXPECT_TRUE(d->excluded(static_cast<float>(5000.0 * 2048.0 / 48000.0)));
}

TEST(FeedbackDetector, FindsTheSameBestBinAsSelectingTheMedianOfEveryBin)
{
    // The search skips the median selection for bins that cannot win; it must agree with the plain
    // definition on noise, on tones over noise, and with exclusions in place.
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        Noise noise(0.01f * static_cast<float>(seed), seed);
        const double bin = 40.0 + 61.3 * seed;
        const float a = seed % 2 ? 0.0f : 0.05f * static_cast<float>(seed);
        auto d = detectorAt(seed % 3 ? kRate : 8000.0f);
        if (seed == 4)
            d->setExclusion(0, static_cast<float>(binHz(bin)));
        Source s([&](uint64_t n) {
            return noise() + a * static_cast<float>(std::sin(kTwoPi * bin * n / 2048.0));
        });
        runAnalyses(*d, s, 12, [&] {
            float best = -1000.0f;
            uint64_t bestBin = d->minBin();
            for (uint64_t b = d->minBin(); b <= d->maxBin(); ++b) {
                if (d->excluded(static_cast<float>(b)))
                    continue;
                const float p = d->prominenceAt(b);
                if (p > best) {
                    best = p;
                    bestBin = b;
                }
            }
            ASSERT_EQ(d->prominenceDb(), best) << seed;
            const double position = d->candidateHz() * 2048.0 / d->config().sampleRate;
            ASSERT_LE(std::fabs(position - static_cast<double>(bestBin)), 0.5 + 1e-4) << seed;
        });
    }
}

namespace {

// The most prominent searchable bin by one selection per bin (prominenceAt); the first wins a tie.
std::pair<float, uint64_t> selectedPerBin(const FeedbackDetector& d)
{
    float best = FeedbackDetector::kNoProminence;
    uint64_t bin = d.minBin();
    for (uint64_t b = d.minBin(); b <= d.maxBin(); ++b) {
        if (d.excluded(static_cast<float>(b)))
            continue;
        const float p = d.prominenceAt(b);
        if (p > best) {
            best = p;
            bin = b;
        }
    }
    return {best, bin};
}

void expectSearchMatchesSelection(const FeedbackDetector& d)
{
    const auto [best, bin] = selectedPerBin(d);
    EXPECT_EQ(d.prominenceDb(), best);
    const float found = d.candidateHz() * static_cast<float>(FeedbackDetector::kFrameSize) / kRate;
    EXPECT_LE(std::fabs(found - static_cast<float>(bin)), 0.5f);
}

} // namespace

TEST(FeedbackDetector, TwoRingsThatTakeTurnsAsTheLoudestStillFormATrack)
{
    // Two steady rings far apart whose levels sway in opposite directions, so that the most
    // prominent bin changes every few frames. Restarting the track on each change never reaches
    // the eight frames a strong ring needs; the track must stay on the ring it started on.
    auto d = detectorAt(kRate);
    Noise noise(1e-4f, 21);
    Source s([&](uint64_t n) {
        const double sway = 0.25 * std::sin(kTwoPi * static_cast<double>(n) / 3072.0);
        return noise() + static_cast<float>((0.2 + sway) * std::sin(kTwoPi * 230.0 * n / 2048.0))
            + static_cast<float>((0.2 - sway) * std::sin(kTwoPi * 417.0 * n / 2048.0));
    });
    uint64_t firstCandidate = 0;
    std::set<long> bestBins;
    for (uint64_t frame = 1; frame <= 40 && firstCandidate == 0; ++frame) {
        runAnalyses(*d, s, 1);
        bestBins.insert(std::lround(selectedPerBin(*d).second / 10.0));
        if (d->candidate())
            firstCandidate = frame;
    }
    EXPECT_EQ(bestBins.size(), 2u); // both rings were the loudest at times
    ASSERT_GT(firstCandidate, 0u);
    EXPECT_LE(firstCandidate, 12u);
    EXPECT_GT(d->heldFrames(), 0u);
    const float bin = d->candidateHz() * 2048.0f / kRate;
    EXPECT_TRUE(std::fabs(bin - 230.0f) < 0.5f || std::fabs(bin - 417.0f) < 0.5f) << bin;
}

TEST(FeedbackDetector, SlidingFloorSearchFindsWhatASelectionPerBinFinds)
{
    auto d = detectorAt(kRate);
    Noise noise(0.01f, 11);
    Source s([&noise](uint64_t n) {
        return noise() + 0.05f * static_cast<float>(std::sin(kTwoPi * 1000.0 * n / 48000.0))
            + 0.02f * static_cast<float>(std::sin(kTwoPi * 3170.0 * n / 48000.0))
            + 0.2f * static_cast<float>(std::sin(kTwoPi * 91.0 * n / 48000.0));
    });
    runAnalyses(*d, s, 6, [&] { expectSearchMatchesSelection(*d); });
    // With the strongest peaks excluded the search must skip them exactly as the selection does.
    d->setExclusion(0, 1000.0f);
    d->setExclusion(5, 91.0f);
    runAnalyses(*d, s, 4, [&] { expectSearchMatchesSelection(*d); });
}

TEST(FeedbackDetector, SlidingFloorSearchHandlesSilenceAndEqualPowers)
{
    // Silence: every bin has the same (zero) power and the first searchable bin wins.
    auto d = detectorAt(kRate);
    Source silence([](uint64_t) { return 0.0f; });
    runAnalyses(*d, silence, 2, [&] { expectSearchMatchesSelection(*d); });
    // A tone that starts mid-frame next to silence leaves many equal floor values.
    Source burst(
        [](uint64_t n) { return n % 2048 < 300 ? 0.0f : 0.5f * static_cast<float>(std::sin(0.3 * n)); });
    runAnalyses(*d, burst, 5, [&] { expectSearchMatchesSelection(*d); });
}

TEST(FeedbackDetector, DigitalSilenceAfterLoudMaterialCostsOneSelectionPerAnalysis)
{
    // Once loud material has left the window every bin sits at the power floor and scores 0 dB;
    // the search must not fall back to one median selection per bin (about 500 at 48 kHz, which
    // made the analysis blocks after a song's end several times slower than while it played).
    auto d = detectorAt(kRate);
    Noise noise(0.5f, 3);
    uint64_t n0 = 0;
    Source s([&](uint64_t n) {
        if (n0 == 0)
            return noise() + 0.3f * static_cast<float>(std::sin(kTwoPi * 700.0 * n / 48000.0));
        return 0.0f;
    });
    runAnalyses(*d, s, 6);
    n0 = 1;
    runAnalyses(*d, s, 5); // the last loud sample has left the 2048-sample window
    for (int i = 0; i < 3; ++i) {
        const uint64_t before = d->medianSelections();
        runAnalyses(*d, s, 1);
        EXPECT_LE(d->medianSelections() - before, 1u);
        expectSearchMatchesSelection(*d);
    }
    // Noise still needs only a handful of selections, and loud material is found again.
    Noise quiet(1e-3f, 5);
    Source back([&](uint64_t n) {
        return quiet() + 0.3f * static_cast<float>(std::sin(kTwoPi * 700.0 * n / 48000.0));
    });
    runAnalyses(*d, back, 6);
    EXPECT_NEAR(d->candidateHz(), 700.0f, 15.0f);
    expectSearchMatchesSelection(*d);
}

TEST(FeedbackDetector, ExclusionSetBetweenCaptureAndAnalysisStillApplies)
{
    // The search is worked out during the hop; exclusions are read on the analysis sample itself.
    auto d = detectorAt(kRate);
    Source s([](uint64_t n) { return 0.3f * static_cast<float>(std::sin(kTwoPi * 134.0 * n / 2048.0)); });
    runAnalyses(*d, s, 2);
    const uint64_t captures = d->captureCount();
    while (d->captureCount() == captures)
        d->pushSample(s.next());
    for (int n = 0; n < 300; ++n)
        d->pushSample(s.next());
    d->setExclusion(2, static_cast<float>(134.0 * 48000.0 / 2048.0));
    runAnalyses(*d, s, 1);
    expectSearchMatchesSelection(*d);
    EXPECT_FALSE(d->excluded(static_cast<float>(d->binOf(d->candidateHz()))));
}
