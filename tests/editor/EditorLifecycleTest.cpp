#include "EditorTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

using namespace brindlecot;
using brindlecot::test::EditorFixture;

// Opening and closing the editor while audio runs on another thread: the audio thread never
// allocates (its own allocation count stays put after warm-up) and nothing crashes or races.
TEST(EditorLifecycle, OpensAndClosesAHundredTimesWhileAudioRuns)
{
    EditorFixture f;
    std::atomic<bool> stop {false};
    std::atomic<uint64_t> blocks {0};
    std::atomic<uint64_t> audioAllocations {0};
    std::thread audio([&] {
        juce::AudioBuffer<float> buffer(2, 256);
        juce::MidiBuffer midi;
        double phase = 0.0;
        uint64_t warm = 0;
        int n = 0;
        while (!stop.load()) {
            for (int i = 0; i < 256; ++i) {
                const float v = 0.3f * static_cast<float>(std::sin(phase));
                phase += 0.0575;
                buffer.setSample(0, i, v);
                buffer.setSample(1, i, v);
            }
            f.processor->processBlock(buffer, midi);
            if (++n == 8)
                warm = test::threadAllocations();
            if (n > 8)
                audioAllocations.store(test::threadAllocations() - warm);
            blocks.fetch_add(1);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    for (int i = 0; i < 100; ++i) {
        f.open();
        for (int k = 0; k < 3; ++k)
            f.processor->onIdle();
        (void)f.editor->createComponentSnapshot({0, 0, 64, 64}, true, 1.0f);
        f.close();
        f.processor->onIdle();
    }
    while (blocks.load() < 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    stop.store(true);
    audio.join();
    EXPECT_GE(blocks.load(), 50u);
    EXPECT_EQ(audioAllocations.load(), 0u);
    EXPECT_EQ(f.processor->getActiveEditor(), nullptr);
}
