#include "schema/node.h"

namespace brindle {

ValidatorNode::~ValidatorNode() = default;

ValidatorNode ValidatorNode::number(bool is_float, const Bounds& bounds) {
    bool has_bound = bounds.min.has_value() || bounds.max.has_value();
    if (bounds.exclusive_min || bounds.exclusive_max) {
        return ValidatorNode(is_float ? Payload(std::in_place_index<7>, bounds)
                                      : Payload(std::in_place_index<4>, bounds));
    }
    if (has_bound) {
        return ValidatorNode(is_float ? Payload(std::in_place_index<6>, bounds)
                                      : Payload(std::in_place_index<3>, bounds));
    }
    return ValidatorNode(is_float ? Payload(std::in_place_index<5>)
                                  : Payload(std::in_place_index<2>));
}

ValidatorNode ValidatorNode::str(const Lengths& lengths) {
    return ValidatorNode(Payload(std::in_place_index<8>, lengths));
}

ValidatorNode ValidatorNode::list(ValidatorNode item, const Lengths& lengths) {
    Branch branch{make_box<ValidatorNode>(std::move(item)), lengths};
    if (lengths.min_len.has_value() || lengths.max_len.has_value()) {
        return ValidatorNode(Payload(std::in_place_index<10>, std::move(branch)));
    }
    return ValidatorNode(Payload(std::in_place_index<9>, std::move(branch)));
}

ValidatorNode ValidatorNode::dict(ValidatorNode value) {
    return ValidatorNode(
        Payload(std::in_place_index<11>, Branch{make_box<ValidatorNode>(std::move(value)), {}}));
}

ValidatorNode ValidatorNode::fields(NativeVector<FieldEntry> entries) {
    return ValidatorNode(Payload(std::in_place_index<12>, FieldList{std::move(entries)}));
}

}  // namespace brindle
