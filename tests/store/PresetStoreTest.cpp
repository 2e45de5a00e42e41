#include "store/PresetStore.h"

#include "store/TempFolder.h"

#include <gtest/gtest.h>

using namespace brindlecot;
using brindlecot::testing::TempFolder;
using brindlecot::testing::writeText;
namespace fs = std::filesystem;

namespace {
std::vector<uint8_t> chunkWith(int32_t accent, int32_t inputMode, const PresetValues& values)
{
    std::vector<uint8_t> chunk;
    writeStateChunk(chunk, accent, 813, 714, inputMode, values);
    return chunk;
}

PresetValues withBleed(double percent)
{
    PresetValues v = defaultParameterValues();
    v[kBleedReduction] = percent;
    return v;
}
} // namespace

TEST(PresetStore, SavesAndFindsAPresetThatThenBecomesCurrent)
{
    TempFolder dir;
    PresetStore store(dir.path());
    std::string error;
    const PresetValues values = withBleed(80.0);
    ASSERT_TRUE(store.save("Verse", chunkWith(2, 0, values), values, error)) << error;
    EXPECT_EQ(store.currentName(), "Verse");
    EXPECT_EQ(store.baseline(), std::vector<double>(values.begin(), values.end()));
    EXPECT_FALSE(store.modified());
    EXPECT_EQ(store.names(), std::vector<std::string> {"Verse"});

    PresetStore other(dir.path());
    PresetRecord record;
    ASSERT_TRUE(other.find("Verse", record, error)) << error;
    EXPECT_EQ(record.state, chunkWith(2, 0, values));
    other.loaded(record.name, values);
    EXPECT_EQ(other.currentName(), "Verse");
}

TEST(PresetStore, FindsNothingLoadableInAForeignOrOldLayoutState)
{
    TempFolder dir;
    PresetStore store(dir.path());
    std::string error;
    // Readable files whose state is not a "PWS1" chunk: nothing changes and no text is shown.
    ASSERT_TRUE(writePreset(dir.path(), "Short", {0x31, 0x53, 0x57}, error));
    ASSERT_TRUE(writePreset(dir.path(), "Old", {0x43, 0x41, 0x57, 0x50, 1, 0, 0, 0}, error));
    PresetRecord record;
    for (const char* name : {"Short", "Old"}) {
        error = "stale";
        EXPECT_FALSE(store.find(name, record, error)) << name;
        EXPECT_TRUE(error.empty()) << name;
        EXPECT_TRUE(record.state.empty());
    }
    EXPECT_FALSE(store.find("Missing", record, error));
    EXPECT_EQ(error, "not an Velarune preset: Missing.vlrpreset");
    EXPECT_TRUE(store.currentName().empty());
}

TEST(PresetStore, KeepsTheCurrentPresetWhenASaveFails)
{
    TempFolder dir;
    PresetStore store(dir.path());
    std::string error;
    const PresetValues values = withBleed(10.0);
    ASSERT_TRUE(store.save("Kept", chunkWith(5, 0, values), values, error));
    fs::create_directory(dir / "Blocked.vlrpreset.partial"); // the write cannot go through
    writeText(dir / "Blocked.vlrpreset.partial/x", "");
    EXPECT_FALSE(store.save("Blocked", chunkWith(5, 0, withBleed(50.0)), withBleed(50.0), error));
    EXPECT_EQ(error, "could not write " + (dir / "Blocked.vlrpreset").string());
    EXPECT_EQ(store.currentName(), "Kept");
    EXPECT_EQ(store.baseline()[kBleedReduction], 10.0);

    PresetStore nowhere {fs::path()};
    EXPECT_FALSE(nowhere.save("X", chunkWith(5, 0, values), values, error));
    EXPECT_TRUE(nowhere.names().empty());
    EXPECT_TRUE(nowhere.currentName().empty());
}

TEST(PresetStore, DeletesAPresetAndForgetsItWhenItWasCurrent)
{
    TempFolder dir;
    PresetStore store(dir.path());
    std::string error;
    const PresetValues values = defaultParameterValues();
    ASSERT_TRUE(store.save("Keep", chunkWith(5, 0, values), values, error));
    ASSERT_TRUE(store.save("Drop", chunkWith(5, 0, values), values, error));
    ASSERT_TRUE(store.remove("Keep", error)) << error;
    EXPECT_EQ(store.currentName(), "Drop") << "deleting another preset keeps the current one";
    ASSERT_TRUE(store.remove("Drop", error)) << error;
    EXPECT_TRUE(store.currentName().empty());
    EXPECT_TRUE(store.baseline().empty());
    EXPECT_FALSE(store.modified());
    EXPECT_TRUE(store.names().empty());
    EXPECT_FALSE(store.remove("Drop", error));
    EXPECT_EQ(error, "could not delete Drop.vlrpreset");
}

TEST(PresetStore, DeletesOnlyTheFileHoldingThatName)
{
    TempFolder dir;
    PresetStore store(dir.path());
    std::string error;
    const PresetValues values = defaultParameterValues();
    ASSERT_TRUE(store.save("a/b", chunkWith(5, 0, values), values, error));
    ASSERT_TRUE(store.save("a-b", chunkWith(5, 0, values), values, error));
    ASSERT_TRUE(store.remove("a-b", error));
    EXPECT_TRUE(fs::exists(dir / "a-b.vlrpreset"));
    EXPECT_FALSE(fs::exists(dir / "a-b-1.vlrpreset"));
    EXPECT_EQ(store.names(), std::vector<std::string> {"a/b"});
}

TEST(PresetStore, NeverLoadsOrDeletesAnotherPresetWhenAllFileNamesAreTaken)
{
    TempFolder dir;
    const std::string other = formatPreset("Someone else", chunkWith(5, 0, defaultParameterValues()));
    writeText(dir / "Full.vlrpreset", other);
    for (int n = 1; n <= 999; ++n)
        writeText(dir / ("Full-" + std::to_string(n) + ".vlrpreset"), other);
    PresetStore store(dir.path());
    PresetRecord record;
    std::string error;
    EXPECT_FALSE(store.find("Full", record, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(store.remove("Full", error));
    EXPECT_EQ(error, "could not delete Full.vlrpreset");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1000);
}

TEST(PresetStore, MarksTheCurrentPresetModifiedOnceAValueDepartsBeyondTheTolerance)
{
    TempFolder dir;
    PresetStore store(dir.path());
    PresetValues values = defaultParameterValues();
    values[kLowPass] = 1000.0;
    values[kInput] = 0.0;
    EXPECT_FALSE(store.checkModified(values)) << "no preset is current";
    store.loaded("Live", values);

    PresetValues edited = values;
    edited[kInput] = 0.9e-6; // tolerance 1e-6 * max(1, |v|)
    edited[kLowPass] = 1000.0009; // tolerance 1e-3 at 1000 Hz
    EXPECT_FALSE(store.checkModified(edited));
    EXPECT_FALSE(store.modified());
    edited[kLowPass] = 1000.0011;
    EXPECT_TRUE(store.checkModified(edited));
    EXPECT_TRUE(store.modified());
    EXPECT_FALSE(store.checkModified(edited)) << "reported once, until the next load or save";
    store.captureBaseline(edited);
    EXPECT_FALSE(store.modified());
    edited[kInput] += 1.1e-6;
    EXPECT_TRUE(store.checkModified(edited));
}

TEST(PresetStore, AppliesAChunkButKeepsTheMachinesInputMode)
{
    const PresetValues saved = withBleed(64.0);
    StateFields fields;
    fields.inputMode = 0;
    PresetValues params = defaultParameterValues();
    int read = 0;
    ASSERT_TRUE(applyPresetChunk(chunkWith(3, 1, saved), fields, params, &read));
    EXPECT_EQ(read, kNumParams);
    EXPECT_EQ(params, saved);
    EXPECT_EQ(fields.accentIndex, 3);
    EXPECT_EQ(fields.savedEditorWidth, 813) << "the loader restores the window scale from it";
    EXPECT_EQ(fields.inputMode, 0);

    fields.inputMode = 1;
    ASSERT_TRUE(applyPresetChunk(chunkWith(3, 0, saved), fields, params));
    EXPECT_EQ(fields.inputMode, 1);

    PresetValues untouched = defaultParameterValues();
    EXPECT_FALSE(applyPresetChunk({1, 2, 3, 4, 5, 6, 7, 8}, fields, untouched, &read));
    EXPECT_EQ(read, 0);
    EXPECT_EQ(untouched, defaultParameterValues());
}

TEST(PresetStore, RenamesAPresetAndTheCurrentNameFollows)
{
    TempFolder dir;
    PresetStore store(dir.path());
    std::string error;
    const PresetValues values = withBleed(33.0);
    ASSERT_TRUE(store.save("Draft", chunkWith(5, 0, values), values, error));
    ASSERT_TRUE(store.save("Other", chunkWith(5, 0, values), values, error));
    store.loaded("Draft", values);
    ASSERT_TRUE(store.checkModified(withBleed(34.0)));

    ASSERT_TRUE(store.rename("Draft", "Final", error)) << error;
    EXPECT_EQ(store.names(), (std::vector<std::string> {"Final", "Other"}));
    EXPECT_FALSE(fs::exists(dir / "Draft.vlrpreset"));
    EXPECT_EQ(store.currentName(), "Final");
    EXPECT_TRUE(store.modified()) << "renaming does not reset the edit state";
    PresetRecord record;
    ASSERT_TRUE(store.find("Final", record, error));
    EXPECT_EQ(record.state, chunkWith(5, 0, values));

    EXPECT_FALSE(store.rename("Final", "Other", error)) << "never replaces another preset";
    EXPECT_EQ(error, "a preset named \"Other\" already exists");
    EXPECT_FALSE(store.rename("Gone", "New", error));
    EXPECT_EQ(error, "not an Velarune preset: Gone.vlrpreset");
    EXPECT_EQ(store.names(), (std::vector<std::string> {"Final", "Other"}));
    EXPECT_TRUE(store.rename("Other", "Other", error)) << "the same name is no change";
}

TEST(PresetStore, AsksForTheSavedWindowScaleOnlyWhenItDiffersByMoreThanOnePercent)
{
    double scale = 0.0;
    EXPECT_TRUE(presetWindowScale(813, 1.0, scale));
    EXPECT_DOUBLE_EQ(scale, 813.0 / 542.0);
    EXPECT_FALSE(presetWindowScale(813, 1.495, scale)) << "813 / 542 = 1.49996";
    EXPECT_TRUE(presetWindowScale(542, 1.02, scale));
    EXPECT_DOUBLE_EQ(scale, 1.0);
    EXPECT_FALSE(presetWindowScale(542, 1.009, scale));
    EXPECT_FALSE(presetWindowScale(0, 2.0, scale)) << "a chunk without an editor size";
    EXPECT_FALSE(presetWindowScale(-542, 2.0, scale));
}

TEST(PresetBarHelpers, StepThroughNamesWrappingAroundAndFromAnUnlistedName)
{
    const std::vector<std::string> names = {"A", "B", "C"};
    EXPECT_EQ(steppedPresetName(names, "B", 1), "C");
    EXPECT_EQ(steppedPresetName(names, "C", 1), "A");
    EXPECT_EQ(steppedPresetName(names, "A", -1), "C");
    EXPECT_EQ(steppedPresetName(names, "", 1), "A");
    EXPECT_EQ(steppedPresetName(names, "Z", -1), "C");
    EXPECT_EQ(steppedPresetName(names, "a", 1), "A") << "names match exactly";
    EXPECT_EQ(steppedPresetName({}, "A", 1), "");
    EXPECT_EQ(steppedPresetName({"Only"}, "Only", -1), "Only");
}

TEST(PresetBarHelpers, TrimSpacesAndTabsFromATypedName)
{
    EXPECT_EQ(trimmedPresetName("  \tLead vox \t "), "Lead vox");
    EXPECT_EQ(trimmedPresetName(" \t \t"), "");
    EXPECT_EQ(trimmedPresetName(""), "");
    EXPECT_EQ(trimmedPresetName("\nx\n"), "\nx\n") << "only spaces and tabs";
}
