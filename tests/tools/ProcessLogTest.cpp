// velarune-process --log, end to end: the real program on a recording with a monitor ring must
// leave a CSV whose rows tell the story: the notch engaged at the ring's frequency, and released
// once the ring had stopped long enough.
#include "../diag/DiagTestFiles.h"
#include "velarune-process/AudioFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#ifndef VELARUNE_PROCESS_TOOL
#define VELARUNE_PROCESS_TOOL ""
#endif

using namespace brindlecot;

namespace {

constexpr double kRate = 48000.0;
constexpr double kRingHz = 2960.0; // between two 23.4 Hz analysis bins
constexpr double kRingStart = 1.0;
constexpr double kRingStop = 3.5;

// Quiet noise throughout and a ring that grows from 1.0 s and stops at 3.5 s; 17 s in all, so the
// notch (held, then floored at 5 dB for 10 s after its last deep reading) has time to release.
std::vector<double> ringRecording()
{
    const int frames = static_cast<int>(17.0 * kRate);
    std::vector<double> x(static_cast<size_t>(frames));
    uint32_t state = 0x2545F491u;
    for (int n = 0; n < frames; ++n) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const double t = n / kRate;
        double v = 0.001 * (static_cast<double>(state) / 2147483648.0 - 1.0);
        if (t >= kRingStart && t < kRingStop)
            v += std::min(0.003 * std::exp(2.5 * (t - kRingStart)), 0.2) * std::sin(2.0 * M_PI * kRingHz * t);
        x[static_cast<size_t>(n)] = v;
    }
    return x;
}

struct Row
{
    std::string event;
    double playheadSeconds;
    double frequencyHz;
    int notchCount;
};

} // namespace

TEST(ProcessLog, ARingGivesAnEngagedRowAtItsFrequencyAndLaterAReleasedRow)
{
    ASSERT_STRNE(VELARUNE_PROCESS_TOOL, "");
    test::ScratchFolder scratch;
    const auto in = scratch.path() / "ring.wav";
    const auto out = scratch.path() / "out.wav";
    const auto logs = scratch.path() / "logs";
    std::string error;
    ASSERT_TRUE(tools::writeAudio(in.string(), tools::monoFloatWav(ringRecording(), kRate), error)) << error;

    const std::string command = std::string("\"") + VELARUNE_PROCESS_TOOL
        + "\" -q --set \"Bleed Reduction=0\"" + " --set \"Feedback Reduction=100\" --log \"" + logs.string()
        + "\" \"" + in.string() + "\" \"" + out.string() + "\"";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    const auto files = test::filesIn(logs);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename().string().substr(0, 9), "pellwick-");
    const auto lines = test::crlfLines(test::readBytes(files[0]));
    ASSERT_GT(lines.size(), 100u);
    std::vector<Row> rows;
    for (size_t i = 1; i < lines.size(); ++i) {
        const auto c = test::splitCsv(lines[i]);
        ASSERT_EQ(c.size(), 33u) << lines[i];
        ASSERT_EQ(c[1], "1"); // transport running
        ASSERT_EQ(c[32], "0"); // nothing dropped
        rows.push_back({c[3], std::stod(c[2]), std::stod(c[4]), std::stoi(c[8])});
    }

    // Rows are timed by the audio: status rows every 100 ms of the file (blocks of 512 samples).
    int statusRows = 0;
    for (const auto& r : rows)
        statusRows += r.event == "status";
    EXPECT_NEAR(statusRows, 17.0 / (10 * 512 / kRate), 2.0);

    const Row* engaged = nullptr;
    const Row* released = nullptr;
    for (const auto& r : rows) {
        if (engaged == nullptr && r.event == "engaged")
            engaged = &r;
        if (engaged != nullptr && r.event == "released" && r.notchCount == 0)
            released = &r;
    }
    ASSERT_NE(engaged, nullptr);
    EXPECT_NEAR(engaged->frequencyHz, kRingHz, kRate / 2048.0);
    EXPECT_GT(engaged->playheadSeconds, kRingStart);
    EXPECT_LT(engaged->playheadSeconds, kRingStop);
    ASSERT_NE(released, nullptr);
    EXPECT_GT(released->playheadSeconds, kRingStop);
}
