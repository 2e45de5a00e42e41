#include "dsp/bleed/WeightsIO.h"

#include "BleedTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

using namespace brindlecot::dsp;
using namespace brindlecot::dsp::weightsio;
using namespace brindlecot::test::bleed;

namespace {

Status readFull(const std::vector<uint8_t>& blob, FullModelWeights& w)
{
    return readMemory<512, 32, 96, 96, 256>(blob.data(), blob.size(), w);
}
Status readEco(const std::vector<uint8_t>& blob, EcoModelWeights& w)
{
    return readMemory<512, 32, 64, 64, 192>(blob.data(), blob.size(), w);
}
Status readEcoPrefix(const std::vector<uint8_t>& blob, std::size_t size, EcoModelWeights& w)
{
    return readMemory<512, 32, 64, 64, 192>(blob.data(), size, w);
}
Status streamEco(const std::vector<uint8_t>& blob, EcoModelWeights& w)
{
    std::istringstream in(std::string(blob.begin(), blob.end()), std::ios::binary);
    return readStream<512, 32, 64, 64, 192>(in, w);
}

void setFloat(std::vector<uint8_t>& blob, std::size_t offset, float v) { std::memcpy(&blob[offset], &v, 4); }
void setU32(std::vector<uint8_t>& blob, std::size_t offset, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        blob[offset + static_cast<std::size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

struct ReaderFixture : ::testing::Test
{
    std::unique_ptr<EcoModelWeights> source = makeSyntheticWeights<EcoModelWeights>(7);
    std::vector<uint8_t> blob = makeBlob(*source);
    std::unique_ptr<EcoModelWeights> target = std::make_unique<EcoModelWeights>();
    void SetUp() override { target->clear(); }
};

} // namespace

TEST(WeightsIOStatus, MessagesAreTheFixedEnglishTexts)
{
    EXPECT_EQ(statusMessage(Status::Ok), "ok");
    EXPECT_EQ(statusMessage(Status::StreamUnreadable), "stream could not be read");
    EXPECT_EQ(statusMessage(Status::NotABlob), "not a filter-head weight blob");
    EXPECT_EQ(statusMessage(Status::UnsupportedVersion), "unsupported blob version");
    EXPECT_EQ(statusMessage(Status::DimensionMismatch), "blob dimensions do not match the model");
    EXPECT_EQ(statusMessage(Status::Truncated), "blob ended before all coefficients were read");
    EXPECT_EQ(statusMessage(Status::NonFinite), "blob contains a non-finite coefficient");
    EXPECT_EQ(statusMessage(static_cast<Status>(7)), "unknown");
    EXPECT_EQ(static_cast<int>(Status::NonFinite), 6);
}

TEST(WeightsIOLayout, CompleteBlobsHaveTheDocumentedSizesAndOffsets)
{
    EXPECT_EQ((blobBytes<512, 96, 96, 256>()), 742688u);
    EXPECT_EQ((blobBytes<512, 64, 64, 192>()), 380448u);
    EXPECT_EQ(sizeof(FullModelWeights) >= 742660u, true);
    // The last array of the full model starts at byte 644384 of the blob.
    auto w = makeSyntheticWeights<FullModelWeights>();
    const auto blob = makeBlob(*w);
    ASSERT_EQ(blob.size(), 742688u);
    EXPECT_EQ(std::memcmp(&blob[644384], w->outputWeights.data(), 98304), 0);
    EXPECT_EQ(std::memcmp(&blob[420896], w->gru2InputWeights.data(), 110592), 0);
}

TEST(WeightsIORead, BothShapesLoadAndEachRejectsTheOther)
{
    auto fullSource = makeSyntheticWeights<FullModelWeights>(3);
    auto ecoSource = makeSyntheticWeights<EcoModelWeights>(4);
    const auto fullBlob = makeBlob(*fullSource);
    const auto ecoBlob = makeBlob(*ecoSource);
    auto full = std::make_unique<FullModelWeights>();
    auto eco = std::make_unique<EcoModelWeights>();
    full->clear();
    eco->clear();
    EXPECT_EQ(readFull(fullBlob, *full), Status::Ok);
    EXPECT_EQ(readEco(ecoBlob, *eco), Status::Ok);
    EXPECT_EQ(std::memcmp(full->inputWeights.data(), fullSource->inputWeights.data(), 4 * 49152), 0);
    EXPECT_EQ(std::memcmp(eco->outputWeights.data(), ecoSource->outputWeights.data(), 4 * 12288), 0);
    EXPECT_EQ(eco->normGain, ecoSource->normGain);
    EXPECT_EQ(full->outputScale, 1.0f);

    EXPECT_EQ(readFull(ecoBlob, *full), Status::DimensionMismatch);
    EXPECT_EQ(readEco(fullBlob, *eco), Status::DimensionMismatch);
}

TEST_F(ReaderFixture, StoresTheHeaderScaleOnlyOnSuccess)
{
    setFloat(blob, 28, 0.5f);
    EXPECT_EQ(readEco(blob, *target), Status::Ok);
    EXPECT_EQ(target->outputScale, 0.5f);

    target->outputScale = 1.0f;
    setFloat(blob, 28, 2.0f);
    blob.resize(blob.size() - 1);
    EXPECT_EQ(readEco(blob, *target), Status::Truncated);
    EXPECT_EQ(target->outputScale, 1.0f);
}

TEST_F(ReaderFixture, NullPointerAndEmptyBlockAreUnreadable)
{
    EXPECT_EQ((readMemory<512, 32, 64, 64, 192>(nullptr, 1000, *target)), Status::StreamUnreadable);
    EXPECT_EQ((readMemory<512, 32, 64, 64, 192>(blob.data(), 0, *target)), Status::StreamUnreadable);
}

TEST_F(ReaderFixture, WrongMagicIsNotABlob)
{
    blob[0] = 'X';
    EXPECT_EQ(readEco(blob, *target), Status::NotABlob);
}

TEST_F(ReaderFixture, VersionIsCheckedBeforeTheDimensions)
{
    setU32(blob, 4, 2);
    EXPECT_EQ(readEco(blob, *target), Status::UnsupportedVersion);
    setU32(blob, 16, 96);
    setU32(blob, 24, 256);
    EXPECT_EQ(readEco(blob, *target), Status::UnsupportedVersion);
    setU32(blob, 4, 0);
    EXPECT_EQ(readEco(blob, *target), Status::UnsupportedVersion);
}

TEST_F(ReaderFixture, EveryDimensionIsCompared)
{
    for (std::size_t field = 0; field < 5; ++field) {
        auto bad = blob;
        setU32(bad, 8 + 4 * field, 33);
        EXPECT_EQ(readEco(bad, *target), Status::DimensionMismatch) << "field " << field;
    }
}

TEST_F(ReaderFixture, BadScaleIsNonFiniteBeforeAnyArrayIsRead)
{
    for (float scale : { 0.0f, -0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(),
             std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity() }) {
        auto bad = blob;
        setFloat(bad, 28, scale);
        EXPECT_EQ(readEco(bad, *target), Status::NonFinite) << scale;
        // Truncated body too: the scale decides first.
        EXPECT_EQ(readEcoPrefix(bad, 100, *target), Status::NonFinite) << scale;
        EXPECT_EQ(readEcoPrefix(bad, 32, *target), Status::NonFinite) << scale;
        EXPECT_EQ(target->inputWeights[0], 0.0f); // nothing read
    }
}

TEST_F(ReaderFixture, NaNInTheLastCoefficientIsNonFiniteButTruncationIsReportedFirst)
{
    setFloat(blob, blob.size() - 4, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(readEco(blob, *target), Status::NonFinite);
    setFloat(blob, blob.size() - 4, 1.0f);
    setFloat(blob, 40, std::numeric_limits<float>::infinity());
    EXPECT_EQ(readEco(blob, *target), Status::NonFinite);
    EXPECT_EQ(readEcoPrefix(blob, blob.size() - 2, *target), Status::Truncated);
}

TEST_F(ReaderFixture, ExtraTrailingBytesAreIgnored)
{
    blob.insert(blob.end(), { 1, 2, 3, 4, 5, 6, 7, 0xff, 0xff });
    EXPECT_EQ(readEco(blob, *target), Status::Ok);
    EXPECT_EQ(streamEco(blob, *target), Status::Ok);
}

TEST_F(ReaderFixture, ACutInsideTheHeaderIsUnreadableAndInsideTheBodyTruncatedAtEveryOffset)
{
    // Every byte offset of the blob: the header gives StreamUnreadable, the body Truncated.
    for (std::size_t cut = 1; cut < blob.size(); ++cut) {
        const Status s = readEcoPrefix(blob, cut, *target);
        const Status expected = cut < kHeaderBytes ? Status::StreamUnreadable : Status::Truncated;
        if (s != expected) {
            ADD_FAILURE() << "cut at " << cut << " gave " << static_cast<int>(s);
            break;
        }
    }
    EXPECT_EQ(readEcoPrefix(blob, blob.size(), *target), Status::Ok);
}

TEST_F(ReaderFixture, TheStreamReaderRunsTheSameSequence)
{
    EXPECT_EQ(streamEco(blob, *target), Status::Ok);
    EXPECT_EQ(streamEco(std::vector<uint8_t>(blob.begin(), blob.begin() + 31), *target), Status::StreamUnreadable);
    EXPECT_EQ(streamEco(std::vector<uint8_t>(blob.begin(), blob.begin() + 1000), *target), Status::Truncated);
    auto bad = blob;
    setU32(bad, 4, 2);
    EXPECT_EQ(streamEco(bad, *target), Status::UnsupportedVersion);
    EXPECT_EQ(streamEco({}, *target), Status::StreamUnreadable);
}

TEST_F(ReaderFixture, AStreamThatThrowsOnFailureStillGivesAStatus)
{
    std::istringstream in(std::string(blob.begin(), blob.begin() + 5000), std::ios::binary);
    in.exceptions(std::ios::failbit | std::ios::badbit | std::ios::eofbit);
    Status s = Status::Ok;
    EXPECT_NO_THROW((s = readStream<512, 32, 64, 64, 192>(in, *target)));
    EXPECT_EQ(s, Status::Truncated);
}

namespace {
// Counts the reads asked of the stream buffer: one for the header and one per array.
struct CountingBuffer : Buffer
{
    using Buffer::Buffer;
    int reads = 0;
    std::streamsize xsgetn(char* s, std::streamsize n) override
    {
        ++reads;
        return Buffer::xsgetn(s, n);
    }
};
} // namespace

TEST_F(ReaderFixture, EachArrayIsReadWithOneBulkRead)
{
    CountingBuffer buffer(blob.data(), blob.size());
    std::istream in(&buffer);
    EXPECT_EQ((readStream<512, 32, 64, 64, 192>(in, *target)), Status::Ok);
    EXPECT_EQ(buffer.reads, 13);
}
