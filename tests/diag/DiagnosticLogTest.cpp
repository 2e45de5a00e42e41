// The producer rules of the diagnostic log, fed with hand-made snapshots and read back from the
// files its drain writes.
#include "diag/DiagnosticLog.h"

#include "DiagTestFiles.h"
#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace brindlecot;

namespace {

struct Row
{
    uint64_t block;
    std::string event;
    double frequencyHz;
    int notchCount;
    uint64_t dropped;
    double playheadSeconds;
};

class LogHarness
{
public:
    LogHarness(double sampleRate = 48000.0, int blockSize = 512)
        : log(std::make_unique<DiagnosticLog>())
    {
        s.sampleRate = sampleRate;
        s.frameCount = blockSize;
        s.processed = true;
        s.resetCount = 1;
        log->setEnabled(true);
    }

    /// One block with `notches` sounding notches, the deepest at `hz`.
    void block(int notches = 0, float hz = 0.0f)
    {
        s.activeNotchCount = notches;
        s.deepestNotchFrequencyHz = hz;
        log->recordBlock(s);
        s.playheadSeconds += s.frameCount / s.sampleRate;
    }

    /// Drains everything and returns all rows written so far.
    std::vector<Row> rows()
    {
        log->drain(folder.path());
        std::vector<Row> out;
        for (const auto& file : test::filesIn(folder.path())) {
            const auto lines = test::crlfLines(test::readBytes(file));
            for (size_t i = 1; i < lines.size(); ++i) {
                const auto c = test::splitCsv(lines[i]);
                out.push_back({std::stoull(c[0]), c[3], std::stod(c[4]), std::stoi(c[8]), std::stoull(c[32]),
                    std::stod(c[2])});
            }
        }
        return out;
    }

    std::vector<std::string> events(const std::vector<Row>& rows, bool withStatus = false)
    {
        std::vector<std::string> e;
        for (const auto& r : rows)
            if (withStatus || r.event != "status")
                e.push_back(r.event + "@" + std::to_string(r.block));
        return e;
    }

    test::ScratchFolder folder;
    std::unique_ptr<DiagnosticLog> log;
    FrameSnapshot s;
};

} // namespace

TEST(DiagnosticLogProducer, WithoutFeedbackWritesAStatusRowEveryTenBlocksAt48kHzIn512SampleBlocks)
{
    LogHarness h;
    for (int i = 0; i < 35; ++i)
        h.block();
    const auto rows = h.rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(h.events(rows, true), (std::vector<std::string> {"status@10", "status@20", "status@30"}));
    // The playhead of the 10th block's snapshot: 9 blocks of 512 samples.
    EXPECT_NEAR(rows[0].playheadSeconds, 9 * 512 / 48000.0, 1e-4);
}

TEST(DiagnosticLogProducer, StatusCountStartsAgainFromZeroSoTheRemainderIsNotCarried)
{
    // 4410 samples at 44.1 kHz: reached on the 9th 512-sample block (4608), then 9 more blocks.
    LogHarness h(44100.0, 512);
    for (int i = 0; i < 27; ++i)
        h.block();
    EXPECT_EQ(h.events(h.rows(), true), (std::vector<std::string> {"status@9", "status@18", "status@27"}));
}

TEST(DiagnosticLogProducer, TwoNotchesEngagingGiveTwoEngagedRowsAndFallingToZeroGivesOneReleased)
{
    LogHarness h;
    h.block(0);
    h.block(1, 3150.0f);
    h.block(1, 3150.0f);
    h.block(2, 3150.0f);
    h.block(2, 3150.0f);
    h.block(0, 0.0f);
    const auto rows = h.rows();
    EXPECT_EQ(h.events(rows), (std::vector<std::string> {"engaged@2", "engaged@4", "released@6"}));
    EXPECT_DOUBLE_EQ(rows[0].frequencyHz, 3150.0);
    EXPECT_EQ(rows[1].notchCount, 2);
    EXPECT_EQ(rows[2].notchCount, 0);
}

TEST(DiagnosticLogProducer, RetunesOnlyWhenTheDeepestNotchMovesMoreThanTwoHundredthsOfAnOctave)
{
    LogHarness h;
    h.block(1, 1000.0f); // engaged
    h.block(1, 1010.0f); // 0.014 octave: nothing
    h.block(1, 1015.0f); // 0.021 octave from 1000 (the last logged frequency): retuned
    h.block(1, 1000.0f); // 0.021 octave down: retuned
    h.block(1, 1013.0f); // 0.0186: nothing
    h.block(1, 0.0f); // no deepest frequency: nothing
    h.block(1, 1030.0f); // 0.0426 from 1000: retuned
    const auto rows = h.rows();
    EXPECT_EQ(
        h.events(rows), (std::vector<std::string> {"engaged@1", "retuned@3", "retuned@4", "retuned@7"}));
    EXPECT_DOUBLE_EQ(rows[1].frequencyHz, 1015.0);
}

TEST(DiagnosticLogProducer, ABlockCanGiveAnEventAndAStatusRowWithTheSameValues)
{
    LogHarness h;
    for (int i = 0; i < 9; ++i)
        h.block();
    h.block(1, 500.0f);
    const auto rows = h.rows();
    EXPECT_EQ(h.events(rows, true), (std::vector<std::string> {"engaged@10", "status@10"}));
    EXPECT_DOUBLE_EQ(rows[1].frequencyHz, 500.0);
}

TEST(DiagnosticLogProducer, WritesNothingWhileOffAndKeepsQueuedRowsUntilItIsOnAgain)
{
    LogHarness h;
    h.log->setEnabled(false);
    for (int i = 0; i < 30; ++i)
        h.block(i < 15 ? 0 : 1, 700.0f);
    EXPECT_EQ(h.log->pending(), 0u);
    EXPECT_TRUE(h.rows().empty());
    EXPECT_TRUE(test::filesIn(h.folder.path()).empty());

    h.log->setEnabled(true);
    for (int i = 0; i < 10; ++i)
        h.block(1, 700.0f);
    h.log->setEnabled(false);
    EXPECT_EQ(h.log->pending(), 2u);
    h.log->drain(h.folder.path()); // off: the rows stay queued
    EXPECT_EQ(h.log->pending(), 2u);
    h.log->setEnabled(true);
    // Blocks are numbered from the first logged one; the notch count seen while off was not tracked.
    EXPECT_EQ(h.events(h.rows(), true), (std::vector<std::string> {"engaged@1", "status@10"}));
}

TEST(DiagnosticLogProducer, IgnoresBypassCopyBlocksAndAnUnpreparedSampleRate)
{
    LogHarness h;
    h.s.processed = false;
    for (int i = 0; i < 20; ++i)
        h.block(1, 800.0f);
    h.s.processed = true;
    h.s.sampleRate = 0.0;
    for (int i = 0; i < 20; ++i)
        h.block(1, 800.0f);
    EXPECT_TRUE(h.rows().empty());
}

TEST(DiagnosticLogProducer, AResetStartsTheChangeTrackingAndTheStatusCountAfresh)
{
    LogHarness h;
    for (int i = 0; i < 5; ++i)
        h.block(2, 900.0f); // engaged@1
    h.s.resetCount += 1;
    for (int i = 0; i < 10; ++i)
        h.block(2, 900.0f); // engaged@6 again (count tracking cleared), status@15 (count restarted)
    h.s.fullStateResets += 1; // bypass entry: notch tracking cleared, status count kept
    for (int i = 0; i < 10; ++i)
        h.block(1, 900.0f); // engaged@16, status@25
    EXPECT_EQ(h.events(h.rows(), true),
        (std::vector<std::string> {"engaged@1", "engaged@6", "status@15", "engaged@16", "status@25"}));
}

TEST(DiagnosticLogProducer, RowsDroppedWhileTheDrainStalledShowInTheNextWrittenRow)
{
    // A status row every block (10 Hz: 1 sample per status period).
    LogHarness h(10.0, 1);
    for (int i = 0; i < 600; ++i)
        h.block();
    EXPECT_EQ(h.log->dropped(), 89u);
    const auto before = h.rows();
    ASSERT_EQ(before.size(), 511u);
    EXPECT_EQ(before.back().block, 511u);
    EXPECT_EQ(before.back().dropped, 0u);
    h.block();
    const auto after = h.rows();
    ASSERT_EQ(after.size(), 512u);
    EXPECT_EQ(after.back().block, 601u);
    EXPECT_EQ(after.back().dropped, 89u);
}

TEST(DiagnosticLogProducer, RecordingBlocksAllocatesNothing)
{
    LogHarness h;
    h.block(); // first touch of everything outside the measured scope
    uint64_t allocations = 0;
    {
        const test::AllocationScope scope;
        for (int i = 0; i < 20000; ++i)
            h.block((i / 50) % 3, 1000.0f + static_cast<float>(i % 200)); // engage, retune, release, status
        allocations = scope.allocations();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(h.log->pending(), 511u);
    EXPECT_GT(h.log->dropped(), 0u);
}

TEST(DiagnosticLog, EachLogTakesTheNextProcessWideInstanceNumber)
{
    const auto a = std::make_unique<DiagnosticLog>();
    const auto b = std::make_unique<DiagnosticLog>();
    const auto c = std::make_unique<DiagnosticLog>();
    EXPECT_EQ(b->instanceNumber(), a->instanceNumber() + 1);
    EXPECT_EQ(c->instanceNumber(), b->instanceNumber() + 1);
}
