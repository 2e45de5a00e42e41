// Feedback suppression stage at 48 kHz: real-time factor (seconds of audio per CPU second) and the
// worst single 64-sample block relative to the mean block, with detection running and notches engaged.
#include "dsp/DenormalGuard.h"
#include "dsp/feedback/FeedbackSuppressor.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
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
        x[static_cast<size_t>(n)] = dist(rng) + 0.2f * std::sin(2.0f * float(M_PI) * 3150.0f * n / float(kRate))
            + 0.1f * std::sin(2.0f * float(M_PI) * 1000.0f * n / float(kRate));
    return x;
}

void runBlocks(benchmark::State& state, int lanes)
{
    const brindlecot::dsp::DenormalGuard denormals;
    auto suppressor = std::make_unique<FeedbackSuppressor>();
    suppressor->configure(kRate, 0);
    suppressor->setChannelLanes(lanes);
    suppressor->syncLanes(lanes);
    suppressor->setAmount(1.0f);
    const int frames = static_cast<int>(kRate) * 4;
    const std::vector<float> signal = makeSignal(frames);

    double worst = 0.0;
    double total = 0.0;
    uint64_t blocks = 0;
    int pos = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int n = 0; n < kBlock; ++n) {
            float x[2] = { signal[static_cast<size_t>(pos + n)], signal[static_cast<size_t>(pos + n)] };
            suppressor->process(x, lanes);
            benchmark::DoNotOptimize(x[0]);
        }
        const double dt = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        // Skip the first 2048-sample fill so the worst block reflects steady running.
        if (suppressor->sampleCount() > 4096) {
            worst = std::max(worst, dt);
            total += dt;
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
    state.counters["notches"] = suppressor->activeNotchCount();
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}

void BM_FeedbackSuppressorMono(benchmark::State& state) { runBlocks(state, 1); }
void BM_FeedbackSuppressorStereo(benchmark::State& state) { runBlocks(state, 2); }

} // namespace

BENCHMARK(BM_FeedbackSuppressorMono)->Iterations(30000);
BENCHMARK(BM_FeedbackSuppressorStereo)->Iterations(30000);
