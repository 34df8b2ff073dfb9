// The compiled validator tree: an immutable, native copy of a schema.
//
// It holds no Python object, so nothing done to the Python validators after
// compilation reaches it. The kinds are split by which settings are present, so a
// walk meets no test for an absent setting. No Python.h: the tree is tested alone.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <variant>

#include "core/alloc.h"
#include "schema/limits.h"

namespace brindle {

// Every kind with the type of its settings, in one list from which the enum, the
// payload variant and every switch over all kinds (with_kind) are made: a new kind
// is added here, and a walk that misses it fails to compile.
#define BRINDLE_NODE_KINDS(X)                 \
    X(Any, NoSettings)                        \
    X(Bool, NoSettings)                       \
    X(Int, NoSettings)                        \
    X(IntRange, IntLimits)                    \
    X(IntRangeExclusive, IntLimits)           \
    X(Float, NoSettings)                      \
    X(FloatRange, BoundLimits)                \
    X(FloatRangeExclusive, BoundLimits)       \
    X(Str, Lengths)                           \
    X(List, Branch)                           \
    X(ListSized, Branch)                      \
    X(Dict, Branch)                           \
    X(Fields, FieldList)

enum class NodeKind : std::uint8_t {
#define BRINDLE_KIND_ENUMERATOR(kind, settings) kind,
    BRINDLE_NODE_KINDS(BRINDLE_KIND_ENUMERATOR)
#undef BRINDLE_KIND_ENUMERATOR
};

// Calls `visit.template operator()<Kind>()` with `kind` as a compile-time constant:
// the one switch over all kinds, which a kind-generic lambda turns into per-kind code.
template <class Visit>
[[gnu::always_inline]] inline decltype(auto) with_kind(NodeKind kind, Visit&& visit) {
    switch (kind) {
#define BRINDLE_KIND_CASE(name, settings) \
    case NodeKind::name: return visit.template operator()<NodeKind::name>();
        BRINDLE_NODE_KINDS(BRINDLE_KIND_CASE)
#undef BRINDLE_KIND_CASE
    }
    __builtin_unreachable();  // a node's kind is its payload's index, always one of these
}

class ValidatorNode;
struct FieldEntry;

// The hash index of a Fields node, built and searched by the field lookup
// (schema/fields.h), which is the only reader of its slots.
class FieldIndex {
public:
    static FieldIndex build(std::span<const FieldEntry> entries);

    // Whether the entries' key texts are all distinct; false makes lookups scan.
    bool distinct() const noexcept { return distinct_; }
    bool empty() const noexcept { return slots_.empty(); }

    // The entry whose key hash is `hash` and whose key `same_key(entry)` accepts.
    template <class SameKey>
    std::size_t find(std::span<const FieldEntry> entries, std::int64_t hash,
                     SameKey same_key) const noexcept;

private:
    // Open addressing with linear probing; a slot holds an entry's index + 1, 0 is free.
    NativeVector<std::uint32_t> slots_;
    bool distinct_ = true;
};

struct NoSettings {};

// The settings of the container kinds but Fields: List, ListSized (item, lengths)
// and Dict (value; lengths unused).
struct Branch {
    Box<ValidatorNode> child;
    Lengths lengths;
};

struct FieldList {
    NativeVector<FieldEntry> entries;
    FieldIndex index;
    // entries.size(), kept so that a walk reads the count instead of dividing the
    // storage's extent by the entry size once per dict.
    std::size_t count = 0;
};

template <NodeKind Kind>
struct KindSettings;
#define BRINDLE_KIND_SETTINGS(kind, settings) \
    template <>                                \
    struct KindSettings<NodeKind::kind> {      \
        using type = settings;                 \
    };
BRINDLE_NODE_KINDS(BRINDLE_KIND_SETTINGS)
#undef BRINDLE_KIND_SETTINGS

// The type of the settings that a node of `Kind` carries.
template <NodeKind Kind>
using PayloadOf = typename KindSettings<Kind>::type;

namespace detail {
template <std::size_t... Index>
auto payload_variant(std::index_sequence<Index...>)
    -> std::variant<PayloadOf<static_cast<NodeKind>(Index)>...>;
#define BRINDLE_KIND_COUNT(kind, settings) +1
inline constexpr std::size_t kKindCount = 0 BRINDLE_NODE_KINDS(BRINDLE_KIND_COUNT);
#undef BRINDLE_KIND_COUNT
}  // namespace detail

// A node's settings, alternatives in NodeKind order: the variant's index is the kind.
using NodePayload =
    decltype(detail::payload_variant(std::make_index_sequence<detail::kKindCount>()));

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

    // The settings of a node of kind `Kind`; reading another kind's is a defect,
    // which debug builds assert.
    template <NodeKind Kind>
    const PayloadOf<Kind>& payload() const noexcept {
        assert(kind() == Kind);
        // Lets the compiler drop get_if's test of the kind, which callers have made.
        if (kind() != Kind) __builtin_unreachable();
        return *std::get_if<index_of(Kind)>(&payload_);
    }

    // The settings of the kinds that have them; only valid for those kinds.
    const BoundLimits& bounds() const noexcept;   // the range kinds
    const Lengths& lengths() const noexcept;      // Str, ListSized
    const ValidatorNode& child() const noexcept;  // List, ListSized (item), Dict (value)
    std::span<const FieldEntry> entries() const noexcept;  // Fields
    const FieldIndex& field_index() const noexcept;        // Fields

private:
    static constexpr std::size_t index_of(NodeKind kind) noexcept {
        return static_cast<std::size_t>(kind);
    }
    using Payload = NodePayload;

    explicit ValidatorNode(Payload payload) noexcept;

    template <NodeKind Kind, class... Settings>
    static ValidatorNode make(Settings&&... settings);

    // The settings of this node when it is of kind `Kind`, else null.
    template <NodeKind Kind>
    PayloadOf<Kind>* payload_if() noexcept {
        return std::get_if<index_of(Kind)>(&payload_);
    }

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

template <NodeKind Kind, class... Settings>
ValidatorNode ValidatorNode::make(Settings&&... settings) {
    return ValidatorNode(
        Payload(std::in_place_index<index_of(Kind)>, std::forward<Settings>(settings)...));
}

inline ValidatorNode ValidatorNode::any() { return make<NodeKind::Any>(); }
inline ValidatorNode ValidatorNode::boolean() { return make<NodeKind::Bool>(); }

inline const BoundLimits& ValidatorNode::bounds() const noexcept {
    switch (kind()) {
        case NodeKind::IntRange: return payload<NodeKind::IntRange>();
        case NodeKind::IntRangeExclusive: return payload<NodeKind::IntRangeExclusive>();
        case NodeKind::FloatRange: return payload<NodeKind::FloatRange>();
        default: return payload<NodeKind::FloatRangeExclusive>();
    }
}

inline const Lengths& ValidatorNode::lengths() const noexcept {
    if (kind() == NodeKind::Str) return payload<NodeKind::Str>();
    return payload<NodeKind::ListSized>().lengths;
}

inline const ValidatorNode& ValidatorNode::child() const noexcept {
    switch (kind()) {
        case NodeKind::List: return *payload<NodeKind::List>().child;
        case NodeKind::ListSized: return *payload<NodeKind::ListSized>().child;
        default: return *payload<NodeKind::Dict>().child;
    }
}

inline const FieldIndex& ValidatorNode::field_index() const noexcept {
    return payload<NodeKind::Fields>().index;
}

inline std::span<const FieldEntry> ValidatorNode::entries() const noexcept {
    const FieldList& list = payload<NodeKind::Fields>();
    return {list.entries.data(), list.count};
}

}  // namespace brindle
