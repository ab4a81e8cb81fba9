// Every heap allocation in an executable that links this goes through these
// operators, so a test can count what one call makes on one thread.

#include "CountingAllocator.h"

#include <cstdlib>
#include <new>

namespace
{
    thread_local bool counting = false;
    thread_local long allocations = 0;

    void* allocate (std::size_t size) noexcept
    {
        if (counting)
            ++allocations;

        return std::malloc (size == 0 ? 1 : size);
    }
}

void testing_support::detail::startCountingOnThisThread() noexcept
{
    allocations = 0;
    counting = true;
}

long testing_support::detail::stopCountingOnThisThread() noexcept
{
    counting = false;
    return allocations;
}

void* operator new (std::size_t size)
{
    if (auto* p = allocate (size))
        return p;

    throw std::bad_alloc();
}

void* operator new[] (std::size_t size) { return operator new (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept { return allocate (size); }
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept { return allocate (size); }
void operator delete (void* p) noexcept { std::free (p); }
void operator delete[] (void* p) noexcept { std::free (p); }

// Clang declares the sized forms only with -fsized-deallocation (off by default
// before clang 19), but code built with it, the GoogleTest library among it,
// calls them all the same.
#if ! __cpp_sized_deallocation
void operator delete (void* p, std::size_t) noexcept;
void operator delete[] (void* p, std::size_t) noexcept;
#endif
void operator delete (void* p, std::size_t) noexcept
{
    std::free (p);
}
void operator delete[] (void* p, std::size_t) noexcept { std::free (p); }
