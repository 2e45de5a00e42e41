#include "dsp/feedback/Fft2048.h"

#include <cmath>
#include <utility>

namespace brindlecot::dsp {

Fft2048::Fft2048()
{
    constexpr uint32_t kBits = 11; // 2^11 = 2048
    for (uint32_t i = 0; i < kSize; ++i) {
        uint32_t r = 0;
        for (uint32_t b = 0; b < kBits; ++b)
            r |= ((i >> b) & 1u) << (kBits - 1u - b);
        bitReverse_[i] = r;
    }
    for (size_t j = 0; j < kHalf; ++j) {
        const double phase = -2.0 * M_PI * static_cast<double>(j) / static_cast<double>(kSize);
        cosTable_[j] = static_cast<float>(std::cos(phase));
        sinTable_[j] = static_cast<float>(std::sin(phase));
    }
}

void Fft2048::transformBitReversed(float* re, float* im, bool inverse) const
{
    const float sign = inverse ? -1.0f : 1.0f;
    // Stages of span m = 1, 2, 4 ... 1024; butterfly k of a stage uses twiddle index k * 1024 / m.
    for (size_t m = 1; m < kSize; m <<= 1) {
        const size_t stride = kHalf / m;
        for (size_t start = 0; start < kSize; start += 2 * m) {
            for (size_t k = 0; k < m; ++k) {
                const float wr = cosTable_[k * stride];
                const float wi = sign * sinTable_[k * stride];
                const size_t e = start + k;
                const size_t o = e + m;
                const float tr = wr * re[o] - wi * im[o];
                const float ti = wr * im[o] + wi * re[o];
                re[o] = re[e] - tr;
                im[o] = im[e] - ti;
                re[e] += tr;
                im[e] += ti;
            }
        }
    }
}

void Fft2048::transform(float* re, float* im, bool inverse) const
{
    for (size_t i = 0; i < kSize; ++i) {
        const size_t r = bitReverse_[i];
        if (r > i) {
            std::swap(re[i], re[r]);
            std::swap(im[i], im[r]);
        }
    }
    transformBitReversed(re, im, inverse);
}

} // namespace brindlecot::dsp
