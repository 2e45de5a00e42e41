#include "store/Base64.h"

#include <array>

namespace brindlecot {

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Character -> 6-bit value, -1 for everything outside the alphabet (including "=").
constexpr std::array<int8_t, 256> makeDecodeTable()
{
    std::array<int8_t, 256> t {};
    for (auto& v : t)
        v = -1;
    for (int i = 0; i < 64; ++i)
        t[static_cast<uint8_t>(kAlphabet[i])] = static_cast<int8_t>(i);
    return t;
}
constexpr auto kDecode = makeDecodeTable();
} // namespace

std::string base64Encode(const uint8_t* data, size_t size)
{
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const uint32_t v = (uint32_t {data[i]} << 16) | (uint32_t {data[i + 1]} << 8) | data[i + 2];
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    const size_t rest = size - i;
    if (rest > 0) {
        uint32_t v = uint32_t {data[i]} << 16;
        if (rest == 2)
            v |= uint32_t {data[i + 1]} << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

bool base64Decode(std::string_view text, std::vector<uint8_t>& out)
{
    out.clear();
    if (text.size() % 4 != 0)
        return false;
    size_t padding = 0;
    if (!text.empty() && text.back() == '=')
        padding = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;
    out.reserve(text.size() / 4 * 3);
    for (size_t g = 0; g < text.size(); g += 4) {
        const bool last = g + 4 == text.size();
        const size_t used = last ? 4 - padding : 4;
        uint32_t v = 0;
        for (size_t k = 0; k < 4; ++k) {
            int d = 0;
            if (k < used) {
                d = kDecode[static_cast<uint8_t>(text[g + k])];
                if (d < 0) {
                    out.clear();
                    return false;
                }
            }
            v = (v << 6) | static_cast<uint32_t>(d);
        }
        out.push_back(static_cast<uint8_t>(v >> 16));
        if (used >= 3)
            out.push_back(static_cast<uint8_t>(v >> 8));
        if (used == 4)
            out.push_back(static_cast<uint8_t>(v));
    }
    return true;
}

} // namespace brindlecot
