#include "diag/DiagnosticQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace brindlecot;

namespace {

// Every field derived from the sequence number, so a torn or stale copy shows up in any column.
DiagnosticRecord numbered(uint64_t i)
{
    DiagnosticRecord r;
    r.block = i;
    r.transport = (i & 1) != 0;
    r.playheadSeconds = static_cast<double>(i) * 0.5;
    r.event = static_cast<uint8_t>(i % 4);
    r.frequencyHz = static_cast<float>(i % 10000);
    r.notchCount = static_cast<int32_t>(i % 5);
    r.frames = static_cast<int32_t>(i % 977);
    r.isolated = (i % 3) == 0;
    for (size_t k = 0; k < 4; ++k) {
        r.notchHz[k] = static_cast<float>((i + k) % 20000);
        r.notchDb[k] = -static_cast<float>((i * 3 + k) % 64);
    }
    r.dropped = ~i;
    return r;
}

void expectNumbered(const DiagnosticRecord& r, uint64_t i)
{
    const DiagnosticRecord e = numbered(i);
    ASSERT_EQ(r.block, e.block);
    ASSERT_EQ(r.transport, e.transport);
    ASSERT_EQ(r.playheadSeconds, e.playheadSeconds);
    ASSERT_EQ(r.event, e.event);
    ASSERT_EQ(r.frequencyHz, e.frequencyHz);
    ASSERT_EQ(r.notchCount, e.notchCount);
    ASSERT_EQ(r.frames, e.frames);
    ASSERT_EQ(r.isolated, e.isolated);
    ASSERT_EQ(r.notchHz, e.notchHz);
    ASSERT_EQ(r.notchDb, e.notchDb);
    ASSERT_EQ(r.dropped, e.dropped);
}

} // namespace

TEST(DiagnosticQueue, Holds511RowsAndDropsAndCountsTheNext)
{
    auto q = std::make_unique<DiagnosticQueue>();
    for (uint64_t i = 0; i < 511; ++i)
        ASSERT_TRUE(q->push(numbered(i))) << i;
    EXPECT_EQ(q->size(), 511u);
    EXPECT_FALSE(q->push(numbered(511)));
    EXPECT_FALSE(q->push(numbered(512)));
    EXPECT_EQ(q->dropped(), 2u);

    // The dropped rows are gone; the queued ones come out oldest first.
    DiagnosticRecord r;
    ASSERT_TRUE(q->pop(r));
    expectNumbered(r, 0);
    ASSERT_TRUE(q->push(numbered(1000))); // one slot free again
    for (uint64_t i = 1; i < 511; ++i) {
        ASSERT_TRUE(q->pop(r));
        expectNumbered(r, i);
    }
    ASSERT_TRUE(q->pop(r));
    expectNumbered(r, 1000);
    EXPECT_FALSE(q->pop(r));
    EXPECT_EQ(q->size(), 0u);
    EXPECT_EQ(q->dropped(), 2u);
}

TEST(DiagnosticQueue, KeepsOrderAcrossManyWrapsOfTheRing)
{
    auto q = std::make_unique<DiagnosticQueue>();
    uint64_t next = 0;
    uint64_t expected = 0;
    DiagnosticRecord r;
    // Uneven bursts so the indices meet the end of the ring in every phase.
    for (int round = 0; round < 200; ++round) {
        for (int k = 0; k < 1 + round % 37; ++k)
            ASSERT_TRUE(q->push(numbered(next++)));
        while (q->size() > static_cast<uint64_t>(round % 7) && q->pop(r))
            expectNumbered(r, expected++);
    }
    while (q->pop(r))
        expectNumbered(r, expected++);
    EXPECT_EQ(expected, next);
    EXPECT_EQ(q->dropped(), 0u);
}

// A producer thread (the audio thread) and a consumer thread (the idle task) share the ring with
// no lock; under ThreadSanitizer every slot hand-over must be ordered, and every row must arrive
// whole, once and in order. The producer retries a dropped row so the sequence stays complete and
// the drop counter must match the retries.
TEST(DiagnosticQueueThreads, ProducerAndConsumerThreadsHandOverEveryRowWholeAndInOrder)
{
    auto q = std::make_unique<DiagnosticQueue>();
    constexpr uint64_t kRows = 60000;
    std::atomic<uint64_t> retries {0};
    std::thread producer([&] {
        uint64_t failed = 0;
        for (uint64_t i = 0; i < kRows; ++i) {
            const DiagnosticRecord r = numbered(i);
            while (!q->push(r)) {
                ++failed;
                std::this_thread::yield();
            }
        }
        retries.store(failed);
    });
    uint64_t expected = 0;
    std::thread consumer([&] {
        DiagnosticRecord r;
        while (expected < kRows) {
            if (q->pop(r)) {
                expectNumbered(r, expected);
                if (::testing::Test::HasFatalFailure())
                    return;
                ++expected;
            } else {
                std::this_thread::yield();
            }
        }
    });
    producer.join();
    consumer.join();
    EXPECT_EQ(expected, kRows);
    EXPECT_EQ(q->dropped(), retries.load());
    EXPECT_EQ(q->size(), 0u);
}
