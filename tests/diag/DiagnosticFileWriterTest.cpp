// The file side of the diagnostic log: names, CR LF bytes, rotation, kept files, failures.
#include "diag/DiagnosticFileWriter.h"

#include "DiagTestFiles.h"
#include "diag/DiagnosticCsv.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using namespace brindlecot;
namespace fs = std::filesystem;

namespace {

// 2024-01-31 18:45:02 local time.
std::time_t fixedTime()
{
    std::tm t {};
    t.tm_year = 124;
    t.tm_mon = 0;
    t.tm_mday = 31;
    t.tm_hour = 18;
    t.tm_min = 45;
    t.tm_sec = 2;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

DiagnosticRecord rowNumber(uint64_t i)
{
    DiagnosticRecord r;
    r.block = i;
    r.event = static_cast<uint8_t>(DiagnosticEvent::status);
    r.playheadSeconds = 0.1 * static_cast<double>(i);
    return r;
}

std::string nameOf(const fs::path& p)
{
    return p.filename().string();
}

} // namespace

TEST(DiagnosticFileWriter, NamesFilesByLocalTimeInstanceAndAThreeDigitCounter)
{
    std::tm t {};
    t.tm_year = 124;
    t.tm_mon = 0;
    t.tm_mday = 31;
    t.tm_hour = 18;
    t.tm_min = 45;
    t.tm_sec = 2;
    EXPECT_EQ(DiagnosticFileWriter::fileName(t, 0, 0), "pellwick-20240131-184502-i0-000.csv");
    EXPECT_EQ(DiagnosticFileWriter::fileName(t, 17, 4), "pellwick-20240131-184502-i17-004.csv");
    EXPECT_EQ(DiagnosticFileWriter::fileName(t, 4294967295u, 1234),
        "pellwick-20240131-184502-i4294967295-1234.csv");
}

TEST(DiagnosticFileWriter, CreatesNoFileBeforeTheFirstRowThenTheFolderAHeaderAndCrLfRows)
{
    test::ScratchFolder scratch;
    const fs::path folder = scratch.path() / "data" / "logs";
    DiagnosticFileWriter w(3);
    w.setClock(fixedTime);
    EXPECT_FALSE(fs::exists(folder));
    ASSERT_TRUE(w.write(folder, rowNumber(1)));
    ASSERT_TRUE(w.write(folder, rowNumber(2)));

    const auto files = test::filesIn(folder);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(nameOf(files[0]), "pellwick-20240131-184502-i3-000.csv");
    const std::string bytes = test::readBytes(files[0]);
    EXPECT_EQ(bytes, diagnosticCsvHeader() + diagnosticCsvRow(rowNumber(1)) + diagnosticCsvRow(rowNumber(2)));
    const auto lines = test::crlfLines(bytes);
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& line : lines)
        EXPECT_EQ(line.find('\r'), std::string::npos) << line; // every line ends in CR LF, no stray CR
    EXPECT_EQ(lines[1].substr(0, 21), "1,0,0.1000,status,0.0");
    EXPECT_EQ(w.currentFileBytes(), bytes.size());
}

TEST(DiagnosticFileWriter, StartsANewFileAtTheFirstRowAfterTheLimitAndKeepsOnlyTheFourNewest)
{
    test::ScratchFolder scratch;
    DiagnosticFileWriter w(0);
    w.setClock(fixedTime);
    const uint64_t limit = 2000;
    w.setMaxFileBytes(limit);
    const size_t rowBytes = diagnosticCsvRow(rowNumber(100)).size();
    std::vector<uint64_t> sizesAtClose;
    uint64_t lastSize = 0;
    size_t files = 0;
    for (uint64_t i = 100; i < 200; ++i) {
        ASSERT_TRUE(w.write(scratch.path(), rowNumber(i)));
        if (w.filesCreated() != files) {
            if (files > 0)
                sizesAtClose.push_back(lastSize);
            files = w.filesCreated();
        }
        lastSize = w.currentFileBytes();
    }
    ASSERT_GE(sizesAtClose.size(), 5u);
    for (uint64_t size : sizesAtClose) {
        EXPECT_GE(size, limit); // a file is left only once it has reached the limit
        EXPECT_LT(size - rowBytes, limit); // ... at the first row after that
    }

    // Only the four newest remain, the fifth file's counter reads 004 and so on.
    const auto kept = test::filesIn(scratch.path());
    ASSERT_EQ(kept.size(), 4u);
    const uint64_t n = w.filesCreated();
    for (size_t k = 0; k < 4; ++k) {
        char counter[16];
        std::snprintf(counter, sizeof counter, "-i0-%03llu.csv", static_cast<unsigned long long>(n - 4 + k));
        EXPECT_EQ(nameOf(kept[k]), std::string("pellwick-20240131-184502") + counter);
        EXPECT_EQ(w.createdFiles()[k], kept[k]);
    }
    // Every kept file holds a header and whole rows, and the rows continue across files.
    uint64_t expectBlock = 0;
    for (const auto& f : kept) {
        const auto lines = test::crlfLines(test::readBytes(f));
        EXPECT_EQ(lines[0] + "\r\n", diagnosticCsvHeader());
        for (size_t i = 1; i < lines.size(); ++i) {
            const uint64_t block = std::stoull(test::splitCsv(lines[i])[0]);
            if (expectBlock != 0) {
                EXPECT_EQ(block, expectBlock);
            }
            expectBlock = block + 1;
        }
    }
    EXPECT_EQ(expectBlock, 200u);
}

TEST(DiagnosticFileWriter, AFifthFileDeletesTheFirstOnly)
{
    test::ScratchFolder scratch;
    DiagnosticFileWriter w(0);
    w.setClock(fixedTime);
    w.setMaxFileBytes(1); // every row after the first of a file starts a new file
    for (uint64_t i = 1; i <= 4; ++i)
        ASSERT_TRUE(w.write(scratch.path(), rowNumber(i)));
    ASSERT_EQ(test::filesIn(scratch.path()).size(), 4u);
    ASSERT_TRUE(fs::exists(scratch.path() / "pellwick-20240131-184502-i0-000.csv"));
    ASSERT_TRUE(w.write(scratch.path(), rowNumber(5)));
    const auto kept = test::filesIn(scratch.path());
    ASSERT_EQ(kept.size(), 4u);
    EXPECT_FALSE(fs::exists(scratch.path() / "pellwick-20240131-184502-i0-000.csv"));
    EXPECT_EQ(nameOf(kept.back()), "pellwick-20240131-184502-i0-004.csv");
}

TEST(DiagnosticFileWriter, LeavesFilesOfOtherInstancesAndEarlierRunsUntouched)
{
    test::ScratchFolder scratch;
    // Another instance's file, an earlier run of this instance number, and a file with the very
    // name this writer is about to use (an earlier process in the same second).
    const fs::path other = scratch.path() / "pellwick-20240131-184502-i1-000.csv";
    const fs::path earlier = scratch.path() / "pellwick-20230101-000000-i0-000.csv";
    const fs::path sameName = scratch.path() / "pellwick-20240131-184502-i0-000.csv";
    for (const auto& p : {other, earlier, sameName})
        std::ofstream(p, std::ios::binary) << "someone else's rows\r\n";

    DiagnosticFileWriter w(0);
    w.setClock(fixedTime);
    w.setMaxFileBytes(1);
    for (uint64_t i = 1; i <= 12; ++i)
        ASSERT_TRUE(w.write(scratch.path(), rowNumber(i)));

    for (const auto& p : {other, earlier, sameName})
        EXPECT_EQ(test::readBytes(p), "someone else's rows\r\n") << p;
    EXPECT_EQ(test::filesIn(scratch.path()).size(), 3u + 4u);
    EXPECT_EQ(w.filesCreated(), 12u);
    EXPECT_EQ(w.createdFiles().size(), 4u);
    // The colliding first name got a suffix rather than truncating the existing file.
    EXPECT_EQ(w.rowsLost(), 0u);
}

TEST(DiagnosticFileWriter, TakesASuffixWhenTheNameIsAlreadyOnDisk)
{
    test::ScratchFolder scratch;
    std::ofstream(scratch.path() / "pellwick-20240131-184502-i0-000.csv") << "x";
    DiagnosticFileWriter w(0);
    w.setClock(fixedTime);
    ASSERT_TRUE(w.write(scratch.path(), rowNumber(1)));
    EXPECT_EQ(nameOf(w.currentPath()), "pellwick-20240131-184502-i0-000-2.csv");
    EXPECT_EQ(w.filesCreated(), 1u);
}

TEST(DiagnosticFileWriter, AFailedOpenLosesThatRowAndTheNextRowTriesAgain)
{
    test::ScratchFolder scratch;
    const fs::path folder = scratch.path() / "logs";
    std::ofstream(folder) << "a file where the folder should be";
    DiagnosticFileWriter w(0);
    w.setClock(fixedTime);
    EXPECT_FALSE(w.write(folder, rowNumber(1)));
    EXPECT_FALSE(w.write(folder, rowNumber(2)));
    EXPECT_FALSE(w.fileOpen());
    EXPECT_EQ(w.filesCreated(), 0u);
    EXPECT_EQ(w.rowsLost(), 2u);

    fs::remove(folder);
    ASSERT_TRUE(w.write(folder, rowNumber(3)));
    const auto files = test::filesIn(folder);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(nameOf(files[0]), "pellwick-20240131-184502-i0-000.csv");
    const auto lines = test::crlfLines(test::readBytes(files[0]));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(test::splitCsv(lines[1])[0], "3");
}

TEST(DiagnosticFileWriter, AnUnknownFolderLosesTheRowsInsteadOfWritingToTheWorkingFolder)
{
    test::ScratchFolder scratch;
    const fs::path cwd = fs::current_path();
    fs::current_path(scratch.path());
    DiagnosticFileWriter w(0);
    EXPECT_FALSE(w.write(fs::path(), rowNumber(1)));
    fs::current_path(cwd);
    EXPECT_TRUE(test::filesIn(scratch.path()).empty());
    EXPECT_EQ(w.rowsLost(), 1u);
}

// A full disk (here: the file-size limit of the process) fails a write in the middle of a row. The
// row is lost, the file is cut back to its last whole row, and the next row goes to a new file.
TEST(DiagnosticFileWriter, AFailedWriteLosesThatRowAndTheNextRowGoesToANewFile)
{
    test::ScratchFolder scratch;
    DiagnosticFileWriter w(0);
    w.setClock(fixedTime);
    ASSERT_TRUE(w.write(scratch.path(), rowNumber(1)));
    const fs::path first = w.currentPath();
    const uint64_t good = w.currentFileBytes();

    rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = good + 100; // room for part of the next row only
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool lost = !w.write(scratch.path(), rowNumber(2));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_TRUE(lost);
    EXPECT_FALSE(w.fileOpen());
    EXPECT_EQ(test::readBytes(first), diagnosticCsvHeader() + diagnosticCsvRow(rowNumber(1)));
    ASSERT_TRUE(w.write(scratch.path(), rowNumber(3)));
    EXPECT_NE(w.currentPath(), first);
    EXPECT_EQ(nameOf(w.currentPath()), "pellwick-20240131-184502-i0-001.csv");
    EXPECT_EQ(test::readBytes(w.currentPath()), diagnosticCsvHeader() + diagnosticCsvRow(rowNumber(3)));
}
