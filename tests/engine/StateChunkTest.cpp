#include "engine/StateChunk.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace brindlecot;

namespace {
std::vector<uint8_t> defaultChunk()
{
    std::vector<uint8_t> bytes;
    writeStateChunk(bytes, 5, 542, 476, 0, defaultParameterValues());
    bytes.insert(bytes.end(), 4, 0); // host framework's bypass word
    return bytes;
}

void putI32(std::vector<uint8_t>& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void putParams(std::vector<uint8_t>& b, const std::array<double, kNumParams>& p)
{
    for (double v : p) {
        uint8_t raw[8];
        std::memcpy(raw, &v, 8);
        b.insert(b.end(), raw, raw + 8);
    }
}

std::array<double, kNumParams> someValues()
{
    auto p = defaultParameterValues();
    p[kInput] = -6.5;
    p[kBleedReduction] = 80.0;
    p[kHighPass] = 120.0;
    p[kSoftBypass] = 1.0;
    p[kBeefKnob] = 1.0;
    p[kTopSaturationDrive] = 12.3;
    return p;
}
} // namespace

TEST(StateChunk, FreshInstanceWritesTheDocumentedHeaderThenTheDefaults)
{
    const auto bytes = defaultChunk();
    const uint8_t header[] = {
        0x31, 0x53, 0x57, 0x50, 0x05, 0, 0, 0, 0x05, 0, 0, 0, 0x1E, 0x02, 0, 0, 0xDC, 0x01, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(bytes.size(), 204u);
    EXPECT_EQ(std::memcmp(bytes.data(), header, sizeof header), 0);
    const auto defaults = defaultParameterValues();
    for (int i = 0; i < kNumParams; ++i) {
        double v = 0;
        std::memcpy(&v, bytes.data() + 24 + 8 * i, 8);
        EXPECT_EQ(v, defaults[static_cast<size_t>(i)]) << i;
    }
}

TEST(StateChunk, RoundTripRestoresEveryField)
{
    std::vector<uint8_t> bytes;
    writeStateChunk(bytes, 2, 813, 714, 1, someValues());
    StateFields f;
    f.screenScale = 1.0f;
    auto params = defaultParameterValues();
    int read = 0;
    EXPECT_EQ(readStateChunk(bytes.data(), bytes.size(), 0, f, params, &read), 24 + 176);
    EXPECT_EQ(read, 22);
    EXPECT_EQ(params, someValues());
    EXPECT_EQ(f.accentIndex, 2);
    EXPECT_TRUE(f.accentChanged);
    EXPECT_EQ(f.inputMode, 1);
    EXPECT_EQ(f.savedEditorWidth, 813);
    EXPECT_EQ(f.editorWidth, 813);
    EXPECT_EQ(f.editorHeight, 714);

    // A start offset inside a larger buffer works the same way.
    std::vector<uint8_t> shifted(10, 0xAA);
    shifted.insert(shifted.end(), bytes.begin(), bytes.end());
    StateFields g;
    auto params2 = defaultParameterValues();
    EXPECT_EQ(readStateChunk(shifted.data(), shifted.size(), 10, g, params2), 210);
    EXPECT_EQ(params2, someValues());
}

TEST(StateChunk, UnknownVersionResetsOnlyTheAccent)
{
    std::vector<uint8_t> bytes;
    putI32(bytes, kStateTag);
    putI32(bytes, 7);
    putI32(bytes, 3);
    putI32(bytes, 542);
    putI32(bytes, 476);
    putI32(bytes, 1);
    putParams(bytes, someValues());
    StateFields f;
    f.accentIndex = 4;
    auto params = defaultParameterValues();
    EXPECT_EQ(
        readStateChunk(bytes.data(), bytes.size(), 0, f, params), static_cast<int64_t>(bytes.size()) - 4);
    EXPECT_EQ(f.accentIndex, 0);
    EXPECT_TRUE(f.accentChanged);
    EXPECT_EQ(params, defaultParameterValues());
    EXPECT_EQ(f.inputMode, 0);
}

TEST(StateChunk, ReadsTheOlderTrailerLayout)
{
    std::vector<uint8_t> bytes;
    putParams(bytes, someValues());
    putI32(bytes, kTrailerTag);
    putI32(bytes, 1);
    putI32(bytes, 3);
    StateFields f;
    f.inputMode = 1;
    auto params = defaultParameterValues();
    EXPECT_EQ(readStateChunk(bytes.data(), bytes.size(), 0, f, params), 176 + 12);
    EXPECT_EQ(params, someValues());
    EXPECT_EQ(f.accentIndex, 3);
    EXPECT_EQ(f.inputMode, 0);

    // An accent outside 0..5 in the trailer reads 0; the last matching trailer wins.
    std::vector<uint8_t> two;
    putParams(two, someValues());
    putI32(two, kTrailerTag);
    putI32(two, 1);
    putI32(two, 2);
    putI32(two, kTrailerTag);
    putI32(two, 1);
    putI32(two, 9);
    StateFields g;
    readStateChunk(two.data(), two.size(), 0, g, params);
    EXPECT_EQ(g.accentIndex, 0);
}

TEST(StateChunk, BareParameterDoublesRestoreFromAllButTheLastFourBytes)
{
    std::vector<uint8_t> bytes;
    putParams(bytes, someValues());
    StateFields f;
    auto params = defaultParameterValues();
    int read = 0;
    // 176 bytes: (176 - 4) / 8 = 21 parameters fit before the framework's bypass word.
    EXPECT_EQ(readStateChunk(bytes.data(), bytes.size(), 0, f, params, &read), 21 * 8);
    EXPECT_EQ(read, 21);
    EXPECT_EQ(f.accentIndex, 0);
    auto expect = someValues();
    expect[kBeefKnob] = defaultParameterValues()[kBeefKnob];
    EXPECT_EQ(params, expect);

    bytes.insert(bytes.end(), 4, 0);
    params = defaultParameterValues();
    readStateChunk(bytes.data(), bytes.size(), 0, f, params, &read);
    EXPECT_EQ(read, 22);
    EXPECT_EQ(params, someValues());
}

TEST(StateChunk, WrongAspectRatioFallsBackToTheDefaultEditorSizeTimesTheScreenScale)
{
    std::vector<uint8_t> bytes;
    writeStateChunk(bytes, 5, 1084, 476, 0, defaultParameterValues());
    StateFields f;
    f.screenScale = 2.0f;
    auto params = defaultParameterValues();
    readStateChunk(bytes.data(), bytes.size(), 0, f, params);
    EXPECT_EQ(f.editorWidth, 1084);
    EXPECT_EQ(f.editorHeight, 952);
    EXPECT_EQ(f.savedEditorWidth, 1084);

    // While an editor is open the framework size stays as it is.
    StateFields open;
    open.editorOpen = true;
    open.editorWidth = 600;
    open.editorHeight = 527;
    readStateChunk(bytes.data(), bytes.size(), 0, open, params);
    EXPECT_EQ(open.editorWidth, 600);
}

TEST(StateChunk, EveryTruncationOfAValidChunkStaysInBounds)
{
    std::vector<uint8_t> full;
    writeStateChunk(full, 1, 542, 476, 1, someValues());
    full.insert(full.end(), 4, 0);
    for (size_t len = 0; len <= full.size(); ++len) {
        // An exactly sized heap copy lets the sanitizer catch any read past the end.
        std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<long>(len));
        StateFields f;
        auto params = defaultParameterValues();
        int read = -1;
        const int64_t next
            = readStateChunk(cut.empty() ? nullptr : cut.data(), cut.size(), 0, f, params, &read);
        EXPECT_GE(next, 0) << len;
        EXPECT_LE(next, static_cast<int64_t>(std::max<size_t>(len, 0))) << len;
        EXPECT_GE(read, 0);
        EXPECT_LE(24 + 8 * read, static_cast<int>(std::max<size_t>(len, 24))) << len;
        for (int i = 0; i < read; ++i)
            EXPECT_EQ(params[static_cast<size_t>(i)], someValues()[static_cast<size_t>(i)]);
    }
}

TEST(StateChunk, OutOfRangeAndNonFiniteStoredValuesAreMadeSafe)
{
    auto p = defaultParameterValues();
    p[kInput] = 99.0;
    p[kHighPass] = std::nan("");
    p[kSoftBypass] = 0.7;
    std::vector<uint8_t> bytes;
    writeStateChunk(bytes, 5, 542, 476, 0, p);
    StateFields f;
    auto params = defaultParameterValues();
    params[kHighPass] = 300.0;
    readStateChunk(bytes.data(), bytes.size(), 0, f, params);
    EXPECT_EQ(params[kInput], 24.0);
    EXPECT_EQ(params[kHighPass], 300.0); // unchanged
    EXPECT_EQ(params[kSoftBypass], 1.0);
    // A negative start position reads nothing at all.
    StateFields g;
    g.accentIndex = 4;
    const auto before = params;
    EXPECT_EQ(readStateChunk(bytes.data(), bytes.size(), -3, g, params), -3);
    EXPECT_EQ(params, before);
    EXPECT_EQ(g.accentIndex, 4);
}
