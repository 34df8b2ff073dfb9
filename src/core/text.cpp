#include "core/text.h"

#include <cstring>

namespace brindle {

std::uint64_t code_points(std::string_view utf8) noexcept {
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    std::size_t size = utf8.size();
    std::uint64_t continuation = 0;
    std::size_t i = 0;
    // Eight bytes at a time: a continuation byte is 10xxxxxx, bit 7 set and bit 6 clear.
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        std::uint64_t marks = word & ~(word << 1) & 0x8080808080808080ULL;
        continuation += static_cast<std::uint64_t>(__builtin_popcountll(marks));
    }
    for (; i < size; ++i) continuation += (bytes[i] & 0xC0) == 0x80;
    return size - continuation;
}

bool is_ascii(std::string_view text) noexcept {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t size = text.size();
    std::uint64_t seen = 0;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        seen |= word;
    }
    for (; i < size; ++i) seen |= bytes[i];
    return (seen & 0x8080808080808080ULL) == 0;
}

}  // namespace brindle
