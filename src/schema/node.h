// The compiled validator tree: an immutable, native copy of a schema.
//
// It holds no Python object, so nothing done to the Python validators after
// compilation reaches it. The kinds are split by which settings are present, so a
// walk meets no test for an absent setting. No Python.h: the tree is tested alone.
#pragma once

#include <cstdint>
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

// Bounds of a number. Neither order nor NaN is checked: a walk compares with
// ordered double comparisons, so a NaN bound lets everything through.
struct Bounds {
    std::optional<double> min;
    std::optional<double> max;
    bool exclusive_min = false;
    bool exclusive_max = false;
};

struct Lengths {
    std::optional<std::uint64_t> min_len;
    std::optional<std::uint64_t> max_len;
};

class ValidatorNode {
public:
    static ValidatorNode any() { return ValidatorNode(Payload(std::in_place_index<0>)); }
    static ValidatorNode boolean() { return ValidatorNode(Payload(std::in_place_index<1>)); }
    // Int, IntRange or IntRangeExclusive (Float, ... with `is_float`), by the settings.
    static ValidatorNode number(bool is_float, const Bounds& bounds);
    static ValidatorNode str(const Lengths& lengths);
    // List or ListSized, by the limits.
    static ValidatorNode list(ValidatorNode item, const Lengths& lengths);
    static ValidatorNode dict(ValidatorNode value);
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

private:
    struct Empty {};
    struct Branch {
        Box<ValidatorNode> child;
        Lengths lengths;
    };
    struct FieldList {
        NativeVector<FieldEntry> entries;
    };
    // Alternatives in NodeKind order: the variant's index is the kind.
    using Payload = std::variant<Empty, Empty, Empty, Bounds, Bounds, Empty, Bounds, Bounds,
                                 Lengths, Branch, Branch, Branch, FieldList>;

    explicit ValidatorNode(Payload payload) noexcept : payload_(std::move(payload)) {}

    Payload payload_;
};

struct FieldEntry {
    Text key;
    ValidatorNode node;
};

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

inline std::span<const FieldEntry> ValidatorNode::entries() const noexcept {
    const auto& list = std::get_if<12>(&payload_)->entries;
    return {list.data(), list.size()};
}

}  // namespace brindle
