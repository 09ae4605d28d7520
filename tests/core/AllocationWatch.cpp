#include "AllocationWatch.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<int> watchers{0};
std::atomic<std::size_t> largest{0};

} // namespace

// The program's operator new, replaced for the whole test binary; the
// library's other forms (arrays, nothrow) and every operator delete (free)
// build on these.
void *operator new(std::size_t size)
{
    if (watchers.load(std::memory_order_relaxed) > 0) {
        std::size_t seen = largest.load(std::memory_order_relaxed);
        while (size > seen && !largest.compare_exchange_weak(seen, size)) {
        }
    }
    if (void *p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void operator delete(void *p) noexcept
{
    std::free(p);
}

void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}

namespace vostrel::test {

AllocationWatch::AllocationWatch()
{
    largest.store(0);
    watchers.fetch_add(1);
}

AllocationWatch::~AllocationWatch()
{
    watchers.fetch_sub(1);
}

std::size_t AllocationWatch::Largest() const
{
    return largest.load();
}

} // namespace vostrel::test
