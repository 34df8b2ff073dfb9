#include "walk/check.h"

#include "python/access.h"
#include "python/text.h"
#include "walk/common.h"

namespace brindle {

namespace {

// Answers Valid, Invalid or Failed (the failure parked in `context`), stopping at
// the first violation. Builds no text and allocates nothing: this is the fast path.
WalkOutcome check_value(const ValidatorNode& node, PyObject* object, WalkContext& context);

WalkOutcome verdict(bool valid) noexcept {
    return valid ? WalkOutcome::Valid : WalkOutcome::Invalid;
}

WalkOutcome check_int(const ValidatorNode& node, PyObject* object, WalkContext& context) {
    std::int64_t value = 0;
    switch (read_walk_i64(object, value, context)) {
        case IntRead::Read: break;
        case IntRead::NotInt: return WalkOutcome::Invalid;
        case IntRead::Failed: return WalkOutcome::Failed;
    }
    if (node.kind() == NodeKind::Int) return WalkOutcome::Valid;
    return verdict(check_bounds(node.bounds(), static_cast<double>(value)) ==
                   BoundCheck::InBounds);
}

WalkOutcome check_float_range(const ValidatorNode& node, PyObject* object,
                              WalkContext& context) {
    if (!is_float(object)) return WalkOutcome::Invalid;
    auto value = read_f64(object);
    if (!value) return context.fail(std::move(value).take_failure());
    return verdict(check_bounds(node.bounds(), value.value()) == BoundCheck::InBounds);
}

WalkOutcome check_str(const ValidatorNode& node, PyObject* object, WalkContext& context) {
    if (!is_str(object)) return WalkOutcome::Invalid;
    auto text = utf8_view(object);
    if (!text) return context.fail(std::move(text).take_failure());
    return verdict(check_length(node.lengths(), code_points(text.value())) ==
                   LengthCheck::InBounds);
}

WalkOutcome check_items(const ValidatorNode& item, PyObject* list, WalkContext& context) {
    ListCursor cursor(list);
    OwnedRef element;
    while (cursor.next(element)) {
        WalkOutcome outcome = check_value(item, element.get(), context);
        if (outcome != WalkOutcome::Valid) return outcome;
    }
    return WalkOutcome::Valid;
}

WalkOutcome check_dict(const ValidatorNode& node, PyObject* object, WalkContext& context) {
    if (!is_dict(object)) return WalkOutcome::Invalid;
    const ValidatorNode& value_node = node.child();
    DictCursor cursor(object);
    OwnedRef key;
    OwnedRef value;
    while (cursor.next(key, value)) {
        if (!is_str(key.get())) return WalkOutcome::Invalid;
        WalkOutcome outcome = check_value(value_node, value.get(), context);
        if (outcome != WalkOutcome::Valid) return outcome;
    }
    return WalkOutcome::Valid;
}

WalkOutcome check_fields(const ValidatorNode& node, PyObject* object, WalkContext& context) {
    if (!is_dict(object)) return WalkOutcome::Invalid;
    std::span<const FieldEntry> entries = node.entries();
    // Equal sizes first: a missing field or an extra key fails before any value is read.
    if (static_cast<std::size_t>(PyDict_GET_SIZE(object)) != entries.size()) {
        return WalkOutcome::Invalid;
    }
    bool str_subclass_key = false;
    DictCursor cursor(object);
    OwnedRef key;
    OwnedRef value;
    while (cursor.next(key, value)) {
        if (!PyUnicode_CheckExact(key.get())) {
            if (!is_str(key.get())) return WalkOutcome::Invalid;
            str_subclass_key = true;
        }
        auto text = utf8_view(key.get());
        if (!text) return context.fail(std::move(text).take_failure());
        std::size_t field = find_field(entries, text.value());
        if (field == kNoField) return WalkOutcome::Invalid;
        WalkOutcome outcome = check_value(entries[field].node, value.get(), context);
        if (outcome != WalkOutcome::Valid) return outcome;
    }
    if (str_subclass_key) {
        // Exact strs with distinct keys name distinct fields; a str subclass with its
        // own equality can share its text with another key and leave a field unnamed.
        auto named = fields_named(entries, object);
        if (!named) return context.fail(std::move(named).take_failure());
        for (std::uint8_t seen : named.value()) {
            if (!seen) return WalkOutcome::Invalid;
        }
    }
    return WalkOutcome::Valid;
}

WalkOutcome check_value(const ValidatorNode& node, PyObject* object, WalkContext& context) {
    switch (node.kind()) {
        case NodeKind::Any:
            return WalkOutcome::Valid;
        case NodeKind::Bool:
            return verdict(is_bool(object));
        case NodeKind::Int:
        case NodeKind::IntRange:
        case NodeKind::IntRangeExclusive:
            return check_int(node, object, context);
        case NodeKind::Float:
            return verdict(is_float(object));
        case NodeKind::FloatRange:
        case NodeKind::FloatRangeExclusive:
            return check_float_range(node, object, context);
        case NodeKind::Str:
            return check_str(node, object, context);
        case NodeKind::List:
            if (!is_list(object)) return WalkOutcome::Invalid;
            return check_items(node.child(), object, context);
        case NodeKind::ListSized:
            if (!is_list(object)) return WalkOutcome::Invalid;
            if (check_length(node.lengths(), static_cast<std::uint64_t>(PyList_GET_SIZE(object))) !=
                LengthCheck::InBounds) {
                return WalkOutcome::Invalid;
            }
            return check_items(node.child(), object, context);
        case NodeKind::Dict:
            return check_dict(node, object, context);
        case NodeKind::Fields:
            return check_fields(node, object, context);
    }
    return WalkOutcome::Invalid;
}

}  // namespace

Result<OwnedRef> run_validate(const ValidatorNode& root, PyObject* data) {
    WalkContext context;
    switch (check_value(root, data, context)) {
        case WalkOutcome::Valid:
            return OwnedRef::borrow(data);
        case WalkOutcome::Failed:
            return std::move(*context.failure);
        default:
            return OwnedRef::borrow(Py_None);
    }
}

}  // namespace brindle
