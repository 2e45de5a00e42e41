#include "dsp/feedback/Fft2048.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

using brindlecot::dsp::Fft2048;

namespace {

constexpr size_t kN = Fft2048::kSize;

// Direct evaluation of X[k] = sum x[n] e^(-2 pi i k n / N) in double precision.
std::vector<std::complex<double>> naiveDft(const std::vector<float>& re, const std::vector<float>& im)
{
    std::vector<std::complex<double>> out(kN);
    for (size_t k = 0; k < kN; ++k) {
        std::complex<double> acc = 0.0;
        for (size_t n = 0; n < kN; ++n) {
            const double phase = -2.0 * M_PI * static_cast<double>((k * n) % kN) / static_cast<double>(kN);
            acc += std::complex<double>(re[n], im[n]) * std::polar(1.0, phase);
        }
        out[k] = acc;
    }
    return out;
}

} // namespace

TEST(Fft2048, MatchesANaiveDftOfRandomInput)
{
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> re(kN), im(kN);
    for (size_t n = 0; n < kN; ++n) {
        re[n] = dist(rng);
        im[n] = dist(rng);
    }
    const auto expected = naiveDft(re, im);
    Fft2048 fft;
    fft.transform(re.data(), im.data());
    double worst = 0.0;
    double peak = 0.0;
    for (size_t k = 0; k < kN; ++k) {
        worst = std::max(worst, std::abs(std::complex<double>(re[k], im[k]) - expected[k]));
        peak = std::max(peak, std::abs(expected[k]));
    }
    // Single precision through 11 stages: errors stay near sqrt(N log N) float epsilons.
    EXPECT_LT(worst, 2e-3);
    EXPECT_LT(worst / peak, 2e-5);
}

TEST(Fft2048, MatchesANaiveDftOfARealWindowedFrameInBitReversedOrder)
{
    std::mt19937 rng(7);
    std::normal_distribution<float> dist(0.0f, 0.3f);
    std::vector<float> x(kN), zero(kN, 0.0f);
    for (auto& v : x)
        v = dist(rng);
    const auto expected = naiveDft(x, zero);
    Fft2048 fft;
    std::vector<float> re(kN), im(kN, 0.0f);
    for (size_t i = 0; i < kN; ++i)
        re[i] = x[fft.bitReverse(i)];
    fft.transformBitReversed(re.data(), im.data());
    for (size_t k = 0; k <= kN / 2; ++k) {
        ASSERT_NEAR(re[k], expected[k].real(), 1e-3) << k;
        ASSERT_NEAR(im[k], expected[k].imag(), 1e-3) << k;
    }
}

TEST(Fft2048, InverseOfForwardReturnsTheInputTimesN)
{
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> re(kN), im(kN), re0(kN), im0(kN);
    for (size_t n = 0; n < kN; ++n) {
        re0[n] = re[n] = dist(rng);
        im0[n] = im[n] = dist(rng);
    }
    Fft2048 fft;
    fft.transform(re.data(), im.data(), false);
    fft.transform(re.data(), im.data(), true);
    for (size_t n = 0; n < kN; ++n) {
        ASSERT_NEAR(re[n] / kN, re0[n], 1e-5f);
        ASSERT_NEAR(im[n] / kN, im0[n], 1e-5f);
    }
}

TEST(Fft2048, BitReversalIsAnInvolution)
{
    Fft2048 fft;
    EXPECT_EQ(fft.bitReverse(1), 1024u);
    EXPECT_EQ(fft.bitReverse(3), 1536u);
    for (size_t i = 0; i < kN; ++i)
        ASSERT_EQ(fft.bitReverse(fft.bitReverse(i)), i);
}

namespace {

// The plain scalar butterflies (one at a time, twiddles read by stride): the vector stages must
// give the same bits, so the detector's spectra do not change with the implementation.
void scalarReference(std::vector<float>& re, std::vector<float>& im, bool inverse)
{
    for (size_t i = 0; i < kN; ++i) {
        size_t r = 0;
        for (size_t b = 0; b < 11; ++b)
            r |= ((i >> b) & 1u) << (10 - b);
        if (r > i) {
            std::swap(re[i], re[r]);
            std::swap(im[i], im[r]);
        }
    }
    const float sign = inverse ? -1.0f : 1.0f;
    for (size_t m = 1; m < kN; m <<= 1) {
        const size_t stride = kN / 2 / m;
        for (size_t start = 0; start < kN; start += 2 * m)
            for (size_t k = 0; k < m; ++k) {
                const double phase = -2.0 * M_PI * static_cast<double>(k * stride) / static_cast<double>(kN);
                const float wr = static_cast<float>(std::cos(phase));
                const float wi = sign * static_cast<float>(std::sin(phase));
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

} // namespace

TEST(Fft2048, GivesTheSameBitsAsScalarButterfliesBothWays)
{
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    const Fft2048 fft;
    for (const bool inverse : {false, true}) {
        std::vector<float> re(kN), im(kN);
        for (size_t n = 0; n < kN; ++n) {
            re[n] = dist(rng);
            im[n] = n % 3 == 0 ? 0.0f : dist(rng);
        }
        std::vector<float> refRe = re, refIm = im;
        fft.transform(re.data(), im.data(), inverse);
        scalarReference(refRe, refIm, inverse);
        ASSERT_EQ(0, std::memcmp(re.data(), refRe.data(), kN * sizeof(float))) << "inverse " << inverse;
        ASSERT_EQ(0, std::memcmp(im.data(), refIm.data(), kN * sizeof(float))) << "inverse " << inverse;
    }
}
