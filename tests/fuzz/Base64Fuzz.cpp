// Feeds arbitrary text to the strict base64 decoder and arbitrary bytes to the encoder: decoding
// what was encoded gives the bytes back, and accepted text has the size the encoder would write.
#include "store/Base64.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace brindlecot;
    std::vector<uint8_t> decoded;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (base64Decode(text, decoded)) {
        const std::string reencoded = base64Encode(decoded);
        std::vector<uint8_t> twice;
        if (reencoded.size() != size || !base64Decode(reencoded, twice) || twice != decoded)
            std::abort();
    } else if (!decoded.empty()) {
        std::abort();
    }

    const std::string encoded = base64Encode(data, size);
    std::vector<uint8_t> back;
    if (!base64Decode(encoded, back) || back.size() != size
        || (size > 0 && !std::equal(back.begin(), back.end(), data)))
        std::abort();
    return 0;
}
