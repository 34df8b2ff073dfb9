// UTF-8 helpers that need no interpreter.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/alloc.h"

namespace brindle {

// The number of code points in well-formed UTF-8: every byte that is not a
// continuation byte (0x80 to 0xBF) starts one.
std::uint64_t code_points(std::string_view utf8) noexcept;

// Decodes possibly ill-formed UTF-8, replacing each maximal ill-formed subpart with
// U+FFFD (the substitution the Unicode standard recommends), so that a lone
// surrogate encoded in three bytes becomes three U+FFFD.
Text replace_ill_formed_utf8(std::string_view bytes);

}  // namespace brindle
