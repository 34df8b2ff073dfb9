#include "core/stack.h"

#include <algorithm>
#include <cstddef>

#include "core/platform.h"

namespace brindle {

namespace {

std::uintptr_t learn_stack_floor() noexcept {
    std::uintptr_t low = 0;
    std::size_t size = 0;
    if (!platform::thread_stack(low, size)) return 0;
    // A quarter of the stack, at most 512 KiB, stays free for what runs above the
    // deepest native frame.
    std::size_t reserve = std::min<std::size_t>(size / 4, std::size_t{512} * 1024);
    return low + reserve;
}

}  // namespace

std::uintptr_t stack_floor() noexcept {
    // Stacks are grown downward on every platform this builds for. Constant
    // initialisation makes each call free of an initialisation guard, and on glibc
    // the initial-exec model a plain load from the thread's block (glibc keeps spare
    // static TLS for modules loaded later; other C libraries and platforms may not).
    constexpr std::uintptr_t kNotLearned = ~std::uintptr_t{0};
#if defined(__GLIBC__)
    [[gnu::tls_model("initial-exec")]]
#endif
    static thread_local std::uintptr_t floor = kNotLearned;
    if (floor == kNotLearned) [[unlikely]] floor = learn_stack_floor();
    return floor;
}

}  // namespace brindle
