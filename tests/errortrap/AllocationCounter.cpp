// Counts heap allocations of the whole test program while asked to, so a test
// can show that a path allocates nothing. Kept in its own file so that no
// caller sees the replacement inlined.

#include <atomic>
#include <cstdlib>
#include <new>

namespace vxtest {
std::atomic<bool> countAllocations{false};
std::atomic<long> allocations{0};
}  // namespace vxtest

void* operator new(std::size_t size) {
    if (vxtest::countAllocations) ++vxtest::allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
