// The bleed scene's measurement, on a vocal, a bleed and a processing chain whose effect on each is
// known in closed form.
#include "velarune-process/BleedScene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace brindlecot;
using namespace brindlecot::tools;

namespace {

constexpr double kRate = 48000.0;
constexpr size_t kFrame = 960; // 20 ms
constexpr size_t kFrames = 50;
constexpr size_t kPhraseStart = 10, kPhraseEnd = 40; // vocal-active frames [10, 40)
constexpr double kPi = 3.14159265358979323846;

std::vector<double> sine(double hz, double amplitude, size_t from, size_t to)
{
    std::vector<double> x(kFrames * kFrame, 0.0);
    for (size_t i = from; i < to; ++i)
        x[i] = amplitude * std::sin(2.0 * kPi * hz * static_cast<double>(i) / kRate + 0.3);
    return x;
}

// Lane-symmetric like the plug-in: every lane gets the two-tap average (x[n] + x[n-1]) / 2, whose
// gain at f is |cos(pi f / fs)|, and a -20 dB gate outside the phrase, where a real chain would
// have found it from the lanes' mean.
struct AverageAndGateChain
{
    double lanePeak = 0.0;
    int calls = 0;

    Audio operator()(const Audio& in, const ParameterValues&, std::string& status)
    {
        ++calls;
        status = "test chain";
        Audio out = in;
        for (size_t c = 0; c < in.samples.size(); ++c) {
            const auto& x = in.samples[c];
            for (size_t i = 0; i < x.size(); ++i) {
                lanePeak = std::max(lanePeak, std::fabs(x[i]));
                const size_t f = i / kFrame;
                const double gate = f >= kPhraseStart && f < kPhraseEnd ? 1.0 : 0.1;
                out.samples[c][i] = gate * 0.5 * (x[i] + (i > 0 ? x[i - 1] : 0.0));
            }
        }
        return out;
    }
};

double gainDb(double hz)
{
    return 20.0 * std::log10(std::cos(kPi * hz / kRate));
}

} // namespace

TEST(BleedScene, TheLaneSplitRecoversWhatALaneSymmetricChainDidToVocalAndBleed)
{
    // A 1 kHz vocal in the phrase over a 12 kHz bleed throughout, loud enough that the lanes must
    // be scaled down to stay below -6 dBFS.
    const std::vector<double> vocal = sine(1000.0, 0.6, kPhraseStart * kFrame, kPhraseEnd * kFrame);
    const std::vector<double> bleed = sine(12000.0, 0.5, 0, kFrames * kFrame);
    std::vector<double> mic(vocal.size());
    for (size_t i = 0; i < mic.size(); ++i)
        mic[i] = vocal[i] + bleed[i];

    AverageAndGateChain fake;
    const BleedChain chain
        = [&fake](const Audio& in, const ParameterValues& p, std::string& s) { return fake(in, p, s); };
    std::string status;
    double splitGainDb = 0.0;
    const BleedFigures r
        = measureChain(kRate, mic, vocal, defaultParameterValues(), chain, status, splitGainDb);

    EXPECT_EQ(fake.calls, 1);
    EXPECT_EQ(status, "test chain");
    EXPECT_LE(fake.lanePeak, 0.5 + 1e-9); // -6 dBFS, not more than needed
    EXPECT_GT(fake.lanePeak, 0.4);
    EXPECT_LT(splitGainDb, -6.0);
    EXPECT_EQ(r.activeFrames, kPhraseEnd - kPhraseStart);
    EXPECT_EQ(r.pauseFrames, kFrames - (kPhraseEnd - kPhraseStart));
    EXPECT_NEAR(r.vocalLevelDb, gainDb(1000.0), 0.01);
    EXPECT_NEAR(r.vbrChangeDb, gainDb(1000.0) - gainDb(12000.0), 0.01); // +2.99 dB
    EXPECT_NEAR(r.pauseChangeDb, -20.0 + gainDb(12000.0), 0.01); // the pauses hold bleed only
}

TEST(BleedScene, FiguresAreUndefinedWhereTheSceneHasNothingToMeasure)
{
    const std::vector<double> vocal = sine(1000.0, 0.5, 0, kFrames * kFrame);
    const std::vector<double> silence(vocal.size(), 0.0);

    // Vocal all through and no bleed: no pause and no vocal-to-bleed ratio, but a vocal level.
    const BleedFigures onlyVocal = measureBleed(kRate, vocal, vocal, vocal, vocal);
    EXPECT_EQ(onlyVocal.activeFrames, kFrames);
    EXPECT_EQ(onlyVocal.pauseFrames, 0u);
    EXPECT_TRUE(std::isnan(onlyVocal.pauseChangeDb));
    EXPECT_TRUE(std::isnan(onlyVocal.vbrChangeDb));
    EXPECT_NEAR(onlyVocal.vocalLevelDb, 0.0, 1e-9);

    // Bleed only: every frame is a pause, nothing vocal-active.
    const BleedFigures onlyBleed = measureBleed(kRate, vocal, silence, silence, silence);
    EXPECT_EQ(onlyBleed.activeFrames, 0u);
    EXPECT_EQ(onlyBleed.pauseFrames, kFrames);
    EXPECT_TRUE(std::isnan(onlyBleed.vocalLevelDb));
    EXPECT_LT(onlyBleed.pauseChangeDb, -200.0);

    // Shorter than one frame.
    const std::vector<double> tiny(100, 0.1);
    const BleedFigures none = measureBleed(kRate, tiny, tiny, tiny, tiny);
    EXPECT_EQ(none.activeFrames + none.pauseFrames, 0u);
}
