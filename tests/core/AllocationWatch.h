// Records the largest single allocation made through operator new while a
// watch is active, to show that a reader never allocates what a damaged
// length field claims.
#pragma once

#include <cstddef>

namespace vostrel::test {

class AllocationWatch
{
public:
    AllocationWatch();
    ~AllocationWatch();
    AllocationWatch(const AllocationWatch &) = delete;
    AllocationWatch &operator=(const AllocationWatch &) = delete;

    // The largest request seen since the watch started.
    std::size_t Largest() const;
};

} // namespace vostrel::test
