#include "dsp/bleed/BleedModels.h"

#include "BleedTestSupport.h"
#include "support/AllocationCounter.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>

using namespace brindlecot;
using namespace brindlecot::dsp;
using namespace brindlecot::test::bleed;

namespace {

const std::string kPrefix
    = "Velarune 0.12.6 \xC2\xB7 bleed: spectral + phrase gate \xC2\xB7 0 samples latency";

// Blobs the fake resource lookup serves; empty means "not embedded".
std::vector<uint8_t>& embeddedFull()
{
    static std::vector<uint8_t> blob;
    return blob;
}
std::vector<uint8_t>& embeddedEco()
{
    static std::vector<uint8_t> blob;
    return blob;
}
bool gTinyFull = false;

EmbeddedResource fakeLookup(const char* name)
{
    const std::string n = name;
    if (n == "BIG_BASE_S1.BIN" && gTinyFull) {
        static const uint8_t tiny[7] = {'H', 'F', 'W', 'I', 1, 0, 0};
        return {"BIG_BASE_S1.BIN", tiny, sizeof tiny};
    }
    if (n == "BIG_BASE_S1.BIN" && !embeddedFull().empty())
        return {"BIG_BASE_S1.BIN", embeddedFull().data(), embeddedFull().size()};
    if (n == "GIG_ECO_V2.BIN" && !embeddedEco().empty())
        return {"GIG_ECO_V2.BIN", embeddedEco().data(), embeddedEco().size()};
    return {};
}

struct ModelsFixture : ::testing::Test
{
    std::filesystem::path dir;
    ModelSearch search;

    void SetUp() override
    {
        dir = std::filesystem::temp_directory_path()
            / ("velarune-models-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-"
                + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir / "bundle");
        std::filesystem::create_directories(dir / "fallback");
        search.embedded = &fakeLookup;
        search.bareNameDirectory = (dir / "bundle").string();
        search.fallbackDirectory = (dir / "fallback").string() + "/";
        embeddedFull() = makeSyntheticBlob<FullModelWeights>();
        embeddedEco() = makeSyntheticBlob<EcoModelWeights>();
        gTinyFull = false;
    }
    void TearDown() override
    {
        embeddedFull().clear();
        embeddedEco().clear();
        gTinyFull = false;
        std::filesystem::remove_all(dir);
    }
    static void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
};

} // namespace

TEST_F(ModelsFixture, BothEmbeddedModelsLoadAndTheStatusNamesTheBinaryKey)
{
    BleedModels models;
    EXPECT_EQ(models.status, "no model loaded");
    models.loadModels(search);
    EXPECT_TRUE(models.fullModelLoaded);
    EXPECT_TRUE(models.ecoModelLoaded);
    EXPECT_EQ(models.status, kPrefix + " \xC2\xB7 key: big_base_s1 (binary)");
    EXPECT_EQ(models.full.weights(), models.fullWeights());
    EXPECT_EQ(models.eco.weights(), models.ecoWeights());
}

TEST_F(ModelsFixture, AMissingEcoModelSaysNoEcoKey)
{
    embeddedEco().clear();
    BleedModels models;
    models.loadModels(search);
    EXPECT_TRUE(models.fullModelLoaded);
    EXPECT_FALSE(models.ecoModelLoaded);
    EXPECT_EQ(models.eco.weights(), nullptr);
    EXPECT_EQ(models.status, kPrefix + " \xC2\xB7 key: big_base_s1 (binary) \xC2\xB7 no eco key");
    EXPECT_EQ(models.ecoResult().path, (dir / "fallback" / "gig_eco_v2.bin").string());
}

TEST_F(ModelsFixture, ACorruptEmbeddedFullModelIsReportedWithTheReadersMessage)
{
    embeddedFull()[0] = 'X';
    BleedModels models;
    models.loadModels(search);
    EXPECT_FALSE(models.fullModelLoaded);
    EXPECT_EQ(models.fullWeights(), nullptr);
    EXPECT_EQ(models.full.weights(), nullptr);
    EXPECT_EQ(models.status,
        kPrefix + " \xC2\xB7 KEY MISSING (big_base_s1.bin, not a filter-head weight blob): passing through");
}

TEST_F(ModelsFixture, TheWrongShapeInTheFullModelsPlaceIsADimensionMismatch)
{
    embeddedFull() = makeSyntheticBlob<EcoModelWeights>();
    BleedModels models;
    models.loadModels(search);
    EXPECT_EQ(models.status,
        kPrefix
            + " \xC2\xB7 KEY MISSING (big_base_s1.bin, blob dimensions do not match the model): passing "
              "through");
}

TEST_F(ModelsFixture, NothingAnywhereMeansKeyMissingAndNoEcoKey)
{
    embeddedFull().clear();
    embeddedEco().clear();
    BleedModels models;
    models.loadModels(search);
    EXPECT_EQ(models.status,
        kPrefix
            + " \xC2\xB7 KEY MISSING (big_base_s1.bin, stream could not be read): passing through \xC2\xB7 "
              "no eco key");
    EXPECT_EQ(models.fullResult().sourceLabel, " (source tree)");
}

TEST_F(ModelsFixture, AnEmbeddedResourceOfSevenBytesCountsAsAbsent)
{
    gTinyFull = true;
    writeFile(dir / "bundle" / "big_base_s1.bin", makeSyntheticBlob<FullModelWeights>()); // not consulted
    BleedModels models;
    models.loadModels(search);
    EXPECT_EQ(models.status,
        kPrefix + " \xC2\xB7 KEY MISSING (big_base_s1.bin, stream could not be read): passing through");
}

TEST_F(ModelsFixture, FilesAreFoundUnderTheBareNameThenTheFallbackPath)
{
    embeddedFull().clear();
    embeddedEco().clear();
    writeFile(dir / "bundle" / "big_base_s1.bin", makeSyntheticBlob<FullModelWeights>());
    writeFile(dir / "fallback" / "gig_eco_v2.bin", makeSyntheticBlob<EcoModelWeights>());
    BleedModels models;
    models.loadModels(search);
    EXPECT_EQ(models.status, kPrefix + " \xC2\xB7 key: big_base_s1 (bundle)");
    EXPECT_EQ(models.ecoResult().sourceLabel, " (source tree)");
    EXPECT_TRUE(models.ecoModelLoaded);

    std::filesystem::remove(dir / "bundle" / "big_base_s1.bin");
    writeFile(dir / "fallback" / "big_base_s1.bin", makeSyntheticBlob<FullModelWeights>());
    models.loadModels(search);
    EXPECT_EQ(models.status, kPrefix + " \xC2\xB7 key: big_base_s1 (source tree)");
}

TEST_F(ModelsFixture, ATruncatedFileIsReportedAsTruncated)
{
    embeddedFull().clear();
    auto blob = makeSyntheticBlob<FullModelWeights>();
    blob.resize(5000);
    writeFile(dir / "bundle" / "big_base_s1.bin", blob);
    BleedModels models;
    models.loadModels(search);
    EXPECT_EQ(models.status,
        kPrefix
            + " \xC2\xB7 KEY MISSING (big_base_s1.bin, blob ended before all coefficients were read): "
              "passing through");
}

TEST(BleedModelsDefault, ABuildWithoutModelFilesReportsTheMissingKey)
{
    std::size_t count = 0;
    embeddedModelTable(count);
    if (count > 0 || std::filesystem::exists(kFullModelName))
        GTEST_SKIP() << "this build embeds model files";
    BleedModels models;
    models.loadModels();
    EXPECT_FALSE(models.fullModelLoaded);
    EXPECT_NE(models.status.find(" \xC2\xB7 KEY MISSING (big_base_s1.bin, "), std::string::npos);
    EXPECT_EQ(models.status.substr(0, kPrefix.size()), kPrefix);
}

TEST(BleedModelsDefault, ABuildWithEmbeddedModelsLoadsThemFromTheBinary)
{
    std::size_t count = 0;
    embeddedModelTable(count);
    if (findEmbeddedModel("BIG_BASE_S1.BIN").name == nullptr
        || findEmbeddedModel("GIG_ECO_V2.BIN").name == nullptr)
        GTEST_SKIP() << "this build embeds no model files";
    BleedModels models;
    models.loadModels();
    EXPECT_TRUE(models.fullModelLoaded);
    EXPECT_TRUE(models.ecoModelLoaded);
    EXPECT_EQ(models.status, kPrefix + " \xC2\xB7 key: big_base_s1 (binary)");
}

// ---- The frame: model selection, ECO mode, pass-through and real-time safety ---------------------

namespace {

struct FrameFixture : ModelsFixture
{
    std::unique_ptr<test::FrameHarness> h;
    std::vector<std::vector<double>> io;

    void load()
    {
        h = std::make_unique<test::FrameHarness>(48000.0, 1);
        h->frame->loadModels(search);
        h->params[kBleedReduction] = 100.0;
        h->reset();
        io.assign(1, test::noise(0.3, 48000, 9));
    }
    void run(int frames, int offset = 0) { h->processInPlace(io, offset, frames); }
    ProcessingFrame& f() { return *h->frame; }
};

} // namespace

TEST_F(FrameFixture, TogglingEcoResetsTheCancellerSwitchedToAndKeepsTheOther)
{
    load();
    run(40);
    EXPECT_EQ(f().bleed().models.full.hopIndex, 8u);
    h->params[kEcoMode] = 1.0;
    run(5, 40);
    EXPECT_TRUE(f().bleed().ecoActive());
    EXPECT_EQ(f().bleed().models.eco.hopIndex, 5u);
    EXPECT_EQ(f().bleed().models.full.hopIndex, 8u); // left alone
    h->params[kEcoMode] = 0.0;
    run(3, 45);
    EXPECT_FALSE(f().bleed().ecoActive());
    EXPECT_EQ(f().bleed().models.full.hopIndex, 3u); // reset, then three samples
    EXPECT_EQ(f().bleed().models.eco.hopIndex, 5u);
}

TEST_F(FrameFixture, TogglingWhileBleedIsOffStillSwitchesAndResets)
{
    load();
    h->params[kEcoMode] = 1.0;
    run(7);
    EXPECT_EQ(f().bleed().models.eco.hopIndex, 7u);
    h->params[kBleedReduction] = 0.0;
    h->params[kEcoMode] = 0.0;
    run(10, 7);
    EXPECT_FALSE(f().bleed().ecoActive());
    EXPECT_EQ(f().bleed().models.full.hopIndex, 0u);
    h->params[kEcoMode] = 1.0;
    run(10, 17);
    EXPECT_TRUE(f().bleed().ecoActive());
    EXPECT_EQ(f().bleed().models.eco.hopIndex, 0u); // reset by the switch, not run while bleed is off
}

TEST_F(FrameFixture, EcoWithoutAnEcoModelKeepsTheFullModelRunningWithoutAReset)
{
    embeddedEco().clear();
    load();
    run(40);
    h->params[kEcoMode] = 1.0;
    run(5, 40);
    EXPECT_FALSE(f().bleed().ecoActive());
    EXPECT_EQ(f().bleed().models.full.hopIndex, 13u);
}

TEST_F(FrameFixture, TurningBleedOffResetsTheFullModel)
{
    load();
    run(40);
    h->params[kBleedReduction] = 0.0;
    run(1, 40);
    EXPECT_EQ(f().bleed().models.full.hopIndex, 0u);
    EXPECT_TRUE(f().bleed().idle());
}

TEST_F(FrameFixture, WithNoModelTheCancellerStagePassesTheMixAndTheSpectralStageStaysTransparent)
{
    embeddedFull().clear();
    embeddedEco().clear();
    load();
    h->params[kEcoMode] = 1.0;
    auto out = h->run(io, 256);
    EXPECT_EQ(f().bleed().models.full.hopIndex, 0u);
    EXPECT_EQ(f().bleed().models.eco.hopIndex, 0u);
    const auto& gains = f().bleed().spectral().binGains();
    for (float g : gains)
        ASSERT_NEAR(g, 1.0f, 1e-4f);
    for (double v : out[0])
        ASSERT_TRUE(std::isfinite(v));
}

TEST_F(FrameFixture, BleedAtFullAmountReducesAnAllBleedSignalBetweenPhrases)
{
    load();
    // Noise under the voice floor counts as no voice: the gate closes and the spectral floor
    // falls, so the output drops.
    h->params[kVoiceFloor] = 0.0;
    const auto out = h->run(io, 512);
    const double in = test::rmsOf(io[0], 36000, 48000);
    const double o = test::rmsOf(out[0], 36000, 48000);
    EXPECT_LT(20.0 * std::log10(o / in), -6.0);
    for (double v : out[0])
        ASSERT_TRUE(std::isfinite(v));
}

TEST_F(FrameFixture, ProcessingWithBleedOnAllocatesNothingAlsoAcrossModelSwitches)
{
    load();
    io.assign(2, test::noise(0.3, 48000, 10));
    h = std::make_unique<test::FrameHarness>(48000.0, 2);
    h->frame->loadModels(search);
    h->params[kBleedReduction] = 100.0;
    h->reset();
    run(512);
    test::AllocationScope scope;
    int offset = 512;
    for (int block = 0; block < 60; ++block, offset += 256) {
        h->params[kEcoMode] = (block / 7) % 2 == 0 ? 0.0 : 1.0;
        h->params[kBleedReduction] = block == 30 ? 0.0 : 100.0;
        run(256, offset);
    }
    EXPECT_EQ(scope.allocations(), 0u);
    for (double v : io[0])
        ASSERT_TRUE(std::isfinite(v));
}

TEST_F(FrameFixture, ResetAndTheFullStateResetClearTheBleedStages)
{
    load();
    h->params[kEcoMode] = 1.0;
    run(40);
    h->params[kEcoMode] = 0.0;
    run(45, 40);
    ASSERT_EQ(f().bleed().models.full.hopIndex, 13u);
    ASSERT_EQ(f().bleed().models.eco.hopIndex, 8u);
    ASSERT_GT(f().bleed().spectral().hopCounter(), 0u);

    h->reset(); // plug-in reset: the full model and the spectral processor, the gate opened
    EXPECT_EQ(f().bleed().models.full.hopIndex, 0u);
    EXPECT_EQ(f().bleed().models.eco.hopIndex, 8u);
    EXPECT_EQ(f().bleed().spectral().hopCounter(), 0u);
    EXPECT_EQ(f().bleed().gate().openness(), 1.0f);
    EXPECT_EQ(f().bleed().gate().floorGain(), 1.0f);

    run(45, 100);
    f().resetAllState(); // full state reset: both cancellers, the processor and the gate
    EXPECT_EQ(f().bleed().models.full.hopIndex, 0u);
    EXPECT_EQ(f().bleed().models.eco.hopIndex, 0u);
    EXPECT_EQ(f().bleed().spectral().hopCounter(), 0u);
    EXPECT_EQ(f().bleed().gate().openness(), 1.0f);
    EXPECT_EQ(f().bleed().gate().power(), 0.0f);
}

TEST_F(FrameFixture, TheFloorCornersFollowTheHighPassWhileBleedIsOn)
{
    load();
    h->params[kHighPassOn] = 1.0;
    h->params[kHighPass] = 160.0;
    run(64);
    EXPECT_EQ(f().bleed().spectral().cornerLow(), 100.0f);
    EXPECT_EQ(f().bleed().spectral().cornerHigh(), 160.0f);
    EXPECT_EQ(f().bleed().spectral().deepFloorDb(), -45.0f);
    EXPECT_EQ(f().bleed().spectral().shallowFloorDb(), -7.0f);
    EXPECT_NEAR(f().bleed().gate().depthDb(), -12.0f, 1e-6f);

    h->params[kBleedReduction] = 0.0; // corners stay while bleed is off
    h->params[kHighPass] = 300.0;
    run(64, 64);
    EXPECT_EQ(f().bleed().spectral().cornerHigh(), 160.0f);
    EXPECT_EQ(f().bleed().spectral().deepFloorDb(), 0.0f);
    EXPECT_EQ(f().bleed().gate().floorGain(), 1.0f);

    h->params[kBleedReduction] = 50.0;
    h->params[kHighPassOn] = 0.0;
    run(64, 128);
    EXPECT_EQ(f().bleed().spectral().cornerLow(), 78.125f);
    EXPECT_EQ(f().bleed().spectral().cornerHigh(), 125.0f);
    EXPECT_NEAR(f().bleed().spectral().deepFloorDb(), -22.5f, 1e-5f);
}

TEST_F(FrameFixture, BleedAtZeroStillFillsTheSpectralHistoryWithoutAnalysis)
{
    load();
    h->params[kBleedReduction] = 0.0;
    h->reset();
    run(1000);
    EXPECT_EQ(f().bleed().spectral().analysisCount(), 0u);
    EXPECT_EQ(f().bleed().spectral().hopCounter(), 1000u % 128u);
    EXPECT_NE(f().bleed().spectral().laneHistory(0, 0), 0.0f);
}

TEST_F(FrameFixture, AtEveryRateNonFiniteAndHugeInputsNeverReachTheOutput)
{
    load();
    for (double rate : {8000.0, 22050.0, 96000.0, 192000.0}) {
        test::FrameHarness harness(rate, 2);
        harness.frame->loadModels(search);
        harness.params[kBleedReduction] = 100.0;
        harness.params[kEcoMode] = rate > 50000.0 ? 1.0 : 0.0;
        harness.reset();
        std::vector<std::vector<double>> in(2, test::noise(0.5, 6000, 3));
        for (int n = 0; n < 6000; n += 37) {
            in[0][static_cast<std::size_t>(n)] = std::numeric_limits<double>::quiet_NaN();
            in[1][static_cast<std::size_t>(n + 1)] = n % 2 ? 1e300 : -std::numeric_limits<double>::infinity();
        }
        const auto out = harness.run(in, 480);
        for (const auto& channel : out)
            for (double v : channel)
                ASSERT_TRUE(std::isfinite(v)) << rate;
    }
}
