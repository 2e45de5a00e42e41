// The filter-head network: every hop of 32 samples it looks at the last I input samples and emits
// K FIR taps. Input projection, layer normalisation with tanh, two GRU layers (reset / update /
// candidate form with the reset gate on the recurrent part including its bias), tanh output head.
#pragma once

#include "dsp/bleed/FilterHeadWeights.h"

#include <array>
#include <cstddef>

namespace brindlecot::dsp {

template <std::size_t I, std::size_t W1, std::size_t W2, std::size_t K> class FilterHeadNetwork
{
public:
    static_assert(W1 == W2, "both recurrent layers share one width");
    static_assert(I % 16 == 0 && W1 % 16 == 0 && K % 16 == 0, "sizes the vector kernels accept");
    static constexpr std::size_t kInput = I;
    static constexpr std::size_t kHop = 32;
    static constexpr std::size_t kWidth = W1;
    static constexpr std::size_t kTaps = K;
    using Weights = FilterHeadWeights<I, W1, W2, K>;

    /// Not owned; null means no model (step does nothing and returns false).
    const Weights* weights = nullptr;
    alignas(64) std::array<float, I> window {}; // oldest first, window[I - 1] newest
    alignas(64) std::array<float, W1> gru1State {};
    alignas(64) std::array<float, W2> gru2State {};

    /// Takes 32 new samples (hop[31] newest) and writes K taps. False, with nothing changed,
    /// when there are no weights.
    bool step(const float* hop, float* taps);
    /// Window and both recurrent states to 0.
    void reset();

private:
    void gru(const float* x, float* h, const float* inputWeights, const float* recurrentWeights,
        const float* inputBias, const float* recurrentBias);

    // Scratch, sized at compile time.
    alignas(64) std::array<float, W1> projection_ {};
    alignas(64) std::array<float, W1> normalised_ {};
    alignas(64) std::array<float, 3 * W1> inputGates_ {};
    alignas(64) std::array<float, 3 * W1> recurrentGates_ {};
    alignas(64) std::array<float, K> outputSums_ {};
};

using FullModelNetwork = FilterHeadNetwork<512, 96, 96, 256>;
using EcoModelNetwork = FilterHeadNetwork<512, 64, 64, 192>;

extern template class FilterHeadNetwork<512, 96, 96, 256>;
extern template class FilterHeadNetwork<512, 64, 64, 192>;

} // namespace brindlecot::dsp
