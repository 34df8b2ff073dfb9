// Pieces shared by the two walks: reading integers as a walk reads them, bound and
// length tests, and field lookup.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "python/access.h"
#include "python/result.h"
#include "schema/node.h"

namespace brindle {

// How one step of a walk ended. A failure is parked in the walk's context, so that
// the common outcomes travel in a register.
enum class WalkOutcome : std::uint8_t { Valid, Invalid, Unsupported, Failed };

struct WalkContext {
    std::optional<Failure> failure;

    WalkOutcome fail(Failure error) {
        failure.emplace(std::move(error));
        return WalkOutcome::Failed;
    }
};

enum class IntRead : std::uint8_t { Read, NotInt, Failed };

// An integer read by a walk: a value that cannot be read is a violation and its
// exception is dropped. Only ordinary exceptions are dropped, though: a
// KeyboardInterrupt or SystemExit raised by an __index__ ends the walk, so that a
// user's interrupt is never lost.
inline IntRead read_walk_i64(PyObject* object, std::int64_t& value, WalkContext& context) {
    auto read = read_i64(object);
    if (read) {
        value = read.value();
        return IntRead::Read;
    }
    Failure failure = std::move(read).take_failure();
    if (PyErr_GivenExceptionMatches(failure.exception_type(), PyExc_Exception)) {
        return IntRead::NotInt;  // dropped: an unreadable integer is a violation
    }
    context.failure.emplace(std::move(failure));
    return IntRead::Failed;
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

inline LengthCheck check_length(const Lengths& lengths, std::uint64_t length) noexcept {
    if (lengths.min_len && length < *lengths.min_len) return LengthCheck::TooShort;
    if (lengths.max_len && length > *lengths.max_len) return LengthCheck::TooLong;
    return LengthCheck::InBounds;
}

inline constexpr std::size_t kNoField = static_cast<std::size_t>(-1);

// The first entry whose key has exactly these bytes, in schema order.
inline std::size_t find_field(std::span<const FieldEntry> entries, std::string_view key) noexcept {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Text& candidate = entries[i].key;
        if (candidate.size() == key.size() &&
            std::char_traits<char>::compare(candidate.data(), key.data(), key.size()) == 0) {
            return i;
        }
    }
    return kNoField;
}

// Which fields the dict's keys name, read afresh from the dict. Needed only when a
// key is a str subclass: two distinct keys can then share one text, and matching
// every dict entry no longer proves that every field is present.
Result<NativeVector<std::uint8_t>> fields_named(std::span<const FieldEntry> entries,
                                                PyObject* dict);

}  // namespace brindle
