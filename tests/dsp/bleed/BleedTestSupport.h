// Shared helpers of the bleed tests: deterministic synthetic weights (the same integer hash as
// tests/data/bleed/make_filter_head_reference.py, so no weight file needs to be committed), blob
// serialisation, and plain scalar reference implementations of the network and the canceller.
#pragma once

#include "dsp/bleed/FilterHeadWeights.h"
#include "dsp/bleed/VectorKernels.h"
#include "dsp/bleed/WeightsIO.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace brindlecot::test::bleed {

/// Every kernel path this processor runs, the SSE2 baseline first.
inline std::vector<dsp::kernels::Path> availableKernelPaths()
{
    std::vector<dsp::kernels::Path> paths;
    for (auto path : {dsp::kernels::Path::Sse2, dsp::kernels::Path::Avx2Fma, dsp::kernels::Path::Avx512})
        if (dsp::kernels::pathSupported(path))
            paths.push_back(path);
    return paths;
}

/// 32-bit integer hash (lowbias32); identical in the Python generator.
inline uint32_t hash32(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

/// A value in [-1023/1024, 1023/1024] times 2^-shift: exact in float, so every language agrees.
inline float hashedValue(uint32_t key, int shift)
{
    const int v = static_cast<int>(hash32(key) % 2047u) - 1023;
    return std::ldexp(static_cast<float>(v) / 1024.0f, -shift);
}

/// Synthetic weights: array a, element e gets hashedValue((a << 24) + e + seed, shift of a).
template <typename Weights> void fillSynthetic(Weights& w, uint32_t seed = 0)
{
    // Shifts per array in blob order: input projection, norm gain/bias, GRU 1, GRU 2, output head.
    static constexpr int shifts[12] = {0, 2, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4};
    uint32_t a = 0;
    w.forEachArray([&](float* p, std::size_t n) {
        for (std::size_t e = 0; e < n; ++e)
            p[e] = hashedValue((a << 24) + static_cast<uint32_t>(e) + seed, shifts[a]);
        if (a == 1) // layer-norm gain around 1
            for (std::size_t e = 0; e < n; ++e)
                p[e] += 1.0f;
        ++a;
    });
    w.outputScale = 1.0f;
}

/// Input sample n of the synthetic test signal (amplitude 1/2).
inline float syntheticInput(uint32_t n)
{
    return hashedValue(0x7f000000u + n, 1);
}

template <typename Weights> std::unique_ptr<Weights> makeSyntheticWeights(uint32_t seed = 0)
{
    auto w = std::make_unique<Weights>();
    w->clear();
    fillSynthetic(*w, seed);
    return w;
}

struct BlobHeader
{
    uint32_t magic = dsp::weightsio::kMagic;
    uint32_t version = 1;
    uint32_t input = 512;
    uint32_t hop = 32;
    uint32_t width1 = 0;
    uint32_t width2 = 0;
    uint32_t taps = 0;
    float scale = 1.0f;
};

template <typename Weights> BlobHeader headerFor()
{
    BlobHeader h;
    h.input = Weights::kInput;
    h.width1 = h.width2 = Weights::kWidth;
    h.taps = Weights::kTaps;
    return h;
}

inline void appendU32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

/// Header and body bytes of a blob (little-endian).
template <typename Weights> std::vector<uint8_t> makeBlob(const Weights& w, const BlobHeader& h)
{
    std::vector<uint8_t> out;
    appendU32(out, h.magic);
    appendU32(out, h.version);
    appendU32(out, h.input);
    appendU32(out, h.hop);
    appendU32(out, h.width1);
    appendU32(out, h.width2);
    appendU32(out, h.taps);
    uint32_t scaleBits;
    std::memcpy(&scaleBits, &h.scale, 4);
    appendU32(out, scaleBits);
    w.forEachArray([&](const float* p, std::size_t n) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(p);
        out.insert(out.end(), bytes, bytes + n * sizeof(float));
    });
    return out;
}

template <typename Weights> std::vector<uint8_t> makeBlob(const Weights& w)
{
    return makeBlob(w, headerFor<Weights>());
}

template <typename Weights> std::vector<uint8_t> makeSyntheticBlob(uint32_t seed = 0)
{
    return makeBlob(*makeSyntheticWeights<Weights>(seed));
}

/// The network written as plainly as possible: one running sum per dot product, in index order.
template <typename Weights> struct ReferenceNetwork
{
    static constexpr std::size_t I = Weights::kInput;
    static constexpr std::size_t W = Weights::kWidth;
    static constexpr std::size_t K = Weights::kTaps;
    const Weights* weights = nullptr;
    std::array<float, I> window {};
    std::array<float, W> h1 {};
    std::array<float, W> h2 {};

    static float sigmoid(float s) { return 1.0f / (1.0f + std::exp(-s)); }

    static void gru(
        const float* x, float* h, const float* wi, const float* wr, const float* bi, const float* br)
    {
        std::array<float, W> next {};
        for (std::size_t j = 0; j < W; ++j) {
            float sr = bi[j] + br[j], sz = bi[W + j] + br[W + j], a = bi[2 * W + j], b = br[2 * W + j];
            for (std::size_t i = 0; i < W; ++i) {
                sr += wi[j * W + i] * x[i] + wr[j * W + i] * h[i];
                sz += wi[(W + j) * W + i] * x[i] + wr[(W + j) * W + i] * h[i];
                a += wi[(2 * W + j) * W + i] * x[i];
                b += wr[(2 * W + j) * W + i] * h[i];
            }
            const float r = sigmoid(sr), z = sigmoid(sz);
            const float n = std::tanh(a + r * b);
            next[j] = (1.0f - z) * n + z * h[j];
        }
        std::memcpy(h, next.data(), sizeof(float) * W);
    }

    bool step(const float* hop, float* taps)
    {
        if (weights == nullptr)
            return false;
        const Weights& w = *weights;
        for (std::size_t i = 0; i < I - 32; ++i)
            window[i] = window[i + 32];
        for (std::size_t i = 0; i < 32; ++i)
            window[I - 32 + i] = hop[i];
        std::array<float, W> p {}, u {};
        for (std::size_t j = 0; j < W; ++j)
            for (std::size_t k = 0; k < I; ++k)
                p[j] += w.inputWeights[j * I + k] * window[k];
        float mean = 0.0f;
        for (float v : p)
            mean += v;
        mean /= static_cast<float>(W);
        float var = 0.0f;
        for (float v : p)
            var += (v - mean) * (v - mean);
        var /= static_cast<float>(W);
        const float d = std::sqrt(var + 1e-5f);
        for (std::size_t j = 0; j < W; ++j)
            u[j] = std::tanh((p[j] - mean) * (1.0f / d) * w.normGain[j] + w.normBias[j]);
        gru(u.data(), h1.data(), w.gru1InputWeights.data(), w.gru1RecurrentWeights.data(),
            w.gru1InputBias.data(), w.gru1RecurrentBias.data());
        gru(h1.data(), h2.data(), w.gru2InputWeights.data(), w.gru2RecurrentWeights.data(),
            w.gru2InputBias.data(), w.gru2RecurrentBias.data());
        for (std::size_t k = 0; k < K; ++k) {
            float s = 0.0f;
            for (std::size_t j = 0; j < W; ++j)
                s += w.outputWeights[k * W + j] * h2[j];
            taps[k] = std::tanh(s) * w.outputScale;
        }
        return true;
    }
};

/// The canceller with a plain circular history of K entries and scalar FIR sums.
template <typename Weights> struct ReferenceCanceller
{
    static constexpr std::size_t K = Weights::kTaps;
    ReferenceNetwork<Weights> network;
    std::array<float, K> history {}, previousTaps {}, currentTaps {}, newTaps {};
    std::array<float, 32> hopFrame {};
    std::size_t historyIndex = 0, hopIndex = 0;
    float gain = 1.0f;

    float process(float x)
    {
        if (!std::isfinite(x))
            x = 0.0f;
        history[historyIndex] = x;
        float c = 0.0f, q = 0.0f;
        for (std::size_t k = 0; k < K; ++k) {
            const float h = history[(historyIndex + K - k) % K];
            c += currentTaps[k] * h;
            q += previousTaps[k] * h;
        }
        gain = gain + (1.0f - gain) * 0.002f;
        const float e = ((static_cast<float>(hopIndex) + 1.0f) * 0.03125f * (c - q) + q) * gain;
        const float y = std::isfinite(e) ? x - e : x;
        hopFrame[hopIndex++] = x;
        if (hopIndex == 32) {
            bool ok = network.step(hopFrame.data(), newTaps.data());
            for (float t : newTaps)
                ok = ok && std::isfinite(t);
            previousTaps = currentTaps;
            if (ok)
                currentTaps = newTaps;
            else {
                currentTaps.fill(0.0f);
                newTaps.fill(0.0f);
                network.window.fill(0.0f);
                network.h1.fill(0.0f);
                network.h2.fill(0.0f);
            }
            hopIndex = 0;
        }
        historyIndex = (historyIndex + 1) % K;
        return std::isfinite(y) ? y : x;
    }
};

} // namespace brindlecot::test::bleed
