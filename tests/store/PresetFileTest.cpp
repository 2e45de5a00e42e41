#include "store/PresetFile.h"

#include "store/AtomicFile.h"
#include "store/Base64.h"
#include "store/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace brindlecot;
using brindlecot::testing::readText;
using brindlecot::testing::TempFolder;
using brindlecot::testing::writeText;
namespace fs = std::filesystem;

namespace {
const std::vector<uint8_t> kState = {0x31, 0x53, 0x57, 0x50, 5, 0, 0, 0, 3};

bool read(const fs::path& path, PresetRecord& record, std::string& error)
{
    return readPreset(path, record, error);
}

std::vector<std::string> namesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& r : listPresets(folder))
        names.push_back(r.name);
    return names;
}
} // namespace

// ---- File format ---------------------------------------------------------------------------------

TEST(PresetFile, IsWrittenAsThreeLinesAndOverwrittenWhenSavedAgainUnderTheSameName)
{
    TempFolder dir;
    std::string error;
    ASSERT_TRUE(writePreset(dir.path(), "My Preset", kState, error)) << error;
    const auto path = dir / "My Preset.vlrpreset";
    EXPECT_EQ(readText(path), "Velarune preset 1\nname=My Preset\nstate=MVNXUAUAAAAD\n");
    ASSERT_TRUE(writePreset(dir.path(), "My Preset", {1, 2, 3, 4}, error)) << error;
    EXPECT_EQ(readText(path), "Velarune preset 1\nname=My Preset\nstate=AQIDBA==\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(PresetFile, ReadsBackNameStateAndPath)
{
    TempFolder dir;
    std::string error;
    ASSERT_TRUE(writePreset(dir.path(), "Verse", kState, error));
    PresetRecord record;
    ASSERT_TRUE(read(dir / "Verse.vlrpreset", record, error)) << error;
    EXPECT_EQ(record.name, "Verse");
    EXPECT_EQ(record.state, kState);
    EXPECT_EQ(record.path, dir / "Verse.vlrpreset");
    EXPECT_TRUE(error.empty());
}

TEST(PresetFile, StoresALineBreakInTheNameAsASpaceAndFindsItsFileAgain)
{
    TempFolder dir;
    std::string error;
    ASSERT_TRUE(writePreset(dir.path(), "two\nlines\r", kState, error));
    EXPECT_EQ(
        readText(dir / "two-lines-.vlrpreset"), "Velarune preset 1\nname=two lines \nstate=MVNXUAUAAAAD\n");
    PresetRecord record;
    ASSERT_TRUE(read(dir / "two-lines-.vlrpreset", record, error));
    EXPECT_EQ(record.name, "two lines ");
    // Saving the same name again replaces that file instead of adding "two-lines--1".
    ASSERT_TRUE(writePreset(dir.path(), "two\nlines\r", {7, 7, 7, 7}, error));
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string> {"two lines "});
}

TEST(PresetFile, ReadsWindowsLineEndsLikePlainOnes)
{
    TempFolder dir;
    writeText(dir / "a.vlrpreset", "Velarune preset 1\r\nname=Chorus\r\nstate=MVNXUAUAAAAD\r\n");
    writeText(dir / "b.vlrpreset", "Velarune preset 1\nname=Chorus\nstate=MVNXUAUAAAAD");
    PresetRecord a, b;
    std::string error;
    ASSERT_TRUE(read(dir / "a.vlrpreset", a, error)) << error;
    ASSERT_TRUE(read(dir / "b.vlrpreset", b, error)) << error;
    EXPECT_EQ(a.name, "Chorus");
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.state, kState);
    EXPECT_EQ(a.state, b.state);
}

TEST(PresetFile, TakesItsNameFromTheFileStemWhenTheNameLineIsMissingOrEmpty)
{
    TempFolder dir;
    writeText(dir / "Bridge.vlrpreset", "Velarune preset 1\nstate=MVNXUAUAAAAD\n");
    writeText(dir / "Outro.take2.vlrpreset", "Velarune preset 1\nname=\nstate=MVNXUAUAAAAD\n");
    PresetRecord record;
    std::string error;
    ASSERT_TRUE(read(dir / "Bridge.vlrpreset", record, error));
    EXPECT_EQ(record.name, "Bridge");
    ASSERT_TRUE(read(dir / "Outro.take2.vlrpreset", record, error));
    EXPECT_EQ(record.name, "Outro.take2");
}

TEST(PresetFile, ReadsKeysExactlyAndLetsLaterLinesWin)
{
    TempFolder dir;
    writeText(dir / "p.vlrpreset",
        "Velarune preset 1\nName=wrong\nname=first\n\nno equals\n name=wrong\nname=a=b\nstate=!!!!\n"
        "colour=blue\nstate=AQIDBA==\n");
    PresetRecord record;
    std::string error;
    ASSERT_TRUE(read(dir / "p.vlrpreset", record, error)) << error;
    EXPECT_EQ(record.name, "a=b");
    EXPECT_EQ(record.state, (std::vector<uint8_t> {1, 2, 3, 4}));
}

TEST(PresetFile, RejectsFilesWithoutTheExactHeaderNamingTheFile)
{
    TempFolder dir;
    const std::vector<std::string> bad = {"", "\n", "Velarune preset 2\nstate=AQIDBA==\n",
        "velarune preset 1\nstate=AQIDBA==\n", "Velarune preset 1 \nstate=AQIDBA==\n",
        "\xef\xbb\xbfVelarune preset 1\nstate=AQIDBA==\n", "Velarune preset 1\r\r\nstate=AQIDBA==\n"};
    for (const auto& text : bad) {
        writeText(dir / "Verse.vlrpreset", text);
        PresetRecord record;
        record.name = "stale";
        std::string error;
        EXPECT_FALSE(read(dir / "Verse.vlrpreset", record, error)) << text;
        EXPECT_EQ(error, "not an Velarune preset: Verse.vlrpreset");
        EXPECT_TRUE(record.name.empty() && record.state.empty() && record.path.empty());
    }
    std::string error;
    PresetRecord record;
    EXPECT_FALSE(read(dir / "Missing.vlrpreset", record, error));
    EXPECT_EQ(error, "not an Velarune preset: Missing.vlrpreset");
    EXPECT_FALSE(read(dir.path(), record, error)) << "a folder is not a preset";
    ASSERT_EQ(mkfifo((dir / "Pipe.vlrpreset").c_str(), 0600), 0);
    EXPECT_FALSE(read(dir / "Pipe.vlrpreset", record, error)) << "a pipe is refused, not waited on";
    EXPECT_EQ(error, "not an Velarune preset: Pipe.vlrpreset");
}

TEST(PresetFile, RejectsAStateThatIsMissingEmptyOrNotStrictBase64)
{
    TempFolder dir;
    const std::vector<std::string> bad = {"", "name=x\n", "state=\n", "state=AQIDB\n", "state=AQ==AQ==\n",
        "state= AQIDBA==\n", "state=AQIDBA==\nstate=AQI\n", "State=AQIDBA==\n"};
    for (const auto& body : bad) {
        writeText(dir / "Verse.vlrpreset", "Velarune preset 1\n" + body);
        PresetRecord record;
        std::string error;
        EXPECT_FALSE(read(dir / "Verse.vlrpreset", record, error)) << body;
        EXPECT_EQ(error, "the preset has no readable state: Verse.vlrpreset");
    }
}

TEST(PresetFile, RefusesAFileTooLargeToBeAPreset)
{
    TempFolder dir;
    writeText(dir / "huge.vlrpreset", "Velarune preset 1\nstate=AQIDBA==\n");
    fs::resize_file(dir / "huge.vlrpreset", kMaxPresetFileBytes + 1);
    PresetRecord record;
    std::string error;
    EXPECT_FALSE(read(dir / "huge.vlrpreset", record, error));
    EXPECT_EQ(error, "not an Velarune preset: huge.vlrpreset");
}

// ---- File names ----------------------------------------------------------------------------------

TEST(PresetFileName, ReplacesCharactersNoFileSystemTakes)
{
    EXPECT_EQ(presetFileName("a/b\\c\"d*e:f<g>h?i|j\tk\x01l\x7fm"), "a-b-c-d-e-f-g-h-i-j-k-l\x7fm.vlrpreset");
    EXPECT_EQ(presetFileName("Caf\xc3\xa9 \xe2\x99\xab"), "Caf\xc3\xa9 \xe2\x99\xab.vlrpreset");
}

TEST(PresetFileName, StripsSpacesAndDotsAtBothEnds)
{
    EXPECT_EQ(presetFileName("  .Lead vox. "), "Lead vox.vlrpreset");
    EXPECT_EQ(presetFileName("..."), "Preset.vlrpreset");
    EXPECT_EQ(presetFileName(""), "Preset.vlrpreset");
    EXPECT_EQ(presetFileName(" . . "), "Preset.vlrpreset");
    EXPECT_EQ(presetFileName("\t"), "-.vlrpreset") << "a tab is a control byte, replaced before stripping";
}

TEST(PresetFileName, AppendsADashToReservedDeviceNames)
{
    const std::vector<std::pair<std::string, std::string>> reserved
        = {{"CON", "CON-"}, {"con", "con-"}, {"Prn", "Prn-"}, {"AUX", "AUX-"}, {"nul", "nul-"},
            {"COM1", "COM1-"}, {"com9", "com9-"}, {"LPT1", "LPT1-"}, {"lpt5", "lpt5-"}, {"NUL ", "NUL-"}};
    for (const auto& [name, file] : reserved)
        EXPECT_EQ(presetFileName(name), file + ".vlrpreset") << name;
    EXPECT_EQ(presetFileName("con.txt"), "con.txt-.vlrpreset");
    EXPECT_EQ(presetFileName("AUX.."), "AUX-.vlrpreset");
    for (const char* fine : {"COM0", "COM10", "LPT", "CONSOLE", "NULL", "AUXI", "xCON", "COM\xc2\xb9"})
        EXPECT_EQ(presetFileName(fine), std::string(fine) + ".vlrpreset") << fine;
}

TEST(PresetFileName, CutsAt80BytesWithoutSplittingACharacter)
{
    const std::string a79(79, 'a');
    EXPECT_EQ(presetFileName(std::string(100, 'x')), std::string(80, 'x') + ".vlrpreset");
    // A 2-byte character on bytes 79-80 would be split: it goes whole.
    EXPECT_EQ(presetFileName(a79 + "\xc3\xa9" + "zz"), a79 + ".vlrpreset");
    // One ending exactly at byte 80 stays.
    EXPECT_EQ(presetFileName(std::string(78, 'a') + "\xc3\xa9" + "zz"),
        std::string(78, 'a') + "\xc3\xa9.vlrpreset");
    // A 4-byte character starting 3 bytes before the cut, a 3-byte one starting 2 bytes before it.
    EXPECT_EQ(
        presetFileName(std::string(77, 'a') + "\xf0\x9f\x8e\xa4" + "z"), std::string(77, 'a') + ".vlrpreset");
    EXPECT_EQ(
        presetFileName(std::string(78, 'a') + "\xe2\x99\xab" + "z"), std::string(78, 'a') + ".vlrpreset");
    // Spaces and dots left at the cut are stripped afterwards.
    EXPECT_EQ(presetFileName("Lead" + std::string(76, ' ') + "tail"), "Lead.vlrpreset");
    // Stray continuation bytes are not characters: a plain cut.
    EXPECT_EQ(presetFileName(std::string(100, '\x80')), std::string(80, '\x80') + ".vlrpreset");
}

// ---- Paths and collisions ------------------------------------------------------------------------

TEST(PresetPath, GivesNamesThatSanitiseAlikeTheirOwnFiles)
{
    TempFolder dir;
    std::string error;
    ASSERT_TRUE(writePreset(dir.path(), "a/b", {1, 1, 1, 1}, error));
    ASSERT_TRUE(writePreset(dir.path(), "a-b", {2, 2, 2, 2}, error));
    ASSERT_TRUE(writePreset(dir.path(), "a:b", {3, 3, 3, 3}, error));
    EXPECT_EQ(presetPathFor(dir.path(), "a/b"), dir / "a-b.vlrpreset");
    EXPECT_EQ(presetPathFor(dir.path(), "a-b"), dir / "a-b-1.vlrpreset");
    EXPECT_EQ(presetPathFor(dir.path(), "a:b"), dir / "a-b-2.vlrpreset");
    EXPECT_EQ(presetPathFor(dir.path(), "a|b"), dir / "a-b-3.vlrpreset") << "the first free candidate";
    // Saving again replaces each one's own file.
    ASSERT_TRUE(writePreset(dir.path(), "a-b", {4, 4, 4, 4}, error));
    PresetRecord record;
    ASSERT_TRUE(readPreset(dir / "a-b-1.vlrpreset", record, error));
    EXPECT_EQ(record.state, (std::vector<uint8_t> {4, 4, 4, 4}));
    ASSERT_TRUE(readPreset(dir / "a-b.vlrpreset", record, error));
    EXPECT_EQ(record.name, "a/b");
}

TEST(PresetPath, StepsOverForeignFilesWithoutTouchingThem)
{
    TempFolder dir;
    writeText(dir / "Verse.vlrpreset", "my notes, not a preset");
    fs::create_directory(dir / "Verse-1.vlrpreset");
    std::string error;
    ASSERT_TRUE(writePreset(dir.path(), "Verse", kState, error)) << error;
    EXPECT_EQ(readText(dir / "Verse.vlrpreset"), "my notes, not a preset");
    EXPECT_TRUE(fs::is_directory(dir / "Verse-1.vlrpreset"));
    EXPECT_TRUE(fs::exists(dir / "Verse-2.vlrpreset"));
}

TEST(PresetPath, FindsTheFirstOfTwoFilesHoldingTheSameName)
{
    TempFolder dir;
    const std::string text = formatPreset("Twin", kState);
    writeText(dir / "Twin-2.vlrpreset", text);
    writeText(dir / "Twin.vlrpreset", formatPreset("Other", kState));
    writeText(dir / "Twin-1.vlrpreset", text);
    EXPECT_EQ(presetPathFor(dir.path(), "Twin"), dir / "Twin-1.vlrpreset");
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string> {"Other", "Twin", "Twin"}));
}

TEST(PresetPath, RefusesToWriteWhenAll1000FileNamesHoldOtherPresets)
{
    TempFolder dir;
    const std::string other = formatPreset("Someone else", kState);
    writeText(dir / "Full.vlrpreset", other);
    for (int n = 1; n <= 999; ++n)
        writeText(dir / ("Full-" + std::to_string(n) + ".vlrpreset"), other);
    EXPECT_TRUE(presetPathFor(dir.path(), "Full").empty());
    std::string error;
    EXPECT_FALSE(writePreset(dir.path(), "Full", kState, error));
    EXPECT_EQ(error.rfind("could not write " + (dir / "Full.vlrpreset").string(), 0), 0u) << error;
    EXPECT_FALSE(fs::exists(dir / "Full-1000.vlrpreset"));
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        ++files;
        EXPECT_EQ(readText(entry.path()), other) << entry.path();
    }
    EXPECT_EQ(files, 1000u);
    // A free name then goes through again.
    fs::remove(dir / "Full-500.vlrpreset");
    EXPECT_EQ(presetPathFor(dir.path(), "Full"), dir / "Full-500.vlrpreset");
}

// ---- Listing -------------------------------------------------------------------------------------

TEST(PresetList, SortsNamesByteWiseUppercaseFirstShorterPrefixFirst)
{
    TempFolder dir;
    std::string error;
    for (const char* name : {"beta", "alpha", "Alpha", "\xc3\x89t\xc3\xa9", "zulu", "alp", "Beta 2"})
        ASSERT_TRUE(writePreset(dir.path(), name, kState, error)) << name;
    EXPECT_EQ(namesIn(dir.path()),
        (std::vector<std::string> {"Alpha", "Beta 2", "alp", "alpha", "beta", "zulu", "\xc3\x89t\xc3\xa9"}));
}

TEST(PresetList, SkipsUnreadableFilesPartialLeftoversFoldersAndOtherExtensions)
{
    TempFolder dir;
    std::string error;
    ASSERT_TRUE(writePreset(dir.path(), "Good", kState, error));
    writeText(dir / "Broken.vlrpreset", "Velarune preset 1\nstate=AQ=D\n");
    writeText(dir / "Foreign.vlrpreset", "\x89PNG\r\n");
    writeText(dir / "Half.vlrpreset.partial", formatPreset("Half", kState));
    writeText(dir / "Upper.VLRPRESET", formatPreset("Upper", kState));
    writeText(dir / "NoExt", formatPreset("NoExt", kState));
    fs::create_directories(dir / "Nested.vlrpreset");
    fs::create_directories(dir / "sub");
    writeText(dir / "sub/Deep.vlrpreset", formatPreset("Deep", kState));
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string> {"Good"});
}

TEST(PresetList, IsEmptyForAMissingOrUnknownFolder)
{
    TempFolder dir;
    EXPECT_TRUE(listPresets(dir / "nowhere").empty());
    EXPECT_TRUE(listPresets({}).empty());
    writeText(dir / "file", "x");
    EXPECT_TRUE(listPresets(dir / "file").empty());
}

TEST(PresetList, SavingCreatesAMissingFolderButNotAnUnknownOne)
{
    TempFolder dir;
    std::string error;
    ASSERT_TRUE(writePreset(dir / "Velarune/presets", "First", kState, error)) << error;
    EXPECT_EQ(namesIn(dir / "Velarune/presets"), std::vector<std::string> {"First"});
    EXPECT_FALSE(writePreset({}, "First", kState, error));
    EXPECT_EQ(error, "could not write First.vlrpreset: the presets folder is unknown");
}
