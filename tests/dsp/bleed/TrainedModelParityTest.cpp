// A model exported by the training pipeline (tools/train), loaded with the runtime's reader and
// run through the runtime's canceller, reproduces the training code's own canceller output.
// Reference data: tests/data/bleed/trained_parity_eco.* written by tools/train/make_parity.py.
#include "BleedTestSupport.h"
#include "dsp/bleed/FilterHeadCanceller.h"
#include "dsp/bleed/VectorKernels.h"
#include "dsp/bleed/WeightsIO.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

using namespace brindlecot::dsp;

namespace {

constexpr std::size_t kParitySamples = 4096;

std::string dataPath(const char* file)
{
    return std::string(VELARUNE_TEST_DATA) + "/bleed/" + file;
}

std::vector<uint8_t> readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The input samples followed by the PyTorch canceller's output, little-endian float32.
struct ParitySignals
{
    std::vector<float> input;
    std::vector<float> expected;
};

ParitySignals readSignals()
{
    const std::vector<uint8_t> bytes = readBytes(dataPath("trained_parity_eco_io.f32"));
    ParitySignals s;
    if (bytes.size() != 2 * kParitySamples * sizeof(float))
        return s;
    std::vector<float> all(2 * kParitySamples);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const uint32_t bits = static_cast<uint32_t>(bytes[4 * i])
            | (static_cast<uint32_t>(bytes[4 * i + 1]) << 8) | (static_cast<uint32_t>(bytes[4 * i + 2]) << 16)
            | (static_cast<uint32_t>(bytes[4 * i + 3]) << 24);
        std::memcpy(&all[i], &bits, sizeof(float));
    }
    s.input.assign(all.begin(), all.begin() + kParitySamples);
    s.expected.assign(all.begin() + kParitySamples, all.end());
    return s;
}

std::unique_ptr<EcoModelWeights> loadExportedWeights(weightsio::Status& status)
{
    auto weights = std::make_unique<EcoModelWeights>();
    weights->clear();
    std::ifstream in(dataPath("trained_parity_eco.bin"), std::ios::binary);
    status = weightsio::readStream<512, 32, 64, 64, 192>(in, *weights);
    return weights;
}

struct PathGuard
{
    kernels::Path saved = kernels::activePath();
    ~PathGuard() { kernels::selectPath(saved); }
};

// Largest difference between the runtime canceller's output and the PyTorch output.
float largestDifference(const EcoModelWeights& weights, const ParitySignals& s)
{
    auto canceller = std::make_unique<EcoModelCanceller>();
    canceller->setWeights(&weights);
    canceller->reset();
    float worst = 0.0f;
    for (std::size_t n = 0; n < s.input.size(); ++n)
        worst = std::max(worst, std::fabs(canceller->process(s.input[n]) - s.expected[n]));
    return worst;
}

} // namespace

TEST(TrainedModel, AnExportedBlobLoadsWithTheRuntimeReaderFromAFileAndFromMemory)
{
    weightsio::Status status = weightsio::Status::StreamUnreadable;
    const auto fromFile = loadExportedWeights(status);
    EXPECT_EQ(status, weightsio::Status::Ok);
    EXPECT_EQ(fromFile->outputScale, 1.0f);

    const std::vector<uint8_t> bytes = readBytes(dataPath("trained_parity_eco.bin"));
    EXPECT_EQ(bytes.size(), (weightsio::blobBytes<512, 64, 64, 192>()));
    auto fromMemory = std::make_unique<EcoModelWeights>();
    fromMemory->clear();
    EXPECT_EQ((weightsio::readMemory<512, 32, 64, 64, 192>(bytes.data(), bytes.size(), *fromMemory)),
        weightsio::Status::Ok);
    EXPECT_EQ(fromMemory->outputWeights, fromFile->outputWeights);

    auto full = std::make_unique<FullModelWeights>();
    full->clear();
    EXPECT_EQ((weightsio::readMemory<512, 32, 96, 96, 256>(bytes.data(), bytes.size(), *full)),
        weightsio::Status::DimensionMismatch);
}

TEST(TrainedModel, RuntimeCancellerReproducesThePyTorchCancellerWithin1e4OnEveryKernelPath)
{
    weightsio::Status status = weightsio::Status::StreamUnreadable;
    const auto weights = loadExportedWeights(status);
    ASSERT_EQ(status, weightsio::Status::Ok);
    const ParitySignals s = readSignals();
    ASSERT_EQ(s.input.size(), kParitySamples);

    PathGuard guard;
    for (const kernels::Path path : brindlecot::test::bleed::availableKernelPaths()) {
        kernels::selectPath(path);
        EXPECT_LT(largestDifference(*weights, s), 1e-4f) << "kernel path " << static_cast<int>(path);
    }
}

TEST(TrainedModel, TheParityModelRemovesAClearlyMeasurableEstimateSoTheComparisonIsNotTrivial)
{
    const ParitySignals s = readSignals();
    ASSERT_EQ(s.input.size(), kParitySamples);
    double input = 0.0;
    double estimate = 0.0;
    for (std::size_t n = 0; n < kParitySamples; ++n) {
        input += static_cast<double>(s.input[n]) * s.input[n];
        const double e = static_cast<double>(s.input[n]) - s.expected[n];
        estimate += e * e;
    }
    // The estimate carries more than a twentieth of the input's energy (-13 dB).
    EXPECT_GT(estimate, 0.05 * input);
}
