#include "store/AtomicFile.h"

#include "store/PresetFile.h"
#include "store/TempFolder.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

using namespace brindlecot;
using brindlecot::testing::readText;
using brindlecot::testing::TempFolder;
using brindlecot::testing::writeText;
namespace fs = std::filesystem;

namespace {
const std::vector<uint8_t> kOldState = {0x31, 0x53, 0x57, 0x50, 5, 0, 0, 0, 1};

// A state large enough that writing it takes many milliseconds.
std::vector<uint8_t> largeState(size_t bytes)
{
    std::vector<uint8_t> state(bytes);
    for (size_t i = 0; i < bytes; ++i)
        state[i] = static_cast<uint8_t>(i * 7 + (i >> 11));
    return state;
}

// Runs writePreset in a forked child limited to `limitBytes` per file; returns the wait status.
// With SIGXFSZ ignored the write fails with EFBIG like on a full disk; otherwise the signal kills
// the child in the middle of its write.
int writeInLimitedChild(const fs::path& folder, const std::vector<uint8_t>& state, rlim_t limitBytes,
    bool ignoreSignal, std::string& childError)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        signal(SIGXFSZ, ignoreSignal ? SIG_IGN : SIG_DFL);
        const rlimit limit {limitBytes, limitBytes};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string error;
        const bool ok = writePreset(folder, "Big", state, error);
        const ssize_t unused = write(fds[1], error.data(), error.size());
        (void)unused;
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    char buffer[4096];
    ssize_t n = 0;
    childError.clear();
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        childError.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

void expectOldPresetIntact(const fs::path& folder, const std::string& oldText)
{
    EXPECT_EQ(readText(folder / "Big.vlrpreset"), oldText);
    const auto records = listPresets(folder);
    ASSERT_EQ(records.size(), 1u) << "a leftover .partial file is never listed";
    EXPECT_EQ(records[0].state, kOldState);
}
} // namespace

TEST(AtomicFile, ReplacesTheContentAndLeavesNoSibling)
{
    TempFolder dir;
    std::string error;
    const auto path = dir / "deep/er/file.txt";
    ASSERT_TRUE(writeFileAtomically(path, "first", error)) << error;
    ASSERT_TRUE(writeFileAtomically(path, "second, longer", error)) << error;
    EXPECT_EQ(readText(path), "second, longer");
    ASSERT_TRUE(writeFileAtomically(path, "", error)) << error;
    EXPECT_EQ(readText(path), "");
    EXPECT_FALSE(fs::exists(partialPathFor(path)));
    EXPECT_EQ(partialPathFor(path), dir / "deep/er/file.txt.partial");
}

TEST(AtomicFile, ReplacesAStaleSiblingLeftByAnEarlierCrash)
{
    TempFolder dir;
    writeText(dir / "p.vlrpreset.partial", std::string(100000, 'x'));
    std::string error;
    ASSERT_TRUE(writeFileAtomically(dir / "p.vlrpreset", "new", error)) << error;
    EXPECT_EQ(readText(dir / "p.vlrpreset"), "new");
    EXPECT_FALSE(fs::exists(dir / "p.vlrpreset.partial"));
}

TEST(AtomicFile, ReportsTheFullPathWhenTheFileCannotBeReplaced)
{
    TempFolder dir;
    fs::create_directories(dir / "taken/inner");
    std::string error;
    EXPECT_FALSE(writeFileAtomically(dir / "taken", "data", error));
    EXPECT_EQ(error, "could not write " + (dir / "taken").string());
    EXPECT_TRUE(fs::is_directory(dir / "taken/inner"));
    EXPECT_FALSE(fs::exists(dir / "taken.partial")) << "the sibling is removed after a failed rename";

    writeText(dir / "plain", "a file, not a folder");
    EXPECT_FALSE(writeFileAtomically(dir / "plain/child.txt", "data", error));
    EXPECT_EQ(error, "could not write " + (dir / "plain/child.txt").string());
    EXPECT_FALSE(writeFileAtomically({}, "data", error));
    EXPECT_EQ(error, "could not write ");
}

TEST(AtomicFile, KeepsTheOldPresetWhenTheWriterIsKilledMidWrite)
{
    TempFolder dir;
    std::string error;
    ASSERT_TRUE(writePreset(dir.path(), "Big", kOldState, error)) << error;
    const std::string oldText = readText(dir / "Big.vlrpreset");
    const auto state = largeState(24u << 20);
    const auto partial = partialPathFor(dir / "Big.vlrpreset");

    // The parent kills the child (SIGKILL) as soon as its sibling file has begun to grow. Should
    // the child win the race and finish, the new file must then be complete; try again.
    int killedBeforeRename = 0;
    for (int attempt = 0; attempt < 8 && killedBeforeRename == 0; ++attempt) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::string childError;
            _exit(writePreset(dir.path(), "Big", state, childError) ? 0 : 1);
        }
        int status = 0;
        bool exited = false;
        for (;;) {
            struct stat st
            {
            };
            if (stat(partial.c_str(), &st) == 0 && st.st_size > 0)
                break;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                exited = true;
                break;
            }
        }
        if (!exited) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        if (readText(dir / "Big.vlrpreset") == oldText) {
            ASSERT_TRUE(WIFSIGNALED(status)) << "a writer that was not killed must have replaced the file";
            ++killedBeforeRename;
            expectOldPresetIntact(dir.path(), oldText);
        } else {
            // Killed only after its rename, or finished: then the new file must be whole.
            PresetRecord record;
            ASSERT_TRUE(readPreset(dir / "Big.vlrpreset", record, error)) << "either the old or the new file";
            EXPECT_EQ(record.state, state);
            writeText(dir / "Big.vlrpreset", oldText);
        }
    }
    EXPECT_EQ(killedBeforeRename, 1);
}

TEST(AtomicFile, KeepsTheOldPresetWhenASignalKillsTheWriterInsideItsWrite)
{
    TempFolder dir;
    std::string error;
    ASSERT_TRUE(writePreset(dir.path(), "Big", kOldState, error)) << error;
    const std::string oldText = readText(dir / "Big.vlrpreset");
    // SIGXFSZ at its default action ends the child the moment its write crosses 1 MiB.
    const int status = writeInLimitedChild(dir.path(), largeState(4u << 20), 1u << 20, false, error);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
    EXPECT_EQ(fs::file_size(dir / "Big.vlrpreset.partial"), 1u << 20) << "a torn sibling is left behind";
    expectOldPresetIntact(dir.path(), oldText);
    // The next save replaces the torn sibling and goes through.
    ASSERT_TRUE(writePreset(dir.path(), "Big", {0x31, 0x53, 0x57, 0x50, 9}, error)) << error;
    EXPECT_FALSE(fs::exists(dir / "Big.vlrpreset.partial"));
}

TEST(AtomicFile, ReportsAFullDiskAndKeepsTheOldPreset)
{
    TempFolder dir;
    std::string error;
    ASSERT_TRUE(writePreset(dir.path(), "Big", kOldState, error)) << error;
    const std::string oldText = readText(dir / "Big.vlrpreset");
    // A file-size limit with SIGXFSZ ignored: write() fails with EFBIG, as it fails with ENOSPC.
    std::string childError;
    const int status = writeInLimitedChild(dir.path(), largeState(4u << 20), 1u << 20, true, childError);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << "the failure is reported, not taken for success";
    EXPECT_EQ(childError, "could not write " + (dir / "Big.vlrpreset").string());
    EXPECT_FALSE(fs::exists(dir / "Big.vlrpreset.partial"));
    expectOldPresetIntact(dir.path(), oldText);
}

// Several instances saving the same preset at once: every reader always sees one whole file, and
// the last rename leaves one writer's complete content.
TEST(AtomicFileThreads, ConcurrentWritersNeverLeaveATornFile)
{
    TempFolder dir;
    const auto path = dir / "Shared.vlrpreset";
    std::vector<std::string> contents;
    for (int t = 0; t < 4; ++t)
        contents.push_back(std::string(150000 + 1000 * t, static_cast<char>('A' + t)));
    std::string error;
    ASSERT_TRUE(writeFileAtomically(path, contents[0], error));

    std::atomic<bool> done {false};
    std::atomic<int> failures {0};
    std::atomic<int> tornReads {0};
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            std::string e;
            for (int i = 0; i < 15; ++i)
                if (!writeFileAtomically(path, contents[static_cast<size_t>(t)], e))
                    ++failures;
        });
    std::thread reader([&] {
        while (!done.load()) {
            const std::string seen = readText(path);
            if (std::find(contents.begin(), contents.end(), seen) == contents.end())
                ++tornReads;
        }
    });
    for (auto& w : writers)
        w.join();
    done = true;
    reader.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(tornReads.load(), 0);
    EXPECT_NE(std::find(contents.begin(), contents.end(), readText(path)), contents.end());
    EXPECT_FALSE(fs::exists(partialPathFor(path)));
}
