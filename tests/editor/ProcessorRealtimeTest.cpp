// The processor's own audio callback, without any plug-in wrapper around it: no allocation and no
// lock on the audio thread, whatever the block size (including blocks larger than the host
// announced, which run in pieces), the precision, the input (NaN, Inf, 1e30) or what the message
// thread does at the same time (parameter changes, state restores, the idle task, logging on).
#include "EditorTestSupport.h"
#include "support/RealtimeProbe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>
#include <random>
#include <thread>
#include <type_traits>
#include <vector>

using brindlecot::BrindlecotDeFeedback;
using brindlecot::test::RealtimeScope;

namespace {

struct Tally
{
    long blocks = 0;
    uint64_t allocations = 0;
    uint64_t locks = 0;
    long nonFinite = 0;
};

template <typename Sample> void processRandomBlocks(BrindlecotDeFeedback& processor, int count, Tally& tally)
{
    constexpr int kSizes[] = {0, 1, 63, 64, 512, 513, 4096, 10000, 40000};
    std::mt19937 rng(7);
    juce::AudioBuffer<Sample> buffer(2, 40000);
    juce::MidiBuffer midi;
    double phase = 0.0;
    for (int b = 0; b < count; ++b) {
        const int frames = kSizes[rng() % std::size(kSizes)];
        for (int n = 0; n < frames; ++n) {
            const auto v = static_cast<Sample>(0.5 * std::sin(phase));
            phase += 0.03;
            buffer.setSample(0, n, v);
            buffer.setSample(1, n, v);
        }
        if (frames > 0 && b % 3 == 0) {
            const Sample bad[] = {std::numeric_limits<Sample>::quiet_NaN(),
                std::numeric_limits<Sample>::infinity(), static_cast<Sample>(1e30)};
            buffer.setSample(static_cast<int>(rng() % 2),
                static_cast<int>(rng() % static_cast<unsigned>(frames)), bad[rng() % 3]);
        }
        juce::AudioBuffer<Sample> block(buffer.getArrayOfWritePointers(), 2, frames);
        {
            RealtimeScope realtime;
            processor.processBlock(block, midi);
            tally.allocations += realtime.allocations();
            tally.locks += realtime.locks();
        }
        for (int c = 0; c < 2; ++c)
            for (int n = 0; n < frames; ++n)
                tally.nonFinite += !std::isfinite(static_cast<double>(block.getSample(c, n)));
        ++tally.blocks;
    }
}

} // namespace

TEST(ProcessorRealtime, AudioCallbackNeverAllocatesOrLocksWhileTheMessageThreadWorks)
{
    if (!brindlecot::test::realtimeProbeActive())
        GTEST_SKIP() << "the real-time probe is off under a sanitizer";
    auto processor = std::make_unique<BrindlecotDeFeedback>();
    ASSERT_TRUE(processor->setLoggingPreference(true)); // the log's queue is fed from the audio thread
    {
        // The probe sees this program's allocations and locks, or the zeros below would prove nothing.
        RealtimeScope probe;
        processor->prepareToPlay(48000.0, 20000); // sizes the scratch buffers for 40000 frames
        std::mutex m;
        m.lock();
        m.unlock();
        EXPECT_GT(probe.allocations(), 0u);
        EXPECT_EQ(probe.locks(), 1u);
    }
    processor->prepareToPlay(48000.0, 512);
    juce::MemoryBlock state;
    processor->getStateInformation(state);

    std::atomic<bool> done {false};
    Tally floats, doubles;
    std::thread audio([&] {
        processRandomBlocks<float>(*processor, 150, floats);
        processRandomBlocks<double>(*processor, 150, doubles);
        done.store(true);
    });
    // Meanwhile, the message thread: every stage switched on and moved, state restored, idle task.
    std::mt19937 rng(11);
    long operations = 0;
    while (!done.load()) {
        const int index = static_cast<int>(rng() % 22);
        if (index != 8) // soft bypass stays off
            processor->hostParameter(index)->setValueNotifyingHost(
                static_cast<float>(rng() % 1001) / 1000.0f);
        if (rng() % 10 == 0)
            processor->setStateInformation(state.getData(), static_cast<int>(state.getSize()));
        brindlecot::test::pumpMessages();
        ++operations;
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    audio.join();
    processor->setLoggingPreference(false);

    EXPECT_GT(operations, 20);
    for (const Tally* t : {&floats, &doubles}) {
        EXPECT_EQ(t->blocks, 150);
        EXPECT_EQ(t->allocations, 0u);
        EXPECT_EQ(t->locks, 0u);
        EXPECT_EQ(t->nonFinite, 0);
    }
}
