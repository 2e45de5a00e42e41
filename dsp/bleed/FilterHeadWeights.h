// The coefficient set of one filter-head network, exactly as a weight blob stores it: twelve
// row-major float arrays (one row per output unit) followed by the output scale from the header.
#pragma once

#include <array>
#include <cstddef>

namespace brindlecot::dsp {

/// Weights of a network with input window I, hidden widths W1 = W2 and K output taps. Cache-line
/// aligned so that every array (all sizes are multiples of 16 floats) starts on a 64-byte boundary.
template <std::size_t I, std::size_t W1, std::size_t W2, std::size_t K>
struct alignas(64) FilterHeadWeights
{
    static_assert(W1 == W2, "both recurrent layers share one width");
    static constexpr std::size_t kInput = I;
    static constexpr std::size_t kWidth = W1;
    static constexpr std::size_t kTaps = K;

    std::array<float, W1 * I> inputWeights; // W rows x I columns, oldest window sample first
    std::array<float, W1> normGain;
    std::array<float, W1> normBias;
    std::array<float, 3 * W1 * W1> gru1InputWeights; // rows: reset gate, update gate, candidate
    std::array<float, 3 * W1 * W1> gru1RecurrentWeights;
    std::array<float, 3 * W1> gru1InputBias;
    std::array<float, 3 * W1> gru1RecurrentBias;
    std::array<float, 3 * W2 * W1> gru2InputWeights;
    std::array<float, 3 * W2 * W2> gru2RecurrentWeights;
    std::array<float, 3 * W2> gru2InputBias;
    std::array<float, 3 * W2> gru2RecurrentBias;
    std::array<float, K * W2> outputWeights; // K rows x W columns, row k produces tap k
    float outputScale;

    /// Every array 0, scale 1: the state the loader prepares before a blob is read.
    void clear()
    {
        inputWeights.fill(0.0f);
        normGain.fill(0.0f);
        normBias.fill(0.0f);
        gru1InputWeights.fill(0.0f);
        gru1RecurrentWeights.fill(0.0f);
        gru1InputBias.fill(0.0f);
        gru1RecurrentBias.fill(0.0f);
        gru2InputWeights.fill(0.0f);
        gru2RecurrentWeights.fill(0.0f);
        gru2InputBias.fill(0.0f);
        gru2RecurrentBias.fill(0.0f);
        outputWeights.fill(0.0f);
        outputScale = 1.0f;
    }

    /// Calls f(pointer, floatCount) for the twelve body arrays in blob order.
    template <typename F> void forEachArray(F&& f)
    {
        f(inputWeights.data(), inputWeights.size());
        f(normGain.data(), normGain.size());
        f(normBias.data(), normBias.size());
        f(gru1InputWeights.data(), gru1InputWeights.size());
        f(gru1RecurrentWeights.data(), gru1RecurrentWeights.size());
        f(gru1InputBias.data(), gru1InputBias.size());
        f(gru1RecurrentBias.data(), gru1RecurrentBias.size());
        f(gru2InputWeights.data(), gru2InputWeights.size());
        f(gru2RecurrentWeights.data(), gru2RecurrentWeights.size());
        f(gru2InputBias.data(), gru2InputBias.size());
        f(gru2RecurrentBias.data(), gru2RecurrentBias.size());
        f(outputWeights.data(), outputWeights.size());
    }
    template <typename F> void forEachArray(F&& f) const
    {
        const_cast<FilterHeadWeights*>(this)->forEachArray(
            [&](float* p, std::size_t n) { f(static_cast<const float*>(p), n); });
    }

    /// Number of body floats (everything except the scale).
    static constexpr std::size_t bodyFloats()
    {
        return W1 * I + 2 * W1 + 2 * (3 * W1 * W1) + 2 * (3 * W1) + 2 * (3 * W2 * W2) + 2 * (3 * W2) + K * W2;
    }
};

using FullModelWeights = FilterHeadWeights<512, 96, 96, 256>;
using EcoModelWeights = FilterHeadWeights<512, 64, 64, 192>;

static_assert(FullModelWeights::bodyFloats() == 185664, "full model body");
static_assert(EcoModelWeights::bodyFloats() == 95104, "ECO model body");

} // namespace brindlecot::dsp
