#include "updates/JsonValue.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

#include <string>

using brindlecot::updates::JsonValue;
using brindlecot::updates::member;
using brindlecot::updates::parseJson;
using brindlecot::updates::quoteJson;

namespace {

bool parses(std::string_view text)
{
    return parseJson(text).has_value();
}

std::string nested(int depth, std::string_view inner = "")
{
    return std::string(static_cast<std::size_t>(depth), '[') + std::string(inner)
        + std::string(static_cast<std::size_t>(depth), ']');
}

} // namespace

TEST(JsonReader, ReadsAnObjectWithAnArrayOfMixedValuesAlsoWithSpacesAroundEveryToken)
{
    for (const char* text :
        {"{\"a\":[1,-2.5e3,true,null]}", " \t\r\n{ \"a\" : [ 1 , -2.5e3 , true , null ] } \n"}) {
        const auto doc = parseJson(text);
        ASSERT_TRUE(doc) << text;
        ASSERT_EQ(doc->kind, JsonValue::kObject);
        ASSERT_EQ(doc->members.size(), 1u);
        EXPECT_EQ(doc->members[0].first, "a");
        const JsonValue& a = doc->members[0].second;
        ASSERT_EQ(a.kind, JsonValue::kArray);
        ASSERT_EQ(a.items.size(), 4u);
        EXPECT_EQ(a.items[0].kind, JsonValue::kNumber);
        EXPECT_EQ(a.items[0].number, 1.0);
        EXPECT_EQ(a.items[1].number, -2500.0);
        EXPECT_EQ(a.items[2].kind, JsonValue::kBoolean);
        EXPECT_TRUE(a.items[2].boolean);
        EXPECT_EQ(a.items[3].kind, JsonValue::kNull);
    }
}

TEST(JsonReader, RefusesTrailingCommasMissingSeparatorsAndTrailingGarbage)
{
    EXPECT_FALSE(parses("{\"a\":1,}"));
    EXPECT_FALSE(parses("[1,]"));
    EXPECT_FALSE(parses("[1 2]"));
    EXPECT_FALSE(parses("{\"a\" 1}"));
    EXPECT_FALSE(parses("{\"a\":1 \"b\":2}"));
    EXPECT_FALSE(parses("{1:2}"));
    EXPECT_FALSE(parses("{\"a\":1} x"));
    EXPECT_FALSE(parses("[] []"));
    EXPECT_FALSE(parses("truex"));
    EXPECT_FALSE(parses(""));
    EXPECT_FALSE(parses("   "));
    EXPECT_FALSE(parses("[1"));
    EXPECT_FALSE(parses("{\"a\":"));
    EXPECT_FALSE(parses("tru"));
    EXPECT_FALSE(parses("nul"));
    EXPECT_TRUE(parses("[]"));
    EXPECT_TRUE(parses("{}"));
    EXPECT_TRUE(parses(" [ ] "));
}

TEST(JsonReader, ReadsNumbersByTheStrictGrammarOnly)
{
    EXPECT_FALSE(parses("01"));
    EXPECT_FALSE(parses("+1"));
    EXPECT_FALSE(parses(".5"));
    EXPECT_FALSE(parses("1."));
    EXPECT_FALSE(parses("1e"));
    EXPECT_FALSE(parses("1e+"));
    EXPECT_FALSE(parses("-"));
    EXPECT_FALSE(parses("--1"));
    EXPECT_FALSE(parses("0x10"));
    EXPECT_FALSE(parses("NaN"));
    EXPECT_FALSE(parses("Infinity"));
    const auto minusZero = parseJson("-0");
    ASSERT_TRUE(minusZero);
    EXPECT_EQ(minusZero->number, 0.0);
    EXPECT_TRUE(std::signbit(minusZero->number));
    const auto scaled = parseJson("0.5E+2");
    ASSERT_TRUE(scaled);
    EXPECT_EQ(scaled->number, 50.0);
    EXPECT_EQ(parseJson("1234567890123")->number, 1234567890123.0);
    EXPECT_EQ(parseJson("1e-2")->number, 0.01);
    // Out of double range: the C library's conversion gives infinity, which the caller then refuses.
    EXPECT_TRUE(std::isinf(parseJson("1e400")->number));
}

TEST(JsonReader, ReadsNumbersTheSameUnderACommaDecimalLocale)
{
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous != nullptr ? previous : "C";
    // Not every machine has a German locale; the test still checks the "C" path then.
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    const auto value = parseJson("0.5");
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_TRUE(value);
    EXPECT_EQ(value->number, 0.5);
}

TEST(JsonReader, DecodesEveryEscapeAndCombinesSurrogatePairsIntoUtf8)
{
    const auto text = parseJson(R"("\"\\\/\b\f\n\r\t\u0041\u00e9\u20AC")");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->kind, JsonValue::kString);
    EXPECT_EQ(text->text, "\"\\/\b\f\n\r\tA\xC3\xA9\xE2\x82\xAC");

    const auto pair = parseJson(R"("\ud83d\ude00")");
    ASSERT_TRUE(pair);
    EXPECT_EQ(pair->text, "\xF0\x9F\x98\x80");
    const auto highest = parseJson(R"("\uDBFF\uDFFF")");
    ASSERT_TRUE(highest);
    EXPECT_EQ(highest->text, "\xF4\x8F\xBF\xBF");
    const auto nul = parseJson(R"("a\u0000b")");
    ASSERT_TRUE(nul);
    EXPECT_EQ(nul->text, std::string("a\0b", 3));
}

TEST(JsonReader, RefusesLoneSurrogatesBadEscapesAndRawControlBytes)
{
    EXPECT_FALSE(parses(R"("\ude00")"));
    EXPECT_FALSE(parses(R"("\ud83d")"));
    EXPECT_FALSE(parses(R"("\ud83dx")"));
    EXPECT_FALSE(parses(R"("\ud83d\u0041")"));
    EXPECT_FALSE(parses(R"("\ud83d\ud83d")"));
    EXPECT_FALSE(parses(R"("\ud83d\n")"));
    EXPECT_FALSE(parses(R"("\u12")"));
    EXPECT_FALSE(parses(R"("\u12G4")"));
    EXPECT_FALSE(parses(R"("\x41")"));
    EXPECT_FALSE(parses(R"("\a")"));
    EXPECT_FALSE(parses("\"tab\there\""));
    EXPECT_FALSE(parses("\"line\nbreak\""));
    EXPECT_FALSE(parses(std::string("\"a\0b\"", 5)));
    EXPECT_FALSE(parses("\"unterminated"));
    EXPECT_FALSE(parses("\"ends in a backslash\\"));
    EXPECT_FALSE(parses("\"\\u00"));
}

TEST(JsonReader, PassesBytesAboveAsciiThroughUnchecked)
{
    const auto text = parseJson("\"\xC3\xA9\xFF\x80\"");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->text, "\xC3\xA9\xFF\x80");
}

TEST(JsonReader, AcceptsNineNestedArraysButNotTenNorAValueInsideTheNinth)
{
    EXPECT_TRUE(parses(nested(9)));
    EXPECT_FALSE(parses(nested(10)));
    EXPECT_FALSE(parses(nested(9, "1")));
    EXPECT_TRUE(parses(nested(8, "1")));
    // Objects count the same way: nine nested objects parse, ten do not.
    std::string objects = "{}";
    for (int i = 0; i < 8; ++i)
        objects = "{\"k\":" + objects + "}";
    EXPECT_TRUE(parses(objects));
    EXPECT_FALSE(parses("{\"k\":" + objects + "}"));
    // A deep document fails fast instead of exhausting the stack.
    EXPECT_FALSE(parses(nested(100000)));
}

TEST(JsonReader, NeverReadsPastTheEndOfAViewIntoALongerBuffer)
{
    // The view ends inside a literal, a number, an escape and a string; the bytes after it would
    // complete each of them.
    const std::string buffer = "[true]  [12]  \"\\u0041\"  \"ab\"";
    EXPECT_FALSE(parses(std::string_view(buffer).substr(0, 4))); // "[tru"
    EXPECT_FALSE(parses(std::string_view(buffer).substr(8, 3))); // "[12"
    EXPECT_FALSE(parses(std::string_view(buffer).substr(14, 6))); // "\"\\u00"
    EXPECT_FALSE(parses(std::string_view(buffer).substr(24, 3))); // "\"ab"
    EXPECT_TRUE(parses(std::string_view(buffer).substr(8, 4))); // "[12]"
}

TEST(JsonMember, ReturnsTheFirstOfDuplicatedKeysAndNothingForOtherKinds)
{
    const auto doc = parseJson(R"({"k":1,"k":2,"K":3})");
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->members.size(), 3u);
    ASSERT_NE(member(*doc, "k"), nullptr);
    EXPECT_EQ(member(*doc, "k")->number, 1.0);
    EXPECT_EQ(member(*doc, "K")->number, 3.0);
    EXPECT_EQ(member(*doc, "missing"), nullptr);
    const auto array = parseJson(R"(["k"])");
    EXPECT_EQ(member(*array, "k"), nullptr);
    // Keys compare byte for byte, including escaped forms and embedded NULs.
    const auto escaped = parseJson(R"({"a\u0000b":true})");
    EXPECT_NE(member(*escaped, std::string_view("a\0b", 3)), nullptr);
    EXPECT_EQ(member(*escaped, "a"), nullptr);
}

TEST(JsonQuoter, EscapesQuotesBackslashesAndControlBytesOnly)
{
    EXPECT_EQ(quoteJson("a\tb\x01"), "\"a\\tb\\u0001\"");
    EXPECT_EQ(quoteJson("say \"hi\"\\"), "\"say \\\"hi\\\"\\\\\"");
    EXPECT_EQ(quoteJson("\n\r\x1f\x7f/"), "\"\\n\\r\\u001f\x7f/\"");
    EXPECT_EQ(quoteJson(std::string("\0", 1)), "\"\\u0000\"");
    EXPECT_EQ(quoteJson("\xC3\xA9\xFF"), "\"\xC3\xA9\xFF\"");
    EXPECT_EQ(quoteJson(""), "\"\"");
}

TEST(JsonQuoter, EveryByteStringSurvivesQuotingAndReadingBack)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    for (const std::string& text : {all, std::string("{\"feed\":\"x\"}\n"), std::string()}) {
        const auto back = parseJson(quoteJson(text));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->kind, JsonValue::kString);
        EXPECT_EQ(back->text, text);
    }
}
