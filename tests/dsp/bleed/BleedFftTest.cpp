#include "dsp/bleed/BleedFft.h"
#include "dsp/bleed/VectorKernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

using namespace brindlecot::dsp;

namespace {

std::vector<float> randomFrame(uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(BleedFft::kSize);
    for (float& v : x)
        v = dist(rng);
    return x;
}

std::complex<double> dftBin(const std::vector<float>& x, std::size_t k)
{
    std::complex<double> s = 0.0;
    for (std::size_t n = 0; n < x.size(); ++n)
        s += double(x[n]) * std::polar(1.0, -2.0 * M_PI * double(n * k % 1024) / 1024.0);
    return s;
}

} // namespace

TEST(BleedFft, ForwardTransformOfARealFrameEqualsTheDirectDftOnEveryPath)
{
    const kernels::Path saved = kernels::activePath();
    for (kernels::Path path : {kernels::Path::Sse2, kernels::Path::Avx2Fma, kernels::Path::Avx512}) {
        if (!kernels::selectPath(path))
            continue;
        BleedFft fft;
        BleedFft::Scratch scratch;
        const auto x = randomFrame(9);
        std::vector<BleedFft::Complex> bins(BleedFft::kBins);
        fft.forwardReal(x.data(), bins.data(), scratch);
        for (std::size_t k = 0; k < BleedFft::kBins; ++k) {
            const auto expected = dftBin(x, k);
            ASSERT_NEAR(bins[k].real(), expected.real(), 2e-4) << k;
            ASSERT_NEAR(bins[k].imag(), expected.imag(), 2e-4) << k;
        }
    }
    kernels::selectPath(saved);
}

TEST(BleedFft, ForwardTransformOfARealFrameEqualsTheDirectDft)
{
    BleedFft fft;
    BleedFft::Scratch scratch;
    const auto x = randomFrame(1);
    std::vector<BleedFft::Complex> bins(BleedFft::kBins);
    fft.forwardReal(x.data(), bins.data(), scratch);
    for (std::size_t k = 0; k < BleedFft::kBins; k += 7) {
        const auto expected = dftBin(x, k);
        ASSERT_NEAR(bins[k].real(), expected.real(), 2e-4) << k;
        ASSERT_NEAR(bins[k].imag(), expected.imag(), 2e-4) << k;
    }
    const auto last = dftBin(x, 512);
    EXPECT_NEAR(bins[512].real(), last.real(), 2e-4);
}

TEST(BleedFft, APairedTransformEqualsTwoSingleOnes)
{
    BleedFft fft;
    BleedFft::Scratch scratch;
    const auto a = randomFrame(2), b = randomFrame(3);
    std::vector<BleedFft::Complex> pa(BleedFft::kBins), pb(BleedFft::kBins), sa(BleedFft::kBins),
        sb(BleedFft::kBins);
    fft.forwardRealPair(a.data(), b.data(), pa.data(), pb.data(), scratch);
    fft.forwardReal(a.data(), sa.data(), scratch);
    fft.forwardReal(b.data(), sb.data(), scratch);
    for (std::size_t k = 0; k < BleedFft::kBins; ++k) {
        ASSERT_NEAR(std::abs(pa[k] - sa[k]), 0.0, 1e-4) << k;
        ASSERT_NEAR(std::abs(pb[k] - sb[k]), 0.0, 1e-4) << k;
    }
}

TEST(BleedFft, InverseOfTheForwardTransformGivesTheFrameBack)
{
    BleedFft fft;
    BleedFft::Scratch scratch;
    const auto x = randomFrame(4);
    std::vector<BleedFft::Complex> bins(BleedFft::kBins);
    fft.forwardReal(x.data(), bins.data(), scratch);
    std::vector<float> y(BleedFft::kSize);
    fft.inverseReal(bins.data(), y.data(), scratch);
    for (std::size_t n = 0; n < x.size(); ++n)
        ASSERT_NEAR(y[n], x[n], 1e-5f) << n;
}

TEST(BleedFft, AUnitImpulseHasAFlatSpectrum)
{
    BleedFft fft;
    BleedFft::Scratch scratch;
    std::vector<float> x(BleedFft::kSize, 0.0f);
    x[0] = 1.0f;
    std::vector<BleedFft::Complex> bins(BleedFft::kBins);
    fft.forwardReal(x.data(), bins.data(), scratch);
    for (const auto& b : bins) {
        ASSERT_EQ(b.real(), 1.0f);
        ASSERT_EQ(b.imag(), 0.0f);
    }
}

TEST(BleedFft, RealHelpersGiveTheSameBitsAsTheInPlaceComplexTransformOnEveryPath)
{
    // The helpers load straight into bit-reversed order; that must be the permutation transform()
    // applies, or the spectral stage's filters change.
    const kernels::Path saved = kernels::activePath();
    for (kernels::Path path : {kernels::Path::Sse2, kernels::Path::Avx2Fma, kernels::Path::Avx512}) {
        if (!kernels::selectPath(path))
            continue;
        BleedFft fft;
        BleedFft::Scratch scratch;
        const auto a = randomFrame(21);
        const auto b = randomFrame(22);
        std::vector<BleedFft::Complex> binsA(BleedFft::kBins), binsB(BleedFft::kBins);
        fft.forwardReal(a.data(), binsA.data(), scratch);
        std::vector<float> re = a, im(BleedFft::kSize, 0.0f);
        fft.transform(re.data(), im.data());
        for (std::size_t k = 0; k < BleedFft::kBins; ++k) {
            ASSERT_EQ(binsA[k].real(), re[k]) << k;
            ASSERT_EQ(binsA[k].imag(), im[k]) << k;
        }

        fft.forwardRealPair(a.data(), b.data(), binsA.data(), binsB.data(), scratch);
        re = a;
        im = b;
        fft.transform(re.data(), im.data());
        for (std::size_t k = 0; k < BleedFft::kBins; ++k) {
            const std::size_t m = (BleedFft::kSize - k) % BleedFft::kSize;
            ASSERT_EQ(binsA[k].real(), 0.5f * (re[k] + re[m])) << k;
            ASSERT_EQ(binsB[k].imag(), -0.5f * (re[k] - re[m])) << k;
        }

        // inverse: conj(X) laid out over the full circle, then the complex transform.
        std::vector<float> frame(BleedFft::kSize);
        fft.inverseReal(binsB.data(), frame.data(), scratch);
        for (std::size_t k = 0; k < BleedFft::kSize; ++k) {
            const std::size_t j = k < BleedFft::kBins ? k : BleedFft::kSize - k;
            re[k] = binsB[j].real();
            im[k] = k < BleedFft::kBins ? -binsB[j].imag() : binsB[j].imag();
        }
        fft.transform(re.data(), im.data());
        for (std::size_t n = 0; n < BleedFft::kSize; ++n)
            ASSERT_EQ(frame[n], re[n] * (1.0f / 1024.0f)) << n;
    }
    kernels::selectPath(saved);
}

TEST(BleedFft, TheAvx2AndAvx512PathsGiveTheSameBits)
{
    // Same operations per butterfly on both widths: the spectral stage's filters must not depend
    // on which of the two a processor runs.
    if (!kernels::avx512Supported())
        GTEST_SKIP() << "no AVX-512 on this processor";
    const kernels::Path saved = kernels::activePath();
    std::vector<float> results[2];
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(kernels::selectPath(run == 0 ? kernels::Path::Avx2Fma : kernels::Path::Avx512));
        BleedFft fft;
        std::vector<float> re = randomFrame(31), im = randomFrame(32);
        fft.transform(re.data(), im.data());
        results[run] = re;
        results[run].insert(results[run].end(), im.begin(), im.end());
    }
    kernels::selectPath(saved);
    EXPECT_EQ(std::memcmp(results[0].data(), results[1].data(), results[0].size() * sizeof(float)), 0);
}
