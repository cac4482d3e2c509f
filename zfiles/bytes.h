// Blocks whose new bytes are not zero-filled: a block that is filled at once
// (read from a file, inflated, copied) would otherwise be written twice.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace qm {

// An allocator that leaves elements made by a plain resize() (or any
// construction without a value) uninitialised; everything else is as
// std::allocator.
template <class T>
struct TUninitAllocator : std::allocator<T> {
    using value_type = T;
    template <class U>
    struct rebind {
        using other = TUninitAllocator<U>;
    };
    TUninitAllocator() = default;
    template <class U>
    TUninitAllocator(const TUninitAllocator<U>&) noexcept {}
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        if constexpr (sizeof...(Args) == 0) ::new (static_cast<void*>(p)) U;
        else ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// A byte block; resize() to a larger size leaves the new bytes to be filled.
using TBytes = std::vector<uint8_t, TUninitAllocator<uint8_t>>;

} // namespace qm
