#include "updates/UpdateWorker.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <system_error>

namespace brindlecot::updates {

UpdateWorker::UpdateWorker(std::shared_ptr<UpdateCheck> check_, UpdateWorkerTiming timing_)
    : check(std::move(check_))
    , timing(std::move(timing_))
{ }

UpdateWorker::~UpdateWorker()
{
    stop();
}

int64_t UpdateWorker::randomFirstDelayMilliseconds()
{
    std::uint_fast32_t seed = 0;
    try {
        seed = std::random_device {}();
    } catch (...) {
        seed = static_cast<std::uint_fast32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    std::mt19937 generator(seed);
    return 4000 + std::uniform_int_distribution<int64_t>(0, 6000)(generator);
}

void UpdateWorker::start()
{
    if (thread.joinable() || !check)
        return;
    stopping.store(false);
    try {
        thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // No thread available: the plug-in goes on without update checks rather than failing to load.
    }
}

void UpdateWorker::stop()
{
    {
        // Under the wait's mutex so that the wake-up cannot fall between the thread's test and its wait.
        std::lock_guard<std::mutex> guard(wakeLock);
        stopping.store(true);
    }
    wake.notify_all();
    if (thread.joinable())
        thread.join();
}

bool UpdateWorker::isRunning() const
{
    return thread.joinable() && !stopping.load();
}

int64_t UpdateWorker::now() const
{
    if (timing.nowMilliseconds)
        return timing.nowMilliseconds();
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void UpdateWorker::sleepFor(int64_t milliseconds)
{
    if (timing.sleepMilliseconds) {
        timing.sleepMilliseconds(milliseconds);
        return;
    }
    std::unique_lock<std::mutex> guard(wakeLock);
    wake.wait_for(guard, std::chrono::milliseconds(milliseconds), [this] { return stopping.load(); });
}

void UpdateWorker::run()
{
    const int64_t firstDelay
        = timing.firstDelayMilliseconds >= 0 ? timing.firstDelayMilliseconds : randomFirstDelayMilliseconds();
    const int64_t slice = std::max<int64_t>(1, timing.sliceMilliseconds);
    int64_t due = now() + firstDelay;
    while (!stopping.load()) {
        const int64_t current = now();
        if (current >= due) {
            // An exception leaving this thread would terminate the host; a failed run is just skipped.
            try {
                check->checkNow(stopping);
                if (stopping.load())
                    break;
                check->refresh();
            } catch (...) { }
            runs.fetch_add(1);
            // The next run is one period after this one started, whatever the request took.
            due = current + timing.periodMilliseconds;
            continue;
        }
        sleepFor(std::min(due - current, slice));
    }
}

} // namespace brindlecot::updates
