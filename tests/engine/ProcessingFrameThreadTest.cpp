#include "engine/ProcessingFrame.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

using namespace brindlecot;

// The audio thread publishes meter and status words while the user-interface thread reads them
// and the editor menu changes the input mode; under ThreadSanitizer this must report no race.
TEST(ProcessingFrameThreads, PublishedWordsAndInputModeAreSharedWithoutLocks)
{
    test::FrameHarness h(48000.0);
    h.params[kFeedbackReduction] = 50.0;
    h.params[kRideStrength] = 6.0;
    h.reset();
    std::vector<std::vector<double>> io {
        test::sine(3150.0, 0.5, 48000.0, 256), test::sine(440.0, 0.3, 48000.0, 256)};
    std::atomic<bool> done {false};
    std::thread ui([&] {
        int32_t mode = 0;
        float sum = 0.0f;
        while (!done.load()) {
            const auto& p = h.frame->published;
            sum += p.inputLevelDb.load(std::memory_order_relaxed)
                + p.bleedMeter.load(std::memory_order_relaxed)
                + p.feedbackMeter.load(std::memory_order_relaxed)
                + p.rideMeter.load(std::memory_order_relaxed)
                + p.deepestNotchFrequency.load(std::memory_order_relaxed)
                + static_cast<float>(p.activeNotchCount.load(std::memory_order_relaxed) + p.laneMode.load());
            mode ^= 1;
            h.frame->inputMode.store(mode);
            std::this_thread::yield();
        }
        EXPECT_TRUE(std::isfinite(sum));
    });
    for (int block = 0; block < 400; ++block)
        h.processInPlace(io, 0, 256);
    done.store(true);
    ui.join();
    for (const auto& ch : io)
        for (double v : ch)
            ASSERT_TRUE(std::isfinite(v));
}
