// Reading the update feed: which version it announces for a product, whether that version is newer than
// ours, and whether its download page is a safe path on the maker's site.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace brindlecot::updates {

/// Longest feed (and cached feed) text that is read at all, in bytes.
inline constexpr std::size_t kMaxFeedBytes = 65536;
/// The maker's web site; announced pages are paths on it.
inline constexpr const char* kSiteOrigin = "https://brindlecot.com";

/// What the pill shows: whether a newer version exists, its version text and the full page URL.
struct UpdateOutcome
{
    bool available = false;
    std::string version;
    std::string link;

    bool operator==(const UpdateOutcome& other) const
    {
        return available == other.available && version == other.version && link == other.link;
    }
    bool operator!=(const UpdateOutcome& other) const { return !(*this == other); }
};

/// major.minor.patch, each part 1 to 4 decimal digits and nothing else; otherwise nothing.
std::optional<std::array<int, 3>> parseVersion(std::string_view text);

/// A page path of 1 to 100 bytes that starts with "/" but not "//", made only of a-z A-Z 0-9 # - / _.
bool isAcceptablePage(std::string_view page);

/// The announcement in feed for productKey when its version is newer than currentVersion, with the
/// link siteOrigin + page; nothing available for any malformed, oversize or older feed.
UpdateOutcome evaluateFeed(std::string_view feed, std::string_view productKey,
    std::string_view currentVersion, std::string_view siteOrigin = kSiteOrigin);

} // namespace brindlecot::updates
