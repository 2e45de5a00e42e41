#include "dsp/bleed/BleedFft.h"

#include <cmath>
#include <utility>

namespace brindlecot::dsp {

BleedFft::BleedFft()
{
    constexpr unsigned bits = 10;
    for (std::size_t i = 0; i < kSize; ++i) {
        unsigned r = 0;
        for (unsigned b = 0; b < bits; ++b)
            r |= ((static_cast<unsigned>(i) >> b) & 1u) << (bits - 1 - b);
        bitReverse_[i] = static_cast<uint16_t>(r);
    }
    // Each stage's twiddles are the N-point ones cos(-2 pi j / N), sin(-2 pi j / N) at stride N/(2h),
    // stored contiguously so the butterfly loop reads them in order.
    for (std::size_t half = 1; half < kSize; half *= 2) {
        const std::size_t stride = kSize / (2 * half);
        for (std::size_t k = 0; k < half; ++k) {
            const double phase = -2.0 * M_PI * static_cast<double>(k * stride) / static_cast<double>(kSize);
            twiddleRe_[half - 1 + k] = static_cast<float>(std::cos(phase));
            twiddleIm_[half - 1 + k] = static_cast<float>(std::sin(phase));
        }
    }
}

namespace {

    // Stages with half-size 4 and up; plain loops the compiler vectorises, built for the baseline and
    // for AVX2 + FMA, chosen once at load time.
    __attribute__((target_clones("avx2,fma", "default"))) void radix2Stages(
        float* re, float* im, const float* twiddleRe, const float* twiddleIm)
    {
        constexpr std::size_t n = BleedFft::kSize;
        for (std::size_t half = 4; half < n; half *= 2) {
            const float* __restrict wr = twiddleRe + (half - 1);
            const float* __restrict wi = twiddleIm + (half - 1);
            for (std::size_t start = 0; start < n; start += 2 * half) {
                float* __restrict ar = re + start;
                float* __restrict ai = im + start;
                float* __restrict br = ar + half;
                float* __restrict bi = ai + half;
                for (std::size_t k = 0; k < half; ++k) {
                    const float tr = wr[k] * br[k] - wi[k] * bi[k];
                    const float ti = wr[k] * bi[k] + wi[k] * br[k];
                    br[k] = ar[k] - tr;
                    bi[k] = ai[k] - ti;
                    ar[k] = ar[k] + tr;
                    ai[k] = ai[k] + ti;
                }
            }
        }
    }

} // namespace

void BleedFft::transform(float* re, float* im) const
{
    for (std::size_t i = 0; i < kSize; ++i) {
        const std::size_t r = bitReverse_[i];
        if (r > i) {
            std::swap(re[i], re[r]);
            std::swap(im[i], im[r]);
        }
    }
    // The first two stages together as radix-4 butterflies: their twiddles are 1 and -i.
    for (std::size_t s = 0; s < kSize; s += 4) {
        const float r0 = re[s] + re[s + 1], i0 = im[s] + im[s + 1];
        const float r1 = re[s] - re[s + 1], i1 = im[s] - im[s + 1];
        const float r2 = re[s + 2] + re[s + 3], i2 = im[s + 2] + im[s + 3];
        const float r3 = re[s + 2] - re[s + 3], i3 = im[s + 2] - im[s + 3];
        re[s] = r0 + r2;
        im[s] = i0 + i2;
        re[s + 2] = r0 - r2;
        im[s + 2] = i0 - i2;
        re[s + 1] = r1 + i3; // r1 + (-i)(r3 + i i3)
        im[s + 1] = i1 - r3;
        re[s + 3] = r1 - i3;
        im[s + 3] = i1 + r3;
    }
    radix2Stages(re, im, twiddleRe_.data(), twiddleIm_.data());
}

void BleedFft::forwardReal(const float* frame, Complex* bins, Scratch& scratch) const
{
    for (std::size_t i = 0; i < kSize; ++i) {
        scratch.re[i] = frame[i];
        scratch.im[i] = 0.0f;
    }
    transform(scratch.re.data(), scratch.im.data());
    for (std::size_t k = 0; k < kBins; ++k)
        bins[k] = Complex(scratch.re[k], scratch.im[k]);
}

void BleedFft::forwardRealPair(
    const float* a, const float* b, Complex* binsA, Complex* binsB, Scratch& scratch) const
{
    // One complex transform of z = a + i b; A_k = (Z_k + conj Z_(N-k)) / 2, B_k = (Z_k - conj Z_(N-k)) / 2i.
    for (std::size_t i = 0; i < kSize; ++i) {
        scratch.re[i] = a[i];
        scratch.im[i] = b[i];
    }
    transform(scratch.re.data(), scratch.im.data());
    for (std::size_t k = 0; k < kBins; ++k) {
        const std::size_t m = (kSize - k) % kSize;
        const float zr = scratch.re[k], zi = scratch.im[k];
        const float cr = scratch.re[m], ci = -scratch.im[m];
        binsA[k] = Complex(0.5f * (zr + cr), 0.5f * (zi + ci));
        binsB[k] = Complex(0.5f * (zi - ci), -0.5f * (zr - cr));
    }
}

void BleedFft::inverseReal(const Complex* bins, float* frame, Scratch& scratch) const
{
    // x = conj(FFT(conj(X))) / N; only the real part is kept, so the outer conjugate is dropped.
    for (std::size_t k = 0; k < kBins; ++k) {
        scratch.re[k] = bins[k].real();
        scratch.im[k] = -bins[k].imag();
    }
    for (std::size_t k = kBins; k < kSize; ++k) {
        scratch.re[k] = bins[kSize - k].real(); // conj(conj(X[N - k]))
        scratch.im[k] = bins[kSize - k].imag();
    }
    transform(scratch.re.data(), scratch.im.data());
    const float scale = 1.0f / static_cast<float>(kSize);
    for (std::size_t i = 0; i < kSize; ++i)
        frame[i] = scratch.re[i] * scale;
}

} // namespace brindlecot::dsp
