#include "schema/node.h"

namespace brindle {

// Released without recursion: a tree may be as deep as the stack of the thread
// that compiled it allowed, and its last reference may go on a thread with a much
// smaller stack.
ValidatorNode::~ValidatorNode() {
    Branch* own_branch = branch();
    FieldList* fields = payload_if<NodeKind::Fields>();
    bool has_children = (own_branch != nullptr && own_branch->child) ||
                        (fields != nullptr && !fields->entries.empty());
    if (!has_children) return;
    NativeVector<ValidatorNode> pending;
    detach_children(pending);
    while (!pending.empty()) {
        ValidatorNode node = std::move(pending.back());
        pending.pop_back();
        node.detach_children(pending);
    }
}

Branch* ValidatorNode::branch() noexcept {
    switch (kind()) {
        case NodeKind::List: return payload_if<NodeKind::List>();
        case NodeKind::ListSized: return payload_if<NodeKind::ListSized>();
        case NodeKind::Dict: return payload_if<NodeKind::Dict>();
        default: return nullptr;
    }
}

void ValidatorNode::detach_children(NativeVector<ValidatorNode>& into) {
    if (Branch* own_branch = branch(); own_branch != nullptr && own_branch->child) {
        into.push_back(std::move(*own_branch->child));
        own_branch->child.reset();
    }
    if (FieldList* fields = payload_if<NodeKind::Fields>()) {
        for (FieldEntry& entry : fields->entries) into.push_back(std::move(entry.node));
        fields->entries.clear();
        fields->count = 0;
    }
}

ValidatorNode ValidatorNode::number(bool is_float, const Bounds& given) {
    Bounds bounds = given;
    bounds.low = bounds.min.value_or(std::numeric_limits<double>::quiet_NaN());
    bounds.high = bounds.max.value_or(std::numeric_limits<double>::quiet_NaN());
    bool has_bound = bounds.min.has_value() || bounds.max.has_value();
    if (bounds.exclusive_min || bounds.exclusive_max) {
        return is_float ? make<NodeKind::FloatRangeExclusive>(bounds)
                        : make<NodeKind::IntRangeExclusive>(bounds);
    }
    if (has_bound) {
        return is_float ? make<NodeKind::FloatRange>(bounds) : make<NodeKind::IntRange>(bounds);
    }
    return is_float ? make<NodeKind::Float>() : make<NodeKind::Int>();
}

namespace {

Lengths with_limits(Lengths lengths) {
    lengths.shortest = lengths.min_len.value_or(0);
    lengths.longest = lengths.max_len.value_or(std::numeric_limits<std::uint64_t>::max());
    return lengths;
}

}  // namespace

ValidatorNode ValidatorNode::str(Lengths lengths) {
    return make<NodeKind::Str>(with_limits(lengths));
}

ValidatorNode ValidatorNode::list(ValidatorNode item, Lengths lengths) {
    Branch branch{make_box<ValidatorNode>(std::move(item)), with_limits(lengths)};
    if (lengths.min_len.has_value() || lengths.max_len.has_value()) {
        return make<NodeKind::ListSized>(std::move(branch));
    }
    return make<NodeKind::List>(std::move(branch));
}

ValidatorNode ValidatorNode::dict(ValidatorNode value) {
    return make<NodeKind::Dict>(Branch{make_box<ValidatorNode>(std::move(value)), {}});
}

ValidatorNode ValidatorNode::fields(NativeVector<FieldEntry> entries) {
    FieldIndex index = FieldIndex::build(entries);
    const std::size_t count = entries.size();
    return make<NodeKind::Fields>(FieldList{std::move(entries), std::move(index), count});
}

}  // namespace brindle
