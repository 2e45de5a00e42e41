#include "updates/AtomicFile.h"
#include "UpdateTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace brindlecot::updates;
using brindlecot::updates::testing::readFile;
using brindlecot::updates::testing::TempFolder;
using brindlecot::updates::testing::temporaryFiles;
using brindlecot::updates::testing::writeFile;

TEST(AtomicFile, CreatesMissingFoldersReplacesTheFileAndLeavesNoTemporaryBehind)
{
    TempFolder temp;
    const auto path = temp.path() / "a" / "b" / "file.txt";
    ASSERT_TRUE(writeFileAtomically(path, "first"));
    EXPECT_EQ(readFile(path), "first");
    ASSERT_TRUE(writeFileAtomically(path, std::string("sec\0ond", 7)));
    EXPECT_EQ(readFile(path), std::string("sec\0ond", 7));
    EXPECT_TRUE(temporaryFiles(path.parent_path()).empty());
}

TEST(AtomicFile, NamesItsTemporaryFileAfterTheTargetInTheSameFolder)
{
    EXPECT_EQ(temporarySibling("/x/y/updates.json", 4294967295u), "/x/y/updates.json.tmp-4294967295");
    EXPECT_EQ(temporarySibling("updates-off", 7u), "updates-off.tmp-7");
}

TEST(AtomicFile, FailsWithoutLeavingFilesWhenTheFolderCannotBeMadeOrTheTargetIsAFolder)
{
    TempFolder temp;
    writeFile(temp.path() / "plain", "x");
    EXPECT_FALSE(writeFileAtomically(temp.path() / "plain" / "inside" / "file", "bytes"));

    // Renaming a file onto a non-empty folder fails: the temporary must be cleaned up.
    const auto target = temp.path() / "target";
    writeFile(target / "occupant", "x");
    EXPECT_FALSE(writeFileAtomically(target, "bytes"));
    EXPECT_TRUE(temporaryFiles(temp.path()).empty());
    EXPECT_EQ(readFile(target / "occupant"), "x");
}

TEST(AtomicFile, AReaderOnAnotherThreadSeesOnlyWholeOldOrNewContents)
{
    TempFolder temp;
    const auto path = temp.path() / "updates.json";
    // Large enough that a non-atomic writer would be caught half way many times.
    const std::string a(300000, 'a');
    const std::string b(200000, 'b');
    ASSERT_TRUE(writeFileAtomically(path, a));
    std::atomic<bool> done {false};
    std::atomic<int> torn {0};
    std::atomic<int> reads {0};
    std::thread reader([&] {
        while (!done.load()) {
            const std::string seen = readFile(path);
            if (seen != a && seen != b)
                torn.fetch_add(1);
            reads.fetch_add(1);
        }
    });
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(writeFileAtomically(path, (i % 2) ? a : b));
    done.store(true);
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_TRUE(temporaryFiles(temp.path()).empty());
}
