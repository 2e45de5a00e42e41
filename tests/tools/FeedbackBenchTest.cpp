// The feedback bench judged against what can be worked out without running the loop: generated
// rooms against their geometry and decay, the partitioned room convolution against the direct sum,
// and the bench's stability verdict against the room's analytic limit and ideal-notch bound.
#include "feedback-sim/FeedbackLoop.h"
#include "feedback-sim/LoopAnalysis.h"
#include "feedback-sim/RoomModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

using namespace brindlecot::sim;

namespace {

constexpr double kRate = 16000.0; // the bench's self-tests run at a low rate to stay fast

ShoeboxRoom smallRoom()
{
    return defaultRooms().front(); // rehearsal-room: 5 x 4.2 x 2.7 m, RT60 0.2 s
}

std::vector<float> bandOf(const std::vector<float>& ir, const std::vector<Sos>& filters)
{
    std::vector<double> x(ir.begin(), ir.end());
    filterInPlace(x, filters);
    return std::vector<float>(x.begin(), x.end());
}

RunSettings lowRate()
{
    RunSettings s;
    s.sampleRate = kRate;
    s.blockSize = 64;
    return s;
}

} // namespace

TEST(ShoeboxRoom, IsSeededAndPutsTheDirectSoundAtTheWedgeToMicrophoneDistance)
{
    const ShoeboxRoom room = smallRoom();
    const std::vector<float> a = shoeboxRoomImpulse(room, kRate);
    EXPECT_EQ(a, shoeboxRoomImpulse(room, kRate));
    ShoeboxRoom other = room;
    other.seed += 1;
    EXPECT_NE(a, shoeboxRoomImpulse(other, kRate));

    // The first arrival above a tenth of the peak is the direct sound, at distance / 343 m/s.
    const double dx = room.wedge.x - room.mic.x, dy = room.wedge.y - room.mic.y,
                 dz = room.wedge.z - room.mic.z;
    const double expected = std::sqrt(dx * dx + dy * dy + dz * dz) / 343.0 * kRate;
    float peak = 0.0f;
    for (float v : a)
        peak = std::max(peak, std::abs(v));
    size_t first = 0;
    while (first < a.size() && std::abs(a[first]) < 0.1f * peak)
        ++first;
    EXPECT_NEAR(static_cast<double>(first), expected, 4.0); // the band filters delay the rise slightly
}

TEST(ShoeboxRoom, DecaysAtItsRt60WithTheHighsFasterThanTheLows)
{
    const std::vector<ShoeboxRoom> rooms = defaultRooms();
    for (const ShoeboxRoom& room : {rooms[0], rooms[2], rooms[5]}) {
        const std::vector<float> ir = shoeboxRoomImpulse(room, kRate);
        EXPECT_NEAR(measuredRt60Seconds(ir, kRate), room.rt60Seconds, 0.1 * room.rt60Seconds) << room.name;
        const double q = std::sqrt(0.5);
        const double low = measuredRt60Seconds(
            bandOf(ir, {designHighPass(250.0, q, kRate), designLowPass(700.0, q, kRate)}), kRate);
        const double high = measuredRt60Seconds(
            bandOf(ir, {designHighPass(3000.0, q, kRate), designLowPass(6000.0, q, kRate)}), kRate);
        EXPECT_LT(high, 0.75 * low) << room.name;
    }
    // The mean power response over the band is 0 dB, so limits read as peak-to-mean ratios.
    const OpenLoopResponse r = openLoopResponse(shoeboxRoomImpulse(smallRoom(), kRate), {}, 0, kRate, 2);
    double power = 0.0;
    int bins = 0;
    for (size_t k = 0; k < r.bins.size(); ++k) {
        const double f = static_cast<double>(k) * r.binHz;
        if (f >= 100.0 && f <= 0.45 * kRate) { // the normalisation's band, capped below Nyquist
            power += std::norm(r.bins[k]);
            ++bins;
        }
    }
    EXPECT_NEAR(10.0 * std::log10(power / bins), 0.0, 0.1);
}

TEST(FeedbackLoop, PartitionedRoomTailEqualsTheDirectConvolutionForAnyBlockSize)
{
    // A random room much longer than the directly summed head, blocks that do not divide the
    // partition: the loop must equal mic[n] = src[n] + g sum_k h[k] mic[n - block - k].
    std::mt19937 rng(5);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::vector<float> room(3 * FeedbackLoop::kPartition + 77);
    for (size_t k = 0; k < room.size(); ++k)
        room[k] = static_cast<float>(gauss(rng) * std::exp(-static_cast<double>(k) / 300.0) * 0.05);
    const int total = 5000;
    std::vector<double> source(total);
    for (double& v : source)
        v = gauss(rng);
    for (int block : {48, 256, 333}) {
        IdentityProcessor identity;
        FeedbackLoop loop(room, block, total);
        loop.setLoopGainDb(-3.0);
        std::vector<double> mic(total), out(total);
        while (loop.position() < total) {
            const int at = loop.position();
            ASSERT_GT(loop.step(source.data() + at, identity, mic.data() + at, out.data() + at), 0);
        }
        const double g = std::pow(10.0, -3.0 / 20.0);
        std::vector<double> direct(total);
        for (int n = 0; n < total; ++n) {
            double acc = 0.0;
            for (int k = 0; k < static_cast<int>(room.size()) && n - block - k >= 0; ++k)
                acc += room[static_cast<size_t>(k)] * direct[static_cast<size_t>(n - block - k)];
            direct[static_cast<size_t>(n)] = source[static_cast<size_t>(n)] + g * acc;
        }
        for (int n = 0; n < total; ++n)
            ASSERT_NEAR(mic[static_cast<size_t>(n)], direct[static_cast<size_t>(n)], 1e-9)
                << "block " << block << " n " << n;
    }
}

TEST(LoopAnalysis, LimitsOfKnownLoops)
{
    // Pure delay: |L| = 1 everywhere and L crosses +1, so both limits are 0 dB; a tap of 0.5 moves
    // them to +6.02 dB. A negative tap only crosses the positive axis where the delay turns it.
    const OpenLoopResponse delay = openLoopResponse(pureDelayRoom(37), {}, 64, kRate);
    EXPECT_NEAR(magnitudeLimitDb(delay, 20.0, 8000.0), 0.0, 1e-9);
    EXPECT_NEAR(nyquistLimitDb(delay, 20.0, 8000.0), 0.0, 0.01); // linear interpolation across a bin
    const OpenLoopResponse half = openLoopResponse({0.0f, 0.5f}, {}, 64, kRate);
    EXPECT_NEAR(nyquistLimitDb(half, 20.0, 8000.0), 20.0 * std::log10(2.0), 0.01);

    // A real room: the phase-blind limit never exceeds the loop's own; notches only raise both.
    const OpenLoopResponse room = openLoopResponse(shoeboxRoomImpulse(smallRoom(), kRate), {}, 64, kRate);
    const double magnitude = magnitudeLimitDb(room, 20.0, 8000.0);
    const double nyquist = nyquistLimitDb(room, 20.0, 8000.0);
    EXPECT_LE(magnitude, nyquist);
    double last = magnitude;
    for (int notches = 1; notches <= 4; ++notches) {
        const NotchBound b = notchBound(room, 20.0, 8000.0, notches, 0.1, false);
        EXPECT_NEAR(b.limitDb, magnitude, 1e-12);
        EXPECT_GE(b.boundDb, last - 1e-9) << notches;
        last = b.boundDb;
        ASSERT_EQ(b.notchHz.size(), static_cast<size_t>(notches));
    }
    const NotchBound withPhase = notchBound(room, 20.0, 8000.0, 4, 0.1, true);
    EXPECT_NEAR(withPhase.limitDb, nyquist, 1e-12);
    EXPECT_GT(withPhase.addedDb(), 0.5);
    // The notches in the loop leave it limited exactly at the bound.
    EXPECT_NEAR(nyquistLimitDb(room.withSections(withPhase.sections), 20.0, 8000.0), withPhase.boundDb, 1e-9);
}

TEST(FeedbackBench, JudgesAHowlUnstableEvenWhenTheSourceStopsIt)
{
    // A loop well above its limit howls while the source plays; a processor that goes silent the
    // moment the source is muted makes it ring down. Judged while the source plays, it is unstable.
    class SilencedAtMute : public LoopProcessor
    {
    public:
        explicit SilencedAtMute(int muteFrame)
            : muteFrame_(muteFrame)
        { }
        void reset() override { position_ = 0; }
        void process(const double* in, double* out, int frames) override
        {
            for (int i = 0; i < frames; ++i)
                out[i] = position_ + i < muteFrame_ ? in[i] : 0.0;
            position_ += frames;
        }

    private:
        int muteFrame_;
        int position_ = 0;
    };
    const std::vector<float> room = shoeboxRoomImpulse(smallRoom(), kRate);
    const double limit = nyquistLimitDb(openLoopResponse(room, {}, 64, kRate), 20.0, 8000.0);
    const std::vector<double> source = testSignal("voice", kRate, 8.0, 3);
    RunSettings s = lowRate();
    SilencedAtMute processor(static_cast<int>(source.size()) - s.mutedFrames());
    s.loopGainDb = limit - 20.0;
    const RunResult reference = runLoop(source, room, processor, s);
    EXPECT_TRUE(reference.stable);
    s.loopGainDb = limit + 3.0;
    const RunResult howl = runLoop(source, room, processor, s, &reference);
    double lastSecond = 0.0; // it rings down at once: a ring-down verdict alone passed it
    for (size_t n = howl.output.size() - static_cast<size_t>(kRate); n < howl.output.size(); ++n)
        lastSecond += howl.output[n] * howl.output[n];
    EXPECT_EQ(lastSecond, 0.0);
    EXPECT_GT(howl.excessDb, s.howlExcessDb);
    EXPECT_FALSE(howl.stable);
    s.loopGainDb = limit - 1.0;
    EXPECT_TRUE(runLoop(source, room, processor, s, &reference).stable);
}

TEST(FeedbackBench, TellsAHeldOrGrowingHowlFromOneLoudWindow)
{
    // Far below the limit the loop adds nothing; a scripted processor then adds what a howl or a
    // ringing note would: one loud window is a stable ring, a tone held over the last windows is a
    // howl, a level rising 4 dB per second is growth.
    class Scripted : public LoopProcessor
    {
    public:
        Scripted(double rate, std::function<double(double)> extraAt)
            : rate_(rate)
            , extraAt_(std::move(extraAt))
        { }
        void reset() override { n_ = 0; }
        void process(const double* in, double* out, int frames) override
        {
            for (int i = 0; i < frames; ++i, ++n_) {
                const double t = n_ / rate_;
                out[i] = in[i] + extraAt_(t) * std::sin(2.0 * M_PI * 1000.0 * t);
            }
        }

    private:
        double rate_;
        std::function<double(double)> extraAt_;
        long n_ = 0;
    };
    const std::vector<float> room = shoeboxRoomImpulse(smallRoom(), kRate);
    const std::vector<double> source = testSignal("noise", kRate, 10.0, 9); // plays 0-8 s, about -38 dBFS
    RunSettings s = lowRate();
    s.loopGainDb = -60.0;
    auto judge = [&](std::function<double(double)> extra) {
        Scripted p(kRate, std::move(extra));
        return runLoop(source, room, p, s);
    };
    EXPECT_TRUE(judge([](double) { return 0.0; }).stable);
    const RunResult oneWindow = judge([](double t) { return t >= 6.0 && t < 7.0 ? 0.1 : 0.0; });
    EXPECT_TRUE(oneWindow.stable) << oneWindow.excessDb;
    const RunResult held = judge([](double t) { return t >= 5.0 && t < 8.0 ? 0.1 : 0.0; });
    EXPECT_GT(held.excessDb, s.howlExcessDb);
    EXPECT_FALSE(held.stable);
    // From 2 dB under the source's level, rising 4 dB per second: the level stays below the howl
    // threshold until the last window, but it rises in every one.
    const RunResult growing
        = judge([](double t) { return t < 8.0 ? 0.01 * std::pow(10.0, 4.0 * (t - 6.0) / 20.0) : 0.0; });
    EXPECT_GT(growing.growthDb, s.growthLimitDb);
    EXPECT_FALSE(growing.stable);
}

TEST(FeedbackBench, PlainGainStageGetsTheRoomsOwnLimitWithinOneStep)
{
    // The bench's found limit is the last stable step below the analytic one: a bug in the loop, the
    // convolution or the verdict would move it. A -3 dB stage moves the limit up by 3 dB.
    const std::vector<float> room = shoeboxRoomImpulse(smallRoom(), kRate);
    const double limit = nyquistLimitDb(openLoopResponse(room, {}, 64, kRate), 20.0, 8000.0);
    const std::vector<double> source = testSignal("noise", kRate, 8.0, 7);
    for (double stageDb : {0.0, -3.0}) {
        GainProcessor stage(stageDb);
        const double expected = limit - stageDb;
        const double start = std::floor(expected * 2.0) / 2.0 - 2.0;
        const double found = findMaxStableGainDb(source, room, stage, lowRate(), start, 0.5, start + 6.0);
        EXPECT_LE(found, expected + 0.05) << stageDb;
        EXPECT_GT(found, expected - 0.5) << stageDb;
    }
}

TEST(FeedbackBench, FourNotchOracleGetsTheNotchBoundWithinTwoTenthsOfADecibel)
{
    const std::vector<float> room = shoeboxRoomImpulse(smallRoom(), kRate);
    const NotchBound bound = notchBound(openLoopResponse(room, {}, 64, kRate), 20.0, 8000.0, 4, 0.1, true);
    const std::vector<double> source = testSignal("noise", kRate, 8.0, 7);
    SectionsProcessor oracle(bound.sections);
    const double start = std::floor(bound.boundDb * 20.0) / 20.0 - 0.5;
    const double found = findMaxStableGainDb(source, room, oracle, lowRate(), start, 0.05, start + 2.0);
    EXPECT_NEAR(found, bound.boundDb, 0.2);
    EXPECT_GT(bound.addedDb(), 1.0); // the notches do matter in this room
}
