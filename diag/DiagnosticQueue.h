// Fixed single-producer, single-consumer ring of diagnostic records between the audio thread and
// the user-interface thread. 512 slots, one always left free, so at most 511 rows wait; a full ring
// drops the new row and counts it instead of blocking. Lock-free and allocation-free after
// construction.
#pragma once

#include "diag/DiagnosticRecord.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace brindlecot {

class DiagnosticQueue
{
public:
    static constexpr uint64_t kSlots = 512;
    static constexpr uint64_t kCapacity = kSlots - 1;

    /// Producer: copies the record into the next slot and publishes it (release); false and one more
    /// dropped row when the ring is full.
    bool push(const DiagnosticRecord& record)
    {
        const uint64_t w = writeIndex_.load(std::memory_order_relaxed);
        const uint64_t next = (w + 1) % kSlots;
        if (next == readIndex_.load(std::memory_order_acquire)) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        slots_[w] = record;
        writeIndex_.store(next, std::memory_order_release);
        return true;
    }

    /// Consumer: copies the oldest record out and frees its slot (release); false when empty.
    bool pop(DiagnosticRecord& out)
    {
        const uint64_t r = readIndex_.load(std::memory_order_relaxed);
        if (r == writeIndex_.load(std::memory_order_acquire))
            return false;
        out = slots_[r];
        readIndex_.store((r + 1) % kSlots, std::memory_order_release);
        return true;
    }

    /// Rows dropped so far because the ring was full (any thread).
    uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

    /// Rows waiting; exact on either side's own thread when the other side is idle.
    uint64_t size() const
    {
        const uint64_t w = writeIndex_.load(std::memory_order_acquire);
        const uint64_t r = readIndex_.load(std::memory_order_acquire);
        return (w + kSlots - r) % kSlots;
    }

private:
    std::array<DiagnosticRecord, kSlots> slots_ {};
    // Each index is written by one side only; kept on separate cache lines so the two threads do
    // not bounce one line between cores.
    alignas(64) std::atomic<uint64_t> writeIndex_ {0}; // producer
    alignas(64) std::atomic<uint64_t> readIndex_ {0}; // consumer
    alignas(64) std::atomic<uint64_t> dropped_ {0};
};

} // namespace brindlecot
