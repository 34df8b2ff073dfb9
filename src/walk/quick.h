// The quick checks: one per leaf kind, answering for a value by tests that call
// nothing that can run Python code (no __index__, no allocation). Each answers
// exactly as the full check would wherever it answers at all, and "needs the full
// check" elsewhere: exact ints read straight from their digits (against the span
// of ints that pass the bounds, made when the node was built), exact floats and
// compact ASCII strs in place. The item loops of the boolean walk, the records'
// quick pass and the collecting walk's passing over valid values all use these.
#pragma once

#include <cstdint>
#include <utility>

#include "python/access.h"
#include "python/cursor.h"
#include "schema/node.h"

namespace brindle {

enum class Quick : std::uint8_t { Valid, Invalid, NeedsFull };

inline Quick quick_verdict(bool valid) noexcept { return valid ? Quick::Valid : Quick::Invalid; }

// A quick answer for an entry as DictCursor::quick_steps() takes it: a valid entry
// goes on to the next, an invalid one ends the steps, and one that needs its full
// check stops them where the full checks resume.
[[gnu::always_inline]] inline DictCursor::Visited visited(Quick answer) noexcept {
    switch (answer) {
        case Quick::Valid: return DictCursor::Visited::Next;
        case Quick::Invalid: return DictCursor::Visited::Stop;
        case Quick::NeedsFull: break;
    }
    return DictCursor::Visited::StopToResume;
}

// Every int a quick read gives lies in the span's domain, where the span is exact.
static_assert(kSmallIntBound <= IntSpan::kDomain);

template <NodeKind Kind>
constexpr bool kIntKind =
    Kind == NodeKind::Int || Kind == NodeKind::IntRange || Kind == NodeKind::IntRangeExclusive;

template <NodeKind Kind>
constexpr bool kContainerKind = Kind == NodeKind::List || Kind == NodeKind::ListSized ||
                                Kind == NodeKind::Dict || Kind == NodeKind::Fields;

// Whether checking a value of `Kind` in full can run Python code: an int read may
// call __index__, and a container may hold such ints. The other leaves never do.
template <NodeKind Kind>
constexpr bool kMayRunPython = kIntKind<Kind> || kContainerKind<Kind>;

struct NoQuickSettings {};

// The settings a quick check of `Kind` reads, copied out of the node: a loop keeps
// its copy in registers across the items.
template <NodeKind Kind>
[[gnu::always_inline]] inline auto quick_settings(const ValidatorNode& node) noexcept {
    if constexpr (Kind == NodeKind::IntRange || Kind == NodeKind::IntRangeExclusive) {
        return IntSpan(node.payload<Kind>().span);
    } else if constexpr (Kind == NodeKind::FloatRange || Kind == NodeKind::FloatRangeExclusive) {
        return BoundLimits(node.payload<Kind>());
    } else if constexpr (Kind == NodeKind::Str) {
        return LengthLimits(node.payload<Kind>());
    } else {
        return NoQuickSettings{};
    }
}

template <NodeKind Kind>
using QuickSettings = decltype(quick_settings<Kind>(std::declval<const ValidatorNode&>()));

template <NodeKind Kind>
[[gnu::always_inline]] inline Quick quick_check(const QuickSettings<Kind>& settings,
                                                PyObject* object) noexcept {
    if constexpr (Kind == NodeKind::Any) {
        return Quick::Valid;
    } else if constexpr (Kind == NodeKind::Bool) {
        return quick_verdict(is_bool(object));
    } else if constexpr (kIntKind<Kind>) {
        std::int64_t value;
        if (!Py_IS_TYPE(object, &PyLong_Type) || !read_small_int(object, value)) [[unlikely]] {
            return Quick::NeedsFull;
        }
        if constexpr (Kind == NodeKind::Int) {
            return Quick::Valid;
        } else {
            return quick_verdict(settings.holds(value));
        }
    } else if constexpr (Kind == NodeKind::Float) {
        return PyFloat_CheckExact(object) ? Quick::Valid : Quick::NeedsFull;
    } else if constexpr (Kind == NodeKind::FloatRange || Kind == NodeKind::FloatRangeExclusive) {
        if (!PyFloat_CheckExact(object)) return Quick::NeedsFull;
        return quick_verdict(in_bounds<Kind == NodeKind::FloatRangeExclusive>(
            settings, PyFloat_AS_DOUBLE(object)));
    } else if constexpr (Kind == NodeKind::Str) {
        if (!is_str(object)) return Quick::Invalid;
        // A compact ASCII str counts as many code points as it has characters.
        if (!is_compact_ascii(object)) return Quick::NeedsFull;
        return quick_verdict(
            settings.within(static_cast<std::uint64_t>(PyUnicode_GET_LENGTH(object))));
    } else {
        static_assert(kContainerKind<Kind>);
        return Quick::NeedsFull;
    }
}

// A value against any node by the quick checks: the leaves', and for a list of strs
// (tags, names: the common list in a record) every item's. Other containers need
// their full checks, which recurse.
[[gnu::always_inline]] inline Quick quick_node(const ValidatorNode& node, PyObject* value) {
    return with_kind(node.kind(), [&]<NodeKind Kind>() __attribute__((always_inline)) {
        if constexpr (Kind == NodeKind::List || Kind == NodeKind::ListSized) {
            const Branch& branch = node.payload<Kind>();
            if (branch.child->kind() != NodeKind::Str) return Quick::NeedsFull;
            if (!is_list(value)) return Quick::Invalid;
            if constexpr (Kind == NodeKind::ListSized) {
                const LengthLimits limits(branch.lengths);
                if (!limits.within(static_cast<std::uint64_t>(list_length(value)))) {
                    return Quick::Invalid;
                }
            }
            const LengthLimits item_limits(branch.child->payload<NodeKind::Str>());
            bool all_valid = ListCursor::all_quick(value, [&](PyObject* item)
                                                                  __attribute__((always_inline)) {
                return quick_check<NodeKind::Str>(item_limits, item) == Quick::Valid;
            });
            return all_valid ? Quick::Valid : Quick::NeedsFull;
        } else if constexpr (kContainerKind<Kind>) {
            return Quick::NeedsFull;
        } else {
            return quick_check<Kind>(quick_settings<Kind>(node), value);
        }
    });
}

}  // namespace brindle
