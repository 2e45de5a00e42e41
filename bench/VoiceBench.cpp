// Real-time factor of the whole processing frame at 48 kHz, stereo, with every voice stage
// (filters, air, both saturators, ride) active versus every voice stage idle.
// Counter "rtf": seconds of audio processed per second of CPU time.

#include "engine/ProcessingFrame.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

using namespace brindlecot;

constexpr double kSampleRate = 48000.0;

ParameterValues voiceParameters(bool active)
{
    ParameterValues p = defaultParameterValues();
    if (active) {
        p[kHighPass] = 120.0;
        p[kLowPass] = 9000.0;
        p[kHighPassOn] = 1.0;
        p[kLowPassOn] = 1.0;
        p[kAir] = 60.0;
        p[kAirCorner] = 100.0;
        p[kSaturation] = 50.0;
        p[kSaturationFocus] = 2000.0;
        p[kSaturationDrive] = 30.0;
        p[kTopSaturation] = 40.0;
        p[kTopSaturationFocus] = 8000.0;
        p[kTopSaturationDrive] = 30.0;
        p[kRideStrength] = 6.0;
        p[kVocalTarget] = -20.0;
        p[kVoiceFloor] = -60.0;
    } else {
        p[kHighPassOn] = 0.0;
        p[kLowPassOn] = 0.0;
    }
    return p;
}

void runFrame(benchmark::State& state, bool active)
{
    const int block = static_cast<int>(state.range(0));
    const ParameterValues params = voiceParameters(active);
    auto frame = std::make_unique<ProcessingFrame>(0);
    frame->onReset(kSampleRate, params);

    // One second of a voice-like test signal (220 Hz partials plus a little noise), differing per channel.
    const int frames = static_cast<int>(kSampleRate);
    std::vector<std::vector<double>> in(2, std::vector<double>(static_cast<size_t>(frames)));
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> dist(-0.01, 0.01);
    for (int c = 0; c < 2; ++c)
        for (int n = 0; n < frames; ++n) {
            const double t = n / kSampleRate;
            in[static_cast<size_t>(c)][static_cast<size_t>(n)] = 0.1 * std::sin(2.0 * M_PI * 220.0 * t)
                + 0.05 * std::sin(2.0 * M_PI * 660.0 * t + c) + dist(rng);
        }
    std::vector<std::vector<double>> out(2, std::vector<double>(static_cast<size_t>(frames)));

    int pos = 0;
    for (auto _ : state) {
        if (pos + block > frames)
            pos = 0;
        const double* ip[2] = {in[0].data() + pos, in[1].data() + pos};
        double* op[2] = {out[0].data() + pos, out[1].data() + pos};
        frame->process(params, ip, 2, op, 2, block);
        benchmark::DoNotOptimize(op[0][0]);
        pos += block;
    }
    const double seconds = static_cast<double>(state.iterations()) * block / kSampleRate;
    state.counters["rtf"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
}

void VoiceChainAllActive(benchmark::State& state)
{
    runFrame(state, true);
}
void VoiceChainAllIdle(benchmark::State& state)
{
    runFrame(state, false);
}

} // namespace

BENCHMARK(VoiceChainAllActive)->Arg(64)->Arg(512);
BENCHMARK(VoiceChainAllIdle)->Arg(64)->Arg(512);
