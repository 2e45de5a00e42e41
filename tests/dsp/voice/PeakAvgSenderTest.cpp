#include "dsp/voice/PeakAvgSender.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

using namespace brindlecot::dsp;

namespace {

constexpr double kRate = 48000.0;
constexpr int kWindow = 240; // 5 ms at 48 kHz

std::vector<PeakAvgValue> feed(PeakAvgSender& s, const std::vector<double>& x)
{
    std::vector<PeakAvgValue> out;
    for (size_t pos = 0; pos < x.size(); pos += 480) {
        const int n = static_cast<int>(std::min<size_t>(480, x.size() - pos));
        s.processBlock(x.data() + pos, n);
        s.transmit([&](const PeakAvgValue& v) { out.push_back(v); });
    }
    return out;
}

} // namespace

TEST(PeakAvgSender, SendsOneReadingPerFiveMillisecondWindow)
{
    PeakAvgSender s;
    s.prepare(kRate);
    EXPECT_EQ(s.windowSamples(), kWindow);
    EXPECT_EQ(s.holdSamples(), 24000);
    const auto r = feed(s, std::vector<double>(kWindow * 10, 0.5));
    ASSERT_EQ(r.size(), 10u);
    for (const auto& v : r) {
        EXPECT_FLOAT_EQ(v.peak, 0.5f);
        EXPECT_FLOAT_EQ(v.average, 0.5f); // RMS of a constant; the 1 ms attack is shorter than a window
    }
    s.prepare(44100.0);
    EXPECT_EQ(s.windowSamples(), 220);
    EXPECT_EQ(s.holdSamples(), 22050);
}

TEST(PeakAvgSender, AverageIsTheRmsOfTheWindow)
{
    PeakAvgSender s;
    s.prepare(kRate);
    std::vector<double> x(kWindow * 4);
    for (size_t n = 0; n < x.size(); ++n)
        x[n] = 0.8 * std::sin(2.0 * M_PI * 400.0 * static_cast<double>(n) / kRate); // 2 cycles per window
    const auto r = feed(s, x);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_NEAR(r.back().average, 0.8 / std::sqrt(2.0), 1e-4);
    EXPECT_NEAR(r.back().peak, 0.8, 1e-3);
}

TEST(PeakAvgSender, HoldsAPeakForFiveHundredMillisecondsThenFollowsTheSignal)
{
    PeakAvgSender s;
    s.prepare(kRate);
    std::vector<double> x(kWindow * 120, 0.1);
    x[10] = 1.0; // inside the first window
    const auto r = feed(s, x);
    ASSERT_EQ(r.size(), 120u);
    // The first window and the 100 windows (500 ms) after it show the held peak.
    for (int w = 0; w <= 100; ++w)
        EXPECT_FLOAT_EQ(r[static_cast<size_t>(w)].peak, 1.0f) << "window " << w;
    for (int w = 101; w < 120; ++w)
        EXPECT_FLOAT_EQ(r[static_cast<size_t>(w)].peak, 0.1f) << "window " << w;
}

TEST(PeakAvgSender, AverageDecaysWithAHundredMillisecondTimeConstant)
{
    PeakAvgSender s;
    s.prepare(kRate);
    std::vector<double> x(kWindow * 40, 0.0);
    std::fill(x.begin(), x.begin() + kWindow * 10, 0.5);
    const auto r = feed(s, x);
    ASSERT_GE(r.size(), 30u);
    // 100 ms is 20 windows: each silent window takes 1/20 of the remaining average away.
    EXPECT_NEAR(r[9].average, 0.5, 1e-6);
    EXPECT_NEAR(r[29].average, 0.5 * std::pow(1.0 - 1.0 / 20.0, 20.0), 1e-5);
    EXPECT_NEAR(r[29].average / 0.5, std::exp(-1.0), 0.011);
}

TEST(PeakAvgSender, StopsSendingOnceTheMeterHasFallenBelowMinus90Db)
{
    PeakAvgSender s;
    s.prepare(kRate);
    std::vector<double> x(static_cast<size_t>(kRate * 3.0), 0.0);
    std::fill(x.begin(), x.begin() + kWindow * 4, 0.5);
    const auto r = feed(s, x);
    // Loud windows, the held peak's 500 ms, then the average's fall to -90 dB (~ 20 windows per
    // 8.7 dB), plus one last reading below the threshold.
    EXPECT_GT(r.size(), 100u);
    EXPECT_LT(r.size(), 400u);
    EXPECT_LT(r.back().average, std::pow(10.0, -90.0 / 20.0));
    EXPECT_EQ(r.back().peak, 0.0f);
    PeakAvgValue v;
    s.processBlock(x.data() + x.size() - 4800, 4800);
    EXPECT_FALSE(s.pop(v));
}

TEST(PeakAvgSender, DropsReadingsInsteadOfBlockingWhenTheReaderFallsBehind)
{
    PeakAvgSender s;
    s.prepare(kRate);
    const std::vector<double> x(kWindow * 100, 0.25);
    s.processBlock(x.data(), static_cast<int>(x.size()));
    int n = s.transmit([](const PeakAvgValue&) {});
    EXPECT_EQ(n, static_cast<int>(PeakAvgSender::kQueueCapacity));
    EXPECT_EQ(s.droppedReadings(), 100u - PeakAvgSender::kQueueCapacity);
}

TEST(PeakAvgSender, NonFiniteSamplesCountAsSilence)
{
    PeakAvgSender s;
    s.prepare(kRate);
    std::vector<double> x(kWindow * 2, 0.5);
    x[3] = std::numeric_limits<double>::quiet_NaN();
    x[300] = std::numeric_limits<double>::infinity();
    const auto r = feed(s, x);
    ASSERT_EQ(r.size(), 2u);
    for (const auto& v : r) {
        EXPECT_TRUE(std::isfinite(v.peak));
        EXPECT_TRUE(std::isfinite(v.average));
        EXPECT_FLOAT_EQ(v.peak, 0.5f);
    }
}

TEST(PeakAvgSender, ReaderThreadSeesEveryReadingInOrderWhileTheAudioThreadPushes)
{
    PeakAvgSender s;
    s.prepare(kRate);
    constexpr int kWindows = 4000;
    std::atomic<bool> done {false};
    std::vector<float> seen;
    seen.reserve(kWindows);
    std::thread reader([&] {
        PeakAvgValue v;
        for (;;) {
            if (s.pop(v))
                seen.push_back(v.peak);
            else if (done.load(std::memory_order_acquire))
                break;
            else
                std::this_thread::yield();
        }
    });
    std::vector<double> window(kWindow);
    for (int w = 0; w < kWindows; ++w) {
        // A rising level: each window's peak is larger than the last, so held peaks must rise too.
        std::fill(window.begin(), window.end(), 0.0001 * (w + 1));
        s.processBlock(window.data(), kWindow);
        if (w % 32 == 0)
            std::this_thread::yield();
    }
    done.store(true, std::memory_order_release);
    reader.join();
    PeakAvgValue v;
    while (s.pop(v))
        seen.push_back(v.peak);
    EXPECT_EQ(seen.size() + s.droppedReadings(), static_cast<size_t>(kWindows));
    for (size_t i = 1; i < seen.size(); ++i)
        ASSERT_GT(seen[i], seen[i - 1]) << i;
}
