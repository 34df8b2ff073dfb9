#include "schema/limits.h"

namespace brindle {

namespace {

// The least int of [lo, hi] that `passes`, which is false up to some int and true
// from there on; nullopt when no int of the range passes.
template <class Passes>
std::optional<std::int64_t> first_passing(std::int64_t lo, std::int64_t hi, Passes passes) {
    if (passes(lo)) return lo;
    if (!passes(hi)) return std::nullopt;
    // passes(lo) is false and passes(hi) true; |lo| and |hi| are below 2**62, so no
    // difference here overflows.
    while (hi - lo > 1) {
        std::int64_t mid = lo + (hi - lo) / 2;
        (passes(mid) ? hi : lo) = mid;
    }
    return hi;
}

}  // namespace

Lengths with_limits(Lengths lengths) noexcept {
    lengths.shortest = lengths.min_len.value_or(0);
    lengths.longest = lengths.max_len.value_or(std::numeric_limits<std::uint64_t>::max());
    return lengths;
}

IntSpan IntSpan::of(const BoundLimits& bounds) noexcept {
    // The comparisons themselves decide, on the value's nearest double: whatever
    // rounding, NaN or infinity a bound holds is taken as in_bounds takes it.
    const std::int64_t lo = -kDomain + 1;
    const std::int64_t hi = kDomain - 1;
    auto least = first_passing(lo, hi, [&](std::int64_t value) {
        return passes_min(bounds, static_cast<double>(value));
    });
    // The greatest int that passes the maximum: the least that fails it, less one.
    auto beyond = first_passing(lo, hi, [&](std::int64_t value) {
        return !passes_max(bounds, static_cast<double>(value));
    });
    if (!least) return IntSpan();
    std::int64_t most = beyond ? *beyond - 1 : hi;
    if (*least > most) return IntSpan();
    return IntSpan(*least, static_cast<std::uint64_t>(most - *least));
}

}  // namespace brindle
