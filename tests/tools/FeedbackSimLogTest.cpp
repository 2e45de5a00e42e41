// The feedback simulator's diagnostic log: every run of a processor starts with a fresh frame, a
// playhead at 0 and notch tracking from none, so each run's engagement shows as its own row.
#include "../diag/DiagTestFiles.h"
#include "diag/DiagnosticLog.h"
#include "feedback-sim/FeedbackLoop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

using namespace brindlecot;
using namespace brindlecot::sim;

TEST(FeedbackSimLog, EachRunLogsItsOwnEngagementWithThePlayheadCountedFromTheRunStart)
{
    test::ScratchFolder scratch;
    const double rate = 48000.0;
    auto log = std::make_unique<DiagnosticLog>();
    log->setEnabled(true);
    FrameProcessor processor(rate, 100.0);
    processor.attachLog(log.get(), scratch.path().string());

    // A steady 2 kHz ring over quiet noise, 2.5 s per run, in 64-sample host blocks.
    const int block = 64;
    const int frames = static_cast<int>(2.5 * rate);
    std::vector<double> in(static_cast<size_t>(frames)), out(static_cast<size_t>(frames));
    uint32_t state = 12345u;
    for (int n = 0; n < frames; ++n) {
        state = state * 1664525u + 1013904223u;
        in[static_cast<size_t>(n)] = 0.2 * std::sin(2.0 * M_PI * 2000.0 * n / rate)
            + 0.001 * (static_cast<double>(state) / 4294967296.0 - 0.5);
    }
    for (int run = 0; run < 2; ++run) {
        processor.reset();
        for (int pos = 0; pos < frames; pos += block)
            processor.process(in.data() + pos, out.data() + pos, std::min(block, frames - pos));
        ASSERT_GT(processor.activeNotchCount(), 0) << "run " << run;
    }

    const auto files = test::filesIn(scratch.path());
    ASSERT_EQ(files.size(), 1u);
    const auto lines = test::crlfLines(test::readBytes(files[0]));
    std::vector<double> engagedAt;
    double lastPlayhead = -1.0;
    int playheadRestarts = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        const auto c = test::splitCsv(lines[i]);
        ASSERT_EQ(c.size(), 33u);
        const double playhead = std::stod(c[2]);
        playheadRestarts += playhead < lastPlayhead;
        lastPlayhead = playhead;
        if (c[3] == "engaged") {
            engagedAt.push_back(playhead);
            EXPECT_NEAR(std::stod(c[4]), 2000.0, rate / 2048.0);
        }
    }
    EXPECT_EQ(playheadRestarts, 1);
    ASSERT_EQ(engagedAt.size(), 2u);
    EXPECT_LT(engagedAt[1], 2.5);
    EXPECT_NEAR(engagedAt[0], engagedAt[1], 0.01); // the same signal engages at the same time
}
