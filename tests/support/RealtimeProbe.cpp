#include "support/RealtimeProbe.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

// Under a sanitizer, whose runtime owns malloc and the lock functions, the probe stays out of the way
// and reports itself inactive.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELARUNE_REALTIME_PROBE 0
#else
#define VELARUNE_REALTIME_PROBE 1
#endif

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {
// Per thread (initial-exec TLS: no allocation on first use, safe inside malloc).
thread_local int tDepth __attribute__((tls_model("initial-exec"))) = 0;
thread_local uint64_t tAllocations __attribute__((tls_model("initial-exec"))) = 0;
thread_local uint64_t tLocks __attribute__((tls_model("initial-exec"))) = 0;

std::atomic<uint64_t> gAllocations {0};
std::atomic<uint64_t> gLocks {0};
std::atomic<const void*> gLastLock {nullptr};

inline void noteAllocation()
{
    if (tDepth > 0) {
        ++tAllocations;
        gAllocations.fetch_add(1, std::memory_order_relaxed);
    }
}

// glibc's own lock functions, found past this executable's definitions (their __pthread_* aliases are
// not linkable). Resolved on first use without a guarded static: a guard could itself lock.
template <typename Fn> Fn nextSymbol(std::atomic<Fn>& cache, const char* name)
{
    Fn fn = cache.load(std::memory_order_acquire);
    if (fn == nullptr) {
        fn = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
        cache.store(fn, std::memory_order_release);
    }
    return fn;
}
using MutexFn = int (*)(pthread_mutex_t*);
using RwlockFn = int (*)(pthread_rwlock_t*);
[[maybe_unused]] std::atomic<MutexFn> gMutexLock {nullptr};
[[maybe_unused]] std::atomic<MutexFn> gMutexTrylock {nullptr};
[[maybe_unused]] std::atomic<RwlockFn> gRdlock {nullptr};
[[maybe_unused]] std::atomic<RwlockFn> gWrlock {nullptr};

inline void noteLock(const void* lock)
{
    if (tDepth > 0) {
        ++tLocks;
        gLocks.fetch_add(1, std::memory_order_relaxed);
        gLastLock.store(lock, std::memory_order_relaxed);
    }
}
} // namespace

#if VELARUNE_REALTIME_PROBE
extern "C" {
void* malloc(size_t size)
{
    noteAllocation();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size)
{
    noteAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size)
{
    noteAllocation();
    return __libc_realloc(p, size);
}
void* memalign(size_t alignment, size_t size)
{
    noteAllocation();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size)
{
    noteAllocation();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size)
{
    noteAllocation();
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void* p = __libc_memalign(alignment, size);
    if (p == nullptr)
        return ENOMEM;
    *out = p;
    return 0;
}
int pthread_mutex_lock(pthread_mutex_t* m)
{
    noteLock(m);
    return nextSymbol(gMutexLock, "pthread_mutex_lock")(m);
}
int pthread_mutex_trylock(pthread_mutex_t* m)
{
    noteLock(m);
    return nextSymbol(gMutexTrylock, "pthread_mutex_trylock")(m);
}
int pthread_rwlock_rdlock(pthread_rwlock_t* l)
{
    noteLock(l);
    return nextSymbol(gRdlock, "pthread_rwlock_rdlock")(l);
}
int pthread_rwlock_wrlock(pthread_rwlock_t* l)
{
    noteLock(l);
    return nextSymbol(gWrlock, "pthread_rwlock_wrlock")(l);
}
}
#endif

namespace brindlecot::test {

bool realtimeProbeActive()
{
    return VELARUNE_REALTIME_PROBE != 0;
}

RealtimeCounts realtimeCounts()
{
    return {gAllocations.load(), gLocks.load(), gLastLock.load()};
}

RealtimeScope::RealtimeScope()
{
    ++tDepth;
    start_.allocations = tAllocations;
    start_.locks = tLocks;
}

RealtimeScope::~RealtimeScope()
{
    --tDepth;
}

uint64_t RealtimeScope::allocations() const
{
    return tAllocations - start_.allocations;
}

uint64_t RealtimeScope::locks() const
{
    return tLocks - start_.locks;
}

} // namespace brindlecot::test
