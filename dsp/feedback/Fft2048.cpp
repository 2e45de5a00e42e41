#include "dsp/feedback/Fft2048.h"

#include <cmath>
#include <emmintrin.h>
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
    for (size_t m = 4; m < kSize; m <<= 1)
        for (size_t k = 0; k < m; ++k) {
            stageCos_[m - 4 + k] = cosTable_[k * (kHalf / m)];
            stageSin_[m - 4 + k] = sinTable_[k * (kHalf / m)];
        }
}

void Fft2048::transformBitReversed(float* re, float* im, bool inverse) const
{
    const float sign = inverse ? -1.0f : 1.0f;
    // Stages of span m = 1, 2, 4 ... 1024; butterfly k of a stage uses twiddle index k * 1024 / m.
    // Spans 1 and 2 run scalar; wider spans run four butterflies at once with the same multiplies
    // and additions in the same order (no fused multiply-add), so results are bit-identical.
    for (size_t m = 1; m < 4; m <<= 1) {
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
    // sign * x for sign = -1 is a flip of the sign bit.
    const __m128 flip = _mm_set1_ps(inverse ? -0.0f : 0.0f);
    for (size_t m = 4; m < kSize; m <<= 1) {
        const float* cw = stageCos_.data() + (m - 4);
        const float* sw = stageSin_.data() + (m - 4);
        for (size_t start = 0; start < kSize; start += 2 * m) {
            float* re0 = re + start;
            float* im0 = im + start;
            float* re1 = re0 + m;
            float* im1 = im0 + m;
            for (size_t k = 0; k < m; k += 4) {
                const __m128 wr = _mm_loadu_ps(cw + k);
                const __m128 wi = _mm_xor_ps(_mm_loadu_ps(sw + k), flip);
                const __m128 ro = _mm_loadu_ps(re1 + k);
                const __m128 io = _mm_loadu_ps(im1 + k);
                const __m128 xe = _mm_loadu_ps(re0 + k);
                const __m128 ye = _mm_loadu_ps(im0 + k);
                const __m128 tr = _mm_sub_ps(_mm_mul_ps(wr, ro), _mm_mul_ps(wi, io));
                const __m128 ti = _mm_add_ps(_mm_mul_ps(wr, io), _mm_mul_ps(wi, ro));
                _mm_storeu_ps(re1 + k, _mm_sub_ps(xe, tr));
                _mm_storeu_ps(im1 + k, _mm_sub_ps(ye, ti));
                _mm_storeu_ps(re0 + k, _mm_add_ps(xe, tr));
                _mm_storeu_ps(im0 + k, _mm_add_ps(ye, ti));
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
