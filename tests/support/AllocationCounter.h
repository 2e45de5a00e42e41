// Counts heap allocations made through the replaced global operator new and malloc-family hooks,
// so tests can prove that audio processing allocates nothing.
#pragma once

#include <cstdint>

namespace brindlecot::test {

/// Allocations made by any thread since the program started.
uint64_t allocationCount();

/// Counts the allocations made while it is alive.
class AllocationScope
{
public:
    AllocationScope();
    uint64_t allocations() const;

private:
    uint64_t start_;
};

} // namespace brindlecot::test
