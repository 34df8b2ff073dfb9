// Native allocations that end the process when memory runs out.
//
// Every container the module owns (texts, field arrays, compiled nodes) allocates
// through NativeAllocator. Running out of native memory is not a Python error the
// caller could handle: it is reported with the size requested and the process ends,
// so no half-built tree or half-written message can ever escape. No Python.h here:
// the pure pieces (rendering, the node tree) use it and test without an interpreter.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brindle {

// Writes "memory allocation of {bytes} bytes failed" and a line break to standard
// error, then aborts.
[[noreturn]] void allocation_failed(std::size_t bytes) noexcept;

inline void* allocate_bytes(std::size_t bytes) noexcept {
    void* p = std::malloc(bytes == 0 ? 1 : bytes);
    if (p == nullptr) allocation_failed(bytes);
    return p;
}

template <class T>
struct NativeAllocator {
    using value_type = T;

    NativeAllocator() noexcept = default;
    template <class U>
    NativeAllocator(const NativeAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) {
            allocation_failed(std::numeric_limits<std::size_t>::max());
        }
        return static_cast<T*>(allocate_bytes(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t) noexcept { std::free(p); }

    template <class U>
    bool operator==(const NativeAllocator<U>&) const noexcept { return true; }
};

// Owned UTF-8 text.
using Text = std::basic_string<char, std::char_traits<char>, NativeAllocator<char>>;

template <class T>
using NativeVector = std::vector<T, NativeAllocator<T>>;

// A single heap object owned by one holder, allocated through NativeAllocator.
template <class T>
struct NativeDelete {
    void operator()(T* p) const noexcept {
        p->~T();
        std::free(p);
    }
};

template <class T>
using Box = std::unique_ptr<T, NativeDelete<T>>;

template <class T, class... Args>
Box<T> make_box(Args&&... args) {
    void* raw = allocate_bytes(sizeof(T));
    try {
        return Box<T>(new (raw) T(std::forward<Args>(args)...));
    } catch (...) {
        std::free(raw);
        throw;
    }
}

inline std::string_view view_of(const Text& text) noexcept {
    return {text.data(), text.size()};
}

}  // namespace brindle
