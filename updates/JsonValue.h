// A small strict JSON codec: a recursive-descent reader into a tree of values, a first-match member
// lookup and a string quoter. There is no tree writer; documents are written by concatenating literal
// text, quoted strings and decimal integers. Used for the update feed and its cache file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brindlecot::updates {

/// Deepest nesting the reader accepts; the document value has depth 0.
inline constexpr int kMaxJsonDepth = 8;

/// One node of a parsed document. Children are owned by value; object members keep document order and
/// duplicates.
struct JsonValue
{
    enum Kind : int32_t
    {
        kNull = 0,
        kBoolean = 1,
        kNumber = 2,
        kString = 3,
        kArray = 4,
        kObject = 5,
    };

    int32_t kind = kNull;
    bool boolean = false;
    double number = 0.0;
    std::string text; // UTF-8 bytes, escapes decoded
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;
};

/// The whole text as one value (whitespace around it allowed), or nothing when malformed. Never throws
/// for bad input (only std::bad_alloc) and never reads outside the text.
std::optional<JsonValue> parseJson(std::string_view text);

/// The value of the first member named key (byte for byte) when value is an object, else nullptr.
const JsonValue* member(const JsonValue& value, std::string_view key);

/// The JSON string literal of text, double quotes included; bytes of 0x80 and above pass unchanged.
std::string quoteJson(std::string_view text);

} // namespace brindlecot::updates
