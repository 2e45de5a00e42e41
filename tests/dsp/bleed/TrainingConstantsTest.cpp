// The training scripts mirror the runtime (network hop and window, model shapes, the spectral
// stage's frames, mask range and floors, the gate depth); a model trained against other numbers
// than the runtime's would load and run but do the wrong thing. These tests read the training's
// constants module and compare it with the runtime's constants.
#include "support/TrainingConstants.h"
#include "dsp/bleed/BleedModels.h"
#include "dsp/bleed/BleedStage.h"
#include "dsp/bleed/FilterHeadCanceller.h"
#include "dsp/bleed/PhraseGate.h"
#include "dsp/bleed/SpectralBleedProcessor.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace brindlecot;
using namespace brindlecot::dsp;

namespace {

class TrainingConstantsAgree : public ::testing::Test
{
protected:
    void SetUp() override
    {
        constants = test::readTrainingConstants();
        ASSERT_TRUE(constants.opened) << "cannot read " << VELARUNE_TRAINING_CONSTANTS;
    }

    // The value of a numeric constant; a missing one fails the test and reads as NaN.
    double number(const std::string& name) const
    {
        const auto it = constants.numbers.find(name);
        EXPECT_NE(it, constants.numbers.end()) << name << " is missing from the training constants";
        return it == constants.numbers.end() ? NAN : it->second;
    }

    std::string text(const std::string& name) const
    {
        const auto it = constants.texts.find(name);
        EXPECT_NE(it, constants.texts.end()) << name << " is missing from the training constants";
        return it == constants.texts.end() ? std::string() : it->second;
    }

    test::TrainingConstants constants;
};

} // namespace

TEST_F(TrainingConstantsAgree, EveryAssignmentInTheModuleIsAPlainLiteral)
{
    for (const std::string& line : constants.unreadable)
        ADD_FAILURE() << "not a plain literal: " << line;
    EXPECT_GE(constants.numbers.size() + constants.texts.size(), 20u);
}

TEST_F(TrainingConstantsAgree, WithTheNetworkHopWindowAndModelShapes)
{
    EXPECT_EQ(number("NETWORK_HOP"), FullModelNetwork::kHop);
    EXPECT_EQ(number("NETWORK_HOP"), EcoModelCanceller::kHop);
    EXPECT_EQ(number("NETWORK_INPUT"), FullModelNetwork::kInput);
    EXPECT_EQ(number("NETWORK_INPUT"), EcoModelNetwork::kInput);
    EXPECT_EQ(number("FULL_MODEL_WIDTH"), FullModelNetwork::kWidth);
    EXPECT_EQ(number("FULL_MODEL_TAPS"), FullModelCanceller::kTaps);
    EXPECT_EQ(number("ECO_MODEL_WIDTH"), EcoModelNetwork::kWidth);
    EXPECT_EQ(number("ECO_MODEL_TAPS"), EcoModelCanceller::kTaps);
    EXPECT_EQ(text("FULL_MODEL_FILE"), kFullModelName);
    EXPECT_EQ(text("ECO_MODEL_FILE"), kEcoModelName);
}

TEST_F(TrainingConstantsAgree, WithTheSpectralStagesFramesAndMask)
{
    EXPECT_EQ(number("SPECTRAL_HOP"), SpectralBleedProcessor::kHop);
    EXPECT_EQ(number("SPECTRAL_FFT"), SpectralBleedProcessor::kRing);
    EXPECT_EQ(number("SPECTRAL_FFT"), BleedFft::kSize);
    EXPECT_EQ(number("SPECTRAL_FFT") / 2 + 1, SpectralBleedProcessor::kBins);
    EXPECT_EQ(number("SPECTRAL_FIR_TAPS"), SpectralBleedProcessor::kTaps);
    EXPECT_EQ(static_cast<float>(number("MASK_RANGE_DB")), SpectralBleedProcessor::kMaskRangeDb);
    EXPECT_EQ(static_cast<float>(number("LEVEL_MATCH_MAX")), SpectralBleedProcessor::kLevelMatchMax);

    // What a prepared stage actually uses, not only what the header says.
    SpectralBleedProcessor stage;
    stage.prepare(number("SAMPLE_RATE_HZ"), cornersForHighPass(0.0f));
    EXPECT_EQ(static_cast<float>(number("FLOOR_CORNER_LOW_HZ")), stage.cornerLow());
    EXPECT_EQ(static_cast<float>(number("FLOOR_CORNER_HIGH_HZ")), stage.cornerHigh());
}

TEST_F(TrainingConstantsAgree, WithTheFloorsAndGateDepthAtFullAmount)
{
    EXPECT_EQ(static_cast<float>(number("DEEP_FLOOR_DB")), BleedPolicy::kDeepFloorDb);
    EXPECT_EQ(static_cast<float>(number("SHALLOW_FLOOR_DB")), BleedPolicy::kShallowFloorDb);
    EXPECT_EQ(static_cast<float>(number("GATE_DEPTH_DB")), BleedPolicy::kGateDepthDb);

    BleedStage stage;
    stage.prepare(number("SAMPLE_RATE_HZ"), 0.0f);
    stage.setControls(1.0f, 0.0f);
    EXPECT_EQ(static_cast<float>(number("DEEP_FLOOR_DB")), stage.spectral().deepFloorDb());
    EXPECT_EQ(static_cast<float>(number("SHALLOW_FLOOR_DB")), stage.spectral().shallowFloorDb());
    EXPECT_EQ(static_cast<float>(number("GATE_DEPTH_DB")), stage.gate().depthDb());
}

TEST_F(TrainingConstantsAgree, WithTheSampleRateTheStagesStartAt)
{
    EXPECT_EQ(static_cast<float>(number("SAMPLE_RATE_HZ")), SpectralBleedProcessor {}.sampleRate());
}

TEST(TrainingConstantsReader, ReportsExpressionsAndKeepsNumbersStringsAndComments)
{
    std::istringstream in("\"\"\"Doc.\n\nNOT_CONSTANT = 1\n\"\"\"\n# A = 1\nA = 1.5  # dB\nB = -45\n"
                          "C = \"x.bin\"\nD = 2 * 3\nE = (\n    1,\n)\nimport os\n    F = 2\n");
    const test::TrainingConstants c = test::parseTrainingConstants(in);
    EXPECT_EQ(c.numbers.at("A"), 1.5);
    EXPECT_EQ(c.numbers.at("B"), -45.0);
    EXPECT_EQ(c.texts.at("C"), "x.bin");
    EXPECT_EQ(c.numbers.count("F"), 0u);
    EXPECT_EQ(c.numbers.count("NOT_CONSTANT"), 0u);
    ASSERT_EQ(c.unreadable.size(), 2u);
    EXPECT_EQ(c.unreadable[0], "D = 2 * 3");
    EXPECT_EQ(c.unreadable[1], "E = (");
}
