// Bleed reduction costs: the network step per hop (and its arithmetic rate against this machine's
// measured FMA peak), the canceller and the spectral processor per sample, and the whole frame's
// real-time factor with Bleed Reduction at 100 % on synthetic weights (full and ECO model).
#include "dsp/DenormalGuard.h"
#include "dsp/bleed/BleedModels.h"
#include "dsp/bleed/FilterHeadCanceller.h"
#include "dsp/bleed/SpectralBleedProcessor.h"
#include "dsp/bleed/VectorKernels.h"
#include "engine/ProcessingFrame.h"
#include "tests/dsp/bleed/BleedTestSupport.h"

#include <benchmark/benchmark.h>
#include <immintrin.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

using namespace brindlecot;
using namespace brindlecot::dsp;
using brindlecot::test::bleed::makeSyntheticBlob;
using brindlecot::test::bleed::makeSyntheticWeights;
using brindlecot::test::bleed::ReferenceNetwork;
using brindlecot::test::bleed::syntheticInput;

namespace {

template <typename Network> constexpr double multiplyAddsPerStep()
{
    constexpr double I = Network::kInput, W = Network::kWidth, K = Network::kTaps;
    return I * W + 4.0 * 3.0 * W * W + K * W;
}

// Argument 0: 0 SSE2, 1 AVX2 + FMA, 2 AVX-512.
bool usePath(benchmark::State& state)
{
    static constexpr const char* kNames[] = {"sse2", "avx2+fma", "avx512"};
    const auto index = static_cast<std::size_t>(state.range(0));
    if (!kernels::selectPath(static_cast<kernels::Path>(index))) {
        state.SkipWithError((std::string(kNames[index]) + " not available").c_str());
        return false;
    }
    state.SetLabel(kNames[index]);
    return true;
}

template <typename Network> void BM_NetworkStep(benchmark::State& state)
{
    if (!usePath(state))
        return;
    auto weights = makeSyntheticWeights<typename Network::Weights>();
    auto net = std::make_unique<Network>();
    net->weights = weights.get();
    std::array<float, 32> hop {};
    std::array<float, Network::kTaps> taps {};
    uint32_t n = 0;
    for (auto _ : state) {
        for (float& v : hop)
            v = syntheticInput(n++);
        net->step(hop.data(), taps.data());
        benchmark::DoNotOptimize(taps.data());
    }
    kernels::selectPath(kernels::bestPath());
    state.counters["FLOP/s"] = benchmark::Counter(2.0 * multiplyAddsPerStep<Network>(),
        benchmark::Counter::kIsIterationInvariantRate, benchmark::Counter::kIs1000);
}
BENCHMARK_TEMPLATE(BM_NetworkStep, FullModelNetwork)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK_TEMPLATE(BM_NetworkStep, EcoModelNetwork)->Arg(0)->Arg(1)->Arg(2);

// The matrix-vector products of one step alone (no nonlinearities): the arithmetic core.
template <typename Network> void BM_NetworkMatVecOnly(benchmark::State& state)
{
    if (!usePath(state))
        return;
    constexpr std::size_t I = Network::kInput, W = Network::kWidth, K = Network::kTaps;
    auto weights = makeSyntheticWeights<typename Network::Weights>();
    std::vector<float> window(I, 0.1f), state1(W, 0.2f), state2(W, 0.3f), gates(3 * W), out(K);
    for (auto _ : state) {
        kernels::matVec(weights->inputWeights.data(), window.data(), state1.data(), W, I);
        kernels::matVec(weights->gru1InputWeights.data(), state1.data(), gates.data(), 3 * W, W);
        kernels::matVec(weights->gru1RecurrentWeights.data(), state2.data(), gates.data(), 3 * W, W);
        kernels::matVec(weights->gru2InputWeights.data(), state1.data(), gates.data(), 3 * W, W);
        kernels::matVec(weights->gru2RecurrentWeights.data(), state2.data(), gates.data(), 3 * W, W);
        kernels::matVec(weights->outputWeights.data(), state2.data(), out.data(), K, W);
        benchmark::DoNotOptimize(out.data());
        benchmark::DoNotOptimize(gates.data());
    }
    kernels::selectPath(kernels::bestPath());
    state.counters["FLOP/s"] = benchmark::Counter(2.0 * multiplyAddsPerStep<Network>(),
        benchmark::Counter::kIsIterationInvariantRate, benchmark::Counter::kIs1000);
}
BENCHMARK_TEMPLATE(BM_NetworkMatVecOnly, FullModelNetwork)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK_TEMPLATE(BM_NetworkMatVecOnly, EcoModelNetwork)->Arg(0)->Arg(1)->Arg(2);

// The plain scalar network (one running sum per dot product), for comparison.
template <typename Network> void BM_NetworkStepScalarReference(benchmark::State& state)
{
    using Weights = typename Network::Weights;
    auto weights = makeSyntheticWeights<Weights>();
    auto net = std::make_unique<ReferenceNetwork<Weights>>();
    net->weights = weights.get();
    std::array<float, 32> hop {};
    std::array<float, Network::kTaps> taps {};
    uint32_t n = 0;
    for (auto _ : state) {
        for (float& v : hop)
            v = syntheticInput(n++);
        net->step(hop.data(), taps.data());
        benchmark::DoNotOptimize(taps.data());
    }
    state.counters["FLOP/s"] = benchmark::Counter(2.0 * multiplyAddsPerStep<Network>(),
        benchmark::Counter::kIsIterationInvariantRate, benchmark::Counter::kIs1000);
}
BENCHMARK_TEMPLATE(BM_NetworkStepScalarReference, FullModelNetwork);
BENCHMARK_TEMPLATE(BM_NetworkStepScalarReference, EcoModelNetwork);

// Per sample, including one network step every 32 samples.
template <typename Canceller> void BM_CancellerPerSample(benchmark::State& state)
{
    if (!usePath(state))
        return;
    auto weights = makeSyntheticWeights<typename Canceller::Weights>();
    auto canceller = std::make_unique<Canceller>();
    canceller->setWeights(weights.get());
    canceller->reset();
    std::vector<float> x(4096);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = syntheticInput(static_cast<uint32_t>(i));
    for (auto _ : state) {
        float acc = 0.0f;
        for (float v : x)
            acc += canceller->process(v);
        benchmark::DoNotOptimize(acc);
    }
    kernels::selectPath(kernels::bestPath());
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(x.size()));
    state.counters["ns/sample"] = benchmark::Counter(static_cast<double>(x.size()),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert,
        benchmark::Counter::kIs1000);
}
BENCHMARK_TEMPLATE(BM_CancellerPerSample, FullModelCanceller)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK_TEMPLATE(BM_CancellerPerSample, EcoModelCanceller)->Arg(0)->Arg(1)->Arg(2);

// Per sample with an analysis every 128 samples; range(1) is the lane count.
void BM_SpectralPerSample(benchmark::State& state)
{
    if (!usePath(state))
        return;
    const int lanes = static_cast<int>(state.range(1));
    auto p = std::make_unique<SpectralBleedProcessor>();
    p->prepare(48000.0, cornersForHighPass(0.0f));
    p->setLaneCapacity(lanes);
    p->setActiveLanes(lanes);
    p->setFloors(-45.0f, -7.0f);
    std::vector<float> x(4096);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = syntheticInput(static_cast<uint32_t>(i));
    const DenormalGuard denormals; // as in the frame's blocks
    for (auto _ : state) {
        for (std::size_t i = 0; i < x.size(); ++i) {
            float s[2] = {x[i], -x[i]};
            p->process(s, lanes, 0.5f * x[i]);
            benchmark::DoNotOptimize(s);
        }
    }
    kernels::selectPath(kernels::bestPath());
    state.counters["ns/sample"] = benchmark::Counter(static_cast<double>(x.size()),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert,
        benchmark::Counter::kIs1000);
}
BENCHMARK(BM_SpectralPerSample)->ArgsProduct({{0, 1, 2}, {1, 2}});

// ---- The whole frame ----------------------------------------------------------------------------

std::vector<uint8_t>& benchFullBlob()
{
    static std::vector<uint8_t> blob = makeSyntheticBlob<FullModelWeights>();
    return blob;
}
std::vector<uint8_t>& benchEcoBlob()
{
    static std::vector<uint8_t> blob = makeSyntheticBlob<EcoModelWeights>();
    return blob;
}
EmbeddedResource benchLookup(const char* name)
{
    if (std::string(name) == "BIG_BASE_S1.BIN")
        return {"BIG_BASE_S1.BIN", benchFullBlob().data(), benchFullBlob().size()};
    if (std::string(name) == "GIG_ECO_V2.BIN")
        return {"GIG_ECO_V2.BIN", benchEcoBlob().data(), benchEcoBlob().size()};
    return {};
}

// range(0): ECO mode; range(1): channels. Real-time factor = audio seconds per CPU second, with
// Bleed Reduction at 100 % and both models loaded from synthetic blobs.
void BM_FrameRealTimeFactor(benchmark::State& state)
{
    constexpr double rate = 48000.0;
    constexpr int block = 256;
    const int channels = static_cast<int>(state.range(1));
    auto frame = std::make_unique<ProcessingFrame>();
    ModelSearch search;
    search.embedded = &benchLookup;
    search.bareNameDirectory = "/nonexistent";
    search.fallbackDirectory = "/nonexistent/";
    frame->loadModels(search);
    ParameterValues params = defaultParameterValues();
    params[kBleedReduction] = 100.0;
    params[kEcoMode] = state.range(0) != 0 ? 1.0 : 0.0;
    frame->onReset(rate, params);
    // One second of input prepared up front; blocks cycle through it.
    constexpr int frames = 48000 / block * block;
    std::vector<std::vector<double>> in(2, std::vector<double>(frames)), out(2, std::vector<double>(block));
    for (int i = 0; i < frames; ++i) {
        in[0][static_cast<std::size_t>(i)] = syntheticInput(static_cast<uint32_t>(i));
        in[1][static_cast<std::size_t>(i)] = 0.7 * syntheticInput(static_cast<uint32_t>(i + 7));
    }
    double* op[2] = {out[0].data(), out[1].data()};
    int position = 0;
    for (auto _ : state) {
        const double* ip[2] = {in[0].data() + position, in[1].data() + position};
        frame->process(params, ip, channels, op, channels, block);
        benchmark::DoNotOptimize(out[0].data());
        position = (position + block) % frames;
    }
    state.SetLabel(std::string(state.range(0) ? "eco" : "full") + (channels == 2 ? " stereo" : " mono"));
    state.counters["RTF"] = benchmark::Counter(block / rate, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_FrameRealTimeFactor)->Args({0, 1})->Args({1, 1})->Args({0, 2})->Args({1, 2});

// ---- Machine peak: independent fused multiply-add chains -----------------------------------------

__attribute__((target("avx2,fma"))) void BM_PeakFma256(benchmark::State& state)
{
    if (!kernels::avx2FmaSupported()) {
        state.SkipWithError("AVX2 + FMA not available");
        return;
    }
    constexpr int chains = 12;
    __m256 acc[chains];
    for (int c = 0; c < chains; ++c)
        acc[c] = _mm256_set1_ps(static_cast<float>(c) * 1e-3f);
    const __m256 a = _mm256_set1_ps(0.999999f), b = _mm256_set1_ps(1e-7f);
    constexpr int inner = 1000;
    for (auto _ : state) {
        for (int i = 0; i < inner; ++i)
            for (int c = 0; c < chains; ++c)
                acc[c] = _mm256_fmadd_ps(acc[c], a, b);
        benchmark::DoNotOptimize(acc);
    }
    state.counters["FLOP/s"] = benchmark::Counter(2.0 * 8.0 * chains * inner,
        benchmark::Counter::kIsIterationInvariantRate, benchmark::Counter::kIs1000);
}
BENCHMARK(BM_PeakFma256);

// The AVX-512 peak: processors with full-width units double the AVX2 figure.
__attribute__((target("avx512f"))) void BM_PeakFma512(benchmark::State& state)
{
    if (!__builtin_cpu_supports("avx512f")) {
        state.SkipWithError("AVX-512 not available");
        return;
    }
    constexpr int chains = 12;
    __m512 acc[chains];
    for (int c = 0; c < chains; ++c)
        acc[c] = _mm512_set1_ps(static_cast<float>(c) * 1e-3f);
    const __m512 a = _mm512_set1_ps(0.999999f), b = _mm512_set1_ps(1e-7f);
    constexpr int inner = 1000;
    for (auto _ : state) {
        for (int i = 0; i < inner; ++i)
            for (int c = 0; c < chains; ++c)
                acc[c] = _mm512_fmadd_ps(acc[c], a, b);
        benchmark::DoNotOptimize(acc);
    }
    state.counters["FLOP/s"] = benchmark::Counter(2.0 * 16.0 * chains * inner,
        benchmark::Counter::kIsIterationInvariantRate, benchmark::Counter::kIs1000);
}
BENCHMARK(BM_PeakFma512);

} // namespace
