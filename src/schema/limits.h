// The settings of the leaf kinds and the one comparison of each: number bounds
// (compared as doubles), the integer span that answers for them on small ints
// without a conversion, and length limits. No Python.h: every comparison here is
// tested alone, the quick ones against the exact ones.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>

namespace brindle {

// Bounds of a number as the schema gives them. Neither order nor NaN is checked:
// the comparisons are ordered double comparisons, so a NaN bound lets everything
// through.
struct Bounds {
    std::optional<double> min;
    std::optional<double> max;
    bool exclusive_min = false;
    bool exclusive_max = false;
};

// Bounds as a node keeps them and the comparisons read them: an absent bound as NaN,
// since no ordered comparison with NaN fails, so the tests need no presence branch
// (and a violated bound is always a present one). Small enough for a loop to keep in
// registers across its items.
struct BoundLimits {
    double low;
    double high;
    bool exclusive_min;
    bool exclusive_max;

    explicit BoundLimits(const Bounds& bounds) noexcept
        : low(bounds.min.value_or(std::numeric_limits<double>::quiet_NaN())),
          high(bounds.max.value_or(std::numeric_limits<double>::quiet_NaN())),
          exclusive_min(bounds.exclusive_min),
          exclusive_max(bounds.exclusive_max) {}
};

// The lower bound's test of a value: ordered, so a NaN value or bound passes.
// `Exclusive` false lets the inclusive kinds, whose flags are clear, skip reading
// them.
template <bool Exclusive = true>
[[gnu::always_inline]] inline bool passes_min(const BoundLimits& bounds, double value) noexcept {
    return Exclusive && bounds.exclusive_min ? !(bounds.low >= value) : !(bounds.low > value);
}

template <bool Exclusive = true>
[[gnu::always_inline]] inline bool passes_max(const BoundLimits& bounds, double value) noexcept {
    return Exclusive && bounds.exclusive_max ? !(value >= bounds.high) : !(value > bounds.high);
}

// Whether a number passes both bounds: the exact test, which every other test of a
// number stands in for. An integer is compared as its nearest double.
template <bool Exclusive = true>
[[gnu::always_inline]] inline bool in_bounds(const BoundLimits& bounds, double value) noexcept {
    return passes_min<Exclusive>(bounds, value) && passes_max<Exclusive>(bounds, value);
}

enum class BoundCheck : std::uint8_t { InBounds, BelowMin, NotAboveMin, AboveMax, NotBelowMax };

// in_bounds with the reason of a failure; the maximum is looked at only when the
// minimum passed.
inline BoundCheck check_bounds(const BoundLimits& bounds, double value) noexcept {
    if (!passes_min(bounds, value)) {
        return bounds.exclusive_min ? BoundCheck::NotAboveMin : BoundCheck::BelowMin;
    }
    if (!passes_max(bounds, value)) {
        return bounds.exclusive_max ? BoundCheck::NotBelowMax : BoundCheck::AboveMax;
    }
    return BoundCheck::InBounds;
}

// The ints whose nearest double passes the bounds, among those of magnitude below
// kDomain: one comparison with no conversion where in_bounds needs a conversion and
// two. Rounding to the nearest double never reverses the order of two ints, so the
// ints that pass a bound always form one interval, whose ends are found once, when
// the node is built: exact for every int of the domain, including those beyond
// 2**53 that share a double with their neighbours.
class IntSpan {
public:
    // Every int that a quick read gives lies strictly inside (-kDomain, kDomain).
    static constexpr std::int64_t kDomain = std::int64_t{1} << 62;

    IntSpan() noexcept = default;
    static IntSpan of(const BoundLimits& bounds) noexcept;

    // Exactly in_bounds(bounds, double(value)) for |value| < kDomain.
    [[gnu::always_inline]] bool holds(std::int64_t value) const noexcept {
        return static_cast<std::uint64_t>(value) - static_cast<std::uint64_t>(least_) <= width_;
    }

    std::int64_t least() const noexcept { return least_; }
    std::int64_t most() const noexcept {
        return static_cast<std::int64_t>(static_cast<std::uint64_t>(least_) + width_);
    }

private:
    IntSpan(std::int64_t least, std::uint64_t width) noexcept : least_(least), width_(width) {}

    // Empty: only kDomain itself, which lies outside the domain.
    std::int64_t least_ = kDomain;
    std::uint64_t width_ = 0;
};

// The bounds of an integer kind, with their span.
struct IntLimits : BoundLimits {
    IntSpan span;
};

struct Lengths {
    std::optional<std::uint64_t> min_len;
    std::optional<std::uint64_t> max_len;
    // The limits as the comparisons read them: an absent one as the widest. Set by
    // with_limits() below.
    std::uint64_t shortest = 0;
    std::uint64_t longest = std::numeric_limits<std::uint64_t>::max();
};

Lengths with_limits(Lengths lengths) noexcept;

enum class LengthCheck : std::uint8_t { InBounds, TooShort, TooLong };

// The two limits alone: what the loops keep in registers across their items.
struct LengthLimits {
    std::uint64_t shortest;
    std::uint64_t longest;

    LengthLimits(const Lengths& lengths) noexcept  // NOLINT: a narrowing copy, on purpose
        : shortest(lengths.shortest), longest(lengths.longest) {}

    [[gnu::always_inline]] bool within(std::uint64_t length) const noexcept {
        return length >= shortest && length <= longest;
    }
};

// LengthLimits::within with the reason of a failure; the maximum is looked at only
// when the minimum passed.
inline LengthCheck check_length(const Lengths& lengths, std::uint64_t length) noexcept {
    if (length < lengths.shortest) return LengthCheck::TooShort;
    if (length > lengths.longest) return LengthCheck::TooLong;
    return LengthCheck::InBounds;
}

}  // namespace brindle
