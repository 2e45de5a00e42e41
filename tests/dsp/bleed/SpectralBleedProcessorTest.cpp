#include "dsp/bleed/SpectralBleedProcessor.h"
#include "dsp/bleed/VectorKernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <memory>
#include <random>
#include <vector>

using namespace brindlecot::dsp;

namespace {

constexpr double kPi = 3.14159265358979323846;

std::unique_ptr<SpectralBleedProcessor> makeProcessor(double sampleRate = 48000.0, int lanes = 1)
{
    auto p = std::make_unique<SpectralBleedProcessor>();
    p->prepare(sampleRate, cornersForHighPass(0.0f));
    p->setLaneCapacity(lanes);
    p->setActiveLanes(lanes);
    return p;
}

// Magnitude in dB of an FIR at a frequency (plain DFT sum).
double firResponseDb(const std::array<float, 512>& h, double frequencyHz, double sampleRate)
{
    std::complex<double> s = 0.0;
    for (std::size_t n = 0; n < h.size(); ++n)
        s += double(h[n]) * std::polar(1.0, -2.0 * kPi * frequencyHz * double(n) / sampleRate);
    return 20.0 * std::log10(std::abs(s));
}

// Runs a 100 % amount with an all-bleed (zero) clean signal; returns the output RMS of the last
// `measure` samples relative to the input RMS, in dB.
double attenuationDb(SpectralBleedProcessor& p, double frequencyHz, float voice, int samples, int measure)
{
    p.setFloors(-45.0f, -7.0f);
    p.setVoiceTarget(voice);
    double in = 0.0, out = 0.0;
    for (int n = 0; n < samples; ++n) {
        float x = static_cast<float>(0.5 * std::sin(2.0 * kPi * frequencyHz * n / 48000.0));
        const float dry = x;
        p.process(&x, 1, 0.0f);
        if (n >= samples - measure) {
            in += double(dry) * dry;
            out += double(x) * x;
        }
    }
    return 10.0 * std::log10(out / in);
}

} // namespace

TEST(CornersForHighPass, FollowTheHighPassBetween125And200Hz)
{
    EXPECT_EQ(cornersForHighPass(0.0f), std::make_pair(78.125f, 125.0f));
    EXPECT_EQ(cornersForHighPass(90.0f), std::make_pair(78.125f, 125.0f));
    EXPECT_EQ(cornersForHighPass(std::numeric_limits<float>::quiet_NaN()), std::make_pair(78.125f, 125.0f));
    EXPECT_EQ(cornersForHighPass(160.0f), std::make_pair(100.0f, 160.0f));
    EXPECT_EQ(cornersForHighPass(200.0f), std::make_pair(125.0f, 200.0f));
    EXPECT_EQ(cornersForHighPass(400.0f), std::make_pair(125.0f, 200.0f));
}

TEST(SpectralBleedFloorCurve, RunsFromTheDeepFloorToTheShallowFloorInDbOverLogFrequency)
{
    auto p = makeProcessor();
    p->setFloors(-45.0f, -7.0f);
    const auto& curve = p->floorCurve();
    const double binHz = 48000.0 / 1024.0;
    for (std::size_t k = 0; k < 513; ++k) {
        const double f = k * binHz;
        double expectedDb;
        if (f <= 78.125)
            expectedDb = -45.0;
        else if (f >= 125.0)
            expectedDb = -7.0;
        else {
            const double t = std::log2(f / 78.125) / std::log2(1.6);
            expectedDb = (1.0 - t) * -45.0 + t * -7.0;
        }
        ASSERT_NEAR(20.0 * std::log10(curve[k]), expectedDb, 1e-3) << "bin " << k;
    }
    // Moving the corners moves the curve: bin 3 (140.6 Hz) is below a 160 Hz corner.
    const auto corners = cornersForHighPass(160.0f);
    p->setCorners(corners.first, corners.second);
    EXPECT_LT(20.0 * std::log10(p->floorCurve()[3]), -7.5);
    EXPECT_NEAR(20.0 * std::log10(p->floorCurve()[4]), -7.0, 1e-4); // 187.5 Hz
}

TEST(SpectralBleedFloorCurve, PositiveOrNonFiniteFloorsActAsZero)
{
    auto p = makeProcessor();
    p->setFloors(-45.0f, -7.0f);
    p->setFloors(6.0f, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(p->deepFloorDb(), 0.0f);
    EXPECT_EQ(p->shallowFloorDb(), 0.0f);
    for (float g : p->floorCurve())
        ASSERT_EQ(g, 1.0f);
}

TEST(SpectralBleedFloorCurve, APrepareAtANewRateRebuildsTheCurve)
{
    auto p = makeProcessor(48000.0);
    p->setFloors(-45.0f, -7.0f);
    p->prepare(8000.0, cornersForHighPass(0.0f));
    p->setFloors(-45.0f, -7.0f);
    // At 8 kHz bin 16 is 125 Hz: the shallow floor starts there.
    EXPECT_NEAR(20.0 * std::log10(p->floorCurve()[16]), -7.0, 1e-4);
    EXPECT_LT(20.0 * std::log10(p->floorCurve()[15]), -7.5);
}

TEST(SpectralBleedProcessor, AfterResetTheFirst128OutputsEqualTheInputsExactly)
{
    auto p = makeProcessor(48000.0, 2);
    p->setFloors(-45.0f, -7.0f);
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (int n = 0; n < 128; ++n) {
        float x[2] = {dist(rng), dist(rng)};
        const float a = x[0], b = x[1];
        p->process(x, 2, 0.0f);
        ASSERT_EQ(x[0], a);
        ASSERT_EQ(x[1], b);
    }
    EXPECT_EQ(p->analysisCount(), 1u); // the 128th sample ran the first analysis
}

TEST(SpectralBleedProcessor, IdenticalMixAndCleanAreTransparent)
{
    auto p = makeProcessor();
    p->setFloors(-45.0f, -7.0f);
    std::mt19937 rng(2);
    std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
    float worst = 0.0f;
    for (int n = 0; n < 48000; ++n) {
        float x = dist(rng);
        const float in = x;
        p->process(&x, 1, in);
        worst = std::max(worst, std::fabs(x - in));
    }
    EXPECT_LT(worst, 1e-4f);
    for (float g : p->binGains())
        ASSERT_NEAR(g, 1.0f, 1e-5f);
    EXPECT_NEAR(p->currentFir()[0], 1.0f, 1e-5f);
    for (std::size_t n = 1; n < 512; ++n)
        ASSERT_NEAR(p->currentFir()[n], 0.0f, 1e-5f);
}

TEST(SpectralBleedProcessor, AllBleedSettlesAtMinus7DbInAPhraseAndMinus45DbBetweenPhrases)
{
    for (double f : {300.0, 1000.0, 4000.0}) {
        auto p = makeProcessor();
        EXPECT_NEAR(attenuationDb(*p, f, 1.0f, 48000, 4800), -7.0, 0.5) << f << " Hz in a phrase";
    }
    auto p = makeProcessor();
    EXPECT_NEAR(attenuationDb(*p, 1000.0, 0.0f, 96000, 4800), -45.0, 1.5) << "between phrases";

    // The designed filters agree with the bin gains.
    auto q = makeProcessor();
    attenuationDb(*q, 1000.0, 1.0f, 48000, 128);
    EXPECT_NEAR(20.0 * std::log10(q->binGains()[100]), -7.0, 0.05);
    EXPECT_NEAR(firResponseDb(q->currentFir(), 5000.0, 48000.0), -7.0, 0.3);
    EXPECT_NEAR(firResponseDb(q->currentFir(), 300.0, 48000.0), -7.0, 0.5);
}

TEST(SpectralBleedProcessor, LowBinsFallToTheDeepFloorEvenInAPhrase)
{
    auto p = makeProcessor();
    attenuationDb(*p, 1000.0, 1.0f, 48000, 128);
    EXPECT_NEAR(20.0 * std::log10(p->binGains()[1]), -45.0, 0.1); // 46.9 Hz
    EXPECT_NEAR(20.0 * std::log10(p->binGains()[10]), -7.0, 0.1); // 469 Hz
}

TEST(SpectralBleedProcessor, VoicePresenceFollowsTheGateBetweenItsThresholds)
{
    auto p = makeProcessor();
    p->setVoiceTarget(0.225f); // halfway between 0.1 and 0.35
    for (int n = 0; n < 48000; ++n) {
        float x = 0.0f;
        p->process(&x, 1, 0.0f);
    }
    EXPECT_NEAR(p->voicePresence(), 0.5f, 1e-3f);
}

TEST(SpectralBleedProcessor, WhileIdlePushFillsTheHistoryWithoutAnalysis)
{
    auto p = makeProcessor();
    for (int n = 0; n < 1000; ++n) {
        const float x = 0.001f * static_cast<float>(n);
        p->push(&x, 1, 0.0f);
    }
    EXPECT_EQ(p->analysisCount(), 0u);
    EXPECT_EQ(p->hopCounter(), 1000u % 128u);
    EXPECT_EQ(p->laneHistory(0, 0), 0.001f * 999.0f);
    EXPECT_EQ(p->laneHistory(0, 511), 0.001f * 488.0f);
    EXPECT_EQ(p->currentFir()[0], 1.0f);
}

TEST(SpectralBleedProcessor, LaneCountChangesResetButGrowingActiveLanesCopiesLaneZero)
{
    auto p = makeProcessor(48000.0, 2);
    p->setActiveLanes(1);
    for (int n = 0; n < 300; ++n) {
        float x[2] = {0.01f * static_cast<float>(n % 50), 0.0f};
        p->process(x, 1, x[0]);
    }
    EXPECT_FALSE(p->lanesEqual());
    const std::size_t hop = p->hopCounter();
    p->setActiveLanes(2);
    EXPECT_TRUE(p->lanesEqual());
    EXPECT_EQ(p->hopCounter(), hop); // no reset
    EXPECT_EQ(p->laneHistory(1, 5), p->laneHistory(0, 5));
    EXPECT_NE(p->laneHistory(1, 5), 0.0f);

    p->setLaneCapacity(1);
    EXPECT_EQ(p->hopCounter(), 0u);
    EXPECT_EQ(p->laneHistory(0, 5), 0.0f);
    EXPECT_EQ(p->activeLanes(), 1);
    p->setLaneCapacity(1); // unchanged: no reset
    float x = 0.5f;
    p->process(&x, 1, 0.5f);
    p->setLaneCapacity(1);
    EXPECT_EQ(p->laneHistory(0, 0), 0.5f);
}

TEST(SpectralBleedProcessor, InfinityInOneLaneIsStoredAsZeroAndLeavesTheOtherLaneAlone)
{
    auto a = makeProcessor(48000.0, 2);
    auto b = makeProcessor(48000.0, 2);
    a->setFloors(-45.0f, -7.0f);
    b->setFloors(-45.0f, -7.0f);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
    for (int n = 0; n < 2000; ++n) {
        const float l0 = dist(rng), l1 = dist(rng), clean = 0.3f * l0;
        float xa[2] = {l0, n == 700 ? std::numeric_limits<float>::infinity() : l1};
        float xb[2] = {l0, n == 700 ? 0.0f : l1};
        a->process(xa, 2, clean);
        b->process(xb, 2, clean);
        ASSERT_EQ(xa[0], xb[0]) << n;
        ASSERT_TRUE(std::isfinite(xa[1]));
        if (n == 700) {
            ASSERT_EQ(a->laneHistory(1, 0), 0.0f);
        }
    }
}

TEST(SpectralBleedProcessor, HugeAndNonFiniteInputsNeverReachTheOutputAtAnyRate)
{
    for (double rate : {8000.0, 44100.0, 192000.0}) {
        auto p = makeProcessor(rate, 2);
        p->setFloors(-45.0f, -7.0f);
        for (int n = 0; n < 5000; ++n) {
            float x[2] = {std::sin(0.01f * n), n % 3 == 0 ? 1e30f : -0.2f};
            if (n % 101 == 0)
                x[0] = std::numeric_limits<float>::quiet_NaN();
            const float clean = n % 7 == 0 ? -std::numeric_limits<float>::infinity() : 0.1f;
            p->process(x, 2, clean);
            ASSERT_TRUE(std::isfinite(x[0]) && std::isfinite(x[1])) << rate << " " << n;
        }
    }
}

TEST(SpectralBleedDesign, DesignedFiltersAreMinimumPhaseWithTheRequestedMagnitude)
{
    auto p = makeProcessor();
    std::array<float, 513> gains {};
    for (std::size_t k = 0; k < 513; ++k) {
        // A smooth shelf from -30 dB to 0 dB around bin 100, with a dip near bin 300.
        const double shelf = -30.0 / (1.0 + std::exp((double(k) - 100.0) / 8.0));
        const double dip = -12.0 * std::exp(-std::pow((double(k) - 300.0) / 20.0, 2.0));
        gains[k] = static_cast<float>(std::pow(10.0, (shelf + dip) / 20.0));
    }
    std::array<float, 512> h {};
    p->designFilter(gains.data(), h.data());

    // Magnitude: the FIR's response at each bin centre matches the gains.
    for (std::size_t k = 0; k < 513; k += 8) {
        const double expectedDb = 20.0 * std::log10(gains[k]);
        ASSERT_NEAR(firResponseDb(h, k * 48000.0 / 1024.0, 48000.0), expectedDb, 0.2) << "bin " << k;
    }
    // Minimum phase: at every length the partial energy is at least that of the same magnitude
    // with linear phase (the zero-phase response delayed by 256 samples).
    std::array<double, 1024> linear {};
    for (std::size_t n = 0; n < 1024; ++n) {
        double s = gains[0] + gains[512] * std::cos(kPi * double(n));
        for (std::size_t k = 1; k < 512; ++k)
            s += 2.0 * gains[k] * std::cos(2.0 * kPi * double(k) * (double(n) - 256.0) / 1024.0);
        linear[n] = s / 1024.0;
    }
    double eMin = 0.0, eLin = 0.0;
    for (std::size_t n = 0; n < 512; ++n) {
        eMin += double(h[n]) * h[n];
        eLin += linear[n] * linear[n];
        ASSERT_GE(eMin, eLin * 0.999) << n;
    }
    double first32 = 0.0;
    for (std::size_t n = 0; n < 32; ++n)
        first32 += double(h[n]) * h[n];
    EXPECT_GT(first32 / eMin, 0.9); // energy front-loaded
}

TEST(SpectralBleedDesign, UnitGainsDesignTheUnitImpulse)
{
    auto p = makeProcessor();
    std::array<float, 513> gains;
    gains.fill(1.0f);
    std::array<float, 512> h {};
    p->designFilter(gains.data(), h.data());
    EXPECT_NEAR(h[0], 1.0f, 1e-6f);
    for (std::size_t n = 1; n < 512; ++n)
        ASSERT_NEAR(h[n], 0.0f, 1e-6f);
}

TEST(SpectralBleedProcessor, ANewFilterFadesInOver128Samples)
{
    auto p = makeProcessor();
    p->setFloors(-45.0f, -7.0f);
    p->setVoiceTarget(0.0f);
    float x = 0.0f;
    for (int n = 0; n < 127; ++n)
        p->process(&x, 1, 0.0f);
    EXPECT_EQ(p->fadeCounter(), 128u);
    x = 0.0f;
    p->process(&x, 1, 0.0f); // analysis
    EXPECT_EQ(p->fadeCounter(), 1u);
    EXPECT_EQ(p->previousFir()[0], 1.0f);
    for (int n = 0; n < 127; ++n)
        p->process(&x, 1, 0.0f);
    EXPECT_EQ(p->fadeCounter(), 128u);
}

TEST(SpectralBleedProcessor, TheBaselineAndTheWidePathsGiveTheSameOutput)
{
    if (!kernels::avx2FmaSupported())
        GTEST_SKIP() << "no AVX2 + FMA on this processor";
    const kernels::Path saved = kernels::activePath();
    const kernels::Path paths[3] = {kernels::Path::Sse2, kernels::Path::Avx2Fma, kernels::Path::Avx512};
    std::vector<float> outputs[3];
    for (int run = 0; run < 3; ++run) {
        if (!kernels::selectPath(paths[run]))
            continue;
        auto p = makeProcessor(48000.0, 2);
        p->setFloors(-45.0f, -7.0f);
        p->setVoiceTarget(0.6f);
        std::mt19937 rng(8);
        std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
        for (int n = 0; n < 12000; ++n) {
            float x[2] = {dist(rng), dist(rng)};
            p->process(x, 2, 0.4f * x[0]);
            outputs[run].push_back(x[0]);
            outputs[run].push_back(x[1]);
        }
    }
    kernels::selectPath(saved);
    for (int run = 1; run < 3; ++run)
        for (std::size_t i = 0; i < outputs[run].size(); ++i)
            ASSERT_NEAR(outputs[0][i], outputs[run][i], 1e-5f) << "path " << run << " sample " << i;
}
