#include "core/alloc.h"

#include <cstdio>

namespace brindle {

void allocation_failed(std::size_t bytes) noexcept {
    std::fprintf(stderr, "memory allocation of %zu bytes failed\n", bytes);
    std::fflush(stderr);
    std::abort();
}

}  // namespace brindle
