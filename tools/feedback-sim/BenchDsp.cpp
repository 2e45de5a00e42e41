#include "feedback-sim/BenchDsp.h"

#include <algorithm>
#include <utility>

namespace brindlecot::sim {

size_t nextPowerOfTwo(size_t n)
{
    size_t p = 1;
    while (p < n)
        p <<= 1;
    return p;
}

void fftInPlace(std::vector<std::complex<double>>& x, bool inverse)
{
    const size_t n = x.size();
    if (n < 2)
        return;
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(x[i], x[j]);
    }
    const double sign = inverse ? 1.0 : -1.0;
    for (size_t len = 2; len <= n; len <<= 1) {
        const size_t half = len / 2;
        // Twiddles computed directly per index (not by repeated multiplication) so long transforms
        // keep full double precision.
        for (size_t k = 0; k < half; ++k) {
            const std::complex<double> w = std::polar(1.0, sign * 2.0 * M_PI * static_cast<double>(k) / len);
            for (size_t i = k; i < n; i += len) {
                const std::complex<double> u = x[i];
                const std::complex<double> v = x[i + half] * w;
                x[i] = u + v;
                x[i + half] = u - v;
            }
        }
    }
    if (inverse) {
        const double scale = 1.0 / static_cast<double>(n);
        for (auto& v : x)
            v *= scale;
    }
}

std::complex<double> Sos::response(double frequencyHz, double sampleRate) const
{
    const std::complex<double> z1 = std::polar(1.0, -2.0 * M_PI * frequencyHz / sampleRate);
    const std::complex<double> z2 = z1 * z1;
    return (b0 + b1 * z1 + b2 * z2) / (1.0 + a1 * z1 + a2 * z2);
}

namespace {

double clampHz(double hz, double sampleRate)
{
    return std::clamp(hz, 1.0, 0.45 * sampleRate);
}

Sos normalise(double b0, double b1, double b2, double a0, double a1, double a2)
{
    return Sos {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

} // namespace

Sos designHighPass(double cornerHz, double q, double sampleRate)
{
    const double w0 = 2.0 * M_PI * clampHz(cornerHz, sampleRate) / sampleRate;
    const double alpha = std::sin(w0) / (2.0 * q);
    const double c = std::cos(w0);
    return normalise((1.0 + c) / 2.0, -(1.0 + c), (1.0 + c) / 2.0, 1.0 + alpha, -2.0 * c, 1.0 - alpha);
}

Sos designLowPass(double cornerHz, double q, double sampleRate)
{
    const double w0 = 2.0 * M_PI * clampHz(cornerHz, sampleRate) / sampleRate;
    const double alpha = std::sin(w0) / (2.0 * q);
    const double c = std::cos(w0);
    return normalise((1.0 - c) / 2.0, 1.0 - c, (1.0 - c) / 2.0, 1.0 + alpha, -2.0 * c, 1.0 - alpha);
}

Sos designPeaking(double frequencyHz, double gainDb, double q, double sampleRate)
{
    const double a = std::pow(10.0, gainDb / 40.0);
    const double w0 = 2.0 * M_PI * clampHz(frequencyHz, sampleRate) / sampleRate;
    const double alpha = std::sin(w0) / (2.0 * q);
    const double c = std::cos(w0);
    return normalise(1.0 + alpha * a, -2.0 * c, 1.0 - alpha * a, 1.0 + alpha / a, -2.0 * c, 1.0 - alpha / a);
}

Sos designNotch(double frequencyHz, double bandwidthOctaves, double sampleRate)
{
    const double w0 = 2.0 * M_PI * clampHz(frequencyHz, sampleRate) / sampleRate;
    const double s = std::sin(w0);
    const double alpha = s * std::sinh(std::log(2.0) / 2.0 * bandwidthOctaves * w0 / s);
    const double c = std::cos(w0);
    return normalise(1.0, -2.0 * c, 1.0, 1.0 + alpha, -2.0 * c, 1.0 - alpha);
}

void filterInPlace(std::vector<double>& x, const std::vector<Sos>& cascade)
{
    for (const Sos& c : cascade) {
        SosFilter f(c);
        for (double& v : x)
            v = f.process(v);
    }
}

} // namespace brindlecot::sim
