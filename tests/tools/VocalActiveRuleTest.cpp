// The evaluation's vocal-active rule exists twice: in the training's evaluation (Python, through
// tools/train/runtime_constants.py) and in velarune-process's bleed scene. Both must pick the same
// frames, or the figures of the model card and of `--demo` measure different things.
#include "support/TrainingConstants.h"
#include "velarune-process/BleedScene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace brindlecot;
using namespace brindlecot::tools;

TEST(VocalActiveRule, AgreesWithTheTrainingsConstants)
{
    const test::TrainingConstants c = test::readTrainingConstants();
    ASSERT_TRUE(c.opened) << "cannot read " << VELARUNE_TRAINING_CONSTANTS;
    ASSERT_EQ(c.numbers.count("VOCAL_ACTIVE_FRAME_SECONDS"), 1u);
    ASSERT_EQ(c.numbers.count("VOCAL_ACTIVE_RATIO"), 1u);
    ASSERT_EQ(c.numbers.count("SAMPLE_RATE_HZ"), 1u);
    EXPECT_EQ(c.numbers.at("VOCAL_ACTIVE_FRAME_SECONDS"), kVocalActiveFrameSeconds);
    EXPECT_EQ(c.numbers.at("VOCAL_ACTIVE_RATIO"), kVocalActiveRatio);
}

TEST(VocalActiveRule, SplitsFramesJustAboveAndJustBelowTheTrainingsThreshold)
{
    // Constant-level frames of the training's length and rate: a loud one, one at 1.01 and one at
    // 0.99 times the threshold energy. Only the first two are vocal-active.
    const test::TrainingConstants c = test::readTrainingConstants();
    ASSERT_TRUE(c.opened);
    const double rate = c.numbers.at("SAMPLE_RATE_HZ");
    const auto frame = static_cast<size_t>(std::lround(c.numbers.at("VOCAL_ACTIVE_FRAME_SECONDS") * rate));
    const double ratio = c.numbers.at("VOCAL_ACTIVE_RATIO");
    std::vector<double> vocal;
    for (double energy : {1.0, 1.01 * ratio, 0.99 * ratio})
        vocal.insert(vocal.end(), frame, std::sqrt(energy));
    std::vector<double> mic(vocal);
    for (double& v : mic)
        v += 1e-3; // some bleed in every frame
    const BleedFigures r = measureBleed(rate, mic, vocal, mic, vocal);
    EXPECT_EQ(r.activeFrames, 2u);
    EXPECT_EQ(r.pauseFrames, 1u);
}
