// How deep native recursion may go on the calling thread.
//
// The compiler recurses once per nesting level of a schema and the walks once per
// level of the compiled tree. The interpreter's recursion guard bounds the compiler,
// but from 3.12 on it counts against a fixed C-level limit that assumes smaller frames
// than a compiler step needs, and a thread may have a much smaller stack than the
// one that compiled the tree. So each recursive step also checks the stack itself,
// and a schema or walk that would exhaust it raises RecursionError instead.
#pragma once

#include <cstdint>

namespace brindle {

// The lowest stack address that recursion may reach on this thread, leaving a
// reserve for the calls that follow (Python code run by an __index__, say); 0 when
// the thread's stack can't be learned, which turns the check off.
std::uintptr_t stack_floor() noexcept;

// Where the stack stands in the calling function. Read from the stack pointer where
// the target is known: asking for the frame's address would make the function keep
// a frame pointer, one register fewer for the walks' loops.
[[gnu::always_inline]] inline std::uintptr_t stack_position() noexcept {
#if defined(__x86_64__)
    std::uintptr_t position;
    asm("mov %%rsp, %0" : "=r"(position));
    return position;
#elif defined(__aarch64__)
    std::uintptr_t position;
    asm("mov %0, sp" : "=r"(position));
    return position;
#else
    return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
#endif
}

[[gnu::always_inline]] inline bool stack_exhausted(std::uintptr_t floor) noexcept {
    return stack_position() < floor;
}

}  // namespace brindle
