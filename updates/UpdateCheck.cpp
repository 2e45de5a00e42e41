#include "updates/UpdateCheck.h"

#include "updates/AtomicFile.h"
#include "updates/JsonValue.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace brindlecot::updates {
namespace {

int64_t systemSeconds()
{
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

// A whole number that a signed 64-bit integer holds exactly; 2^63 itself is out of range.
bool toInt64Exactly(double value, int64_t& out)
{
    constexpr double twoTo63 = 9223372036854775808.0;
    if (!std::isfinite(value) || std::floor(value) != value || value < -twoTo63 || value >= twoTo63)
        return false;
    out = static_cast<int64_t>(value);
    return true;
}

// Whole file, or nothing when it is missing, unreadable or longer than maxBytes.
bool readSmallFile(const std::filesystem::path& path, std::size_t maxBytes, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open())
        return false;
    out.clear();
    char buffer[4096];
    while (in) {
        in.read(buffer, sizeof buffer);
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got > maxBytes - out.size())
            return false;
        out.append(buffer, got);
    }
    return in.eof();
}

bool fileExists(const std::filesystem::path& path)
{
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

// The feed is kept only when it came with status 200, fits the cap and is a JSON object.
bool isGoodFeed(const HttpResult& result)
{
    if (result.status != 200 || result.body.size() > kMaxFeedBytes)
        return false;
    const auto document = parseJson(result.body);
    return document && document->kind == JsonValue::kObject;
}

} // namespace

std::string cacheText(const UpdateCache& cache)
{
    return "{\"version\":1,\"checked_at\":" + std::to_string(cache.checkedAt)
        + ",\"feed\":" + quoteJson(cache.feed) + "}\n";
}

UpdateCache parseCacheText(std::string_view text)
{
    UpdateCache cache;
    if (text.size() > kMaxCacheBytes)
        return cache;
    const auto document = parseJson(text);
    if (!document)
        return cache;
    const JsonValue* checkedAt = member(*document, "checked_at");
    if (checkedAt != nullptr && checkedAt->kind == JsonValue::kNumber)
        toInt64Exactly(checkedAt->number, cache.checkedAt);
    const JsonValue* feed = member(*document, "feed");
    if (feed != nullptr && feed->kind == JsonValue::kString && feed->text.size() <= kMaxFeedBytes
        && parseJson(feed->text))
        cache.feed = feed->text;
    return cache;
}

UpdateCheck::UpdateCheck(std::string productKey_, std::string currentVersion_,
    std::filesystem::path makerFolder_, std::string feedUrl)
    : productKey(std::move(productKey_))
    , currentVersion(std::move(currentVersion_))
    , makerFolder(std::move(makerFolder_))
    , url(std::move(feedUrl))
    , clock(&systemSeconds)
    , httpGet([](const std::string& target, const std::atomic<bool>& stop) {
        HttpGetOptions options;
        options.stop = &stop;
        return updates::httpGet(target, options);
    })
{
    if (const char* over = std::getenv(kFeedUrlVariable); over != nullptr && *over != '\0')
        url = over;
    refresh();
}

void UpdateCheck::setClock(Clock c)
{
    clock = std::move(c);
}

void UpdateCheck::setHttpGet(HttpGetFunction get)
{
    httpGet = std::move(get);
}

UpdateCache UpdateCheck::readCache() const
{
    std::string text;
    if (makerFolder.empty() || !readSmallFile(cachePath(), kMaxCacheBytes, text))
        return {};
    return parseCacheText(text);
}

bool UpdateCheck::writeCache(const UpdateCache& cache) const
{
    // Without a maker folder the path would be relative to the host's working folder.
    return !makerFolder.empty() && writeFileAtomically(cachePath(), cacheText(cache));
}

void UpdateCheck::checkNow()
{
    const std::atomic<bool> never {false};
    checkNow(never);
}

void UpdateCheck::checkNow(const std::atomic<bool>& stop)
{
    if (makerFolder.empty() || fileExists(markerPath()))
        return;
    UpdateCache cache = readCache();
    const int64_t now = clock();
    // Checked less than ten minutes ago; a time in the future (clock set back) does not count.
    // Unsigned difference: no overflow whatever the cache holds.
    if (now >= cache.checkedAt
        && static_cast<uint64_t>(now) - static_cast<uint64_t>(cache.checkedAt)
            < static_cast<uint64_t>(kMinCheckIntervalSeconds))
        return;
    // Record the attempt first: an unwritable folder must not turn every run into a request.
    cache.checkedAt = now;
    if (!writeCache(cache))
        return;
    if (stop.load())
        return;
    HttpResult result = httpGet(url, stop);
    if (!isGoodFeed(result))
        return;
    cache.feed = std::move(result.body);
    writeCache(cache);
}

void UpdateCheck::refresh()
{
    uint64_t ticket = 0;
    {
        std::lock_guard<std::mutex> guard(lock);
        ticket = ++refreshesStarted;
    }
    const bool on = !makerFolder.empty() ? !fileExists(markerPath()) : true;
    UpdateOutcome next;
    if (on)
        next = evaluateFeed(readCache().feed, productKey, currentVersion);

    std::lock_guard<std::mutex> guard(lock);
    if (ticket < refreshPublished)
        return; // a refresh that started later has already published newer files
    refreshPublished = ticket;
    if (on != enabled || next.available != published.available
        || (next.available && (next.version != published.version || next.link != published.link)))
        ++changes;
    enabled = on;
    published = std::move(next);
}

bool UpdateCheck::setEnabled(bool on)
{
    bool ok = false;
    if (makerFolder.empty()) {
        ok = false;
    } else if (on) {
        std::error_code ec;
        std::filesystem::remove(markerPath(), ec); // a missing marker is fine
        ok = !ec && !fileExists(markerPath());
    } else {
        ok = writeFileAtomically(markerPath(), kMarkerText);
    }
    refresh();
    return ok;
}

bool UpdateCheck::isEnabled() const
{
    std::lock_guard<std::mutex> guard(lock);
    return enabled;
}

UpdateOutcome UpdateCheck::outcome() const
{
    std::lock_guard<std::mutex> guard(lock);
    return published;
}

int32_t UpdateCheck::changeCount() const
{
    std::lock_guard<std::mutex> guard(lock);
    return changes;
}

} // namespace brindlecot::updates
