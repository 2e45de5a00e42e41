// The update worker: its schedule on a simulated monotonic clock, and how fast it stops, also while a
// request hangs. The suites carry "Thread" in their names so that the ThreadSanitizer run covers them.
#include "LocalHttpServer.h"
#include "UpdateTestSupport.h"
#include "updates/UpdateWorker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

using namespace brindlecot::updates;
using brindlecot::updates::testing::LocalHttpServer;
using brindlecot::updates::testing::TempFolder;

namespace {

const std::string kNewerFeed = R"({"velarune":{"version":"0.13.0","page":"/downloads/velarune"}})";
const std::string kOlderFeed = R"({"velarune":{"version":"0.12.1","page":"/downloads/velarune"}})";

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

template <typename Condition> bool waitUntil(Condition condition, double seconds = 10.0)
{
    const auto start = std::chrono::steady_clock::now();
    while (!condition()) {
        if (secondsSince(start) > seconds)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A simulated monotonic clock whose sleeps advance it; it records every sleep and every request.
struct SimulatedTime
{
    static constexpr int64_t kStartMs = 1000000;
    std::atomic<int64_t> nowMs {kStartMs};
    std::mutex lock;
    std::vector<int64_t> sleeps;
    std::vector<int64_t> requestTimes;

    UpdateWorkerTiming timing(int64_t firstDelayMs)
    {
        UpdateWorkerTiming t;
        t.nowMilliseconds = [this] { return nowMs.load(); };
        t.sleepMilliseconds = [this](int64_t ms) {
            {
                std::lock_guard<std::mutex> guard(lock);
                sleeps.push_back(ms);
            }
            nowMs.fetch_add(ms);
            std::this_thread::yield();
        };
        t.firstDelayMilliseconds = firstDelayMs;
        return t;
    }

    std::shared_ptr<UpdateCheck> check(const std::filesystem::path& folder)
    {
        auto c
            = std::make_shared<UpdateCheck>(kProductKey, "0.12.6", folder, "http://127.0.0.1:9/updates.json");
        c->setClock([this] { return nowMs.load() / 1000; });
        c->setHttpGet([this](const std::string&, const std::atomic<bool>&) {
            std::lock_guard<std::mutex> guard(lock);
            requestTimes.push_back(nowMs.load());
            return HttpResult {200, kNewerFeed};
        });
        return c;
    }

    std::size_t requests()
    {
        std::lock_guard<std::mutex> guard(lock);
        return requestTimes.size();
    }
};

} // namespace

TEST(UpdateWorkerThread, RunsFirstAfterTheStartDelayThenEveryTenMinutesInSlicesOfAtMostFiveSeconds)
{
    TempFolder temp;
    SimulatedTime time;
    auto check = time.check(temp.path());
    {
        UpdateWorker worker(check, time.timing(7321));
        worker.start();
        ASSERT_TRUE(waitUntil([&] { return time.requests() >= 4; }));
    }
    std::lock_guard<std::mutex> guard(time.lock);
    const int64_t t0 = SimulatedTime::kStartMs;
    ASSERT_GE(time.requestTimes.size(), 4u);
    EXPECT_EQ(time.requestTimes[0], t0 + 7321);
    EXPECT_EQ(time.requestTimes[1], t0 + 7321 + 600000);
    EXPECT_EQ(time.requestTimes[2], t0 + 7321 + 1200000);
    EXPECT_EQ(time.requestTimes[3], t0 + 7321 + 1800000);
    ASSERT_FALSE(time.sleeps.empty());
    EXPECT_LE(*std::max_element(time.sleeps.begin(), time.sleeps.end()), 5000);
    EXPECT_GT(*std::min_element(time.sleeps.begin(), time.sleeps.end()), 0);
    // The worker refreshed after its run: the pill sees the new version.
    EXPECT_TRUE(check->outcome().available);
}

TEST(UpdateWorkerThread, TheDefaultFirstDelayIsBetweenFourAndTenSeconds)
{
    int64_t lowest = INT64_MAX;
    int64_t highest = INT64_MIN;
    for (int i = 0; i < 2000; ++i) {
        const int64_t d = UpdateWorker::randomFirstDelayMilliseconds();
        lowest = std::min(lowest, d);
        highest = std::max(highest, d);
    }
    EXPECT_GE(lowest, 4000);
    EXPECT_LE(highest, 10000);
    EXPECT_LT(lowest, 4500); // spread over the whole range, not a constant
    EXPECT_GT(highest, 9500);

    // And a worker on the default delay makes its first request inside that window.
    for (int i = 0; i < 5; ++i) {
        TempFolder temp;
        SimulatedTime time;
        {
            UpdateWorker worker(time.check(temp.path()), time.timing(-1));
            worker.start();
            ASSERT_TRUE(waitUntil([&] { return time.requests() >= 1; }));
        }
        std::lock_guard<std::mutex> guard(time.lock);
        const int64_t delay = time.requestTimes[0] - SimulatedTime::kStartMs;
        EXPECT_GE(delay, 4000);
        EXPECT_LE(delay, 10000);
    }
}

TEST(UpdateWorkerThread, StopsAtOnceWhileSleepingOnTheRealClock)
{
    TempFolder temp;
    auto check = std::make_shared<UpdateCheck>(kProductKey, "0.12.6", temp.path(), "http://127.0.0.1:9/x");
    std::atomic<int> requests {0};
    check->setHttpGet([&](const std::string&, const std::atomic<bool>&) {
        requests.fetch_add(1);
        return HttpResult {};
    });
    for (int i = 0; i < 20; ++i) {
        auto worker = std::make_unique<UpdateWorker>(check);
        worker->start();
        EXPECT_TRUE(worker->isRunning());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const auto start = std::chrono::steady_clock::now();
        worker.reset();
        EXPECT_LT(secondsSince(start), 0.2);
    }
    EXPECT_EQ(requests.load(), 0); // every worker was stopped inside its first delay
}

TEST(UpdateWorkerThread, StopIsIdempotentAndTheWorkerCanStartAgain)
{
    TempFolder temp;
    SimulatedTime time;
    UpdateWorker worker(time.check(temp.path()), time.timing(0));
    worker.stop();
    EXPECT_FALSE(worker.isRunning());
    worker.start();
    ASSERT_TRUE(waitUntil([&] { return time.requests() >= 1; }));
    worker.stop();
    worker.stop();
    EXPECT_FALSE(worker.isRunning());
    const std::size_t before = time.requests();
    std::filesystem::remove(temp.path() / kCacheFileName); // so the next run is not suppressed
    worker.start();
    ASSERT_TRUE(waitUntil([&] { return time.requests() > before; }));
}

TEST(UpdateWorkerThread, DestroyingFiftyWorkersWhileTheirRequestsHangNeverTakesASecond)
{
    ::setenv("no_proxy", "127.0.0.1", 1);
    ::setenv("NO_PROXY", "127.0.0.1", 1);
    LocalHttpServer server(LocalHttpServer::silent());
    ASSERT_TRUE(server.ok());
    TempFolder temp;
    double slowest = 0.0;
    for (int i = 0; i < 50; ++i) {
        // The production GET with its 8-second time-outs, pointed at the silent server.
        auto check = std::make_shared<UpdateCheck>(
            kProductKey, "0.12.6", temp.path() / std::to_string(i), server.url());
        UpdateWorkerTiming timing;
        timing.firstDelayMilliseconds = 0;
        auto worker = std::make_unique<UpdateWorker>(check, timing);
        worker->start();
        ASSERT_TRUE(waitUntil([&] { return server.requestCount() >= static_cast<std::size_t>(i + 1); }, 5.0));
        const auto start = std::chrono::steady_clock::now();
        worker.reset();
        slowest = std::max(slowest, secondsSince(start));
        // The attempt was recorded before the request; the feed stays empty.
        EXPECT_GT(check->readCache().checkedAt, 0);
        EXPECT_EQ(check->readCache().feed, "");
    }
    EXPECT_LT(slowest, 1.0);
    RecordProperty("slowest_stop_ms", static_cast<int>(slowest * 1000));
}

TEST(UpdateWorkerThreads, ThePillReadsAndTheMenuSwitchesWhileTheWorkerChecksAndPublishes)
{
    TempFolder temp;
    auto check = std::make_shared<UpdateCheck>(kProductKey, "0.12.6", temp.path(), "http://127.0.0.1:9/x");
    std::atomic<int64_t> seconds {2000000000};
    std::atomic<int> calls {0};
    check->setClock([&] { return seconds.fetch_add(600); }); // every run is due
    check->setHttpGet([&](const std::string&, const std::atomic<bool>&) {
        return HttpResult {200, (calls.fetch_add(1) % 2) ? kNewerFeed : kOlderFeed};
    });
    UpdateWorkerTiming timing;
    timing.firstDelayMilliseconds = 0;
    timing.periodMilliseconds = 0; // back to back
    timing.nowMilliseconds = [] { return int64_t {0}; };
    timing.sleepMilliseconds = [](int64_t) { std::this_thread::yield(); };
    UpdateWorker worker(check, timing);
    worker.start();

    int32_t lastCount = check->changeCount();
    int flips = 0;
    const auto start = std::chrono::steady_clock::now();
    while (secondsSince(start) < 1.0 || worker.runCount() < 20) {
        const UpdateOutcome o = check->outcome();
        if (o.available) {
            EXPECT_EQ(o.version, "0.13.0");
            EXPECT_EQ(o.link, "https://brindlecot.com/downloads/velarune");
        } else {
            EXPECT_TRUE(o.version.empty());
        }
        const int32_t count = check->changeCount();
        EXPECT_GE(count, lastCount);
        lastCount = count;
        if (++flips % 50 == 0)
            check->setEnabled(flips % 100 != 0);
        if (secondsSince(start) > 20.0)
            break;
    }
    worker.stop();
    // Whatever the interleaving, the last switch wins once the worker is quiet.
    check->setEnabled(false);
    EXPECT_FALSE(check->isEnabled());
    EXPECT_FALSE(check->outcome().available);
    check->setEnabled(true);
    EXPECT_TRUE(check->isEnabled());
    EXPECT_GE(worker.runCount(), 20);
}
