// Pieces shared by the two walks: reading integers as a walk reads them, bound and
// length tests, and field lookup.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "core/stack.h"
#include "python/access.h"
#include "python/result.h"
#include "schema/node.h"

namespace brindle {

// How one step of a walk ended. A failure is parked in the walk's context, so that
// the common outcomes travel in a register.
enum class WalkOutcome : std::uint8_t { Valid, Invalid, Unsupported, Failed };

struct WalkContext {
    std::optional<Failure> failure;
    // Compiled trees are as deep as the stack of the thread that compiled them
    // allowed; this thread's stack may be smaller.
    std::uintptr_t stack_floor = brindle::stack_floor();

    WalkOutcome fail(Failure error) {
        failure.emplace(std::move(error));
        return WalkOutcome::Failed;
    }

    // Checked once per container level: false (and a RecursionError) when one more
    // level would come too close to the end of the stack.
    [[gnu::always_inline]] bool enter() {
        if (!stack_exhausted(stack_floor)) [[likely]] return true;
        fail(Failure::made(PyExc_RecursionError, "maximum recursion depth exceeded while validating"));
        return false;
    }
};

enum class IntRead : std::uint8_t { Read, NotInt, Failed };

IntRead read_walk_i64_slow(PyObject* object, std::int64_t& value, WalkContext& context);

// An integer read by a walk: a value that cannot be read is a violation and its
// exception is dropped. Only ordinary exceptions are dropped, though: a
// KeyboardInterrupt or SystemExit raised by an __index__ ends the walk, so that a
// user's interrupt is never lost.
inline IntRead read_walk_i64(PyObject* object, std::int64_t& value, WalkContext& context) {
    if (is_int(object) && read_small_int(object, value)) return IntRead::Read;
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

[[gnu::always_inline]] inline bool length_within(const Lengths& lengths,
                                                 std::uint64_t length) noexcept {
    return length >= lengths.shortest && length <= lengths.longest;
}

inline LengthCheck check_length(const Lengths& lengths, std::uint64_t length) noexcept {
    if (lengths.min_len && length < *lengths.min_len) return LengthCheck::TooShort;
    if (lengths.max_len && length > *lengths.max_len) return LengthCheck::TooLong;
    return LengthCheck::InBounds;
}

inline constexpr std::size_t kNoField = FieldIndex::kNotFound;

template <class Word>
[[gnu::always_inline]] inline Word load(const char* bytes) noexcept {
    Word word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// Byte equality, inline: field names are short, and a call to memcmp would cost
// more than the comparison itself. Two overlapping loads cover each size class, so
// nothing is read outside either text.
inline bool same_text(const Text& key, std::string_view text) noexcept {
    std::size_t size = text.size();
    if (key.size() != size) return false;
    const char* a = key.data();
    const char* b = text.data();
    if (size >= 8) {
        for (std::size_t i = 0; i + 8 < size; i += 8) {
            if (load<std::uint64_t>(a + i) != load<std::uint64_t>(b + i)) return false;
        }
        return load<std::uint64_t>(a + size - 8) == load<std::uint64_t>(b + size - 8);
    }
    if (size >= 4) {
        return load<std::uint32_t>(a) == load<std::uint32_t>(b) &&
               load<std::uint32_t>(a + size - 4) == load<std::uint32_t>(b + size - 4);
    }
    if (size >= 2) {
        return load<std::uint16_t>(a) == load<std::uint16_t>(b) &&
               load<std::uint16_t>(a + size - 2) == load<std::uint16_t>(b + size - 2);
    }
    return size == 0 || *a == *b;
}

// The first entry whose key has exactly these bytes, in schema order.
inline std::size_t find_field(std::span<const FieldEntry> entries, std::string_view key) noexcept {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (same_text(entries[i].key, key)) return i;
    }
    return kNoField;
}

// Looks up the keys of one dict among the fields of a node. The result is always
// the first entry in schema order with the key's text: where the node's key texts
// are distinct, any entry found by text is that one, so the lookup first tries the
// entry after the previous match (one comparison per key for data in schema order)
// and then the node's hash index; otherwise it scans from the first entry.
class FieldFinder {
public:
    explicit FieldFinder(const ValidatorNode& node) noexcept
        : entries_(node.entries()), index_(node.field_index()) {}

    std::span<const FieldEntry> entries() const noexcept { return entries_; }

    // `key` is the str whose UTF-8 text is `text`.
    [[gnu::always_inline]] std::size_t find(PyObject* key, std::string_view text) {
        if (next_ < entries_.size() && same_text(entries_[next_].key, text) && index_.distinct())
            [[likely]] {
            return next_++;
        }
        return find_elsewhere(key, text);
    }

private:
    [[gnu::noinline]] std::size_t find_elsewhere(PyObject* key, std::string_view text) {
        if (!index_.distinct()) return find_field(entries_, text);
        std::size_t found =
            index_.empty() ? find_field(entries_, text)
                           : index_.find(entries_, str_hash(key), [text](const FieldEntry& entry) {
                                 return same_text(entry.key, text);
                             });
        if (found != kNoField) next_ = found + 1;
        return found;
    }

    std::span<const FieldEntry> entries_;
    const FieldIndex& index_;
    std::size_t next_ = 0;
};

// Which fields the dict's keys name, read afresh from the dict. Needed only when a
// key is a str subclass: two distinct keys can then share one text, and matching
// every dict entry no longer proves that every field is present.
Result<NativeVector<std::uint8_t>> fields_named(std::span<const FieldEntry> entries,
                                                PyObject* dict);

}  // namespace brindle
