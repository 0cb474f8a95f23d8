#pragma once
// Ownership of buffers the system allocates for the caller to LocalFree.

#include <memory>
#include <windows.h>

namespace vek::platform::win {

struct LocalFreeDeleter {
    void operator()(void *memory) const noexcept { LocalFree(memory); }
};

template <typename T> using LocalPtr = std::unique_ptr<T, LocalFreeDeleter>;

}  // namespace vek::platform::win
