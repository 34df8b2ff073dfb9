// The checks of values that need no call, shared by the two walks: the item loops
// and the records' quick pass of the boolean walk answer with them, and the
// collecting walk passes over the values they find valid. Also the settings a leaf kind checks with, as the
// loops keep them in registers.
#pragma once

#include <cmath>
#include <cstdint>

#include "python/access.h"
#include "schema/node.h"
#include "walk/common.h"

namespace brindle {

inline WalkOutcome verdict(bool valid) noexcept {
    return valid ? WalkOutcome::Valid : WalkOutcome::Invalid;
}

template <NodeKind Kind>
constexpr bool kIntKind =
    Kind == NodeKind::Int || Kind == NodeKind::IntRange || Kind == NodeKind::IntRangeExclusive;

// The kinds whose checks read settings of their own.
template <NodeKind Kind>
constexpr bool kLeafWithSettings =
    Kind == NodeKind::IntRange || Kind == NodeKind::IntRangeExclusive ||
    Kind == NodeKind::FloatRange || Kind == NodeKind::FloatRangeExclusive || Kind == NodeKind::Str;

// Whether checking a value of `Kind` can run Python code: an int read may call
// __index__, and a container may hold such ints. The other leaves never do.
template <NodeKind Kind>
constexpr bool kMayRunPython = !(Kind == NodeKind::Any || Kind == NodeKind::Bool ||
                                 Kind == NodeKind::Float || Kind == NodeKind::FloatRange ||
                                 Kind == NodeKind::FloatRangeExclusive || Kind == NodeKind::Str);

// The settings a leaf of `Kind` checks with, or the node for the other kinds.
template <NodeKind Kind>
[[gnu::always_inline]] inline const auto& settings_of(const ValidatorNode& node) noexcept {
    if constexpr (kLeafWithSettings<Kind>) {
        return node.payload<Kind>();
    } else {
        return node;
    }
}

// The ints that pass an int range, among the ints that quick_check reads (one digit,
// so |value| < 2**31, which a double holds exactly): the double comparisons of
// in_bounds then answer as integer ones do. Kept as the least int and the range's
// width, so that one unsigned comparison tests both ends.
struct IntSpan {
    static constexpr std::int64_t kBeyond = std::int64_t{1} << 62;  // beyond any quick read

    template <bool Exclusive>
    static IntSpan of(const Bounds& bounds) noexcept {
        auto clamp = [](double limit) {
            if (limit <= static_cast<double>(-kBeyond)) return -kBeyond;
            if (limit >= static_cast<double>(kBeyond)) return kBeyond;
            return static_cast<std::int64_t>(limit);
        };
        // An absent (NaN) bound fails no value.
        std::int64_t least = -kBeyond;
        std::int64_t most = kBeyond;
        if (!std::isnan(bounds.low)) {
            least = clamp(Exclusive && bounds.exclusive_min ? std::floor(bounds.low) + 1
                                                            : std::ceil(bounds.low));
        }
        if (!std::isnan(bounds.high)) {
            most = clamp(Exclusive && bounds.exclusive_max ? std::ceil(bounds.high) - 1
                                                           : std::floor(bounds.high));
        }
        if (least > most) return IntSpan{};  // empty: only kBeyond, which no read gives
        // Unsigned: the width of the widest span, 2**63, is no int64.
        return IntSpan{least, static_cast<std::uint64_t>(most) - static_cast<std::uint64_t>(least)};
    }

    bool holds(std::int64_t value) const noexcept {
        return static_cast<std::uint64_t>(value) - static_cast<std::uint64_t>(least) <= width;
    }

    std::int64_t least = kBeyond;
    std::uint64_t width = 0;
};

// An int range's settings as its item loops keep them: the bounds, for any int,
// and their span, for the quick reads.
struct LoopIntRange : Bounds {
    IntSpan span;
};

// A Str's settings as its item loops keep them.
struct LoopLengths {
    std::uint64_t shortest;
    std::uint64_t longest;
};

// Calls loop(settings) with the settings of a `Kind` node copied into a local.
template <NodeKind Kind, class Loop>
[[gnu::always_inline]] inline WalkOutcome with_local_settings(const ValidatorNode& node,
                                                               Loop loop) {
    if constexpr (Kind == NodeKind::IntRange || Kind == NodeKind::IntRangeExclusive) {
        const Bounds& bounds = node.payload<Kind>();
        const LoopIntRange settings{bounds,
                                    IntSpan::of<Kind == NodeKind::IntRangeExclusive>(bounds)};
        return loop(settings);
    } else if constexpr (Kind == NodeKind::Str) {
        // The two limits alone, which then stay in registers.
        const Lengths& lengths = node.payload<Kind>();
        const LoopLengths settings{lengths.shortest, lengths.longest};
        return loop(settings);
    } else if constexpr (kLeafWithSettings<Kind>) {
        const auto settings = node.payload<Kind>();
        return loop(settings);
    } else {
        return loop(node);
    }
}

// The check of a leaf that needs no call: true with its outcome, false when the
// value needs the full check, which may call out (and, for an int, run Python code
// in an __index__). Exact ints are read straight from their digits, exact floats
// and compact ASCII strs in place.
template <NodeKind Kind, class Settings>
[[gnu::always_inline]] inline bool quick_check(const Settings& settings, PyObject* object,
                                               WalkOutcome& outcome) {
    if constexpr (Kind == NodeKind::Any) {
        outcome = WalkOutcome::Valid;
        return true;
    } else if constexpr (Kind == NodeKind::Bool) {
        outcome = verdict(is_bool(object));
        return true;
    } else if constexpr (kIntKind<Kind>) {
        std::int64_t value;
        if (!Py_IS_TYPE(object, &PyLong_Type)) [[unlikely]] return false;
        if (!read_small_int(object, value)) [[unlikely]] return false;
        if constexpr (Kind == NodeKind::Int) {
            outcome = WalkOutcome::Valid;
        } else {
            outcome = verdict(settings.span.holds(value));
        }
        return true;
    } else if constexpr (Kind == NodeKind::Float) {
        if (!PyFloat_CheckExact(object)) return false;
        outcome = WalkOutcome::Valid;
        return true;
    } else if constexpr (Kind == NodeKind::FloatRange || Kind == NodeKind::FloatRangeExclusive) {
        if (!PyFloat_CheckExact(object)) return false;
        outcome = verdict(in_bounds<Kind == NodeKind::FloatRangeExclusive>(
            settings, PyFloat_AS_DOUBLE(object)));
        return true;
    } else if constexpr (Kind == NodeKind::Str) {
        if (!is_str(object)) {
            outcome = WalkOutcome::Invalid;
            return true;
        }
        if (!PyUnicode_IS_COMPACT_ASCII(object)) return false;
        outcome = verdict(
            length_within(settings, static_cast<std::uint64_t>(PyUnicode_GET_LENGTH(object))));
        return true;
    } else {
        return false;  // the containers
    }
}

// Whether quick_check can answer for some values of `Kind`.
template <NodeKind Kind>
constexpr bool kHasQuickCheck = Kind != NodeKind::List && Kind != NodeKind::ListSized &&
                                Kind != NodeKind::Dict && Kind != NodeKind::Fields;

// A value by the checks that make no call and run no Python code, for the walks
// that meet it once, not in a loop (int ranges compare with their double bounds):
// Valid, Invalid, or Unsupported where the value needs its full check. Lists of strs
// (tags, names), the common list in a record, are checked here too.
[[gnu::always_inline]] inline WalkOutcome quick_value(const ValidatorNode& node,
                                                      PyObject* value) {
    return with_kind(node.kind(), [&]<NodeKind Kind>() __attribute__((always_inline)) {
        if constexpr (Kind == NodeKind::IntRange || Kind == NodeKind::IntRangeExclusive) {
            std::int64_t read;
            if (!Py_IS_TYPE(value, &PyLong_Type) || !read_small_int(value, read)) [[unlikely]] {
                return WalkOutcome::Unsupported;
            }
            return verdict(in_bounds<Kind == NodeKind::IntRangeExclusive>(
                node.payload<Kind>(), static_cast<double>(read)));
        } else if constexpr (kHasQuickCheck<Kind>) {
            WalkOutcome outcome;
            if (quick_check<Kind>(settings_of<Kind>(node), value, outcome)) [[likely]] {
                return outcome;
            }
            return WalkOutcome::Unsupported;
        } else if constexpr (Kind == NodeKind::List || Kind == NodeKind::ListSized) {
            const Branch& branch = node.payload<Kind>();
            if (branch.child->kind() != NodeKind::Str) return WalkOutcome::Unsupported;
            if (!is_list(value)) return WalkOutcome::Invalid;
            const Py_ssize_t size = PyList_GET_SIZE(value);
            if constexpr (Kind == NodeKind::ListSized) {
                if (!length_within(branch.lengths, static_cast<std::uint64_t>(size))) {
                    return WalkOutcome::Invalid;
                }
            }
            const Lengths& lengths = branch.child->payload<NodeKind::Str>();
            const LoopLengths limits{lengths.shortest, lengths.longest};
            PyObject* const* const items = reinterpret_cast<PyListObject*>(value)->ob_item;
            for (Py_ssize_t index = 0; index < size; ++index) {
                WalkOutcome outcome = WalkOutcome::Unsupported;
                PyObject* item = items[index];
                if (item != nullptr && !quick_check<NodeKind::Str>(limits, item, outcome)) {
                    outcome = WalkOutcome::Unsupported;
                }
                if (outcome != WalkOutcome::Valid) [[unlikely]] return outcome;
            }
            return WalkOutcome::Valid;
        } else {
            return WalkOutcome::Unsupported;  // dicts: their check recurses
        }
    });
}

// Whether `object` is valid for `node` by a quick check alone; false when that
// takes the full check (or finds a violation).
[[gnu::always_inline]] inline bool quick_valid(const ValidatorNode& node, PyObject* object) {
    return quick_value(node, object) == WalkOutcome::Valid;
}

}  // namespace brindle
