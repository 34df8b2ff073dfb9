// What the module asks of the operating system beyond standard C++: where the
// calling thread's stack lies, and the thread's name for fault diagnostics. Each
// has an implementation for Linux (glibc and others), macOS and Windows, and a
// fallback that answers "unknown" elsewhere. No Python.h: this is plain C++.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brindle::platform {

// The lowest address and the size of the calling thread's stack; false when the
// system does not say.
bool thread_stack(std::uintptr_t& lowest, std::size_t& size) noexcept;

// The calling thread's name, NUL-terminated and cut to fit `size` bytes (at least
// one); empty when it has none or the system does not say.
void thread_name(char* name, std::size_t size) noexcept;

}  // namespace brindle::platform
