#include "store/Preferences.h"

#include "store/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace brindlecot;
using brindlecot::testing::readText;
using brindlecot::testing::TempFolder;
using brindlecot::testing::writeText;

namespace {
bool loggingAfterReading(const std::string& text, bool before = false)
{
    TempFolder dir;
    writeText(dir / "preferences.ini", text);
    bool logging = before;
    loadPreferences(dir / "preferences.ini", logging);
    return logging;
}
} // namespace

TEST(Preferences, StartOffWithoutAFileAndTogglingOnWritesExactlyTwoCrLfLines)
{
    TempFolder dir;
    const auto path = dir / "Velarune/preferences.ini";
    bool logging = false;
    loadPreferences(path, logging);
    EXPECT_FALSE(logging);
    ASSERT_TRUE(savePreferences(true, path));
    EXPECT_EQ(readText(path),
        "# Velarune preferences. Belongs to this machine, not to any project.\r\nlogging=1\r\n");
    loadPreferences(path, logging);
    EXPECT_TRUE(logging);
    ASSERT_TRUE(savePreferences(false, path));
    EXPECT_EQ(readText(path),
        "# Velarune preferences. Belongs to this machine, not to any project.\r\nlogging=0\r\n");
    loadPreferences(path, logging);
    EXPECT_FALSE(logging);
}

TEST(Preferences, ReadValuesAsDecimalIntegers)
{
    EXPECT_FALSE(loggingAfterReading("logging=yes\n", true)) << "no digits read as 0";
    EXPECT_TRUE(loggingAfterReading("logging= 1\n"));
    EXPECT_TRUE(loggingAfterReading("logging=1 (on)\n"));
    EXPECT_TRUE(loggingAfterReading("logging=\t+7\n"));
    EXPECT_TRUE(loggingAfterReading("logging=-1\n"));
    EXPECT_TRUE(loggingAfterReading("logging=99999999999999999999999\n")) << "overflow is still not 0";
    EXPECT_FALSE(loggingAfterReading("logging=-0\n", true));
    EXPECT_FALSE(loggingAfterReading("logging=000\n", true));
    EXPECT_FALSE(loggingAfterReading("logging=0x1\n", true));
    EXPECT_FALSE(loggingAfterReading("logging=\n", true));
}

TEST(Preferences, MatchTheKeyExactlyAndLetTheLastLineWin)
{
    EXPECT_FALSE(loggingAfterReading("LOGGING=1\n"));
    EXPECT_FALSE(loggingAfterReading(" logging=1\n"));
    EXPECT_FALSE(loggingAfterReading("logging =1\n"));
    EXPECT_FALSE(loggingAfterReading("logging2=1\n"));
    EXPECT_TRUE(loggingAfterReading("logging=0\nlogging=1\n"));
    EXPECT_FALSE(loggingAfterReading("logging=1\nlogging=0\n"));
    EXPECT_TRUE(loggingAfterReading("logging=1=0\n")) << "the value is everything after the first =";
}

TEST(Preferences, AcceptWindowsLineEndsCommentsAndBlankLines)
{
    EXPECT_TRUE(loggingAfterReading("# comment\r\n\r\nlogging=1\r\n"));
    EXPECT_TRUE(loggingAfterReading("# comment\r\n\r\nlogging=1"));
    EXPECT_FALSE(loggingAfterReading("# only comments\n# logging=1\nlogging=0\n", true));
    EXPECT_TRUE(loggingAfterReading("no equals sign\n\n# c\n", true)) << "nothing applies: value kept";
}

TEST(Preferences, SwallowReadErrorsAndKeepThePreviousValue)
{
    TempFolder dir;
    bool logging = true;
    loadPreferences(dir / "missing.ini", logging);
    EXPECT_TRUE(logging);
    loadPreferences(dir.path(), logging); // a folder where the file should be
    EXPECT_TRUE(logging);
    writeText(dir / "binary.ini", std::string("\0\xff\xfe=\n\0logging=0", 15));
    loadPreferences(dir / "binary.ini", logging);
    EXPECT_TRUE(logging) << "a NUL byte before the key makes it another key";
}

TEST(Preferences, ReadAndWriteNothingWhenTheFolderIsUnknown)
{
    TempFolder dir;
    char cwd[4096] = {};
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    bool logging = true;
    loadPreferences({}, logging);
    EXPECT_TRUE(logging);
    EXPECT_FALSE(savePreferences(true, {}));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "nothing may appear in the working folder";
    ASSERT_EQ(chdir(cwd), 0);
}

TEST(Preferences, GiveUpWithoutWritingWhenTheFolderCannotBeCreated)
{
    TempFolder dir;
    writeText(dir / "Velarune", "a file where the folder should be");
    EXPECT_FALSE(savePreferences(true, dir / "Velarune/preferences.ini"));
    EXPECT_EQ(readText(dir / "Velarune"), "a file where the folder should be");
}
