// Counts what a real-time thread must never do: heap allocations (every malloc-family call, which
// also catches operator new inside a plug-in's own copy of the C++ runtime) and mutex locks. Only
// threads inside a RealtimeScope are counted, so the test's own threads may allocate freely.
//
// The counters work by interposing malloc, calloc, realloc, memalign, posix_memalign, aligned_alloc
// and the pthread mutex and rwlock entry points in the test executable (glibc's __libc_* and
// __pthread_* functions do the work). A plug-in loaded with dlopen binds to these too, since the
// executable's symbols come first in the global lookup scope; the executable must export them
// (see exportRealtimeProbeSymbols in the CMake files).
#pragma once

#include <cstdint>

namespace brindlecot::test {

struct RealtimeCounts
{
    uint64_t allocations = 0;
    uint64_t locks = 0;
    /// The last mutex (or rwlock) locked inside a scope, to tell one framework lock from many.
    const void* lastLock = nullptr;
};

/// False in sanitizer builds, whose runtime owns malloc: nothing is counted there.
bool realtimeProbeActive();

/// Totals over every RealtimeScope since the program started.
RealtimeCounts realtimeCounts();

/// Marks the calling thread as a real-time thread while it is alive.
class RealtimeScope
{
public:
    RealtimeScope();
    ~RealtimeScope();
    RealtimeScope(const RealtimeScope&) = delete;
    RealtimeScope& operator=(const RealtimeScope&) = delete;

    /// What this thread did since the scope began.
    uint64_t allocations() const;
    uint64_t locks() const;

private:
    RealtimeCounts start_;
};

} // namespace brindlecot::test
