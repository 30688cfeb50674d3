// Memory from malloc, freed when its holder goes: for buffers whose allocation may fail and has
// to be reported as a result rather than thrown.
#pragma once
#include <cstddef>
#include <cstdlib>
#include <memory>

namespace stubframework { namespace utils {

struct FreeDeleter {
    void operator()(void* memory) const noexcept { std::free(memory); }
};

template <typename T>
using MallocBuffer = std::unique_ptr<T[], FreeDeleter>;

// count elements, uninitialised; empty when memory runs out (or the size overflows).
template <typename T>
MallocBuffer<T> AllocateBuffer(size_t count) noexcept {
    if (count > static_cast<size_t>(-1) / sizeof(T)) return MallocBuffer<T>();
    return MallocBuffer<T>(static_cast<T*>(std::malloc(count * sizeof(T))));
}

}} // namespace stubframework::utils
