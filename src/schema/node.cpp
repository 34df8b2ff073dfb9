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
    const BoundLimits bounds(given);
    bool has_bound = given.min.has_value() || given.max.has_value();
    bool exclusive = given.exclusive_min || given.exclusive_max;
    if (is_float) {
        if (exclusive) return make<NodeKind::FloatRangeExclusive>(bounds);
        return has_bound ? make<NodeKind::FloatRange>(bounds) : make<NodeKind::Float>();
    }
    // The span of the ints that pass, made once here for the quick checks.
    const IntLimits int_bounds{bounds, IntSpan::of(bounds)};
    if (exclusive) return make<NodeKind::IntRangeExclusive>(int_bounds);
    return has_bound ? make<NodeKind::IntRange>(int_bounds) : make<NodeKind::Int>();
}

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
