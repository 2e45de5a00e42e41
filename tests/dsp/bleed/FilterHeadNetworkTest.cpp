#include "dsp/bleed/FilterHeadNetwork.h"
#include "dsp/bleed/FilterHeadCanceller.h"
#include "dsp/bleed/VectorKernels.h"

#include "BleedTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>

using namespace brindlecot::dsp;
using namespace brindlecot::test::bleed;

namespace {

std::vector<kernels::Path> availablePaths()
{
    return availableKernelPaths();
}

// Restores the start-up kernel choice when a test that forces a path ends.
struct PathGuard
{
    kernels::Path saved = kernels::activePath();
    ~PathGuard() { kernels::selectPath(saved); }
};

std::vector<std::vector<double>> readRows(const std::string& file)
{
    std::ifstream in(std::string(VELARUNE_TEST_DATA) + "/bleed/" + file);
    std::vector<std::vector<double>> rows;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::vector<double> row;
        double v;
        while (ls >> v)
            row.push_back(v);
        rows.push_back(row);
    }
    return rows;
}

template <typename Network> void expectFastStepMatchesReference(uint32_t seed)
{
    using Weights = typename Network::Weights;
    auto weights = makeSyntheticWeights<Weights>(seed);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    PathGuard guard;
    for (kernels::Path path : availablePaths()) {
        ASSERT_TRUE(kernels::selectPath(path));
        auto fast = std::make_unique<Network>();
        auto reference = std::make_unique<ReferenceNetwork<Weights>>();
        fast->weights = weights.get();
        reference->weights = weights.get();
        std::array<float, 32> hop {};
        std::array<float, Network::kTaps> a {}, b {};
        float worst = 0.0f;
        for (int step = 0; step < 40; ++step) {
            for (float& v : hop)
                v = dist(rng);
            ASSERT_TRUE(fast->step(hop.data(), a.data()));
            ASSERT_TRUE(reference->step(hop.data(), b.data()));
            for (std::size_t k = 0; k < a.size(); ++k)
                worst = std::max(worst, std::fabs(a[k] - b[k]));
            for (std::size_t j = 0; j < Network::kWidth; ++j)
                worst = std::max(worst, std::fabs(fast->gru2State[j] - reference->h2[j]));
        }
        EXPECT_LT(worst, 1e-5f) << "path " << static_cast<int>(path);
    }
}

template <typename Network> void expectStepMatchesNumpy(const char* file)
{
    using Weights = typename Network::Weights;
    const auto rows = readRows(file);
    ASSERT_EQ(rows.size(), 4u) << "missing reference data " << file;
    auto weights = makeSyntheticWeights<Weights>();
    PathGuard guard;
    for (kernels::Path path : availablePaths()) {
        ASSERT_TRUE(kernels::selectPath(path));
        auto net = std::make_unique<Network>();
        net->weights = weights.get();
        std::array<float, Network::kTaps> taps {};
        for (std::size_t s = 0; s < 3; ++s) {
            std::array<float, 32> hop {};
            for (uint32_t i = 0; i < 32; ++i)
                hop[i] = syntheticInput(static_cast<uint32_t>(32 * s) + i);
            ASSERT_TRUE(net->step(hop.data(), taps.data()));
            ASSERT_EQ(rows[s].size(), Network::kTaps);
            for (std::size_t k = 0; k < Network::kTaps; ++k)
                ASSERT_NEAR(taps[k], rows[s][k], 1e-4) << "step " << s << " tap " << k;
        }
    }
}

template <typename Canceller> void expectCancellerMatchesNumpy(const char* file)
{
    const auto rows = readRows(file);
    ASSERT_EQ(rows.size(), 4u);
    ASSERT_EQ(rows[3].size(), 2048u);
    auto weights = makeSyntheticWeights<typename Canceller::Weights>();
    auto canceller = std::make_unique<Canceller>();
    canceller->setWeights(weights.get());
    canceller->reset();
    double worst = 0.0, estimateSize = 0.0;
    for (uint32_t n = 0; n < 2048; ++n) {
        const float x = syntheticInput(n);
        const float y = canceller->process(x);
        worst = std::max(worst, std::fabs(y - rows[3][n]));
        estimateSize = std::max(estimateSize, std::fabs(double(x) - rows[3][n]));
    }
    EXPECT_LT(worst, 1e-4);
    EXPECT_GT(estimateSize, 0.05); // the estimate is large enough for the comparison to mean something
}

} // namespace

TEST(VectorKernels, MatrixVectorProductEqualsADoublePrecisionSumOnEveryPath)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    PathGuard guard;
    for (auto [rows, cols] : {std::pair<std::size_t, std::size_t> {96, 512}, {288, 96}, {192, 64}, {4, 16}}) {
        std::vector<float> m(rows * cols), x(cols), y(rows);
        for (float& v : m)
            v = dist(rng);
        for (float& v : x)
            v = dist(rng);
        for (kernels::Path path : availablePaths()) {
            kernels::selectPath(path);
            kernels::matVec(m.data(), x.data(), y.data(), rows, cols);
            for (std::size_t r = 0; r < rows; ++r) {
                double s = 0.0;
                for (std::size_t c = 0; c < cols; ++c)
                    s += double(m[r * cols + c]) * x[c];
                ASSERT_NEAR(y[r], s, 1e-4) << rows << "x" << cols << " row " << r;
            }
        }
    }
}

TEST(VectorKernels, PairedDotProductEqualsTwoDoublePrecisionSums)
{
    std::mt19937 rng(6);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    PathGuard guard;
    for (std::size_t n : {16u, 48u, 192u, 256u, 512u}) {
        std::vector<float> a(n), b(n), x(n + 3);
        for (std::size_t i = 0; i < n; ++i) {
            a[i] = dist(rng);
            b[i] = dist(rng);
        }
        for (float& v : x)
            v = dist(rng);
        for (kernels::Path path : availablePaths()) {
            kernels::selectPath(path);
            float ra = 0, rb = 0;
            kernels::dot2(a.data(), b.data(), x.data() + 3, n, ra, rb); // unaligned on purpose
            double sa = 0, sb = 0;
            for (std::size_t i = 0; i < n; ++i) {
                sa += double(a[i]) * x[i + 3];
                sb += double(b[i]) * x[i + 3];
            }
            EXPECT_NEAR(ra, sa, 1e-4);
            EXPECT_NEAR(rb, sb, 1e-4);
        }
    }
}

TEST(VectorKernels, TheStereoPairOfDotProductsIsBitIdenticalToOneCallPerHistory)
{
    std::mt19937 rng(8);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    PathGuard guard;
    for (std::size_t n : {16u, 48u, 64u, 192u, 512u}) {
        std::vector<float> a(n), b(n), x(n + 3), y(n + 1);
        for (auto* v : {&a, &b, &x, &y})
            for (float& f : *v)
                f = dist(rng);
        for (kernels::Path path : availablePaths()) {
            kernels::selectPath(path);
            float single[4];
            kernels::dot2(a.data(), b.data(), x.data() + 3, n, single[0], single[1]);
            kernels::dot2(a.data(), b.data(), y.data() + 1, n, single[2], single[3]);
            float pair[4];
            kernels::dot2Pair(a.data(), b.data(), x.data() + 3, y.data() + 1, n, pair);
            for (int k = 0; k < 4; ++k)
                EXPECT_EQ(std::memcmp(&pair[k], &single[k], sizeof(float)), 0)
                    << "n " << n << " sum " << k << ": " << pair[k] << " vs " << single[k];

            // From aligned bases, every shift within a vector.
            alignas(64) float xs[512 + 32], ys[512 + 32];
            for (std::size_t i = 0; i < n + 32; ++i) {
                xs[i] = dist(rng);
                ys[i] = dist(rng);
            }
            for (std::size_t shift = 0; shift < 16; ++shift) {
                kernels::dot2(a.data(), b.data(), xs + shift, n, single[0], single[1]);
                kernels::dot2(a.data(), b.data(), ys + shift, n, single[2], single[3]);
                kernels::dot2PairAligned(a.data(), b.data(), xs, ys, shift, n, pair);
                EXPECT_EQ(std::memcmp(pair, single, sizeof pair), 0) << "n " << n << " shift " << shift;
            }
        }
    }
}

TEST(VectorKernels, TanhAndTheGruUpdateAgreeWithTheCLibraryWithinAFewUlp)
{
    std::vector<float> x;
    for (int i = -4000; i < 4000; ++i)
        x.push_back(static_cast<float>(i) * 0.0025f); // -10 .. 10
    for (float v : {0.0f, -0.0f, 1e-30f, -1e-8f, 0.625f, -0.625f, 0.62499f, 40.0f, -44.0f, 100.0f, -1e30f,
             1e30f, std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()})
        x.push_back(v);
    while (x.size() % 8 != 0)
        x.push_back(0.3f);
    PathGuard guard;
    for (kernels::Path path : availablePaths()) {
        kernels::selectPath(path);
        std::vector<float> y(x.size());
        kernels::tanhScaled(x.data(), y.data(), x.size(), 1.0f);
        for (std::size_t i = 0; i < x.size(); ++i)
            ASSERT_NEAR(y[i], std::tanh(x[i]), 3e-7f) << x[i];
        std::vector<float> nan(8, std::numeric_limits<float>::quiet_NaN());
        kernels::tanhScaled(nan.data(), nan.data(), 8, 2.0f);
        EXPECT_TRUE(std::isnan(nan[0]) && std::isnan(nan[7]));

        // GRU update of width 8 against the scalar formulas, gates across the sigmoid range.
        std::vector<float> gi(24), gh(24), bi(24), br(24), h(8), expected(8);
        for (std::size_t t = 0; t < 200; ++t) {
            for (std::size_t i = 0; i < 24; ++i) {
                gi[i] = std::sin(0.37f * float(t * 24 + i)) * 12.0f;
                gh[i] = std::cos(0.11f * float(t * 24 + i)) * 6.0f;
                bi[i] = 0.01f * float(i);
                br[i] = -0.02f * float(i);
            }
            for (std::size_t j = 0; j < 8; ++j) {
                h[j] = std::sin(float(t + j));
                const float r = 1.0f / (1.0f + std::exp(-(bi[j] + br[j] + gi[j] + gh[j])));
                const float z = 1.0f / (1.0f + std::exp(-(bi[8 + j] + br[8 + j] + gi[8 + j] + gh[8 + j])));
                const float n = std::tanh(bi[16 + j] + gi[16 + j] + r * (br[16 + j] + gh[16 + j]));
                expected[j] = (1.0f - z) * n + z * h[j];
            }
            kernels::gruCombine(gi.data(), gh.data(), bi.data(), br.data(), h.data(), 8);
            for (std::size_t j = 0; j < 8; ++j)
                ASSERT_NEAR(h[j], expected[j], 1e-6f);
        }
    }
}

TEST(VectorKernels, TheWidestPathTheProcessorRunsIsChosen)
{
    const kernels::Path expected = kernels::avx512Supported() ? kernels::Path::Avx512
        : kernels::avx2FmaSupported()                         ? kernels::Path::Avx2Fma
                                                              : kernels::Path::Sse2;
    EXPECT_EQ(kernels::bestPath(), expected);
    EXPECT_EQ(kernels::activePath(), expected);
    EXPECT_TRUE(kernels::pathSupported(kernels::Path::Sse2));
    PathGuard guard;
    EXPECT_EQ(kernels::selectPath(kernels::Path::Avx512), kernels::avx512Supported());
    EXPECT_EQ(kernels::selectPath(kernels::Path::Avx2Fma), kernels::avx2FmaSupported());
}

// The element-wise functions do the same operations per element on every vector width, so the
// wide paths agree bit for bit (both use fused multiply-adds); odd multiples of 8 run the 8-lane
// tail of the 16-lane path.
TEST(VectorKernels, ElementWiseFunctionsGiveTheSameBitsOnTheAvx2AndAvx512Paths)
{
    if (!kernels::avx512Supported())
        GTEST_SKIP() << "no AVX-512 on this processor";
    PathGuard guard;
    constexpr std::size_t n = 520, w = 24;
    std::vector<float> results[2];
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(kernels::selectPath(run == 0 ? kernels::Path::Avx2Fma : kernels::Path::Avx512));
        std::vector<float> x(n), re(n), im(n);
        for (std::size_t i = 0; i < n; ++i) {
            x[i] = std::sin(0.31f * float(i)) * 9.0f;
            re[i] = std::fabs(x[i]) + 1e-3f;
            im[i] = std::cos(0.17f * float(i)) * 40.0f;
        }
        std::vector<float> t(n);
        kernels::tanhScaled(x.data(), t.data(), n, 0.7f);
        std::vector<float> logs = re;
        kernels::logInPlace(logs.data(), n);
        std::vector<float> er(n), ei = im;
        for (std::size_t i = 0; i < n; ++i)
            er[i] = x[i] * 0.5f;
        kernels::expPolarInPlace(er.data(), ei.data(), n);
        std::vector<float> h(x.begin(), x.begin() + w);
        kernels::gruCombine(x.data(), x.data() + 3 * w, im.data(), re.data(), h.data(), w);
        for (const auto* v : {&t, &logs, &er, &ei, &h})
            results[run].insert(results[run].end(), v->begin(), v->end());
    }
    ASSERT_EQ(results[0].size(), results[1].size());
    EXPECT_EQ(std::memcmp(results[0].data(), results[1].data(), results[0].size() * sizeof(float)), 0);
}

TEST(FilterHeadNetwork, FastStepEqualsTheScalarReferenceForBothShapes)
{
    expectFastStepMatchesReference<FullModelNetwork>(11);
    expectFastStepMatchesReference<EcoModelNetwork>(12);
}

TEST(FilterHeadNetwork, StepMatchesTheNumpyReferenceForBothShapes)
{
    expectStepMatchesNumpy<FullModelNetwork>("filter_head_full.txt");
    expectStepMatchesNumpy<EcoModelNetwork>("filter_head_eco.txt");
}

TEST(FilterHeadNetwork, WithoutWeightsStepFailsAndChangesNothing)
{
    EcoModelNetwork net;
    net.window[511] = 0.25f;
    net.gru1State[3] = 0.5f;
    std::array<float, 32> hop;
    hop.fill(1.0f);
    std::array<float, 192> taps;
    taps.fill(7.0f);
    EXPECT_FALSE(net.step(hop.data(), taps.data()));
    EXPECT_EQ(net.window[511], 0.25f);
    EXPECT_EQ(net.window[480], 0.0f);
    EXPECT_EQ(net.gru1State[3], 0.5f);
    EXPECT_EQ(taps[0], 7.0f);
}

TEST(FilterHeadNetwork, WindowKeepsTheLast512SamplesInOrderAfter16HopsOfARamp)
{
    auto weights = makeSyntheticWeights<EcoModelWeights>();
    EcoModelNetwork net;
    net.weights = weights.get();
    std::array<float, 192> taps {};
    float next = 0.0f;
    for (int h = 0; h < 20; ++h) {
        std::array<float, 32> hop;
        for (float& v : hop)
            v = next++;
        ASSERT_TRUE(net.step(hop.data(), taps.data()));
        if (h == 15) {
            for (std::size_t i = 0; i < 512; ++i)
                ASSERT_EQ(net.window[i], static_cast<float>(i));
        }
    }
    for (std::size_t i = 0; i < 512; ++i)
        ASSERT_EQ(net.window[i], static_cast<float>(128 + i));
}

TEST(FilterHeadNetwork, ResetClearsWindowAndBothStates)
{
    auto weights = makeSyntheticWeights<FullModelWeights>();
    FullModelNetwork net;
    net.weights = weights.get();
    std::array<float, 32> hop;
    hop.fill(0.3f);
    std::array<float, 256> taps {};
    net.step(hop.data(), taps.data());
    EXPECT_NE(net.gru1State[0], 0.0f);
    net.reset();
    for (float v : net.window)
        ASSERT_EQ(v, 0.0f);
    for (std::size_t j = 0; j < 96; ++j) {
        ASSERT_EQ(net.gru1State[j], 0.0f);
        ASSERT_EQ(net.gru2State[j], 0.0f);
    }
}

TEST(FilterHeadNetwork, OutputScaleMultipliesEveryTapAndTapsStayWithinIt)
{
    auto weights = makeSyntheticWeights<EcoModelWeights>();
    EcoModelNetwork a, b;
    a.weights = weights.get();
    std::array<float, 32> hop;
    for (std::size_t i = 0; i < 32; ++i)
        hop[i] = syntheticInput(static_cast<uint32_t>(i));
    std::array<float, 192> ta {}, tb {};
    a.step(hop.data(), ta.data());
    auto scaled = std::make_unique<EcoModelWeights>(*weights);
    scaled->outputScale = 0.5f;
    b.weights = scaled.get();
    b.step(hop.data(), tb.data());
    for (std::size_t k = 0; k < 192; ++k) {
        ASSERT_EQ(tb[k], ta[k] * 0.5f);
        ASSERT_LE(std::fabs(ta[k]), 1.0f);
    }
}

TEST(FilterHeadCancellerParity, SixtyFourHopsMatchTheNumpyReferenceForBothShapes)
{
    expectCancellerMatchesNumpy<FullModelCanceller>("filter_head_full.txt");
    expectCancellerMatchesNumpy<EcoModelCanceller>("filter_head_eco.txt");
}

TEST(VectorKernels, LogarithmAndComplexExponentialAgreeWithTheCLibrary)
{
    PathGuard guard;
    for (kernels::Path path : availablePaths()) {
        kernels::selectPath(path);
        std::vector<float> x;
        for (int i = 0; i < 4000; ++i)
            x.push_back(std::ldexp(1.0f + 0.00025f * float(i), i % 80 - 40)); // 1e-12 .. 1e12
        x.push_back(1.0f);
        x.push_back(1e-6f);
        x.push_back(std::numeric_limits<float>::max());
        while (x.size() % 8 != 0)
            x.push_back(0.5f);
        std::vector<float> y = x;
        kernels::logInPlace(y.data(), y.size());
        for (std::size_t i = 0; i < x.size(); ++i)
            ASSERT_NEAR(y[i], std::log(x[i]), 2e-6f * std::max(1.0f, std::fabs(std::log(x[i])))) << x[i];

        std::vector<float> re, im;
        for (int i = 0; i < 2000; ++i) {
            re.push_back(-14.0f + 0.007f * float(i)); // gains from 1e-6 to ~1e0.
            im.push_back(-60.0f + 0.06f * float(i)); // phases of several turns
        }
        std::vector<float> outRe = re, outIm = im;
        kernels::expPolarInPlace(outRe.data(), outIm.data(), outRe.size());
        for (std::size_t i = 0; i < re.size(); ++i) {
            const double m = std::exp(double(re[i]));
            ASSERT_NEAR(outRe[i], m * std::cos(double(im[i])), 3e-6 * m + 1e-12) << re[i] << " " << im[i];
            ASSERT_NEAR(outIm[i], m * std::sin(double(im[i])), 3e-6 * m + 1e-12) << re[i] << " " << im[i];
        }
    }
}
