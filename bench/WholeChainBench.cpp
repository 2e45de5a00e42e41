// The whole processing frame at 48 kHz, stereo, with every stage working: Bleed Reduction 100 %,
// Feedback Reduction 100 %, Air 50 %, Saturation 50 %, Top Saturation 50 %, Ride 6 dB,
// High-Pass 100 Hz, Low-Pass 16 kHz; full and ECO model; 64- and 512-sample blocks.
//
// Counters (thread CPU time, so preemption on a shared machine does not count). Reading the thread's
// CPU time is a system call here (about 1.2 us, 2-3 % of a 64-sample block), so the benchmark loop
// times every block for the distribution, and a second pass of 2 s of audio, timed as a whole, gives
// the mean that RTF and ns_per_frame report.
//   RTF              seconds of audio per CPU second (from the second pass)
//   mean_block_us    mean block time of the timed blocks (the reference of the ratios below)
//   worst_block_us   single worst block after the warm-up second
//   worst_over_mean  their ratio; p99_over_mean the same for the 99th percentile
//   steady_worst_over_mean  the signal is looped; each block position keeps its fastest pass, and
//                    the slowest position over the mean: the worst block the processing itself
//                    causes, without interrupts and cache evictions by other processes
//   ns_per_frame     CPU time per stereo sample frame
// WholeChainStage runs the same signal with one stage group switched on at a time (0 none,
// 1 bleed reduction, 2 feedback reduction, 3 voice chain, 4 all); a stage's cost per sample frame is
// its ns_per_frame minus that of "none".
#include "bench/WholeChainSetup.h"
#include "engine/ProcessingFrame.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <memory>
#include <vector>

namespace {

using namespace brindlecot;

constexpr double kRate = 48000.0;
constexpr int kSignalFrames = 4 * 48000;
constexpr int kWarmupFrames = 48000;

enum StageGroup
{
    kNone = 0,
    kBleed = 1,
    kFeedback = 2,
    kVoice = 3,
    kAll = 4,
};

ParameterValues chainParameters(int group, bool eco)
{
    return bench::wholeChainParameters(group == kBleed || group == kAll, group == kFeedback || group == kAll,
        group == kVoice || group == kAll, eco);
}

double threadSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

void runChain(benchmark::State& state, int group, bool eco, int block)
{
    const ParameterValues params = chainParameters(group, eco);
    auto frame = std::make_unique<ProcessingFrame>(0);
    frame->loadModels(); // the shipped models, embedded in the core library
    if (!frame->models().fullModelLoaded || !frame->models().ecoModelLoaded) {
        state.SkipWithError("the shipped bleed models are not embedded in this build");
        return;
    }
    frame->onReset(kRate, params);
    const auto in = bench::wholeChainSignal(kSignalFrames, kRate);
    std::vector<std::vector<double>> out(2, std::vector<double>(static_cast<size_t>(kSignalFrames)));

    // The next block of the looped signal; returns its position.
    int pos = 0;
    const auto processBlock = [&] {
        if (pos + block > kSignalFrames)
            pos = 0;
        const int at = pos;
        const double* ip[2] = {in[0].data() + at, in[1].data() + at};
        double* op[2] = {out[0].data() + at, out[1].data() + at};
        frame->process(params, ip, 2, op, 2, block);
        benchmark::DoNotOptimize(op[0][0]);
        pos += block;
        return at;
    };

    // Warm-up: models settle, the detector fills its window, ramps land.
    for (int done = 0; done < kWarmupFrames; done += block)
        processBlock();

    std::vector<double> times;
    times.reserve(1 << 20);
    std::vector<double> fastest(static_cast<size_t>(kSignalFrames / block + 1), 1e9);
    double total = 0.0;
    for (auto _ : state) {
        const double t0 = threadSeconds();
        const int at = processBlock();
        const double dt = threadSeconds() - t0;
        total += dt;
        if (times.size() < times.capacity())
            times.push_back(dt);
        double& f = fastest[static_cast<size_t>(at / block)];
        f = std::min(f, dt);
    }
    if (times.empty() || total <= 0.0)
        return;
    const double mean = total / static_cast<double>(state.iterations());
    std::sort(times.begin(), times.end());
    const double worst = times.back();
    const double p99 = times[static_cast<size_t>(0.99 * static_cast<double>(times.size() - 1))];
    // The mean without the per-block clock reads.
    const int passBlocks = static_cast<int>(2.0 * kRate) / block;
    const double passStart = threadSeconds();
    for (int b = 0; b < passBlocks; ++b)
        processBlock();
    const double passMean = (threadSeconds() - passStart) / passBlocks;
    state.counters["RTF"] = (block / kRate) / passMean;
    state.counters["mean_block_us"] = mean * 1e6;
    state.counters["worst_block_us"] = worst * 1e6;
    state.counters["worst_over_mean"] = worst / mean;
    state.counters["p99_over_mean"] = p99 / mean;
    double steadyWorst = 0.0;
    for (const double f : fastest)
        if (f < 1e9)
            steadyWorst = std::max(steadyWorst, f);
    state.counters["steady_worst_over_mean"] = steadyWorst / mean;
    state.counters["ns_per_frame"] = passMean * 1e9 / block;
}

void WholeChain(benchmark::State& state)
{
    runChain(state, kAll, state.range(1) != 0, static_cast<int>(state.range(0)));
}

void WholeChainStage(benchmark::State& state)
{
    runChain(state, static_cast<int>(state.range(0)), false, 64);
}

} // namespace

BENCHMARK(WholeChain)->ArgNames({"block", "eco"})->ArgsProduct({{64, 512}, {0, 1}})->MinTime(2.0);
BENCHMARK(WholeChainStage)->ArgName("stage")->DenseRange(kNone, kAll)->MinTime(1.0);
