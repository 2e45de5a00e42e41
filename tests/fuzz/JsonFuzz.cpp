// Feeds arbitrary bytes to the JSON reader, the cache reader and the feed evaluation: no crash, no read
// outside the input (the input is copied into a buffer of exactly its size), and every byte string
// must survive quoting and reading back unchanged.
#include "updates/JsonValue.h"
#include "updates/UpdateCheck.h"
#include "updates/UpdateFeed.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

namespace {

// Depth-first walk that touches every node, so a malformed tree would be caught by the sanitizers.
std::size_t countNodes(const brindlecot::updates::JsonValue& value, int depth)
{
    using brindlecot::updates::JsonValue;
    if (depth > brindlecot::updates::kMaxJsonDepth)
        std::abort();
    std::size_t n = 1;
    switch (value.kind) {
    case JsonValue::kArray:
        for (const auto& item : value.items)
            n += countNodes(item, depth + 1);
        break;
    case JsonValue::kObject:
        for (const auto& [key, member] : value.members)
            n += key.size() + countNodes(member, depth + 1);
        break;
    case JsonValue::kNull:
    case JsonValue::kBoolean:
    case JsonValue::kNumber:
    case JsonValue::kString:
        break;
    default:
        std::abort();
    }
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace brindlecot::updates;
    // An exact-size heap copy: reading one byte past the end is an AddressSanitizer report.
    std::unique_ptr<char[]> copy(new char[size == 0 ? 1 : size]);
    if (size > 0)
        std::memcpy(copy.get(), data, size);
    const std::string_view text(copy.get(), size);

    if (const auto doc = parseJson(text)) {
        countNodes(*doc, 0);
        (void)member(*doc, "velarune");
    }
    const auto back = parseJson(quoteJson(text));
    if (!back || back->kind != JsonValue::kString || back->text != text)
        std::abort();

    const UpdateOutcome outcome = evaluateFeed(text, kProductKey, "0.12.6");
    if (outcome.available && (outcome.link.rfind(kSiteOrigin, 0) != 0 || !parseVersion(outcome.version)))
        std::abort();
    const UpdateCache cache = parseCacheText(text);
    if (!cache.feed.empty() && !parseJson(cache.feed))
        std::abort();
    return 0;
}
