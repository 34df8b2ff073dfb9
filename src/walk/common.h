// Pieces shared by the two walks: the outcome of a step and the walk's context,
// reading integers as a walk reads them, bound and length tests, and the re-check of
// the fields a dict's keys name.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "core/stack.h"
#include "python/access.h"
#include "python/result.h"
#include "schema/fields.h"
#include "schema/node.h"

namespace brindle {

// How one step of a walk ended: valid, invalid, declined by the core, or failed. The
// failure is parked in the walk's context, so that outcomes travel in a register.
// The failed outcome has no name: only the context makes it, when a failure is
// parked, and only the context tells it apart (WalkContext::is_failed).
enum class WalkOutcome : std::uint8_t { Valid, Invalid, Unsupported };

class WalkContext {
public:
    // A context for the boolean walk run as collect's first pass (see
    // valid_for_collect): it gives up wherever the collecting walk could do
    // something the boolean walk does not.
    struct FirstPass {};

    WalkContext() noexcept = default;
    explicit WalkContext(FirstPass) noexcept;

    static bool is_failed(WalkOutcome outcome) noexcept { return outcome == kFailed; }

    // Parks the failure that ends the walk.
    WalkOutcome fail(Failure error) {
        failure_.emplace(std::move(error));
        return kFailed;
    }

    // The outcome of a step whose failure a callee (enter, read_walk_i64) has parked.
    WalkOutcome failed() const noexcept { return kFailed; }

    // Ends a first pass without an answer, before it does anything the collecting
    // walk would do differently or twice: that walk then starts afresh.
    WalkOutcome give_up() const noexcept { return kFailed; }

    bool first_pass() const noexcept { return first_pass_; }

    // Counts the reads that may have run Python code. While it stays the same, no
    // Python code has run, so the containers being walked are as they were and every
    // object they lend is alive: cursors step without their checks.
    std::uint32_t python_runs() const noexcept { return python_runs_; }
    void python_may_run() noexcept { ++python_runs_; }

    // The parked failure of a walk that ended failed; its absence is a defect.
    Failure take_failure() && {
        if (!failure_) raise_fault("a walk ended failed without a parked failure");
        return std::move(*failure_);
    }

    // Checked once per container level: false (and a RecursionError) when one more
    // level would come too close to the end of the stack.
    [[gnu::always_inline]] bool enter() {
        if (!stack_exhausted(stack_floor_)) [[likely]] return true;
        fail(Failure::made(PyExc_RecursionError, "maximum recursion depth exceeded while validating"));
        return false;
    }

private:
    static constexpr auto kFailed = static_cast<WalkOutcome>(3);

    std::optional<Failure> failure_;
    // Compiled trees are as deep as the stack of the thread that compiled them
    // allowed; this thread's stack may be smaller.
    std::uintptr_t stack_floor_ = stack_floor();
    std::uint32_t python_runs_ = 0;
    bool first_pass_ = false;
};

enum class IntRead : std::uint8_t { Read, NotInt, Failed };

IntRead read_walk_i64_slow(PyObject* object, std::int64_t& value, WalkContext& context);

// An integer read by a walk: a value that cannot be read is a violation and its
// exception is dropped. Only ordinary exceptions are dropped, though: a
// KeyboardInterrupt or SystemExit raised by an __index__ ends the walk, so that a
// user's interrupt is never lost.
[[gnu::always_inline]] inline IntRead read_walk_i64(PyObject* object, std::int64_t& value,
                                                WalkContext& context) {
    if ((Py_IS_TYPE(object, &PyLong_Type) || is_int(object)) && read_small_int(object, value))
        [[likely]] {
        return IntRead::Read;
    }
    return read_walk_i64_slow(object, value, context);
}

// Whether `value` passes the bounds, for the walk that needs no reason. The
// inclusive kinds have both flags clear, which `Exclusive` false lets the compiler use.
template <bool Exclusive>
[[gnu::always_inline]] inline bool in_bounds(const Bounds& bounds, double value) noexcept {
    if constexpr (Exclusive) {
        bool low_ok = bounds.exclusive_min ? !(bounds.low >= value) : !(bounds.low > value);
        bool high_ok = bounds.exclusive_max ? !(value >= bounds.high) : !(value > bounds.high);
        return low_ok && high_ok;
    } else {
        return !(bounds.low > value) && !(value > bounds.high);
    }
}

enum class BoundCheck : std::uint8_t { InBounds, BelowMin, NotAboveMin, AboveMax, NotBelowMax };

// Ordered double comparisons: a NaN value or bound never fails a test. The
// maximum is looked at only when the minimum passed.
inline BoundCheck check_bounds(const Bounds& bounds, double value) noexcept {
    if (bounds.min) {
        if (bounds.exclusive_min) {
            if (*bounds.min >= value) return BoundCheck::NotAboveMin;
        } else if (*bounds.min > value) {
            return BoundCheck::BelowMin;
        }
    }
    if (bounds.max) {
        if (bounds.exclusive_max) {
            if (value >= *bounds.max) return BoundCheck::NotBelowMax;
        } else if (value > *bounds.max) {
            return BoundCheck::AboveMax;
        }
    }
    return BoundCheck::InBounds;
}

enum class LengthCheck : std::uint8_t { InBounds, TooShort, TooLong };

// `Limits` is a Lengths, or the copy of its two limits that an item loop keeps.
template <class Limits>
[[gnu::always_inline]] inline bool length_within(const Limits& lengths,
                                                 std::uint64_t length) noexcept {
    return length >= lengths.shortest && length <= lengths.longest;
}

inline LengthCheck check_length(const Lengths& lengths, std::uint64_t length) noexcept {
    if (lengths.min_len && length < *lengths.min_len) return LengthCheck::TooShort;
    if (lengths.max_len && length > *lengths.max_len) return LengthCheck::TooLong;
    return LengthCheck::InBounds;
}

// Which fields the dict's keys name, read afresh from the dict. Needed only when a
// key is a str subclass: two distinct keys can then share one text, and matching
// every dict entry no longer proves that every field is present.
Result<NativeVector<std::uint8_t>> fields_named(std::span<const FieldEntry> entries,
                                                PyObject* dict);

}  // namespace brindle
