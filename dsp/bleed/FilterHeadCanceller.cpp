#include "dsp/bleed/FilterHeadCanceller.h"

#include "dsp/bleed/VectorKernels.h"

#include <cmath>

namespace brindlecot::dsp {

template <std::size_t I, std::size_t W1, std::size_t W2, std::size_t K>
void FilterHeadCanceller<I, W1, W2, K>::reset()
{
    mirror_.fill(0.0f);
    hopFrame.fill(0.0f);
    previousTaps.fill(0.0f);
    currentTaps.fill(0.0f);
    newTaps.fill(0.0f);
    historyIndex = 0;
    hopIndex = 0;
    gain = gainTarget;
    network.reset();
}

template <std::size_t I, std::size_t W1, std::size_t W2, std::size_t K>
float FilterHeadCanceller<I, W1, W2, K>::process(float x)
{
    if (!std::isfinite(x))
        x = 0.0f;
    const std::size_t slot = K - 1 - static_cast<std::size_t>(historyIndex);
    mirror_[slot] = x;
    mirror_[slot + K] = x;

    // Newest first: mirror_[slot + k] is the sample k samples ago.
    float c = 0.0f;
    float q = 0.0f;
    kernels::dot2(currentTaps.data(), previousTaps.data(), mirror_.data() + slot, K, c, q);

    gain = gain + (gainTarget - gain) * 0.002f;
    const float fade = static_cast<float>(hopIndex + 1) * 0.03125f;
    const float estimate = (fade * (c - q) + q) * gain;
    const float y = std::isfinite(estimate) ? x - estimate : x;

    hopFrame[hopIndex] = x;
    ++hopIndex;
    if (hopIndex == kHop) {
        bool ok = network.step(hopFrame.data(), newTaps.data());
        for (std::size_t k = 0; k < K && ok; ++k)
            ok = std::isfinite(newTaps[k]);
        previousTaps = currentTaps;
        if (ok) {
            currentTaps = newTaps;
        } else {
            // Fade to no filter over the next hop and restart the network from silence.
            currentTaps.fill(0.0f);
            newTaps.fill(0.0f);
            network.reset();
        }
        hopIndex = 0;
    }
    historyIndex = (historyIndex + 1) % K;
    return std::isfinite(y) ? y : x;
}

template class FilterHeadCanceller<512, 96, 96, 256>;
template class FilterHeadCanceller<512, 64, 64, 192>;

} // namespace brindlecot::dsp
