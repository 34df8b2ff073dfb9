// Decimal rendering of native numbers and the filling of "{}" templates.
//
// Every path and message text the module shows is built here, so every character
// of the output is fixed: no locale, no grouping, no exponent notation, no "+".
// No Python.h: this file is tested without an interpreter.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "core/alloc.h"

namespace brindle {

// Decimal digits, "-" for negative values; the most negative value included.
Text render_i64(std::int64_t value);

// Decimal digits of an unsigned count, up to "18446744073709551615".
Text render_count(std::uint64_t value);

// The shortest decimal that reads back to `value`, written positionally.
// "NaN", "inf", "-inf", "0", "-0"; otherwise the nearest of the shortest
// round-trip digit strings, an exact tie between two of them going to the one of
// larger magnitude (1000000000000000.25 gives "1000000000000000.3").
Text render_f64(double value);

// One slot value of a template. Each native type renders with its own renderer;
// the constructors are exact so that a call site states which renderer it means.
class MessageArg {
public:
    enum class Kind : std::uint8_t { Chars, I64, Count, F64 };

    MessageArg(std::string_view text) noexcept : kind_(Kind::Chars), text_(text) {}
    MessageArg(const char* text) noexcept : kind_(Kind::Chars), text_(text) {}
    MessageArg(const Text& text) noexcept : kind_(Kind::Chars), text_(view_of(text)) {}
    MessageArg(std::int64_t value) noexcept : kind_(Kind::I64), i64_(value) {}
    MessageArg(std::uint64_t value) noexcept : kind_(Kind::Count), count_(value) {}
    MessageArg(double value) noexcept : kind_(Kind::F64), f64_(value) {}

    Kind kind() const noexcept { return kind_; }
    std::string_view text() const noexcept { return text_; }
    std::int64_t i64() const noexcept { return i64_; }
    std::uint64_t count() const noexcept { return count_; }
    double f64() const noexcept { return f64_; }

private:
    Kind kind_;
    std::string_view text_{};
    union {
        std::int64_t i64_;
        std::uint64_t count_;
        double f64_;
    };
};

// Copies `templ`, replacing each "{}" left to right with the next argument's text.
// Slots without an argument stay empty; surplus arguments are ignored.
Text format_message(std::string_view templ, std::initializer_list<MessageArg> args);

// format_message into `out`, replacing what it held: a caller that makes many
// messages keeps one buffer, which then allocates only when a message outgrows it.
void format_message_to(Text& out, std::string_view templ, std::initializer_list<MessageArg> args);

}  // namespace brindle
