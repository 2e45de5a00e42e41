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
    for (std::size_t j = 0; j < kSize / 2; ++j) {
        const double phase = -2.0 * M_PI * static_cast<double>(j) / static_cast<double>(kSize);
        twiddle_[j] = Complex(static_cast<float>(std::cos(phase)), static_cast<float>(std::sin(phase)));
    }
}

void BleedFft::transform(std::array<Complex, kSize>& data) const
{
    for (std::size_t i = 0; i < kSize; ++i) {
        const std::size_t r = bitReverse_[i];
        if (r > i)
            std::swap(data[i], data[r]);
    }
    for (std::size_t half = 1; half < kSize; half *= 2) {
        const std::size_t stride = kSize / (2 * half);
        for (std::size_t start = 0; start < kSize; start += 2 * half) {
            for (std::size_t k = 0; k < half; ++k) {
                const Complex w = twiddle_[k * stride];
                const Complex a = data[start + k];
                const Complex b = data[start + k + half];
                // Plain complex product (std::complex's operator* adds NaN/Inf recovery we don't need).
                const Complex t(w.real() * b.real() - w.imag() * b.imag(), w.real() * b.imag() + w.imag() * b.real());
                data[start + k] = a + t;
                data[start + k + half] = a - t;
            }
        }
    }
}

void BleedFft::forwardReal(const float* frame, Complex* bins, std::array<Complex, kSize>& scratch) const
{
    for (std::size_t i = 0; i < kSize; ++i)
        scratch[i] = Complex(frame[i], 0.0f);
    transform(scratch);
    for (std::size_t k = 0; k < kBins; ++k)
        bins[k] = scratch[k];
}

void BleedFft::inverseReal(const Complex* bins, float* frame, std::array<Complex, kSize>& scratch) const
{
    // x = conj(FFT(conj(X))) / N; only the real part is kept, so the outer conjugate is dropped.
    for (std::size_t k = 0; k < kBins; ++k)
        scratch[k] = std::conj(bins[k]);
    for (std::size_t k = kBins; k < kSize; ++k)
        scratch[k] = bins[kSize - k]; // conj(conj(X[N - k]))
    transform(scratch);
    const float scale = 1.0f / static_cast<float>(kSize);
    for (std::size_t i = 0; i < kSize; ++i)
        frame[i] = scratch[i].real() * scale;
}

} // namespace brindlecot::dsp
