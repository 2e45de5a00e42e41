#include "dsp/bleed/BleedFft.h"

#include "dsp/bleed/VectorKernels.h"

#include <cmath>
#include <utility>

// The 8- and 16-lane helpers are always inlined into the AVX2 and AVX-512 functions: no wide vector
// crosses a call.
#pragma GCC diagnostic ignored "-Wpsabi"

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

typedef float F4 __attribute__((vector_size(16)));
typedef float F8 __attribute__((vector_size(32)));
typedef float F16 __attribute__((vector_size(64)));

template <typename F> __attribute__((always_inline)) inline F load(const float* p)
{
    F v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}
template <typename F> __attribute__((always_inline)) inline void store(float* p, const F& v)
{
    __builtin_memcpy(p, &v, sizeof v);
}

// Stages with half-size 4 and up, one vector of consecutive butterflies at a time. The stage
// with half-size 4 runs with 4-lane vectors also on the 8-lane path.
template <typename F>
__attribute__((always_inline)) inline void stage(
    float* re, float* im, const float* twiddleRe, const float* twiddleIm, std::size_t half)
{
    constexpr std::size_t lanes = sizeof(F) / sizeof(float);
    const float* wr = twiddleRe + (half - 1);
    const float* wi = twiddleIm + (half - 1);
    for (std::size_t start = 0; start < BleedFft::kSize; start += 2 * half) {
        float* ar = re + start;
        float* ai = im + start;
        float* br = ar + half;
        float* bi = ai + half;
        for (std::size_t k = 0; k < half; k += lanes) {
            const F xr = load<F>(br + k), xi = load<F>(bi + k);
            const F cr = load<F>(wr + k), ci = load<F>(wi + k);
            const F tr = cr * xr - ci * xi;
            const F ti = cr * xi + ci * xr;
            const F yr = load<F>(ar + k), yi = load<F>(ai + k);
            store(br + k, yr - tr);
            store(bi + k, yi - ti);
            store(ar + k, yr + tr);
            store(ai + k, yi + ti);
        }
    }
}

void radix2StagesSse2(float* re, float* im, const float* twiddleRe, const float* twiddleIm)
{
    for (std::size_t half = 4; half < BleedFft::kSize; half *= 2)
        stage<F4>(re, im, twiddleRe, twiddleIm, half);
}

__attribute__((target("avx2,fma"))) void radix2StagesAvx2(
    float* re, float* im, const float* twiddleRe, const float* twiddleIm)
{
    stage<F4>(re, im, twiddleRe, twiddleIm, 4);
    for (std::size_t half = 8; half < BleedFft::kSize; half *= 2)
        stage<F8>(re, im, twiddleRe, twiddleIm, half);
}

// Stages from half-size 16 on with 16-lane vectors: the same operations per butterfly as the AVX2
// stages, so the same bits.
__attribute__((target("avx512f,avx2,fma"))) void radix2StagesAvx512(
    float* re, float* im, const float* twiddleRe, const float* twiddleIm)
{
    stage<F4>(re, im, twiddleRe, twiddleIm, 4);
    stage<F8>(re, im, twiddleRe, twiddleIm, 8);
    for (std::size_t half = 16; half < BleedFft::kSize; half *= 2)
        stage<F16>(re, im, twiddleRe, twiddleIm, half);
}

void radix2Stages(float* re, float* im, const float* twiddleRe, const float* twiddleIm)
{
    // Follows the kernel path chosen at start-up (or forced by a test).
    switch (kernels::activePath()) {
    case kernels::Path::Avx512:
        radix2StagesAvx512(re, im, twiddleRe, twiddleIm);
        break;
    case kernels::Path::Avx2Fma:
        radix2StagesAvx2(re, im, twiddleRe, twiddleIm);
        break;
    case kernels::Path::Sse2:
        radix2StagesSse2(re, im, twiddleRe, twiddleIm);
        break;
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
    butterflies(re, im);
}

void BleedFft::butterflies(float* re, float* im) const
{
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
    // Read in bit-reversed order instead of permuting in place (no data-dependent branches).
    for (std::size_t i = 0; i < kSize; ++i) {
        scratch.re[i] = frame[bitReverse_[i]];
        scratch.im[i] = 0.0f;
    }
    butterflies(scratch.re.data(), scratch.im.data());
    for (std::size_t k = 0; k < kBins; ++k)
        bins[k] = Complex(scratch.re[k], scratch.im[k]);
}

void BleedFft::forwardRealPair(
    const float* a, const float* b, Complex* binsA, Complex* binsB, Scratch& scratch) const
{
    // One complex transform of z = a + i b; A_k = (Z_k + conj Z_(N-k)) / 2, B_k = (Z_k - conj Z_(N-k)) / 2i.
    for (std::size_t i = 0; i < kSize; ++i) {
        scratch.re[i] = a[bitReverse_[i]];
        scratch.im[i] = b[bitReverse_[i]];
    }
    butterflies(scratch.re.data(), scratch.im.data());
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
    // Written straight to the bit-reversed positions the butterflies expect.
    for (std::size_t k = 0; k < kBins; ++k) {
        scratch.re[bitReverse_[k]] = bins[k].real();
        scratch.im[bitReverse_[k]] = -bins[k].imag();
    }
    for (std::size_t k = kBins; k < kSize; ++k) {
        scratch.re[bitReverse_[k]] = bins[kSize - k].real(); // conj(conj(X[N - k]))
        scratch.im[bitReverse_[k]] = bins[kSize - k].imag();
    }
    butterflies(scratch.re.data(), scratch.im.data());
    const float scale = 1.0f / static_cast<float>(kSize);
    for (std::size_t i = 0; i < kSize; ++i)
        frame[i] = scratch.re[i] * scale;
}

} // namespace brindlecot::dsp
