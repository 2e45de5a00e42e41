#include "velarune-process/PresetFiles.h"

#include "store/PresetFile.h"
#include "store/TempFolder.h"

#include <gtest/gtest.h>

using namespace brindlecot;
using namespace brindlecot::tools;
using brindlecot::testing::TempFolder;
using brindlecot::testing::writeText;

TEST(PresetFiles, SavedSettingsComeBackAsTheSameSettingsUnderTheFileStem)
{
    TempFolder dir;
    const std::string path = (dir / "Lead Vox.vlrpreset").string();
    const std::vector<std::pair<int, double>> settings
        = {{kOutput, -3.0}, {kBleedReduction, 80.0}, {kSoftBypass, 1.0}, {kInput, 0.0}};
    std::string error;
    ASSERT_TRUE(savePresetFile(path, settings, 1, error)) << error;
    PresetRecord record;
    ASSERT_TRUE(readPreset(path, record, error)) << error;
    EXPECT_EQ(record.name, "Lead Vox");
    ASSERT_EQ(record.state.size(), 200u);

    std::vector<std::pair<int, double>> back;
    ASSERT_TRUE(presetSettings(path, back, error)) << error;
    // Only values away from the defaults, in index order; "Input" 0 dB is the default.
    EXPECT_EQ(back,
        (std::vector<std::pair<int, double>> {{kBleedReduction, 80.0}, {kOutput, -3.0}, {kSoftBypass, 1.0}}));
}

TEST(PresetFiles, ReportFilesThatAreNoPresetOrCarryNoStateChunk)
{
    TempFolder dir;
    std::vector<std::pair<int, double>> settings {{kAir, 1.0}};
    std::string error;
    EXPECT_FALSE(presetSettings((dir / "missing.vlrpreset").string(), settings, error));
    EXPECT_EQ(error, "not an Velarune preset: missing.vlrpreset");
    EXPECT_TRUE(settings.empty());
    writeText(dir / "odd.vlrpreset", "Velarune preset 1\nstate=AQIDBA==\n");
    EXPECT_FALSE(presetSettings((dir / "odd.vlrpreset").string(), settings, error));
    EXPECT_EQ(error, "the preset has no Velarune state chunk: odd.vlrpreset");
    writeText(dir / "file", "");
    EXPECT_FALSE(savePresetFile((dir / "file/p.vlrpreset").string(), {}, 0, error));
    EXPECT_EQ(error, "could not write " + (dir / "file/p.vlrpreset").string());
}
