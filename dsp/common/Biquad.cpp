#include "dsp/common/Biquad.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>

namespace brindlecot::dsp {

namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559;

double clampDesignFrequency(float frequencyHz, float sampleRate)
{
    const double limit = designLimitHz(sampleRate);
    const double f = std::isfinite(frequencyHz) ? static_cast<double>(frequencyHz) : limit;
    return std::clamp(f, 1.0, limit);
}

double safeRate(float sampleRate)
{
    return std::isfinite(sampleRate) ? std::max(1.0f, sampleRate) : 1.0;
}

} // namespace

bool sameBits(const float* a, const float* b, int count)
{
    return std::memcmp(a, b, sizeof(float) * static_cast<size_t>(count)) == 0;
}

bool Biquad::sameAs(const Biquad& other) const
{
    const float mine[17] = {b0, b1, b2, a1, a2, z1, z2, design.b0, design.b1, design.b2, design.a1, design.a2,
        increment.b0, increment.b1, increment.b2, increment.a1, increment.a2};
    const float theirs[17] = {other.b0, other.b1, other.b2, other.a1, other.a2, other.z1, other.z2,
        other.design.b0, other.design.b1, other.design.b2, other.design.a1, other.design.a2,
        other.increment.b0, other.increment.b1, other.increment.b2, other.increment.a1, other.increment.a2};
    return remaining == other.remaining && sameBits(mine, theirs, 17);
}

float designLimitHz(float sampleRate)
{
    return static_cast<float>(std::max(1.0, 0.45 * safeRate(sampleRate)));
}

BiquadCoefficients designFilter(FilterType type, float frequencyHz, float q, float sampleRate)
{
    const double fs = safeRate(sampleRate);
    const double f = clampDesignFrequency(frequencyHz, sampleRate);
    const double qq = std::isfinite(q) ? std::max(static_cast<double>(q), 0.05) : 0.70710678;
    const double w = kTwoPi * f / fs;
    const double c = std::cos(w);
    const double s = std::sin(w);
    const double alpha = s / (2.0 * qq);
    const double a0 = 1.0 + alpha;

    BiquadCoefficients k;
    if (type == FilterType::HighPass) {
        k.b0 = static_cast<float>((1.0 + c) / 2.0 / a0);
        k.b1 = static_cast<float>(-(1.0 + c) / a0);
    } else {
        k.b0 = static_cast<float>((1.0 - c) / 2.0 / a0);
        k.b1 = static_cast<float>((1.0 - c) / a0);
    }
    k.b2 = k.b0;
    k.a1 = static_cast<float>(-2.0 * c / a0);
    k.a2 = static_cast<float>((1.0 - alpha) / a0);
    return k;
}

BiquadCoefficients designHighShelf(float cornerHz, float linearA, float sampleRate)
{
    const double fs = safeRate(sampleRate);
    const double f = clampDesignFrequency(cornerHz, sampleRate);
    const double A = std::isfinite(linearA) && linearA > 0.0f ? static_cast<double>(linearA) : 1.0;
    const double w = kTwoPi * f / fs;
    const double c = std::cos(w);
    const double s = std::sin(w);
    const double beta = 2.0 * std::sqrt(A) * s * std::sqrt(2.0) / 2.0; // shelf slope S = 1

    const double a0 = (A + 1.0) - (A - 1.0) * c + beta;
    BiquadCoefficients k;
    k.b0 = static_cast<float>(A * ((A + 1.0) + (A - 1.0) * c + beta) / a0);
    k.b1 = static_cast<float>(-2.0 * A * ((A + 1.0) * c + (A - 1.0)) / a0);
    k.b2 = static_cast<float>(A * ((A + 1.0) + (A - 1.0) * c - beta) / a0);
    k.a1 = static_cast<float>(2.0 * ((A - 1.0) - (A + 1.0) * c) / a0);
    k.a2 = static_cast<float>(((A + 1.0) - (A - 1.0) * c - beta) / a0);
    return k;
}

BiquadCoefficients designPeakingNotch(float frequencyHz, float depthDb, float q, float sampleRate)
{
    // a0 = 1 + alpha / A divided out; a1 equals b1 for a peaking section.
    const double A = std::pow(10.0, -static_cast<double>(depthDb) / 40.0);
    const double w0 = 2.0 * M_PI * static_cast<double>(frequencyHz) / static_cast<double>(sampleRate);
    const double alpha = std::sin(w0) / (2.0 * static_cast<double>(q));
    const double norm = 1.0 + alpha / A;
    BiquadCoefficients c;
    c.b0 = static_cast<float>((1.0 + alpha * A) / norm);
    c.b1 = static_cast<float>(-2.0 * std::cos(w0) / norm);
    c.b2 = static_cast<float>((1.0 - alpha * A) / norm);
    c.a1 = c.b1;
    c.a2 = static_cast<float>((1.0 - alpha / A) / norm);
    return c;
}

double responseDb(const BiquadCoefficients& c, double frequencyHz, double sampleRate)
{
    const double w = kTwoPi * frequencyHz / std::max(1.0, sampleRate);
    const std::complex<double> z1 = std::polar(1.0, -w);
    const std::complex<double> z2 = z1 * z1;
    const std::complex<double> num
        = static_cast<double>(c.b0) + static_cast<double>(c.b1) * z1 + static_cast<double>(c.b2) * z2;
    const std::complex<double> den = 1.0 + static_cast<double>(c.a1) * z1 + static_cast<double>(c.a2) * z2;
    return 20.0 * std::log10(std::max(std::abs(num) / std::abs(den), 1e-300));
}

} // namespace brindlecot::dsp
