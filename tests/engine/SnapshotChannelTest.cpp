#include "engine/SnapshotChannel.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>

using namespace brindlecot;

namespace {
struct Payload
{
    uint64_t sequence = 0;
    std::array<uint64_t, 30> copies {}; // every copy equals sequence in a whole value
};
} // namespace

TEST(SnapshotChannel, ReaderGetsTheNewestValueOnceAndNothingBeforeThefirstPublish)
{
    SnapshotChannel<Payload> channel;
    Payload out;
    out.sequence = 99;
    EXPECT_FALSE(channel.read(out));
    EXPECT_EQ(out.sequence, 99u);

    for (uint64_t k = 1; k <= 3; ++k) {
        channel.back().sequence = k;
        channel.publish();
    }
    ASSERT_TRUE(channel.read(out));
    EXPECT_EQ(out.sequence, 3u); // values published between two reads are skipped
    EXPECT_FALSE(channel.read(out)); // nothing new
    channel.back().sequence = 4;
    channel.publish();
    ASSERT_TRUE(channel.read(out));
    EXPECT_EQ(out.sequence, 4u);
}

TEST(SnapshotChannelThreads, EveryValueReadIsWholeAndNewerThanTheLast)
{
    SnapshotChannel<Payload> channel;
    constexpr uint64_t kValues = 200000;
    std::atomic<bool> done {false};
    std::thread producer([&] {
        for (uint64_t k = 1; k <= kValues; ++k) {
            Payload& p = channel.back();
            p.sequence = k;
            p.copies.fill(k);
            channel.publish();
        }
        done.store(true);
    });
    uint64_t last = 0;
    uint64_t reads = 0;
    Payload out;
    for (;;) {
        const bool finished = done.load();
        if (channel.read(out)) {
            ++reads;
            ASSERT_GT(out.sequence, last);
            for (uint64_t c : out.copies)
                ASSERT_EQ(c, out.sequence);
            last = out.sequence;
        }
        if (finished && !channel.read(out))
            break;
        if (finished) {
            ASSERT_EQ(out.sequence, kValues);
            last = out.sequence;
        }
    }
    producer.join();
    EXPECT_EQ(last, kValues); // the final value is never lost
    EXPECT_GT(reads, 0u);
}
