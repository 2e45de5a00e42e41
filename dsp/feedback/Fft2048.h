// Fixed-size 2048-point complex FFT: iterative radix-2 decimation-in-time Cooley-Tukey on separate
// real and imaginary float arrays. Tables are built once at construction; transforms never allocate.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace brindlecot::dsp {

class Fft2048
{
public:
    static constexpr size_t kSize = 2048;
    static constexpr size_t kHalf = kSize / 2;

    Fft2048();

    /// Index whose sample goes to position i of the bit-reversed input.
    uint32_t bitReverse(size_t i) const { return bitReverse_[i]; }

    /// Unscaled in-place transform of data already in bit-reversed order. Forward computes
    /// X[k] = sum x[n] e^(-2 pi i k n / N); inverse conjugates the twiddles (no 1/N scaling).
    void transformBitReversed(float* re, float* im, bool inverse = false) const;

    /// Convenience: permutes natural-order input into bit-reversed order, then transforms in place.
    void transform(float* re, float* im, bool inverse = false) const;

private:
    std::array<uint32_t, kSize> bitReverse_ {};
    std::array<float, kHalf> cosTable_ {}; // cos(-2 pi j / N)
    std::array<float, kHalf> sinTable_ {}; // sin(-2 pi j / N)
    // The twiddles of each stage of span m >= 4 in butterfly order (cosTable_[k * N / (2 m)], k < m)
    // from index m - 4, so the butterflies load them four at a time.
    std::array<float, kSize> stageCos_ {};
    std::array<float, kSize> stageSin_ {};
};

} // namespace brindlecot::dsp
