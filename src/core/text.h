// UTF-8 helpers that need no interpreter.
#pragma once

#include <cstdint>
#include <string_view>

namespace brindle {

// The number of code points in well-formed UTF-8: every byte that is not a
// continuation byte (0x80 to 0xBF) starts one.
std::uint64_t code_points(std::string_view utf8) noexcept;

// Whether every byte is below 0x80.
bool is_ascii(std::string_view text) noexcept;

}  // namespace brindle
