// Real-time factor of the whole processing frame (seconds of audio per second of CPU), default
// settings, mono and stereo at 48 kHz in 64- and 512-sample blocks.
#include "engine/ProcessingFrame.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

using namespace brindlecot;

void runFrame(benchmark::State& state, int channels, int block, const ParameterValues& params)
{
    constexpr double kRate = 48000.0;
    auto frame = std::make_unique<ProcessingFrame>(0);
    frame->onReset(kRate, params);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> dist(-0.5, 0.5);
    std::vector<std::vector<double>> in(static_cast<size_t>(channels), std::vector<double>(block));
    std::vector<std::vector<double>> out(static_cast<size_t>(channels), std::vector<double>(block));
    for (auto& ch : in)
        for (auto& v : ch)
            v = dist(rng);
    const double* ip[2] = {in[0].data(), in[channels - 1].data()};
    double* op[2] = {out[0].data(), out[channels - 1].data()};
    for (auto _ : state) {
        frame->process(params, ip, channels, op, channels, block);
        benchmark::DoNotOptimize(op[0][0]);
    }
    const double audioSeconds = static_cast<double>(state.iterations()) * block / kRate;
    state.counters["RTF"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
}

void BM_FrameDefault(benchmark::State& state)
{
    runFrame(
        state, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), defaultParameterValues());
}

} // namespace

BENCHMARK(BM_FrameDefault)->ArgNames({"channels", "block"})->ArgsProduct({{1, 2}, {64, 512}});
