#pragma once
// Memory for large arrays (a million rows, a million fingerprints), in huge pages where
// the system gives them on request. Faulting memory in 4 KiB pages costs more than
// filling it: on a virtual machine a fault costs about 13 µs, so the 40 MB of a million
// file records took 0.1 s of faults at each growth of the array. Arrays under one huge
// page use the ordinary allocator.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
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

namespace bigmemory {

inline constexpr size_t Huge = size_t(2) << 20;

inline size_t mappedBytes(size_t bytes) {
    return (bytes + Huge - 1) / Huge * Huge;
}

#if defined(__linux__)
// An address range of `bytes` (a multiple of Huge) aligned to a huge page, reserved but
// not usable, for a block to be moved into.
inline char* reserveAligned(size_t bytes) {
    void* mapped =
        mmap(nullptr, bytes + Huge, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    char* const start = static_cast<char*>(mapped);
    char* const p = reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(start) + Huge - 1) &
                                            ~uintptr_t(Huge - 1));
    if (p != start)
        munmap(start, size_t(p - start));
    if (const size_t after = size_t(start + bytes + Huge - (p + bytes)))
        munmap(p + bytes, after);
    return p;
}
#endif

// A block of `newBytes` holding the first `usedBytes` of `old` (a block of `oldBytes` from
// here, or null). A large block grows by moving its pages (mremap), so that neither its
// bytes are copied nor fresh memory is faulted in for what it already held: on a virtual
// machine fresh memory costs about a millisecond a megabyte.
inline void* resize(void* old, size_t oldBytes, size_t newBytes, size_t usedBytes) {
#if defined(__linux__)
    const bool wasMapped = old && oldBytes >= Huge;
    if (newBytes >= Huge) {
        const size_t want = mappedBytes(newBytes);
        if (wasMapped) {
            const size_t have = mappedBytes(oldBytes);
            if (want == have)
                return old;
            if (want < have) {
                munmap(static_cast<char*>(old) + want, have - want);
                return old;
            }
            char* const target = reserveAligned(want);
            void* moved = mremap(old, have, want, MREMAP_MAYMOVE | MREMAP_FIXED, target);
            if (moved == MAP_FAILED) {
                munmap(target, want);
                throw std::bad_alloc();
            }
#if defined(MADV_HUGEPAGE)
            madvise(moved, want, MADV_HUGEPAGE);
#endif
            return moved;
        }
        char* const p = reserveAligned(want);
        if (mprotect(p, want, PROT_READ | PROT_WRITE) != 0) {
            munmap(p, want);
            throw std::bad_alloc();
        }
#if defined(MADV_HUGEPAGE)
        madvise(p, want, MADV_HUGEPAGE);
#endif
        if (usedBytes)
            std::memcpy(p, old, usedBytes);
        std::free(old);
        return p;
    }
    if (wasMapped) {
        void* p = newBytes ? std::malloc(newBytes) : nullptr;
        if (newBytes && !p)
            throw std::bad_alloc();
        if (usedBytes)
            std::memcpy(p, old, usedBytes);
        munmap(old, mappedBytes(oldBytes));
        return p;
    }
#else
    (void)oldBytes;
    (void)usedBytes;
#endif
    if (newBytes == 0) {
        std::free(old);
        return nullptr;
    }
    void* p = std::realloc(old, newBytes);
    if (!p)
        throw std::bad_alloc();
    return p;
}

} // namespace bigmemory

// A growing array of plain values for the largest stores (a million records, their names):
// like std::vector, but it grows in place or by moving its pages, never by copying
// them into fresh memory.
template <class T> class BigArray {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    BigArray() = default;
    BigArray(const BigArray& other) { append(other.data(), other.size()); }
    BigArray(BigArray&& other) noexcept { swap(other); }
    BigArray& operator=(const BigArray& other) {
        if (this != &other) {
            clear();
            append(other.data(), other.size());
        }
        return *this;
    }
    BigArray& operator=(BigArray&& other) noexcept {
        BigArray taken(std::move(other));
        swap(taken);
        return *this;
    }
    ~BigArray() { bigmemory::resize(data_, bytes(capacity_), 0, 0); }

    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    T* data() { return data_; }
    const T* data() const { return data_; }
    T* begin() { return data_; }
    T* end() { return data_ + size_; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + size_; }
    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }
    T& back() { return data_[size_ - 1]; }
    const T& back() const { return data_[size_ - 1]; }

    void push_back(const T& value) {
        if (size_ == capacity_)
            reallocate(grown(size_ + 1));
        data_[size_++] = value;
    }
    void append(const T* values, size_t count) {
        if (count == 0)
            return;
        if (size_ + count > capacity_)
            reallocate(grown(size_ + count));
        std::memcpy(static_cast<void*>(data_ + size_), values, bytes(count));
        size_ += count;
    }
    void reserve(size_t count) {
        if (count > capacity_)
            reallocate(count);
    }
    // New elements are default-constructed.
    void resize(size_t count) {
        reserve(count);
        for (size_t i = size_; i < count; ++i)
            ::new (static_cast<void*>(data_ + i)) T();
        size_ = count;
    }
    void clear() { size_ = 0; }
    void shrink_to_fit() {
        if (capacity_ > size_)
            reallocate(size_);
    }
    void swap(BigArray& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }

private:
    static size_t bytes(size_t count) { return count * sizeof(T); }
    size_t grown(size_t needed) const { return std::max({needed, 2 * capacity_, size_t(16)}); }
    void reallocate(size_t count) {
        data_ =
            static_cast<T*>(bigmemory::resize(data_, bytes(capacity_), bytes(count), bytes(size_)));
        capacity_ = count;
    }

    T* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};
} // namespace fenwa
