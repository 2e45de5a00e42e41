#include "dsp/bleed/FilterHeadNetwork.h"

#include "dsp/bleed/VectorKernels.h"

#include <cmath>
#include <cstring>

namespace brindlecot::dsp {

template <std::size_t I, std::size_t W1, std::size_t W2, std::size_t K>
void FilterHeadNetwork<I, W1, W2, K>::reset()
{
    window.fill(0.0f);
    gru1State.fill(0.0f);
    gru2State.fill(0.0f);
}

template <std::size_t I, std::size_t W1, std::size_t W2, std::size_t K>
void FilterHeadNetwork<I, W1, W2, K>::gru(const float* x, float* h, const float* inputWeights,
    const float* recurrentWeights, const float* inputBias, const float* recurrentBias)
{
    constexpr std::size_t W = W1;
    // Both gate products come from the old state; the state is replaced only afterwards.
    kernels::matVec(inputWeights, x, inputGates_.data(), 3 * W, W);
    kernels::matVec(recurrentWeights, h, recurrentGates_.data(), 3 * W, W);
    kernels::gruCombine(inputGates_.data(), recurrentGates_.data(), inputBias, recurrentBias, h, W);
}

template <std::size_t I, std::size_t W1, std::size_t W2, std::size_t K>
bool FilterHeadNetwork<I, W1, W2, K>::step(const float* hop, float* taps)
{
    if (weights == nullptr)
        return false;
    const Weights& w = *weights;
    constexpr std::size_t W = W1;

    std::memmove(window.data(), window.data() + kHop, sizeof(float) * (I - kHop));
    std::memcpy(window.data() + (I - kHop), hop, sizeof(float) * kHop);

    kernels::matVec(w.inputWeights.data(), window.data(), projection_.data(), W, I);

    // Layer normalisation (population variance) followed by tanh.
    float sum = 0.0f;
    for (std::size_t j = 0; j < W; ++j)
        sum += projection_[j];
    const float mean = sum / static_cast<float>(W);
    float squares = 0.0f;
    for (std::size_t j = 0; j < W; ++j) {
        const float d = projection_[j] - mean;
        squares += d * d;
    }
    const float variance = squares / static_cast<float>(W);
    const float inverseDeviation = 1.0f / std::sqrt(variance + 1e-5f);
    for (std::size_t j = 0; j < W; ++j)
        normalised_[j] = (projection_[j] - mean) * inverseDeviation * w.normGain[j] + w.normBias[j];
    kernels::tanhScaled(normalised_.data(), normalised_.data(), W, 1.0f);

    gru(normalised_.data(), gru1State.data(), w.gru1InputWeights.data(), w.gru1RecurrentWeights.data(),
        w.gru1InputBias.data(), w.gru1RecurrentBias.data());
    gru(gru1State.data(), gru2State.data(), w.gru2InputWeights.data(), w.gru2RecurrentWeights.data(),
        w.gru2InputBias.data(), w.gru2RecurrentBias.data());

    kernels::matVec(w.outputWeights.data(), gru2State.data(), outputSums_.data(), K, W);
    kernels::tanhScaled(outputSums_.data(), taps, K, w.outputScale);
    return true;
}

template class FilterHeadNetwork<512, 96, 96, 256>;
template class FilterHeadNetwork<512, 64, 64, 192>;

} // namespace brindlecot::dsp
