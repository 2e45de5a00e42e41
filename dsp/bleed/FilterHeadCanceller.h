// Filter-head canceller: the network predicts an FIR estimate of the bleed every 32 samples; the
// estimate, crossfaded linearly from the previous filter to the new one over the next hop, is
// subtracted from the mono mix. The output is the clean reference, at zero latency.
#pragma once

#include "dsp/bleed/FilterHeadNetwork.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace brindlecot::dsp {

template <std::size_t I, std::size_t W1, std::size_t W2, std::size_t K> class FilterHeadCanceller
{
public:
    using Network = FilterHeadNetwork<I, W1, W2, K>;
    using Weights = typename Network::Weights;
    static constexpr std::size_t kHop = Network::kHop;
    static constexpr std::size_t kTaps = K;

    Network network;
    alignas(64) std::array<float, kHop> hopFrame {};
    alignas(64) std::array<float, K> previousTaps {}; // tap k multiplies the sample k samples ago
    alignas(64) std::array<float, K> currentTaps {};
    alignas(64) std::array<float, K> newTaps {};
    uint64_t historyIndex = 0; // slot of the next write, which holds the oldest sample
    uint64_t hopIndex = 0;
    float gainTarget = 1.0f;
    float gain = 1.0f;

    /// Points the network at a loaded weight set (construction time only).
    void setWeights(const Weights* weights) { network.weights = weights; }
    const Weights* weights() const { return network.weights; }

    /// One mono sample in, the clean sample out.
    float process(float x);
    /// History, hop, taps and network state cleared; gain snapped to its target.
    void reset();

    /// The history sample `age` samples ago (0 = the one written by the last process call).
    float historyAt(std::size_t age) const { return mirror_[K - historyIndex + (age % K)]; }

private:
    // The K-entry circular history, stored time-reversed and twice (slot i at K-1-i and 2K-1-i) so
    // that the newest-first run of K samples is contiguous for the vector dot product.
    alignas(64) std::array<float, 2 * K> mirror_ {};
};

using FullModelCanceller = FilterHeadCanceller<512, 96, 96, 256>;
using EcoModelCanceller = FilterHeadCanceller<512, 64, 64, 192>;

extern template class FilterHeadCanceller<512, 96, 96, 256>;
extern template class FilterHeadCanceller<512, 64, 64, 192>;

} // namespace brindlecot::dsp
