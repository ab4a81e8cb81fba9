#pragma once

namespace testing_support
{
    /** Counts the heap allocations that the calling thread makes while it runs
        the function. Works only in an executable that links CountingAllocator.cpp,
        which replaces the global allocator. */
    template <typename Function>
    long countAllocations (Function&& function);

    namespace detail
    {
        void startCountingOnThisThread() noexcept;
        long stopCountingOnThisThread() noexcept;
    }

    template <typename Function>
    long countAllocations (Function&& function)
    {
        detail::startCountingOnThisThread();
        function();
        return detail::stopCountingOnThisThread();
    }
}
