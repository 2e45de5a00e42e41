// Wait-free single-producer, single-consumer hand-over of whole values (a triple buffer): the
// producer always has a slot of its own to write, the consumer always reads a complete value, and
// neither ever waits, locks or allocates. The consumer sees the newest published value; values
// published between two reads are skipped, which is what meters and status lines want.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <type_traits>

namespace brindlecot {

template <typename T> class SnapshotChannel
{
    static_assert(std::is_trivially_copyable_v<T>, "snapshots are copied bytewise");

public:
    /// Producer: the slot to fill for the next publish().
    T& back() { return slots_[back_]; }

    /// Producer: makes back() the newest value and hands the producer a free slot.
    void publish()
    {
        const uint32_t previous = middle_.exchange(back_ | kFresh, std::memory_order_acq_rel);
        back_ = previous & kIndexMask;
    }

    /// Consumer: copies the newest value into `out`; false (and `out` untouched) if nothing new was
    /// published since the last successful read.
    bool read(T& out)
    {
        if ((middle_.load(std::memory_order_relaxed) & kFresh) == 0)
            return false;
        const uint32_t previous = middle_.exchange(front_, std::memory_order_acq_rel);
        front_ = previous & kIndexMask;
        out = slots_[front_];
        return true;
    }

private:
    static constexpr uint32_t kFresh = 4;
    static constexpr uint32_t kIndexMask = 3;

    std::array<T, 3> slots_ {};
    uint32_t back_ = 0; // producer only
    uint32_t front_ = 1; // consumer only
    std::atomic<uint32_t> middle_ {2};
};

} // namespace brindlecot
