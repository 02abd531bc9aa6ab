#pragma once
// Memory for large arrays (a million rows, a million fingerprints), in huge pages where
// the system gives them on request. Faulting memory in 4 KiB pages costs more than
// filling it: on a virtual machine a fault costs about 13 µs, so the 40 MB of a million
// file records took 0.1 s of faults at each growth of the array. Arrays under one huge
// page use the ordinary allocator.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace fenwa {

template <class T> struct BigAllocator {
    using value_type = T;
    static constexpr size_t Huge = size_t(2) << 20;
    BigAllocator() = default;
    template <class U> BigAllocator(const BigAllocator<U>&) {}
    T* allocate(size_t count) {
        const size_t bytes = count * sizeof(T);
#if defined(__linux__)
        // Mapped here rather than by the C library, which keeps a freed block in its heap
        // once it has raised its own mapping threshold: a search's arrays would then stay
        // resident after it, and the next search's come on top of them.
        if (bytes >= Huge) {
            const size_t rounded = roundedUp(bytes);
            void* mapped = mmap(nullptr, rounded + Huge, PROT_READ | PROT_WRITE,
                                MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (mapped == MAP_FAILED)
                throw std::bad_alloc();
            // Aligned to a huge page, the rest of the mapping given back.
            char* const start = static_cast<char*>(mapped);
            char* const p = reinterpret_cast<char*>(
                (reinterpret_cast<uintptr_t>(start) + Huge - 1) & ~uintptr_t(Huge - 1));
            if (p != start)
                munmap(start, size_t(p - start));
            if (const size_t after = size_t(start + rounded + Huge - (p + rounded)))
                munmap(p + rounded, after);
#if defined(MADV_HUGEPAGE)
            madvise(p, rounded, MADV_HUGEPAGE);
#endif
            return reinterpret_cast<T*>(p);
        }
#endif
        // Elsewhere the ordinary allocator serves.
        (void)bytes;
        return std::allocator<T>().allocate(count);
    }
    void deallocate(T* p, size_t count) {
#if defined(__linux__)
        if (count * sizeof(T) >= Huge) {
            munmap(p, roundedUp(count * sizeof(T)));
            return;
        }
#endif
        std::allocator<T>().deallocate(p, count);
    }
    template <class U> bool operator==(const BigAllocator<U>&) const {
        return true;
    }

private:
    static size_t roundedUp(size_t bytes) {
        return (bytes + Huge - 1) / Huge * Huge;
    }
};

// Default-constructed elements are left uninitialised, for arrays whose every element is
// written before it is read.
template <class T> struct BigUninitialisedAllocator : BigAllocator<T> {
    template <class U> struct rebind { using other = BigUninitialisedAllocator<U>; };
    BigUninitialisedAllocator() = default;
    template <class U> BigUninitialisedAllocator(const BigUninitialisedAllocator<U>&) {}
    template <class U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
    template <class U, class... Args> void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

template <class T> using BigVector = std::vector<T, BigAllocator<T>>;
using BigString = std::basic_string<char, std::char_traits<char>, BigAllocator<char>>;

} // namespace fenwa
