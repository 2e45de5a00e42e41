#include "updates/JsonValue.h"

#include <clocale>
#include <cstdlib>
#include <locale.h>

namespace brindlecot::updates {
namespace {

// The "C" locale, so that a host that switched LC_NUMERIC to a comma-decimal locale cannot change
// how "0.5" reads. Created once; never freed (process lifetime).
locale_t cLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void appendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// A cursor over the text. Every read checks the end first; a failed step returns false and the
// whole parse is abandoned.
class Reader
{
public:
    explicit Reader(std::string_view text)
        : s(text)
    { }

    bool document(JsonValue& out)
    {
        skipWhitespace();
        if (!value(out, 0))
            return false;
        skipWhitespace();
        return pos == s.size();
    }

private:
    std::string_view s;
    std::size_t pos = 0;

    bool atEnd() const { return pos >= s.size(); }
    char peek() const { return s[pos]; }

    void skipWhitespace()
    {
        while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r'))
            ++pos;
    }

    bool value(JsonValue& out, int depth)
    {
        if (depth > kMaxJsonDepth || atEnd())
            return false;
        switch (peek()) {
        case '"':
            out.kind = JsonValue::kString;
            return string(out.text);
        case '[':
            return array(out, depth);
        case '{':
            return object(out, depth);
        case 't':
            out.kind = JsonValue::kBoolean;
            out.boolean = true;
            return literal("true");
        case 'f':
            out.kind = JsonValue::kBoolean;
            out.boolean = false;
            return literal("false");
        case 'n':
            out.kind = JsonValue::kNull;
            return literal("null");
        default:
            out.kind = JsonValue::kNumber;
            return number(out.number);
        }
    }

    bool literal(std::string_view word)
    {
        if (s.substr(pos, word.size()) != word)
            return false;
        pos += word.size();
        return true;
    }

    bool array(JsonValue& out, int depth)
    {
        out.kind = JsonValue::kArray;
        ++pos; // '['
        skipWhitespace();
        if (!atEnd() && peek() == ']') {
            ++pos;
            return true;
        }
        for (;;) {
            skipWhitespace();
            out.items.emplace_back();
            if (!value(out.items.back(), depth + 1))
                return false;
            skipWhitespace();
            if (atEnd())
                return false;
            const char c = s[pos++];
            if (c == ']')
                return true;
            if (c != ',')
                return false;
        }
    }

    bool object(JsonValue& out, int depth)
    {
        out.kind = JsonValue::kObject;
        ++pos; // '{'
        skipWhitespace();
        if (!atEnd() && peek() == '}') {
            ++pos;
            return true;
        }
        for (;;) {
            skipWhitespace();
            if (atEnd() || peek() != '"')
                return false;
            out.members.emplace_back();
            auto& [key, memberValue] = out.members.back();
            if (!string(key))
                return false;
            skipWhitespace();
            if (atEnd() || peek() != ':')
                return false;
            ++pos;
            skipWhitespace();
            if (!value(memberValue, depth + 1))
                return false;
            skipWhitespace();
            if (atEnd())
                return false;
            const char c = s[pos++];
            if (c == '}')
                return true;
            if (c != ',')
                return false;
        }
    }

    // -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?, then the C library's conversion.
    bool number(double& out)
    {
        const std::size_t start = pos;
        if (!atEnd() && peek() == '-')
            ++pos;
        if (atEnd() || !isDigit(peek()))
            return false;
        if (peek() == '0') {
            ++pos;
        } else {
            while (!atEnd() && isDigit(peek()))
                ++pos;
        }
        if (!atEnd() && peek() == '.') {
            ++pos;
            if (atEnd() || !isDigit(peek()))
                return false;
            while (!atEnd() && isDigit(peek()))
                ++pos;
        }
        if (!atEnd() && (peek() == 'e' || peek() == 'E')) {
            ++pos;
            if (!atEnd() && (peek() == '+' || peek() == '-'))
                ++pos;
            if (atEnd() || !isDigit(peek()))
                return false;
            while (!atEnd() && isDigit(peek()))
                ++pos;
        }
        // strtod needs a terminated copy; the matched text holds only the characters above, so the
        // conversion consumes all of it (overflow gives +-HUGE_VAL, as the C library defines).
        const std::string matched(s.substr(start, pos - start));
        const locale_t c = cLocale();
        out = c ? strtod_l(matched.c_str(), nullptr, c) : std::strtod(matched.c_str(), nullptr);
        return true;
    }

    bool hex4(uint32_t& out)
    {
        if (s.size() - pos < 4)
            return false;
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const int d = hexDigit(s[pos++]);
            if (d < 0)
                return false;
            out = out * 16 + static_cast<uint32_t>(d);
        }
        return true;
    }

    bool string(std::string& out)
    {
        ++pos; // opening quote
        for (;;) {
            if (atEnd())
                return false;
            const char c = s[pos++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                out += c; // bytes of 0x80 and above pass through unvalidated
                continue;
            }
            if (atEnd())
                return false;
            const char e = s[pos++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                uint32_t cp = 0;
                if (!hex4(cp))
                    return false;
                if (cp >= 0xDC00 && cp <= 0xDFFF)
                    return false; // a low surrogate without its high half
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    // UTF-16 pair: the low half must follow at once as a second \u escape.
                    if (s.size() - pos < 2 || s[pos] != '\\' || s[pos + 1] != 'u')
                        return false;
                    pos += 2;
                    uint32_t low = 0;
                    if (!hex4(low) || low < 0xDC00 || low > 0xDFFF)
                        return false;
                    cp = 0x10000 + (cp - 0xD800) * 0x400 + (low - 0xDC00);
                }
                appendUtf8(out, cp);
                break;
            }
            default:
                return false;
            }
        }
    }
};

} // namespace

std::optional<JsonValue> parseJson(std::string_view text)
{
    JsonValue value;
    Reader reader(text);
    if (!reader.document(value))
        return std::nullopt;
    return value;
}

const JsonValue* member(const JsonValue& value, std::string_view key)
{
    if (value.kind != JsonValue::kObject)
        return nullptr;
    for (const auto& [name, memberValue] : value.members)
        if (name == key)
            return &memberValue;
    return nullptr;
}

std::string quoteJson(std::string_view text)
{
    static const char* const hex = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"') {
            out += "\\\"";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (b < 0x20) {
            out += "\\u00";
            out += hex[b >> 4];
            out += hex[b & 0xF];
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

} // namespace brindlecot::updates
