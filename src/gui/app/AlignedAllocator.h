// An allocator whose storage starts on an Alignment-byte boundary, for arrays
// that vector code and GPU uploads read in wide loads.
#pragma once

#include <cstddef>
#include <new>

namespace orbel::studio {

template <typename T, std::size_t Alignment>
struct AlignedAllocator {
    using value_type = T;
    template <typename U>
    struct rebind {
        using other = AlignedAllocator<U, Alignment>;
    };

    AlignedAllocator() noexcept = default;
    template <typename U>
    AlignedAllocator(const AlignedAllocator<U, Alignment>&) noexcept {}

    T* allocate(std::size_t n) {
        return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t(Alignment)));
    }
    void deallocate(T* p, std::size_t) noexcept { ::operator delete(p, std::align_val_t(Alignment)); }

    template <typename U>
    bool operator==(const AlignedAllocator<U, Alignment>&) const noexcept {
        return true;
    }
};

}  // namespace orbel::studio
