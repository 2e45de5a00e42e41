// The update check's rules with an injected clock and GET (no network): cache age, attempt recording,
// which responses replace the cached feed, the marker and the published announcement.
#include "updates/UpdateCheck.h"
#include "UpdateTestSupport.h"
#include "updates/JsonValue.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

using namespace brindlecot::updates;
using brindlecot::updates::testing::readFile;
using brindlecot::updates::testing::TempFolder;
using brindlecot::updates::testing::temporaryFiles;
using brindlecot::updates::testing::writeFile;

namespace {

const std::string kNewerFeed = R"({"velarune":{"version":"0.13.0","page":"/downloads/velarune"}})";
const std::string kOlderFeed = R"({"velarune":{"version":"0.12.1","page":"/downloads/velarune"}})";
const std::string kTestUrl = "http://127.0.0.1:9/updates.json";

class UpdateCheckRules : public ::testing::Test
{
protected:
    void SetUp() override { ::unsetenv(kFeedUrlVariable); }

    std::unique_ptr<UpdateCheck> make(const std::filesystem::path& folder)
    {
        auto check = std::make_unique<UpdateCheck>(kProductKey, "0.12.6", folder, kTestUrl);
        check->setClock([this] { return now; });
        check->setHttpGet([this](const std::string& url, const std::atomic<bool>&) {
            requestedUrls.push_back(url);
            return response;
        });
        return check;
    }
    std::unique_ptr<UpdateCheck> make() { return make(temp.path()); }

    void writeCacheFile(int64_t checkedAt, const std::string& feed)
    {
        writeFile(temp.path() / kCacheFileName, cacheText({checkedAt, feed}));
    }

    TempFolder temp;
    int64_t now = 1800000000;
    HttpResult response {200, kNewerFeed};
    std::vector<std::string> requestedUrls;
};

} // namespace

TEST(UpdateCache, WritesTheExactCacheLayout)
{
    EXPECT_EQ(cacheText({1765400000, R"({"a":"b"})"}),
        "{\"version\":1,\"checked_at\":1765400000,\"feed\":\"{\\\"a\\\":\\\"b\\\"}\"}\n");
    EXPECT_EQ(cacheText({-5, ""}), "{\"version\":1,\"checked_at\":-5,\"feed\":\"\"}\n");
}

TEST(UpdateCache, ReadsMalformedPartsAsZeroTimeAndEmptyFeed)
{
    const UpdateCache good = parseCacheText(cacheText({1765400000, kNewerFeed}));
    EXPECT_EQ(good.checkedAt, 1765400000);
    EXPECT_EQ(good.feed, kNewerFeed);

    EXPECT_EQ(parseCacheText("garbage").checkedAt, 0);
    EXPECT_EQ(parseCacheText(R"({"checked_at":1.5,"feed":"{}"})").checkedAt, 0);
    EXPECT_EQ(parseCacheText(R"({"checked_at":"5","feed":"{}"})").checkedAt, 0);
    EXPECT_EQ(parseCacheText(R"({"checked_at":1e300,"feed":"{}"})").checkedAt, 0);
    // 2^63 does not fit; -2^63 does.
    EXPECT_EQ(parseCacheText(R"({"checked_at":9223372036854775808})").checkedAt, 0);
    EXPECT_EQ(parseCacheText(R"({"checked_at":-9223372036854775808})").checkedAt, INT64_MIN);
    EXPECT_EQ(parseCacheText(R"({"checked_at":1e3})").checkedAt, 1000);
    EXPECT_EQ(parseCacheText(R"({"checked_at":7,"checked_at":9})").checkedAt, 7);
    // The feed must be a string that itself is JSON.
    EXPECT_EQ(parseCacheText(R"({"checked_at":7,"feed":"{oops"})").feed, "");
    EXPECT_EQ(parseCacheText(R"({"checked_at":7,"feed":{"velarune":1}})").feed, "");
    EXPECT_EQ(parseCacheText(R"({"checked_at":7,"feed":"[1]"})").feed, "[1]");
    // The cache's own version member is not looked at.
    EXPECT_EQ(parseCacheText(R"({"version":99,"checked_at":7,"feed":""})").checkedAt, 7);
}

TEST_F(UpdateCheckRules, AFirstCheckRecordsTheAttemptAndCachesAGoodFeed)
{
    auto check = make();
    EXPECT_FALSE(check->outcome().available);
    check->checkNow();
    ASSERT_EQ(requestedUrls.size(), 1u);
    EXPECT_EQ(requestedUrls[0], kTestUrl);
    EXPECT_EQ(readFile(temp.path() / kCacheFileName), cacheText({now, kNewerFeed}));
    const int32_t before = check->changeCount();
    check->refresh();
    const UpdateOutcome outcome = check->outcome();
    EXPECT_TRUE(outcome.available);
    EXPECT_EQ(outcome.version, "0.13.0");
    EXPECT_EQ(outcome.link, "https://brindlecot.com/downloads/velarune");
    EXPECT_GT(check->changeCount(), before);
    EXPECT_TRUE(temporaryFiles(temp.path()).empty());
}

TEST_F(UpdateCheckRules, ACacheYoungerThanTenMinutesSuppressesTheRequest)
{
    auto check = make();
    for (const int64_t age : {0, 300, 599}) {
        writeCacheFile(now - age, kOlderFeed);
        check->checkNow();
        EXPECT_TRUE(requestedUrls.empty()) << age;
        EXPECT_EQ(check->readCache().checkedAt, now - age) << "no attempt may be recorded";
    }
    writeCacheFile(now - 600, kOlderFeed);
    check->checkNow();
    EXPECT_EQ(requestedUrls.size(), 1u);
}

TEST_F(UpdateCheckRules, ACheckTimeInTheFutureDoesNotSuppressTheRequest)
{
    auto check = make();
    writeCacheFile(now + 1, kOlderFeed); // the clock was set back
    check->checkNow();
    EXPECT_EQ(requestedUrls.size(), 1u);
    EXPECT_EQ(check->readCache().checkedAt, now);
    // Extreme cached times cannot overflow the age arithmetic into a suppression.
    writeCacheFile(INT64_MIN, kOlderFeed);
    check->checkNow();
    EXPECT_EQ(requestedUrls.size(), 2u);
}

TEST_F(UpdateCheckRules, NotModifiedAndServerErrorsKeepTheOldFeedWithTheNewCheckTime)
{
    auto check = make();
    for (const HttpResult& r : {HttpResult {304, ""}, HttpResult {500, kNewerFeed}, HttpResult {0, ""},
             HttpResult {301, kNewerFeed}, HttpResult {200, "[1,2]"}, HttpResult {200, "\"text\""},
             HttpResult {200, "{broken"}, HttpResult {200, ""}}) {
        writeCacheFile(now - 1000, kOlderFeed);
        response = r;
        check->checkNow();
        const UpdateCache cache = check->readCache();
        EXPECT_EQ(cache.feed, kOlderFeed) << r.status << " " << r.body;
        EXPECT_EQ(cache.checkedAt, now) << r.status << " " << r.body;
        now += 1000;
    }
    check->refresh();
    EXPECT_FALSE(check->outcome().available);
}

TEST_F(UpdateCheckRules, AnOversizeBodyIsNotCachedEvenWithStatus200)
{
    auto check = make();
    writeCacheFile(now - 1000, kOlderFeed);
    response = {200, kNewerFeed + std::string(kMaxFeedBytes - kNewerFeed.size() + 1, ' ')};
    check->checkNow();
    EXPECT_EQ(check->readCache().feed, kOlderFeed);
}

TEST_F(UpdateCheckRules, AFeedOfTheFullSizeSurvivesTheCacheEvenWhenQuotingDoublesIt)
{
    // Quotes and line breaks double in the cache file; the cache must still read back.
    auto check = make();
    std::string feed = R"({"velarune":{"version":"0.13.0","page":"/d"},"pad":")";
    if ((kMaxFeedBytes - feed.size()) % 2 != 0)
        feed += 'x';
    while (feed.size() < kMaxFeedBytes - 2)
        feed += "\\\""; // an escaped quote: two bytes in the feed, four in the cache
    feed += "\"}";
    ASSERT_TRUE(parseJson(feed)) << "test feed must be valid";
    ASSERT_EQ(feed.size(), kMaxFeedBytes);
    response = {200, feed};
    check->checkNow();
    EXPECT_GT(std::filesystem::file_size(temp.path() / kCacheFileName), kMaxFeedBytes * 3 / 2);
    EXPECT_EQ(check->readCache().feed, feed);
    EXPECT_EQ(check->readCache().checkedAt, now);
}

TEST_F(UpdateCheckRules, WithTheMarkerThereIsNoRequestNoCacheWriteAndNoAnnouncement)
{
    writeCacheFile(now - 100000, kNewerFeed);
    auto check = make();
    EXPECT_TRUE(check->outcome().available);
    writeFile(temp.path() / kMarkerFileName, "anything");
    const std::string cacheBefore = readFile(temp.path() / kCacheFileName);
    check->checkNow();
    EXPECT_TRUE(requestedUrls.empty());
    EXPECT_EQ(readFile(temp.path() / kCacheFileName), cacheBefore);
    check->refresh();
    EXPECT_FALSE(check->isEnabled());
    EXPECT_FALSE(check->outcome().available);

    TempFolder fresh;
    writeFile(fresh.path() / kMarkerFileName, "");
    auto other = make(fresh.path());
    other->checkNow();
    EXPECT_TRUE(requestedUrls.empty());
    EXPECT_FALSE(std::filesystem::exists(fresh.path() / kCacheFileName));
}

TEST_F(UpdateCheckRules, SwitchingOffWritesTheMarkerAndHidesTheAnnouncementAtOnce)
{
    writeCacheFile(now - 100000, kNewerFeed);
    auto check = make();
    ASSERT_TRUE(check->outcome().available);
    const int32_t start = check->changeCount();

    EXPECT_TRUE(check->setEnabled(false));
    EXPECT_EQ(readFile(temp.path() / kMarkerFileName),
        "The Brindlecot plug-ins do not check for updates while this file is here.\n");
    EXPECT_EQ(std::string(kMarkerText).size(), 74u);
    EXPECT_FALSE(check->isEnabled());
    EXPECT_FALSE(check->outcome().available);
    EXPECT_GT(check->changeCount(), start);
    EXPECT_TRUE(temporaryFiles(temp.path()).empty());

    const int32_t off = check->changeCount();
    EXPECT_TRUE(check->setEnabled(false)); // again: nothing changes
    EXPECT_EQ(check->changeCount(), off);

    EXPECT_TRUE(check->setEnabled(true));
    EXPECT_FALSE(std::filesystem::exists(temp.path() / kMarkerFileName));
    EXPECT_TRUE(check->isEnabled());
    EXPECT_TRUE(check->outcome().available);
    EXPECT_GT(check->changeCount(), off);
    EXPECT_TRUE(check->setEnabled(true)); // no marker to delete is fine
}

TEST_F(UpdateCheckRules, TheChangeCountMovesOnlyWhenTheAnnouncementChanges)
{
    auto check = make();
    const int32_t start = check->changeCount();
    check->refresh();
    EXPECT_EQ(check->changeCount(), start);
    writeCacheFile(now, kNewerFeed);
    check->refresh();
    EXPECT_EQ(check->changeCount(), start + 1);
    check->refresh();
    EXPECT_EQ(check->changeCount(), start + 1);
    writeCacheFile(now, R"({"velarune":{"version":"0.13.0","page":"/other"}})");
    check->refresh();
    EXPECT_EQ(check->changeCount(), start + 2);
    writeCacheFile(now, R"({"velarune":{"version":"0.13.1","page":"/other"}})");
    check->refresh();
    EXPECT_EQ(check->changeCount(), start + 3);
    writeCacheFile(now, kOlderFeed);
    check->refresh();
    EXPECT_EQ(check->changeCount(), start + 4);
    EXPECT_FALSE(check->outcome().available);
}

TEST_F(UpdateCheckRules, ACachedAnnouncementIsVisibleRightAfterConstructionWithoutANetworkRequest)
{
    writeCacheFile(now - 5, kNewerFeed);
    auto check = make();
    EXPECT_TRUE(check->outcome().available);
    EXPECT_EQ(check->outcome().version, "0.13.0");
    EXPECT_TRUE(requestedUrls.empty());
}

TEST_F(UpdateCheckRules, AnUnwritableFolderMeansNoRequest)
{
    writeFile(temp.path() / "file", "x");
    auto check = make(temp.path() / "file" / "maker");
    check->checkNow();
    EXPECT_TRUE(requestedUrls.empty());
    EXPECT_FALSE(check->setEnabled(false));
    EXPECT_TRUE(check->isEnabled());
}

TEST_F(UpdateCheckRules, WithoutAMakerFolderNothingIsReadWrittenOrRequested)
{
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(temp.path());
    auto check = make(std::filesystem::path());
    check->checkNow();
    EXPECT_FALSE(check->setEnabled(false));
    std::filesystem::current_path(cwd);
    EXPECT_TRUE(requestedUrls.empty());
    EXPECT_TRUE(std::filesystem::is_empty(temp.path()));
}

TEST_F(UpdateCheckRules, AStopRequestBeforeTheRequestSkipsIt)
{
    auto check = make();
    const std::atomic<bool> stop {true};
    check->checkNow(stop);
    EXPECT_TRUE(requestedUrls.empty());
}

TEST_F(UpdateCheckRules, TheEnvironmentVariableReplacesTheFeedUrlUnlessEmpty)
{
    EXPECT_EQ(UpdateCheck(kProductKey, "0.12.6", temp.path()).feedUrl(),
        "https://updates.brindlecot.com/updates.json");
    ::setenv(kFeedUrlVariable, "", 1);
    EXPECT_EQ(UpdateCheck(kProductKey, "0.12.6", temp.path()).feedUrl(), kDefaultFeedUrl);
    ::setenv(kFeedUrlVariable, "http://127.0.0.1:1/feed", 1);
    EXPECT_EQ(UpdateCheck(kProductKey, "0.12.6", temp.path()).feedUrl(), "http://127.0.0.1:1/feed");
    ::unsetenv(kFeedUrlVariable);
}

TEST_F(UpdateCheckRules, AnOversizeOrCorruptCacheFileReadsAsEmptyAndAllowsAnImmediateCheck)
{
    auto check = make();
    writeFile(temp.path() / kCacheFileName, std::string(kMaxCacheBytes + 1, ' '));
    EXPECT_EQ(check->readCache().checkedAt, 0);
    writeFile(temp.path() / kCacheFileName, "{\"checked_at\":" + std::to_string(now) + ",");
    EXPECT_EQ(check->readCache().checkedAt, 0);
    check->checkNow();
    EXPECT_EQ(requestedUrls.size(), 1u);
}
