// Feedback suppression stage at 48 kHz: real-time factor (seconds of audio per CPU second) and the
// worst single 64-sample block relative to the mean block (thread CPU time), with detection
// running and notches engaged.
#include "dsp/DenormalGuard.h"
#include "dsp/feedback/FeedbackSuppressor.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <memory>
#include <random>
#include <vector>

namespace {

using brindlecot::dsp::FeedbackSuppressor;

constexpr double kRate = 48000.0;
constexpr int kBlock = 64;

// Noise plus a steady 3150 Hz ring and a 1 kHz tone: the detector runs every hop and slots engage.
std::vector<float> makeSignal(int frames)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> dist(-0.01f, 0.01f);
    std::vector<float> x(static_cast<size_t>(frames));
    for (int n = 0; n < frames; ++n)
        x[static_cast<size_t>(n)] = dist(rng)
            + 0.2f * std::sin(2.0f * float(M_PI) * 3150.0f * n / float(kRate))
            + 0.1f * std::sin(2.0f * float(M_PI) * 1000.0f * n / float(kRate));
    return x;
}

// CPU time of this thread: blocks are timed without the preemption a shared machine adds.
double threadSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

void runBlocks(benchmark::State& state, int lanes)
{
    const brindlecot::dsp::DenormalGuard denormals;
    auto suppressor = std::make_unique<FeedbackSuppressor>();
    suppressor->prepare(kRate, 0);
    suppressor->setChannelLanes(lanes);
    suppressor->syncLanes(lanes);
    suppressor->setAmount(1.0f);
    const int frames = static_cast<int>(kRate) * 4;
    const std::vector<float> signal = makeSignal(frames);

    double worst = 0.0;
    double total = 0.0;
    uint64_t blocks = 0;
    std::vector<double> times;
    times.reserve(static_cast<size_t>(state.max_iterations));
    int pos = 0;
    for (auto _ : state) {
        const double t0 = threadSeconds();
        for (int n = 0; n < kBlock; ++n) {
            float x[2] = {signal[static_cast<size_t>(pos + n)], signal[static_cast<size_t>(pos + n)]};
            suppressor->process(x, lanes);
            benchmark::DoNotOptimize(x[0]);
        }
        const double dt = threadSeconds() - t0;
        // Skip the first 2048-sample fill so the worst block reflects steady running.
        if (suppressor->sampleCount() > 4096) {
            worst = std::max(worst, dt);
            total += dt;
            times.push_back(dt);
            ++blocks;
        }
        pos += kBlock;
        if (pos + kBlock > frames)
            pos = 0;
    }
    const double mean = blocks > 0 ? total / static_cast<double>(blocks) : 0.0;
    state.counters["realtime_factor"] = mean > 0.0 ? (kBlock / kRate) / mean : 0.0;
    state.counters["worst_over_mean"] = mean > 0.0 ? worst / mean : 0.0;
    state.counters["worst_block_us"] = worst * 1e6;
    state.counters["mean_block_us"] = mean * 1e6;
    if (!times.empty()) {
        // The block holding a capture and the analysis just before the next capture is the
        // regular worst case (one block in eight); the single worst also catches interrupts.
        std::sort(times.begin(), times.end());
        const double p99 = times[static_cast<size_t>(0.99 * static_cast<double>(times.size() - 1))];
        state.counters["p99_block_us"] = p99 * 1e6;
        state.counters["p99_over_mean"] = mean > 0.0 ? p99 / mean : 0.0;
    }
    state.counters["notches"] = suppressor->activeNotchCount();
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}

void BM_FeedbackSuppressorMono(benchmark::State& state)
{
    runBlocks(state, 1);
}
void BM_FeedbackSuppressorStereo(benchmark::State& state)
{
    runBlocks(state, 2);
}

} // namespace

BENCHMARK(BM_FeedbackSuppressorMono)->Iterations(30000);
BENCHMARK(BM_FeedbackSuppressorStereo)->Iterations(30000);
