#ifndef TEMBRA_TESTS_ALLOCATIONCOUNTER_H
#define TEMBRA_TESTS_ALLOCATIONCOUNTER_H

// Counts the heap allocations of the whole test program, the shared
// library's included, while allocation_count::counting is set: the proof
// that a per-step path allocates nothing. It replaces the global operator
// new and delete, so include it in one source file of a program only.

#include <cstddef>
#include <cstdlib>
#include <new>

namespace allocation_count {
inline bool counting = false;
inline long allocations = 0;

// The allocations made while running f.
template <class F>
long during(F&& f) {
    allocations = 0;
    counting = true;
    f();
    counting = false;
    return allocations;
}
}  // namespace allocation_count

void* operator new(std::size_t size) {
    if (allocation_count::counting) ++allocation_count::allocations;
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (allocation_count::counting) ++allocation_count::allocations;
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return ::operator new(size, tag); }
// Not inlined: the compiler would otherwise see free() applied to what a
// new expression returned and warn of a mismatch that is not one here.
[[gnu::noinline]] void operator delete(void* memory) noexcept { std::free(memory); }
[[gnu::noinline]] void operator delete[](void* memory) noexcept { std::free(memory); }
[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
[[gnu::noinline]] void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
[[gnu::noinline]] void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
[[gnu::noinline]] void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }

#endif
