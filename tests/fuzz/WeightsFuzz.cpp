// Feeds arbitrary bytes to both weight blob readers (memory and stream): they must never read out
// of bounds, never throw, and report Ok only for a blob whose every coefficient is finite.
#include "dsp/bleed/WeightsIO.h"

#include <cmath>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

namespace {

template <std::size_t I, std::size_t S, std::size_t W1, std::size_t W2, std::size_t K>
void check(const uint8_t* data, size_t size)
{
    using namespace brindlecot::dsp;
    static auto weights = std::make_unique<FilterHeadWeights<I, W1, W2, K>>(); // large: reused
    weights->clear();
    const weightsio::Status a = weightsio::readMemory<I, S, W1, W2, K>(data, size, *weights);
    if (a == weightsio::Status::Ok) {
        bool finite = std::isfinite(weights->outputScale) && weights->outputScale > 0.0f;
        weights->forEachArray([&](const float* p, std::size_t n) {
            for (std::size_t i = 0; i < n; ++i)
                finite = finite && std::isfinite(p[i]);
        });
        if (!finite || size < weightsio::blobBytes<I, W1, W2, K>())
            std::abort();
    } else if (weights->outputScale != 1.0f) {
        std::abort();
    }
    weights->clear();
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size), std::ios::binary);
    const weightsio::Status b = weightsio::readStream<I, S, W1, W2, K>(in, *weights);
    if (size > 0 && a != b)
        std::abort();
    if (weightsio::statusMessage(b).empty())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    check<512, 32, 96, 96, 256>(data, size);
    check<512, 32, 64, 64, 192>(data, size);
    return 0;
}
