#include "core/render.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace brindle {
namespace {

// "-9223372036854775808" and "18446744073709551615" are the longest.
constexpr std::size_t kMaxIntegerChars = 20;

// The longest layout is "0." + 323 zeros + up to 17 digits, after a sign; positional
// integers stop at 309 digits (the largest finite double).
constexpr std::size_t kMaxF64Chars = 1 + 2 + 323 + 17;

// The shortest scientific form is at most "d.dddddddddddddddde-308", 23 characters.
constexpr std::size_t kScientificChars = 32;

char* write_count(char* out, std::uint64_t value) noexcept {
    // Never fails: the caller's buffer holds the 20 digits of the largest value.
    return std::to_chars(out, out + kMaxIntegerChars, value).ptr;
}

char* write_i64(char* out, std::int64_t value) noexcept {
    return std::to_chars(out, out + kMaxIntegerChars, value).ptr;
}

// The shortest round-trip digits d1…dn of a positive finite double and the position k
// of the decimal point: the value is 0.d1…dn × 10^k.
struct ShortestDigits {
    char digits[17];
    int count;
    int point;
};

// Whether the exact value of `value` is (digits + 1/2) × 10^exponent.
//
// value = m × 2^q, so the question is 2m × 2^q == (2·digits + 1) × 10^exponent. Both
// sides are positive rationals, so they are equal exactly when their factorisations
// agree: the power of 2, the power of 5 (10^exponent brings `exponent` of each, fewer
// than none when negative), and the part prime to 10. All three come out of 64-bit
// integers (2·digits + 1 < 2·10^17 < 2^58) without any big arithmetic.
bool is_upper_tie(double value, std::uint64_t digits, int exponent) noexcept {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const auto biased = static_cast<int>((bits >> 52) & 0x7FF);
    std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
    int q = -1074;
    if (biased != 0) {
        m |= std::uint64_t{1} << 52;
        q = biased - 1075;
    }
    const int zeros = std::countr_zero(m);
    // The right-hand side has exactly `exponent` factors of 2 (2·digits + 1 is odd).
    if (zeros + q + 1 != exponent) return false;

    std::uint64_t left = m >> zeros;
    int left_fives = 0;
    while (left % 5 == 0) {
        left /= 5;
        ++left_fives;
    }
    std::uint64_t right = 2 * digits + 1;
    int right_fives = exponent;
    while (right % 5 == 0) {
        right /= 5;
        ++right_fives;
    }
    return left_fives == right_fives && left == right;
}

// Shortest, nearest, and on an exact tie the larger of the two nearest.
//
// std::to_chars without a precision gives the shortest digits that read back exactly,
// the nearest of them to the exact value, with exact ties going to the even last digit.
// Only that tie rule differs here, so the one case to correct is an exact value of
// (D + 1/2) × 10^E where the even D was taken: D + 1 is then the answer. It reads back,
// because the interval that reads back to the value reaches at least as far above it
// as below (further only at a power of two) and includes or excludes both ends
// together. It has the same length: D + 1 ending in 0, a carry included, would be a
// shorter string that reads back, and to_chars would have returned that one instead.
ShortestDigits shortest_digits(double magnitude) noexcept {
    char text[kScientificChars];
    const char* end =
        std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific).ptr;

    ShortestDigits out;
    out.count = 0;
    std::uint64_t digits = 0;
    const char* p = text;
    for (; *p != 'e'; ++p) {
        if (*p == '.') continue;
        out.digits[out.count++] = *p;
        digits = digits * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    ++p;  // 'e'
    const bool negative_exponent = *p == '-';
    ++p;  // the exponent always carries a sign
    int scientific = 0;
    std::from_chars(p, end, scientific);
    if (negative_exponent) scientific = -scientific;

    // d1.d2…dn × 10^s is 0.d1…dn × 10^(s+1), and its last digit weighs 10^(s+1-n).
    out.point = scientific + 1;
    if (is_upper_tie(magnitude, digits, out.point - out.count)) {
        ++out.digits[out.count - 1];  // never past '9': see above
    }
    return out;
}

char* write_f64(char* out, double value) noexcept {
    if (std::isnan(value)) {
        std::memcpy(out, "NaN", 3);
        return out + 3;
    }
    if (std::signbit(value)) *out++ = '-';
    const double magnitude = std::fabs(value);
    if (std::isinf(magnitude)) {
        std::memcpy(out, "inf", 3);
        return out + 3;
    }
    if (magnitude == 0.0) {
        *out++ = '0';
        return out;
    }

    const ShortestDigits d = shortest_digits(magnitude);
    const int n = d.count;
    const int k = d.point;
    if (k <= 0) {
        *out++ = '0';
        *out++ = '.';
        std::memset(out, '0', static_cast<std::size_t>(-k));
        out += -k;
        std::memcpy(out, d.digits, static_cast<std::size_t>(n));
        return out + n;
    }
    if (k < n) {
        std::memcpy(out, d.digits, static_cast<std::size_t>(k));
        out += k;
        *out++ = '.';
        std::memcpy(out, d.digits + k, static_cast<std::size_t>(n - k));
        return out + (n - k);
    }
    std::memcpy(out, d.digits, static_cast<std::size_t>(n));
    out += n;
    std::memset(out, '0', static_cast<std::size_t>(k - n));
    return out + (k - n);
}

// An upper bound on write_f64's length from the binary exponent alone, so that a
// template is sized before any digit is generated. With 2^e <= |x| < 2^(e+1), the text
// is a sign, "0.", at most 17 digits and |k| zeros, where |k| <= |e|·log10(2) + 2;
// 78913 / 2^18 is log10(2) rounded up.
std::size_t f64_size_bound(double value) noexcept {
    if (!std::isfinite(value) || value == 0.0) return 4;
    const int e = std::ilogb(value);
    const int magnitude = (e < 0 ? -e : e);
    return 23 + static_cast<std::size_t>((magnitude * 78913) >> 18);
}

std::size_t size_bound(const MessageArg& arg) noexcept {
    switch (arg.kind()) {
        case MessageArg::Kind::Chars:
            return arg.text().size();
        case MessageArg::Kind::I64:
        case MessageArg::Kind::Count:
            return kMaxIntegerChars;
        case MessageArg::Kind::F64:
            return f64_size_bound(arg.f64());
    }
    return 0;
}

void append_arg(Text& out, const MessageArg& arg) {
    switch (arg.kind()) {
        case MessageArg::Kind::Chars:
            out.append(arg.text());
            return;
        case MessageArg::Kind::I64: {
            char buf[kMaxIntegerChars];
            out.append(buf, write_i64(buf, arg.i64()));
            return;
        }
        case MessageArg::Kind::Count: {
            char buf[kMaxIntegerChars];
            out.append(buf, write_count(buf, arg.count()));
            return;
        }
        case MessageArg::Kind::F64: {
            char buf[kMaxF64Chars];
            out.append(buf, write_f64(buf, arg.f64()));
            return;
        }
    }
}

}  // namespace

Text render_i64(std::int64_t value) {
    char buf[kMaxIntegerChars];
    return Text(buf, write_i64(buf, value));
}

Text render_count(std::uint64_t value) {
    char buf[kMaxIntegerChars];
    return Text(buf, write_count(buf, value));
}

Text render_f64(double value) {
    char buf[kMaxF64Chars];
    return Text(buf, write_f64(buf, value));
}

Text format_message(std::string_view templ, std::initializer_list<MessageArg> args) {
    Text out;
    format_message_to(out, templ, args);
    return out;
}

void format_message_to(Text& out, std::string_view templ, std::initializer_list<MessageArg> args) {
    // Sized once from the arguments: every argument counted is at least as much as a
    // slot can take, so appending below never reallocates.
    std::size_t size = templ.size();
    for (const MessageArg& arg : args) size += size_bound(arg);
    out.clear();
    out.reserve(size);

    const MessageArg* next = args.begin();
    std::size_t literal = 0;
    for (std::size_t slot = templ.find("{}"); slot != std::string_view::npos;
         slot = templ.find("{}", literal)) {
        out.append(templ.substr(literal, slot - literal));
        if (next != args.end()) append_arg(out, *next++);
        literal = slot + 2;
    }
    out.append(templ.substr(literal));
}

}  // namespace brindle
