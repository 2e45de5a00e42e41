#include "velarune-process/ProcessOptions.h"

#include <gtest/gtest.h>

using namespace brindlecot;
using namespace brindlecot::tools;

namespace {
bool parse(std::vector<const char*> args, ProcessOptions& o, std::string& error)
{
    args.insert(args.begin(), "velarune-process");
    return parseProcessOptions(static_cast<int>(args.size()), args.data(), o, error);
}
} // namespace

TEST(ProcessOptions, ReadsFilesBlockSizeAndSettingsByExactName)
{
    ProcessOptions o;
    std::string error;
    ASSERT_TRUE(parse({"--set", "Bleed Reduction=80", "-b", "64", "--set", "Soft Bypass=on", "--set",
                          "BEEF Knob=High", "--input-mode", "left", "in.wav", "out.flac"},
        o, error))
        << error;
    EXPECT_EQ(o.inputPath, "in.wav");
    EXPECT_EQ(o.outputPath, "out.flac");
    EXPECT_EQ(o.blockSize, 64);
    EXPECT_EQ(o.inputMode, 1);
    ASSERT_EQ(o.settings.size(), 3u);
    EXPECT_EQ(o.settings[0], std::make_pair(static_cast<int>(kBleedReduction), 80.0));
    EXPECT_EQ(o.settings[1], std::make_pair(static_cast<int>(kSoftBypass), 1.0));
    EXPECT_EQ(o.settings[2], std::make_pair(static_cast<int>(kBeefKnob), 1.0));
}

TEST(ProcessOptions, ModelsOptionNamesTheFolderToReadTheBleedModelsFrom)
{
    ProcessOptions o;
    std::string error;
    ASSERT_TRUE(parse({"--models", "/tmp/models", "in.wav", "out.wav"}, o, error)) << error;
    EXPECT_EQ(o.modelsDir, "/tmp/models");
    ProcessOptions none;
    ASSERT_TRUE(parse({"in.wav", "out.wav"}, none, error)) << error;
    EXPECT_TRUE(none.modelsDir.empty());
    EXPECT_FALSE(parse({"in.wav", "out.wav", "--models"}, none, error));
}

TEST(ProcessOptions, SceneOptionRunsTheDemoWithAnotherBleedScene)
{
    ProcessOptions o;
    std::string error;
    ASSERT_TRUE(parse({"--scene", "/tmp/mix.flac", "--demo-dir", "/tmp/out"}, o, error)) << error;
    EXPECT_TRUE(o.demo);
    EXPECT_EQ(o.scenePath, "/tmp/mix.flac");
    EXPECT_EQ(o.demoDir, "/tmp/out");
    ProcessOptions plain;
    ASSERT_TRUE(parse({"--demo"}, plain, error)) << error;
    EXPECT_TRUE(plain.scenePath.empty());
    EXPECT_FALSE(parse({"--demo", "--scene"}, plain, error));
    EXPECT_FALSE(parse({"--scene", "mix.flac", "in.wav", "out.wav"}, plain, error));
}

TEST(ProcessOptions, RejectsWhatAUserCanGetWrongWithAClearMessage)
{
    const std::vector<std::vector<const char*>> bad = {
        {"--set", "Bleed Reduction=150", "a", "b"},
        {"--set", "bleed reduction=10", "a", "b"},
        {"--set", "Input", "a", "b"},
        {"--set", "Input=loud", "a", "b"},
        {"--set", "High-Pass=19", "a", "b"},
        {"--set", "Soft Bypass=0.5", "a", "b"},
        {"--block", "0", "a", "b"},
        {"--block", "12.5", "a", "b"},
        {"--input-mode", "right", "a", "b"},
        {"--frobnicate", "a", "b"},
        {"only-one-file"},
        {"--set"},
    };
    for (const auto& args : bad) {
        ProcessOptions o;
        std::string error;
        EXPECT_FALSE(parse(args, o, error)) << args[0];
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
    ProcessOptions o;
    std::string error;
    parse({"--set", "Bleed Reduction=150", "a", "b"}, o, error);
    EXPECT_EQ(error, "value 150 for \"Bleed Reduction\" is outside 0 .. 100 %");
}

TEST(ProcessOptions, AcceptsRangeEndsAsDisplayed)
{
    int index = -1;
    double value = 0.0;
    std::string error;
    ASSERT_TRUE(parseSetting("Saturation Drive=38.1", index, value, error)) << error;
    EXPECT_EQ(value, maxDriveDb());
    ASSERT_TRUE(parseSetting(" High-Pass = 1000 ", index, value, error)) << error;
    EXPECT_EQ(index, kHighPass);
    EXPECT_EQ(value, 1000.0);
}

TEST(ProcessOptions, LogOptionNamesTheFolderForTheDiagnosticLog)
{
    ProcessOptions o;
    std::string error;
    ASSERT_TRUE(parse({"--log", "logs/run 1", "in.wav", "out.wav"}, o, error)) << error;
    EXPECT_EQ(o.logDir, "logs/run 1");
    ProcessOptions bad;
    EXPECT_FALSE(parse({"in.wav", "out.wav", "--log"}, bad, error));
    EXPECT_EQ(error, "option --log needs a value");
    EXPECT_FALSE(parse({"--log", "", "in.wav", "out.wav"}, bad, error));
    EXPECT_EQ(error, "option --log needs a folder");
}

TEST(ProcessOptions, PresetOptionsNameAFileToApplyAndOneToWrite)
{
    ProcessOptions o;
    std::string error;
    ASSERT_TRUE(parse({"--preset", "Verse.vlrpreset", "--set", "Output=-3", "in.wav", "out.wav"}, o, error))
        << error;
    EXPECT_EQ(o.presetPath, "Verse.vlrpreset");
    EXPECT_TRUE(o.savePresetPath.empty());
    ProcessOptions save;
    ASSERT_TRUE(parse({"--set", "Air=40", "--save-preset", "Bright.vlrpreset"}, save, error)) << error;
    EXPECT_EQ(save.savePresetPath, "Bright.vlrpreset");
    EXPECT_TRUE(save.inputPath.empty()) << "saving alone needs no audio files";
    ProcessOptions both;
    ASSERT_TRUE(parse({"--save-preset", "p.vlrpreset", "in.wav", "out.wav"}, both, error)) << error;
    EXPECT_EQ(both.outputPath, "out.wav");
}

TEST(ProcessOptions, PresetOptionsNeedTheirFileAndAPresetAloneStillNeedsAudio)
{
    for (const auto& args : std::vector<std::vector<const char*>> {{"in.wav", "out.wav", "--preset"},
             {"--save-preset"}, {"--preset", "p.vlrpreset"}, {"--save-preset", "p.vlrpreset", "in.wav"}}) {
        ProcessOptions o;
        std::string error;
        EXPECT_FALSE(parse(args, o, error)) << args.back();
        EXPECT_FALSE(error.empty());
    }
}
