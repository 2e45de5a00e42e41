// 1024-point complex FFT for the spectral bleed processor: iterative radix-2 decimation in time,
// bit-reversal permutation and twiddles built once at construction. Forward uses e^(-2 pi i n k / N)
// with no scaling; the inverse takes bins 0..512 of a real signal's spectrum, extends them by
// conjugate symmetry and scales by 1/N.
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

    BleedFft();

    /// In place, forward (no scaling).
    void transform(std::array<Complex, kSize>& data) const;
    /// Forward transform of a real frame; writes bins 0..512.
    void forwardReal(const float* frame, Complex* bins, std::array<Complex, kSize>& scratch) const;
    /// Inverse of a conjugate-symmetric spectrum given by bins 0..512, scaled by 1/N; real part.
    void inverseReal(const Complex* bins, float* frame, std::array<Complex, kSize>& scratch) const;

private:
    std::array<uint16_t, kSize> bitReverse_ {};
    std::array<Complex, kSize / 2> twiddle_ {}; // cos(-2 pi j / N) + i sin(-2 pi j / N)
};

} // namespace brindlecot::dsp
