#include "updates/UpdateFeed.h"

#include <gtest/gtest.h>

#include <string>

using namespace brindlecot::updates;

namespace {

std::string feedWith(const std::string& version, const std::string& page = "/downloads/velarune")
{
    return R"({"other":{"version":"9.9.9","page":"/x"},"velarune":{"version":")" + version + R"(","page":")"
        + page + R"("}})";
}

bool announces(const std::string& feed)
{
    return evaluateFeed(feed, "velarune", "0.12.6").available;
}

} // namespace

TEST(UpdateVersion, ReadsExactlyThreePartsOfOneToFourDigits)
{
    EXPECT_EQ(parseVersion("0.12.6"), (std::array<int, 3> {0, 12, 6}));
    EXPECT_EQ(parseVersion("9999.0.0010"), (std::array<int, 3> {9999, 0, 10}));
    for (const char* bad : {"0.12", "0.12.6.1", "0.12.6-beta", "v0.12.6", "0.12.", ".12.6", "0..6", "0.12.6 ",
             " 0.12.6", "0.12.+6", "0.12.-6", "10000.0.0", "0.12.6\n", ""})
        EXPECT_FALSE(parseVersion(bad)) << bad;
}

TEST(UpdateFeed, AnnouncesOnlyVersionsGreaterPartByPart)
{
    EXPECT_FALSE(announces(feedWith("0.12.6")));
    EXPECT_FALSE(announces(feedWith("0.12.5")));
    EXPECT_FALSE(announces(feedWith("0.11.99")));
    EXPECT_TRUE(announces(feedWith("0.12.7")));
    EXPECT_TRUE(announces(feedWith("0.13.0")));
    EXPECT_TRUE(announces(feedWith("1.0.0")));
    // Numeric, not textual: 10 > 9 although "1" < "9".
    EXPECT_TRUE(evaluateFeed(feedWith("0.12.10"), "velarune", "0.12.9").available);
    EXPECT_FALSE(evaluateFeed(feedWith("0.12.9"), "velarune", "0.12.10").available);
    // Leading zeros are digits like any other: 0.12.07 is 0.12.7.
    EXPECT_TRUE(announces(feedWith("0.12.07")));
    for (const char* bad : {"0.12", "0.12.6.1", "0.12.6-beta", "0.13", "1.0.0.0"})
        EXPECT_FALSE(announces(feedWith(bad))) << bad;
    // Our own version unreadable: never announce.
    EXPECT_FALSE(evaluateFeed(feedWith("9.0.0"), "velarune", "0.12").available);
}

TEST(UpdateFeed, LinksTheAnnouncedPageOnTheMakersSite)
{
    const UpdateOutcome outcome
        = evaluateFeed(feedWith("0.13.0", "/downloads/velarune#win"), "velarune", "0.12.6");
    ASSERT_TRUE(outcome.available);
    EXPECT_EQ(outcome.version, "0.13.0");
    EXPECT_EQ(outcome.link, "https://brindlecot.com/downloads/velarune#win");
    EXPECT_EQ(evaluateFeed(feedWith("0.13.0", "/p"), "velarune", "0.12.6", "https://example.test").link,
        "https://example.test/p");
}

TEST(UpdateFeed, RefusesPagesThatCouldLeaveTheSiteOrCarryOtherCharacters)
{
    EXPECT_TRUE(isAcceptablePage("/downloads/velarune#win"));
    EXPECT_TRUE(isAcceptablePage("/"));
    EXPECT_TRUE(isAcceptablePage("/A-z_0/9#"));
    EXPECT_TRUE(isAcceptablePage("/" + std::string(99, 'a')));
    EXPECT_FALSE(isAcceptablePage("/" + std::string(100, 'a'))); // 101 bytes
    for (const char* bad : {"//host/x", "download", "/a.b", "", "/a b", "/a?b=1", "/a%2e", "/a:b", "/a@b",
             "/\\host", "https://x/", "/caf\xC3\xA9"})
        EXPECT_FALSE(isAcceptablePage(bad)) << bad;
    EXPECT_FALSE(announces(feedWith("0.13.0", "//evil.test/x")));
    EXPECT_FALSE(announces(feedWith("0.13.0", "/a.b")));
}

TEST(UpdateFeed, AnnouncesNothingForMalformedOrIncompleteFeeds)
{
    EXPECT_FALSE(announces(""));
    EXPECT_FALSE(announces("not json"));
    EXPECT_FALSE(announces(R"({"other":{"version":"1.0.0","page":"/x"}})"));
    EXPECT_FALSE(announces(R"({"velarune":"1.0.0"})"));
    EXPECT_FALSE(announces(R"({"velarune":{"version":"1.0.0"}})"));
    EXPECT_FALSE(announces(R"({"velarune":{"page":"/x"}})"));
    EXPECT_FALSE(announces(R"({"velarune":{"version":1.0,"page":"/x"}})"));
    EXPECT_FALSE(announces(R"({"velarune":{"version":"1.0.0","page":["/x"]}})"));
    EXPECT_FALSE(announces(R"(["velarune"])"));
    // The first of duplicated members counts, for the product and inside its entry.
    EXPECT_FALSE(announces(
        R"({"velarune":{"version":"0.1.0","page":"/x"},"velarune":{"version":"1.0.0","page":"/x"}})"));
    EXPECT_TRUE(announces(R"({"velarune":{"version":"1.0.0","version":"0.1.0","page":"/x"}})"));
    // Other members are ignored.
    EXPECT_TRUE(announces(R"({"velarune":{"notes":[1,2],"version":"1.0.0","page":"/x"},"x":null})"));
}

TEST(UpdateFeed, ReadsFeedsUpToTheSizeCapOnly)
{
    const std::string feed = feedWith("1.0.0");
    const std::string atCap = feed + std::string(kMaxFeedBytes - feed.size(), ' ');
    EXPECT_TRUE(announces(atCap));
    EXPECT_FALSE(announces(atCap + " "));
}
