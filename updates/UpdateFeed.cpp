#include "updates/UpdateFeed.h"

#include "updates/JsonValue.h"

namespace brindlecot::updates {

std::optional<std::array<int, 3>> parseVersion(std::string_view text)
{
    std::array<int, 3> parts {};
    std::size_t pos = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return std::nullopt;
            ++pos;
        }
        int value = 0;
        int digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            if (++digits > 4)
                return std::nullopt;
            value = value * 10 + (text[pos] - '0');
            ++pos;
        }
        if (digits == 0)
            return std::nullopt;
        parts[i] = value;
    }
    if (pos != text.size())
        return std::nullopt;
    return parts;
}

bool isAcceptablePage(std::string_view page)
{
    if (page.empty() || page.size() > 100 || page[0] != '/' || (page.size() > 1 && page[1] == '/'))
        return false;
    for (const char c : page) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '#'
            || c == '-' || c == '/' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

UpdateOutcome evaluateFeed(std::string_view feed, std::string_view productKey,
    std::string_view currentVersion, std::string_view siteOrigin)
{
    if (feed.size() > kMaxFeedBytes)
        return {};
    const auto document = parseJson(feed);
    if (!document)
        return {};
    const JsonValue* entry = member(*document, productKey);
    if (entry == nullptr)
        return {};
    const JsonValue* version = member(*entry, "version");
    const JsonValue* page = member(*entry, "page");
    if (version == nullptr || version->kind != JsonValue::kString || page == nullptr
        || page->kind != JsonValue::kString)
        return {};
    if (!isAcceptablePage(page->text))
        return {};
    const auto offered = parseVersion(version->text);
    const auto ours = parseVersion(currentVersion);
    if (!offered || !ours || !(*offered > *ours)) // std::array compares part by part, left to right
        return {};
    UpdateOutcome outcome;
    outcome.available = true;
    outcome.version = version->text;
    outcome.link = std::string(siteOrigin) + page->text;
    return outcome;
}

} // namespace brindlecot::updates
