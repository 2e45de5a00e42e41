// The libcurl GET and the update check against a real server on 127.0.0.1 that each test starts and
// stops; nothing else on the network is ever contacted.
#include "updates/HttpGet.h"
#include "LocalHttpServer.h"
#include "UpdateTestSupport.h"
#include "updates/UpdateCheck.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

using namespace brindlecot::updates;
using brindlecot::updates::testing::LocalHttpServer;
using brindlecot::updates::testing::TempFolder;
using brindlecot::updates::testing::writeFile;

namespace {

const std::string kNewerFeed = R"({"velarune":{"version":"0.13.0","page":"/downloads/velarune"}})";
const std::string kOlderFeed = R"({"velarune":{"version":"0.12.1","page":"/downloads/velarune"}})";

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Proxies from the environment would send loopback requests elsewhere; these tests talk to
// 127.0.0.1 directly.
class LocalServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ::setenv("no_proxy", "127.0.0.1", 1);
        ::setenv("NO_PROXY", "127.0.0.1", 1);
        ::unsetenv(kFeedUrlVariable);
    }
    void TearDown() override { ::unsetenv(kFeedUrlVariable); }

    // An update check whose feed URL comes from the environment, as in the plug-in, with the
    // production GET (8 s) or one with a shorter time-out.
    std::unique_ptr<UpdateCheck> makeCheck(const LocalHttpServer& server, int timeoutSeconds = 8)
    {
        ::setenv(kFeedUrlVariable, server.url().c_str(), 1);
        auto check = std::make_unique<UpdateCheck>(kProductKey, "0.12.6", temp.path());
        if (timeoutSeconds != 8) {
            check->setHttpGet([timeoutSeconds](const std::string& url, const std::atomic<bool>& stop) {
                HttpGetOptions options;
                options.timeoutSeconds = timeoutSeconds;
                options.stop = &stop;
                return httpGet(url, options);
            });
        }
        return check;
    }

    void writeCache(int64_t checkedAt, const std::string& feed)
    {
        writeFile(temp.path() / kCacheFileName, cacheText({checkedAt, feed}));
    }

    int64_t wallSeconds() const
    {
        using namespace std::chrono;
        return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
    }

    TempFolder temp;
};

} // namespace

TEST_F(LocalServer, ANewerVersionServedWith200BecomesAvailable)
{
    LocalHttpServer server(LocalHttpServer::make("200 OK", kNewerFeed));
    ASSERT_TRUE(server.ok());
    auto check = makeCheck(server);
    EXPECT_EQ(check->feedUrl(), server.url());
    check->checkNow();
    check->refresh();
    const UpdateOutcome outcome = check->outcome();
    EXPECT_TRUE(outcome.available);
    EXPECT_EQ(outcome.version, "0.13.0");
    EXPECT_EQ(outcome.link, "https://brindlecot.com/downloads/velarune");
    EXPECT_EQ(check->readCache().feed, kNewerFeed);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string& head = requests[0];
    EXPECT_EQ(head.rfind("GET /updates.json HTTP/1.1\r\n", 0), 0u) << head;
    EXPECT_NE(head.find("\r\nUser-Agent: Brindlecot plug-in\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("\r\nAccept: application/json"), std::string::npos) << head;
    EXPECT_EQ(head.find("Cookie"), std::string::npos) << head;
}

TEST_F(LocalServer, NotModifiedAndServerErrorKeepTheOldFeedWithANewCheckTime)
{
    for (const char* status : {"304 Not Modified", "500 Internal Server Error"}) {
        LocalHttpServer server(
            LocalHttpServer::make(status, std::string(status)[0] == '3' ? "" : kNewerFeed));
        ASSERT_TRUE(server.ok());
        writeCache(1000, kOlderFeed);
        auto check = makeCheck(server);
        const int64_t before = wallSeconds();
        check->checkNow();
        EXPECT_EQ(server.requestCount(), 1u) << status;
        const UpdateCache cache = check->readCache();
        EXPECT_EQ(cache.feed, kOlderFeed) << status;
        EXPECT_GE(cache.checkedAt, before) << status;
        EXPECT_LE(cache.checkedAt, wallSeconds()) << status;
    }
}

TEST_F(LocalServer, ABodyOverTheCapIsRefusedWithOrWithoutALengthHeader)
{
    const std::string tooLong = kNewerFeed + std::string(65537 - kNewerFeed.size(), ' ');
    for (const auto& response :
        {LocalHttpServer::make("200 OK", tooLong), LocalHttpServer::makeUnsized("200 OK", tooLong)}) {
        LocalHttpServer server(response);
        ASSERT_TRUE(server.ok());
        EXPECT_EQ(httpGet(server.url()).status, 0);
        writeCache(1000, kOlderFeed);
        auto check = makeCheck(server);
        check->checkNow();
        EXPECT_EQ(check->readCache().feed, kOlderFeed);
    }
    // Exactly at the cap is fine.
    const std::string atCap = kNewerFeed + std::string(65536 - kNewerFeed.size(), ' ');
    LocalHttpServer server(LocalHttpServer::makeUnsized("200 OK", atCap));
    const HttpResult result = httpGet(server.url());
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.body, atCap);
}

TEST_F(LocalServer, ARedirectIsReturnedAsItIsAndNotFollowed)
{
    LocalHttpServer server(LocalHttpServer::make("302 Found", kNewerFeed, "Location: /elsewhere.json\r\n"));
    ASSERT_TRUE(server.ok());
    const HttpResult result = httpGet(server.url());
    EXPECT_EQ(result.status, 302);
    EXPECT_EQ(server.requestCount(), 1u);

    writeCache(1000, kOlderFeed);
    auto check = makeCheck(server);
    check->checkNow();
    EXPECT_EQ(server.requestCount(), 2u);
    EXPECT_EQ(check->readCache().feed, kOlderFeed);
}

TEST_F(LocalServer, AServerThatNeverAnswersEndsInTheTimeOutPathWithinTheLimit)
{
    LocalHttpServer server(LocalHttpServer::silent());
    ASSERT_TRUE(server.ok());
    HttpGetOptions options;
    options.timeoutSeconds = 1; // the production value is 8; the path is the same
    auto start = std::chrono::steady_clock::now();
    const HttpResult result = httpGet(server.url(), options);
    const double took = secondsSince(start);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.body.empty());
    EXPECT_GE(took, 0.9);
    EXPECT_LT(took, 3.0);
    EXPECT_EQ(server.requestCount(), 1u);

    writeCache(1000, kOlderFeed);
    auto check = makeCheck(server, 1);
    start = std::chrono::steady_clock::now();
    check->checkNow();
    EXPECT_LT(secondsSince(start), 3.0);
    EXPECT_EQ(check->readCache().feed, kOlderFeed);
    EXPECT_GT(check->readCache().checkedAt, 1000);
}

TEST_F(LocalServer, AStopRequestAbandonsAHangingRequestAtOnce)
{
    LocalHttpServer server(LocalHttpServer::silent());
    ASSERT_TRUE(server.ok());
    std::atomic<bool> stop {false};
    HttpGetOptions options;
    options.stop = &stop;
    std::thread stopper([&] {
        while (server.requestCount() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        stop.store(true);
    });
    const auto start = std::chrono::steady_clock::now();
    const HttpResult result = httpGet(server.url(), options);
    stopper.join();
    EXPECT_EQ(result.status, 0);
    EXPECT_LT(secondsSince(start), 1.0);
}

TEST_F(LocalServer, RefusedConnectionsAndOtherSchemesFailWithStatusZero)
{
    std::string closedUrl;
    {
        LocalHttpServer server(LocalHttpServer::silent());
        closedUrl = server.url();
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(httpGet(closedUrl).status, 0);
    EXPECT_LT(secondsSince(start), 2.0);
    EXPECT_EQ(httpGet("file:///etc/hostname").status, 0);
    EXPECT_EQ(httpGet("not a url").status, 0);
    EXPECT_EQ(httpGet("").status, 0);
}

TEST_F(LocalServer, GoesThroughTheProxyNamedInTheEnvironment)
{
    // The local server plays the proxy: it receives the absolute URL of a host that is never resolved.
    LocalHttpServer proxy(LocalHttpServer::make("200 OK", kNewerFeed));
    ASSERT_TRUE(proxy.ok());
    const std::string proxyUrl = proxy.url(""); // http://127.0.0.1:<port>
    ::setenv("http_proxy", proxyUrl.c_str(), 1);
    const HttpResult result = httpGet("http://updates.invalid/updates.json");
    ::unsetenv("http_proxy");
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.body, kNewerFeed);
    const auto requests = proxy.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].rfind("GET http://updates.invalid/updates.json HTTP/1.1\r\n", 0), 0u)
        << requests[0];
}

TEST(HttpGetOptions, DefaultToEightSecondsAndA64KiBBody)
{
    const HttpGetOptions options;
    EXPECT_EQ(options.timeoutSeconds, 8);
    EXPECT_EQ(options.maxBodyBytes, 65536u);
    EXPECT_EQ(options.stop, nullptr);
}
