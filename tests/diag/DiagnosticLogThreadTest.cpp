// The whole log across threads: the audio thread records blocks while the idle thread drains them
// into files. Under ThreadSanitizer the hand-over must be race-free; every row is either written
// (in order, each once) or counted as dropped.
#include "diag/DiagnosticLog.h"

#include "DiagTestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace brindlecot;

TEST(DiagnosticLogThreads, AudioThreadRecordsWhileTheIdleThreadDrainsEveryRowOnceInOrderOrCounted)
{
    test::ScratchFolder scratch;
    auto log = std::make_unique<DiagnosticLog>();
    log->setEnabled(true);
    constexpr uint64_t kBlocks = 20000;
    std::atomic<bool> done {false};

    std::thread audio([&] {
        FrameSnapshot s;
        s.sampleRate = 10.0; // one status row per block of one sample
        s.frameCount = 1;
        s.processed = true;
        for (uint64_t i = 0; i < kBlocks; ++i) {
            s.activeNotchCount = static_cast<int32_t>((i / 7) % 3);
            s.deepestNotchFrequencyHz = 1000.0f;
            log->recordBlock(s);
            if (i % 64 == 0)
                std::this_thread::yield();
        }
        done.store(true);
    });
    std::thread idle([&] {
        while (!done.load()) {
            log->drain(scratch.path());
            std::this_thread::yield();
        }
        log->drain(scratch.path());
    });
    audio.join();
    idle.join();

    // Every block gives a status row; the notch changes add event rows of the same block.
    uint64_t statusRows = 0;
    uint64_t lastBlock = 0;
    uint64_t lastDropped = 0;
    for (const auto& file : test::filesIn(scratch.path())) {
        const auto lines = test::crlfLines(test::readBytes(file));
        for (size_t i = 1; i < lines.size(); ++i) {
            const auto c = test::splitCsv(lines[i]);
            ASSERT_EQ(c.size(), 33u) << lines[i];
            const uint64_t block = std::stoull(c[0]);
            const uint64_t dropped = std::stoull(c[32]);
            ASSERT_GE(block, lastBlock); // oldest first
            ASSERT_GE(dropped, lastDropped); // the count only grows
            lastBlock = block;
            lastDropped = dropped;
            statusRows += c[3] == "status";
        }
    }
    EXPECT_GT(lastBlock, 0u);
    EXPECT_EQ(log->pending(), 0u);
    EXPECT_EQ(log->writer().rowsLost(), 0u);
    // Rows written plus rows dropped account for every row built.
    uint64_t eventRows = 0;
    for (uint64_t i = 1; i < kBlocks; ++i)
        eventRows += ((i / 7) % 3) != (((i - 1) / 7) % 3);
    EXPECT_EQ(log->writer().rowsWritten() + log->dropped(), kBlocks + eventRows);
    EXPECT_LE(statusRows, kBlocks);
}
