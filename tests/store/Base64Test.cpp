#include "store/Base64.h"

#include <gtest/gtest.h>

#include <random>

using namespace brindlecot;

namespace {
std::vector<uint8_t> bytesOf(const std::string& s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}
} // namespace

TEST(Base64, EncodesTheRfc4648TestVectors)
{
    const std::vector<std::pair<std::string, std::string>> vectors = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="},
        {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    for (const auto& [plain, coded] : vectors) {
        EXPECT_EQ(base64Encode(bytesOf(plain)), coded);
        std::vector<uint8_t> decoded {1, 2, 3};
        ASSERT_TRUE(base64Decode(coded, decoded)) << coded;
        EXPECT_EQ(decoded, bytesOf(plain));
    }
}

TEST(Base64, UsesTheStandardAlphabetWithPlusAndSlash)
{
    EXPECT_EQ(base64Encode({0xfb, 0xff, 0xbf}), "+/+/");
    std::vector<uint8_t> out;
    EXPECT_FALSE(base64Decode("-_-_", out)) << "the URL-safe alphabet is not accepted";
}

TEST(Base64, RoundTripsEveryLengthAndByteValue)
{
    std::mt19937 rng(7);
    for (size_t n = 0; n < 300; ++n) {
        std::vector<uint8_t> bytes(n);
        for (auto& b : bytes)
            b = static_cast<uint8_t>(rng());
        const std::string text = base64Encode(bytes);
        EXPECT_EQ(text.size(), (n + 2) / 3 * 4);
        std::vector<uint8_t> back;
        ASSERT_TRUE(base64Decode(text, back));
        EXPECT_EQ(back, bytes);
    }
}

TEST(Base64, RejectsMalformedTextAndLeavesTheOutputEmpty)
{
    const std::vector<std::string> bad
        = {"Zg=", "Zm9", "Zm9vY", "Zg==Zg==", "Z===", "====", "=Zg=", "Zm=v", "Zm9v\n", " Zm9v", "Zm 9v",
            "Zm9v\r\nZm9v", "Zm9*", std::string("Zm\0v", 4), "Zm9v====", "\xc3\xa9Zm"};
    for (const auto& text : bad) {
        std::vector<uint8_t> out {9};
        EXPECT_FALSE(base64Decode(text, out)) << text;
        EXPECT_TRUE(out.empty()) << text;
    }
}
