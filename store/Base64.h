// Base64 with the standard alphabet and "=" padding (RFC 4648, section 4), on one line. The decoder
// is strict: no whitespace, no line breaks, padding only at the very end.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brindlecot {

/// 3 bytes to 4 characters; the last group is padded with one or two "=".
std::string base64Encode(const uint8_t* data, size_t size);
inline std::string base64Encode(const std::vector<uint8_t>& bytes)
{
    return base64Encode(bytes.data(), bytes.size());
}

/// Decodes `text` into `out`; false (and `out` empty) when the length is not a multiple of 4, a
/// character is outside the alphabet, or "=" appears anywhere but at the end of the last group.
bool base64Decode(std::string_view text, std::vector<uint8_t>& out);

} // namespace brindlecot
