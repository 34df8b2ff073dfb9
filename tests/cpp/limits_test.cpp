#include "schema/limits.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace brindle {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::int64_t kDomain = IntSpan::kDomain;

Bounds bounds_of(std::optional<double> min, std::optional<double> max, bool exclusive_min,
                 bool exclusive_max) {
    Bounds made;
    made.min = min;
    made.max = max;
    made.exclusive_min = exclusive_min;
    made.exclusive_max = exclusive_max;
    return made;
}

BoundLimits limits_of(std::optional<double> min, std::optional<double> max, bool exclusive_min,
                      bool exclusive_max) {
    return BoundLimits(bounds_of(min, max, exclusive_min, exclusive_max));
}

// The ints where an integer and a double comparison can part: each power of two
// from 2**15 to 2**62 (the widths of digits, of 32 bits, of a double's significand
// and of the span's domain) and its neighbours, both signs.
std::vector<std::int64_t> edge_ints() {
    std::vector<std::int64_t> edges = {0, 1, -1, kDomain - 1, -(kDomain - 1)};
    for (int shift = 15; shift <= 62; ++shift) {
        for (std::int64_t step = -3; step <= 3; ++step) {
            std::int64_t power = std::int64_t{1} << shift;
            for (std::int64_t value : {power + step, -(power + step)}) {
                if (value > -kDomain && value < kDomain) edges.push_back(value);
            }
        }
    }
    return edges;
}

// Bounds as a schema writes them: at the edges, halfway between ints, beyond every
// int, NaN and infinite, and anywhere at all.
std::optional<double> random_bound(std::mt19937_64& bits, const std::vector<std::int64_t>& edges) {
    switch (bits() % 8) {
        case 0: return std::nullopt;
        case 1: return static_cast<double>(edges[bits() % edges.size()]);
        case 2: return static_cast<double>(edges[bits() % edges.size()]) + 0.5;
        case 3: return std::nextafter(static_cast<double>(edges[bits() % edges.size()]),
                                      bits() % 2 ? kInf : -kInf);
        case 4: return std::array<double, 6>{kNaN, kInf, -kInf, 0x1p63, -0x1p63, 0x1p64}[bits() % 6];
        case 5: return static_cast<double>(static_cast<std::int64_t>(bits()) >> (bits() % 64));
        default: {
            double random = std::bit_cast<double>(bits());
            return std::isnan(random) ? 0.0 : random;
        }
    }
}

// The ints where the span must change its answer: around each bound's own ints.
void add_near(std::vector<std::int64_t>& values, std::optional<double> bound) {
    if (!bound || !std::isfinite(*bound) || std::fabs(*bound) >= 0x1p62) return;
    auto base = static_cast<std::int64_t>(*bound);
    for (std::int64_t step = -4; step <= 4; ++step) values.push_back(base + step);
}

// The span answers exactly as the double comparison it stands in for, for every
// int a quick read can give, on bounds of every sort.
TEST(IntSpan, HoldsExactlyTheIntsWhoseDoublePassesTheBounds) {
    std::mt19937_64 bits(20261208);
    const std::vector<std::int64_t> edges = edge_ints();
    for (int round = 0; round < 20'000; ++round) {
        const Bounds given = bounds_of(random_bound(bits, edges), random_bound(bits, edges),
                                       bits() % 2, bits() % 2);
        const BoundLimits bounds(given);
        const IntSpan span = IntSpan::of(bounds);
        std::vector<std::int64_t> values = edges;
        add_near(values, given.min);
        add_near(values, given.max);
        for (int i = 0; i < 64; ++i) {
            values.push_back(static_cast<std::int64_t>(bits()) >> (2 + bits() % 62));
        }
        for (std::int64_t value : values) {
            ASSERT_EQ(span.holds(value), in_bounds(bounds, static_cast<double>(value)))
                << "value " << value << ", min " << bounds.low << (bounds.exclusive_min ? " (exclusive)" : "")
                << ", max " << bounds.high << (bounds.exclusive_max ? " (exclusive)" : "");
        }
    }
}

// 2**53 + 1 rounds to 2**53: as a double it equals the bound, as an int it exceeds it.
TEST(IntSpan, IntsBeyondADoublesPrecisionCompareAsTheirDoubles) {
    const std::int64_t p53 = std::int64_t{1} << 53;
    IntSpan inclusive = IntSpan::of(limits_of({}, 0x1p53, false, false));
    EXPECT_TRUE(inclusive.holds(p53 + 1));
    EXPECT_FALSE(inclusive.holds(p53 + 2));
    // 576460752303423488 (2**59) is below 576460752303423489 as an int, and equal to
    // it as a double (the bound itself rounds to 2**59).
    IntSpan exclusive = IntSpan::of(limits_of({}, 576460752303423489.0, false, true));
    EXPECT_FALSE(exclusive.holds(576460752303423488));
    EXPECT_TRUE(exclusive.holds(576460752303423488 - 64));
}

TEST(IntSpan, EmptyAndFullSpans) {
    const IntSpan none = IntSpan::of(limits_of(1.0, 0.0, false, false));
    const IntSpan excluded = IntSpan::of(limits_of(0.0, 0.0, true, false));
    const IntSpan all = IntSpan::of(limits_of(kNaN, kNaN, true, true));
    for (std::int64_t value : edge_ints()) {
        EXPECT_FALSE(none.holds(value));
        EXPECT_FALSE(excluded.holds(value));
        EXPECT_TRUE(all.holds(value));
    }
}

// The reasons a collecting walk gives agree with the boolean tests, whose minimum
// is looked at first.
TEST(CheckBounds, FailsExactlyWhereInBoundsFails) {
    std::mt19937_64 bits(7);
    const std::vector<std::int64_t> edges = edge_ints();
    for (int round = 0; round < 200'000; ++round) {
        const BoundLimits bounds = limits_of(random_bound(bits, edges), random_bound(bits, edges),
                                             bits() % 2, bits() % 2);
        double value = random_bound(bits, edges).value_or(kNaN);
        BoundCheck check = check_bounds(bounds, value);
        ASSERT_EQ(check == BoundCheck::InBounds, in_bounds(bounds, value));
        if (check == BoundCheck::AboveMax || check == BoundCheck::NotBelowMax) {
            ASSERT_TRUE(passes_min(bounds, value));
        }
        if (!bounds.exclusive_min && !bounds.exclusive_max) {
            ASSERT_EQ(in_bounds<false>(bounds, value), in_bounds(bounds, value));
        }
    }
}

TEST(Lengths, LimitsAndReasonsAgree) {
    const std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
    for (auto min_len : {std::optional<std::uint64_t>(), std::optional<std::uint64_t>(0),
                         std::optional<std::uint64_t>(2), std::optional<std::uint64_t>(top)}) {
        for (auto max_len : {std::optional<std::uint64_t>(), std::optional<std::uint64_t>(0),
                             std::optional<std::uint64_t>(3), std::optional<std::uint64_t>(top)}) {
            Lengths lengths;
            lengths.min_len = min_len;
            lengths.max_len = max_len;
            lengths = with_limits(lengths);
            for (std::uint64_t length : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{2},
                                         std::uint64_t{3}, std::uint64_t{4}, top - 1, top}) {
                LengthCheck check = check_length(lengths, length);
                bool too_short = min_len && length < *min_len;
                bool too_long = !too_short && max_len && length > *max_len;
                EXPECT_EQ(check, too_short  ? LengthCheck::TooShort
                                 : too_long ? LengthCheck::TooLong
                                            : LengthCheck::InBounds);
                EXPECT_EQ(LengthLimits(lengths).within(length), check == LengthCheck::InBounds);
            }
        }
    }
}

}  // namespace
}  // namespace brindle
