#include "engine/ProcessingFrame.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

using namespace brindlecot;

// The audio thread publishes meter words and whole snapshots while the user-interface thread reads
// them and the editor menu flips the input mode. Every value read must be one the frame could have
// written (in range, snapshots internally consistent and in block order), and ThreadSanitizer must
// report no race.
TEST(ProcessingFrameThreads, ReadersSeeWholeInRangeValuesWhileTheInputModeChanges)
{
    test::FrameHarness h(48000.0);
    h.params[kFeedbackReduction] = 50.0;
    h.params[kRideStrength] = 6.0;
    h.params[kBleedReduction] = 60.0;
    h.reset();
    const std::vector<std::vector<double>> source {
        test::sine(3150.0, 0.5, 48000.0, 256), test::sine(440.0, 0.3, 48000.0, 256)};
    std::vector<std::vector<double>> io = source;
    h.processInPlace(io, 0, 256); // the lane mode is known from the first block on
    std::atomic<bool> done {false};
    int snapshotsRead = 0;
    std::thread ui([&] {
        int32_t mode = 0;
        uint64_t lastBlock = 0;
        FrameSnapshot s;
        while (!done.load()) {
            const auto& p = h.frame->published;
            const float bleed = p.bleedMeter.load(std::memory_order_relaxed);
            const float ride = p.rideMeter.load(std::memory_order_relaxed);
            const float level = p.inputLevelDb.load(std::memory_order_relaxed);
            const int32_t notches = p.activeNotchCount.load(std::memory_order_relaxed);
            const int32_t lanes = p.laneMode.load(std::memory_order_relaxed);
            ASSERT_TRUE(bleed >= 0.0f && bleed <= 1.0f) << bleed;
            ASSERT_TRUE(ride >= 0.0f && ride <= 1.0f) << ride;
            ASSERT_TRUE(level >= -96.0f && level <= 20.0f) << level;
            ASSERT_TRUE(notches >= 0 && notches <= 4) << notches;
            ASSERT_TRUE(lanes == kLaneStereo || lanes == kLaneLeftOnly) << lanes;

            if (h.frame->readSnapshot(s)) {
                ++snapshotsRead;
                ASSERT_GT(s.blockNumber, lastBlock);
                lastBlock = s.blockNumber;
                ASSERT_EQ(s.frameCount, 256);
                // Fields of one block agree with each other: a torn copy would mix two blocks.
                ASSERT_EQ(s.bleedMeter, std::clamp(s.reductionDb / -24.0f, 0.0f, 1.0f));
                ASSERT_EQ(s.laneMode == kLaneLeftOnly, s.activeLanes == 1);
            }
            mode ^= 1;
            h.frame->inputMode.store(mode);
            std::this_thread::yield();
        }
    });
    for (int block = 0; block < 400; ++block) {
        io = source; // distinct channels every block, so the frame never takes the mono path
        h.processInPlace(io, 0, 256);
    }
    done.store(true);
    ui.join();
    EXPECT_GT(snapshotsRead, 0);
    for (const auto& ch : io)
        for (double v : ch)
            ASSERT_TRUE(std::isfinite(v));

    // The last mode the reader wrote is the one the next block runs with.
    h.frame->inputMode.store(kInputLeftOnly);
    h.processInPlace(io, 0, 256);
    EXPECT_EQ(h.frame->published.laneMode.load(), kLaneLeftOnly);
    EXPECT_EQ(h.frame->lastSnapshot().activeLanes, 1);
}
