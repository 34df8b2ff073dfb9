// The compiled validator tree: an immutable, native copy of a schema.
//
// It holds no Python object, so nothing done to the Python validators after
// compilation reaches it. The kinds are split by which settings are present, so a
// walk meets no test for an absent setting. No Python.h: the tree is tested alone.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <variant>

#include "python/alloc.h"

namespace brindle {

enum class NodeKind : std::uint8_t {
    Any,
    Bool,
    Int,
    IntRange,
    IntRangeExclusive,
    Float,
    FloatRange,
    FloatRangeExclusive,
    Str,
    List,
    ListSized,
    Dict,
    Fields,
};

class ValidatorNode;
struct FieldEntry;

// Finds the entry of a Fields node by its key without a scan. Built only where the
// key texts of the node are distinct, which makes any entry found by text the same
// one that a scan in schema order would find first.
class FieldIndex {
public:
    static constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);
    // Nodes with fewer entries scan; a scan that starts after the previous match is
    // as fast for them.
    static constexpr std::size_t kMinIndexed = 8;

    // Whether the entries' key texts are all distinct; false makes lookups scan.
    bool distinct() const noexcept { return distinct_; }
    bool empty() const noexcept { return slots_.empty(); }

    // The entry whose key hash is `hash` and whose key `same_key(entry)` accepts.
    template <class SameKey>
    std::size_t find(std::span<const FieldEntry> entries, std::int64_t hash,
                     SameKey same_key) const noexcept;

private:
    friend class ValidatorNode;
    static FieldIndex build(std::span<const FieldEntry> entries);

    // Open addressing with linear probing; a slot holds an entry's index + 1, 0 is free.
    NativeVector<std::uint32_t> slots_;
    bool distinct_ = true;
};

// Bounds of a number. Neither order nor NaN is checked: a walk compares with
// ordered double comparisons, so a NaN bound lets everything through.
struct Bounds {
    std::optional<double> min;
    std::optional<double> max;
    bool exclusive_min = false;
    bool exclusive_max = false;
    // min and max as the walks compare with them, an absent bound as NaN: no
    // ordered comparison with NaN fails, so the tests need no presence branch.
    double low = std::numeric_limits<double>::quiet_NaN();
    double high = std::numeric_limits<double>::quiet_NaN();
};

struct Lengths {
    std::optional<std::uint64_t> min_len;
    std::optional<std::uint64_t> max_len;
    // The limits as the walks compare with them: an absent one as the widest.
    std::uint64_t shortest = 0;
    std::uint64_t longest = std::numeric_limits<std::uint64_t>::max();
};

class ValidatorNode {
public:
    static ValidatorNode any();
    static ValidatorNode boolean();
    // Int, IntRange or IntRangeExclusive (Float, ... with `is_float`), by the settings.
    static ValidatorNode number(bool is_float, const Bounds& bounds);
    static ValidatorNode str(Lengths lengths);
    // List or ListSized, by the limits.
    static ValidatorNode list(ValidatorNode item, Lengths lengths);
    static ValidatorNode dict(ValidatorNode value);
    // Fields; the entries carry the hashes of their keys (see FieldEntry).
    static ValidatorNode fields(NativeVector<FieldEntry> entries);

    ValidatorNode(ValidatorNode&&) noexcept = default;
    ValidatorNode& operator=(ValidatorNode&&) noexcept = default;
    ~ValidatorNode();

    NodeKind kind() const noexcept { return static_cast<NodeKind>(payload_.index()); }

    // The settings of the kinds that have them; only valid for those kinds.
    const Bounds& bounds() const noexcept;        // the range kinds
    const Lengths& lengths() const noexcept;      // Str, ListSized
    const ValidatorNode& child() const noexcept;  // List, ListSized (item), Dict (value)
    std::span<const FieldEntry> entries() const noexcept;  // Fields
    const FieldIndex& field_index() const noexcept;        // Fields

private:
    struct Empty {};
    struct Branch {
        Box<ValidatorNode> child;
        Lengths lengths;
    };
    struct FieldList {
        NativeVector<FieldEntry> entries;
        FieldIndex index;
    };
    // Alternatives in NodeKind order: the variant's index is the kind.
    using Payload = std::variant<Empty, Empty, Empty, Bounds, Bounds, Empty, Bounds, Bounds,
                                 Lengths, Branch, Branch, Branch, FieldList>;

    explicit ValidatorNode(Payload payload) noexcept;

    // The payload of List, ListSized and Dict; null for the other kinds.
    Branch* branch() noexcept;
    // Moves this node's children into `into`, leaving it without any.
    void detach_children(NativeVector<ValidatorNode>& into);

    Payload payload_;
};

struct FieldEntry {
    Text key;  // the field name, a byte-exact copy of the schema key's UTF-8 text
    ValidatorNode node;
    // The interpreter's str hash of the key, which any str with the same text shares
    // within the process; only the field index uses it.
    std::int64_t hash = 0;
};

// Defined once FieldEntry is complete: making a payload instantiates the variant's
// destructor, and with it the destructor of FieldList's vector of entries, which
// some standard libraries (libc++) will not instantiate for an incomplete type.
inline ValidatorNode::ValidatorNode(Payload payload) noexcept : payload_(std::move(payload)) {}

inline ValidatorNode ValidatorNode::any() {
    return ValidatorNode(Payload(std::in_place_index<0>));
}

inline ValidatorNode ValidatorNode::boolean() {
    return ValidatorNode(Payload(std::in_place_index<1>));
}

template <class SameKey>
std::size_t FieldIndex::find(std::span<const FieldEntry> entries, std::int64_t hash,
                             SameKey same_key) const noexcept {
    std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = static_cast<std::size_t>(hash) & mask;; slot = (slot + 1) & mask) {
        std::uint32_t held = slots_[slot];
        if (held == 0) return kNotFound;
        const FieldEntry& entry = entries[held - 1];
        if (entry.hash == hash && same_key(entry)) return held - 1;
    }
}

inline const Bounds& ValidatorNode::bounds() const noexcept {
    switch (kind()) {
        case NodeKind::IntRange: return *std::get_if<3>(&payload_);
        case NodeKind::IntRangeExclusive: return *std::get_if<4>(&payload_);
        case NodeKind::FloatRange: return *std::get_if<6>(&payload_);
        default: return *std::get_if<7>(&payload_);
    }
}

inline const Lengths& ValidatorNode::lengths() const noexcept {
    if (kind() == NodeKind::Str) return *std::get_if<8>(&payload_);
    return std::get_if<10>(&payload_)->lengths;
}

inline const ValidatorNode& ValidatorNode::child() const noexcept {
    switch (kind()) {
        case NodeKind::List: return *std::get_if<9>(&payload_)->child;
        case NodeKind::ListSized: return *std::get_if<10>(&payload_)->child;
        default: return *std::get_if<11>(&payload_)->child;
    }
}

inline const FieldIndex& ValidatorNode::field_index() const noexcept {
    return std::get_if<12>(&payload_)->index;
}

inline std::span<const FieldEntry> ValidatorNode::entries() const noexcept {
    const auto& list = std::get_if<12>(&payload_)->entries;
    return {list.data(), list.size()};
}

}  // namespace brindle
