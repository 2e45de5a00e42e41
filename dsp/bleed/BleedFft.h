// 1024-point complex FFT for the spectral bleed processor: iterative radix-2 decimation in time on
// split real / imaginary arrays, bit-reversal permutation and per-stage twiddles built once at
// construction. Forward uses e^(-2 pi i n k / N) with no scaling; the inverse takes bins 0..512 of a
// real signal's spectrum, extends them by conjugate symmetry and scales by 1/N.
#pragma once

#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>

namespace brindlecot::dsp {

class BleedFft
{
public:
    static constexpr std::size_t kSize = 1024;
    static constexpr std::size_t kBins = kSize / 2 + 1;
    using Complex = std::complex<float>;

    /// Working arrays of one transform (split format).
    struct Scratch
    {
        alignas(64) std::array<float, kSize> re {};
        alignas(64) std::array<float, kSize> im {};
    };

    BleedFft();

    /// In place, forward (no scaling).
    void transform(float* re, float* im) const;
    /// Forward transform of a real frame; writes bins 0..512.
    void forwardReal(const float* frame, Complex* bins, Scratch& scratch) const;
    /// Forward transforms of two real frames with one complex transform; bins 0..512 of each.
    void forwardRealPair(
        const float* a, const float* b, Complex* binsA, Complex* binsB, Scratch& scratch) const;
    /// Inverse of a conjugate-symmetric spectrum given by bins 0..512, scaled by 1/N; real part.
    void inverseReal(const Complex* bins, float* frame, Scratch& scratch) const;

private:
    /// The butterflies of transform() on data already in bit-reversed order.
    void butterflies(float* re, float* im) const;

    std::array<uint16_t, kSize> bitReverse_ {};
    // Stage with half-size h uses entries [h - 1, 2h - 1): cos and sin of -2 pi k / (2h), k < h.
    alignas(64) std::array<float, kSize> twiddleRe_ {};
    alignas(64) std::array<float, kSize> twiddleIm_ {};
};

} // namespace brindlecot::dsp
