// The update check: a cached feed in the maker's shared folder, consulted at most once every ten
// minutes across every plug-in and instance that share the folder, and a lock-protected announcement
// that the editor's pill reads. The network step runs on the worker thread (UpdateWorker); the switch
// and the readers run on the user-interface thread.
#pragma once

#include "updates/HttpGet.h"
#include "updates/UpdateFeed.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

namespace brindlecot::updates {

/// This product's key in the feed.
inline constexpr const char* kProductKey = "velarune";
/// The maker's update feed; "BRINDLECOT_UPDATES_URL" replaces it when set and not empty.
inline constexpr const char* kDefaultFeedUrl = "https://updates.brindlecot.com/updates.json";
/// Environment variable that points the check at another feed (tests, staging).
inline constexpr const char* kFeedUrlVariable = "BRINDLECOT_UPDATES_URL";
/// File names inside the maker folder.
inline constexpr const char* kCacheFileName = "updates.json";
inline constexpr const char* kMarkerFileName = "updates-off";
/// The marker's whole text (74 bytes); only its existence matters.
inline constexpr const char* kMarkerText
    = "The Brindlecot plug-ins do not check for updates while this file is here.\n";
/// Least time between two network attempts, in seconds.
inline constexpr int64_t kMinCheckIntervalSeconds = 600;
/// Largest cache file read: the quoted form of a feed of kMaxFeedBytes can be up to twice as long
/// (every quote, backslash and line break gains a backslash), plus the fixed text around it.
inline constexpr std::size_t kMaxCacheBytes = 2 * kMaxFeedBytes + 128;

/// Contents of the cache file: time of the last network attempt and the last good feed (or empty).
struct UpdateCache
{
    int64_t checkedAt = 0; // seconds since 1970-01-01 00:00 UTC
    std::string feed;
};

/// The cache file's exact text for these contents.
std::string cacheText(const UpdateCache& cache);
/// Reads the cache text; anything malformed reads as {0, ""}.
UpdateCache parseCacheText(std::string_view text);

class UpdateCheck
{
public:
    /// Seconds since 1970-01-01 00:00 UTC.
    using Clock = std::function<int64_t()>;

    /// Applies the environment override to feedUrl, installs the system clock and the libcurl GET
    /// (8 s time-outs), then refreshes from the cache so a cached announcement shows at once.
    UpdateCheck(std::string productKey, std::string currentVersion, std::filesystem::path makerFolder,
        std::string feedUrl = kDefaultFeedUrl);

    UpdateCheck(const UpdateCheck&) = delete;
    UpdateCheck& operator=(const UpdateCheck&) = delete;

    /// Replaces the time source (tests). Call before the worker starts.
    void setClock(Clock clock);
    /// Replaces the network access (tests). Call before the worker starts.
    void setHttpGet(HttpGetFunction get);

    /// The network step (worker thread): unless the marker exists or the cache is younger than 600 s,
    /// records the attempt in the cache, fetches the feed and caches it when good. stop aborts the GET.
    void checkNow(const std::atomic<bool>& stop);
    void checkNow();

    /// Re-reads marker and cache and publishes the outcome (any thread).
    void refresh();

    /// The menu switch: on deletes the marker, off writes it; then refreshes. False when the file
    /// operation failed (the switch then stays as it was).
    bool setEnabled(bool on);
    /// Checking is on (no marker file), as last published.
    bool isEnabled() const;

    /// The current announcement (copied under the lock).
    UpdateOutcome outcome() const;
    /// Grows whenever the announcement or the switch changes; the pill redraws when it moves.
    int32_t changeCount() const;

    /// Where the feed is fetched from (after the environment override).
    const std::string& feedUrl() const { return url; }
    const std::filesystem::path& folder() const { return makerFolder; }
    std::filesystem::path cachePath() const { return makerFolder / kCacheFileName; }
    std::filesystem::path markerPath() const { return makerFolder / kMarkerFileName; }

    /// Reads folder/"updates.json"; a missing, unreadable, oversize or malformed file reads as {0, ""}.
    UpdateCache readCache() const;
    /// Writes folder/"updates.json" atomically; false on failure.
    bool writeCache(const UpdateCache& cache) const;

private:
    const std::string productKey;
    const std::string currentVersion;
    const std::filesystem::path makerFolder;
    std::string url;
    Clock clock;
    HttpGetFunction httpGet;

    mutable std::mutex lock; // guards the members below
    bool enabled = true;
    UpdateOutcome published;
    int32_t changes = 0;
    // Refreshes read the files outside the lock; only the one that started last may publish, so a
    // slow refresh on the worker cannot overwrite what a later switch on the user-interface thread set.
    uint64_t refreshesStarted = 0;
    uint64_t refreshPublished = 0;
};

} // namespace brindlecot::updates
