// The background thread of the update check, owned by the plug-in instance: the first run 4 to 10 s
// after start, then one run every 600 s on a monotonic clock. It sleeps in slices of at most 5 s on a
// condition variable; stop() (and the destructor) wake it, abort a request in flight and join it.
//
// In the plug-in (members in this order, so the worker stops before the check is released):
//   std::shared_ptr<updates::UpdateCheck> updateCheck
//       = std::make_shared<updates::UpdateCheck>(updates::kProductKey, kProductVersion, makerFolder);
//   updates::UpdateWorker updateWorker {updateCheck}; // updateWorker.start() in the constructor
// The pill reads updateCheck->outcome() and changeCount(); the menu calls isEnabled() / setEnabled().
#pragma once

#include "updates/UpdateCheck.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace brindlecot::updates {

/// Time source and waiting of the worker; the defaults are the steady clock and a condition-variable
/// wait. Tests replace them to run the schedule on a simulated clock.
struct UpdateWorkerTiming
{
    std::function<int64_t()> nowMilliseconds; // monotonic; empty: steady clock
    std::function<void(int64_t)> sleepMilliseconds; // empty: wait on the worker's condition variable
    int64_t firstDelayMilliseconds = -1; // negative: 4000 + uniform 0..6000
    int64_t periodMilliseconds = 600000;
    int64_t sliceMilliseconds = 5000; // longest single wait, so stop is seen within it
};

class UpdateWorker
{
public:
    /// Does not start the thread; call start(). The check is shared so that either may outlive the other.
    explicit UpdateWorker(std::shared_ptr<UpdateCheck> check, UpdateWorkerTiming timing = {});
    /// Stops and joins the thread (returns within one poll slice of the GET, about 50 ms).
    ~UpdateWorker();

    UpdateWorker(const UpdateWorker&) = delete;
    UpdateWorker& operator=(const UpdateWorker&) = delete;

    /// Starts the thread (no-op while running). The first run comes after the first delay.
    void start();
    /// Asks the thread to end, aborts a request in flight and joins. Safe to call repeatedly.
    void stop();
    /// The thread is running.
    bool isRunning() const;

    /// Number of completed update tasks (checkNow then refresh).
    int64_t runCount() const { return runs.load(); }

    /// 4000 ms plus a uniformly random 0 to 6000 ms.
    static int64_t randomFirstDelayMilliseconds();

private:
    void run();
    void sleepFor(int64_t milliseconds);
    int64_t now() const;

    std::shared_ptr<UpdateCheck> check;
    UpdateWorkerTiming timing;
    std::thread thread;
    std::mutex wakeLock;
    std::condition_variable wake;
    std::atomic<bool> stopping {false};
    std::atomic<int64_t> runs {0};
};

} // namespace brindlecot::updates
