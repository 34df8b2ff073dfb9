#include "walk/collect.h"

#include "python/access.h"
#include "python/render.h"
#include "python/text.h"
#include "walk/common.h"

namespace brindle {

namespace {

// One collect call: the list that receives the entries, and the parked failure.
struct Collector {
    PyObject* errors;  // borrowed from run_collect, which owns it
    WalkContext context;

    // Appends (path, message, value) as a new tuple. Only the append can fail as a
    // Python error; failing to make a str or tuple is a fault.
    [[gnu::noinline]] WalkOutcome record(std::string_view path, std::string_view message,
                                         PyObject* value) {
        auto path_str = OwnedRef::steal(PyUnicode_FromStringAndSize(path.data(), std::ssize(path)));
        if (!path_str) api_call_failed();
        auto message_str =
            OwnedRef::steal(PyUnicode_FromStringAndSize(message.data(), std::ssize(message)));
        if (!message_str) api_call_failed();
        auto entry = OwnedRef::steal(PyTuple_Pack(3, path_str.get(), message_str.get(), value));
        if (!entry) api_call_failed();
        if (PyList_Append(errors, entry.get()) != 0) return context.fail(Failure::fetch());
        return WalkOutcome::Invalid;
    }

    [[gnu::cold, gnu::noinline]] WalkOutcome record_bound(std::string_view path, BoundCheck check,
                                                          MessageArg value, const Bounds& bounds,
                                                          PyObject* object) {
        const char* templ = "";
        double bound = 0.0;
        switch (check) {
            case BoundCheck::BelowMin:
                templ = "Value {} is less than minimum {}";
                bound = *bounds.min;
                break;
            case BoundCheck::NotAboveMin:
                templ = "Value {} must be greater than {}";
                bound = *bounds.min;
                break;
            case BoundCheck::AboveMax:
                templ = "Value {} is greater than maximum {}";
                bound = *bounds.max;
                break;
            case BoundCheck::NotBelowMax:
                templ = "Value {} must be less than {}";
                bound = *bounds.max;
                break;
            case BoundCheck::InBounds:
                return WalkOutcome::Valid;
        }
        return record(path, view_of(format_message(templ, {value, bound})), object);
    }

    [[gnu::cold, gnu::noinline]] WalkOutcome record_length(std::string_view path,
                                                           std::string_view what, LengthCheck check,
                                                           std::uint64_t length,
                                                           const Lengths& lengths,
                                                           PyObject* object) {
        Text message = check == LengthCheck::TooShort
                           ? format_message("{} length {} is shorter than minimum length {}",
                                            {what, length, *lengths.min_len})
                           : format_message("{} length {} is longer than maximum length {}",
                                            {what, length, *lengths.max_len});
        return record(path, view_of(message), object);
    }

    WalkOutcome walk(const ValidatorNode& node, PyObject* object, std::string_view path);
    WalkOutcome walk_int(const ValidatorNode& node, PyObject* object, std::string_view path);
    WalkOutcome walk_float(const ValidatorNode& node, PyObject* object, std::string_view path);
    WalkOutcome walk_str(const ValidatorNode& node, PyObject* object, std::string_view path);
    WalkOutcome walk_list(const ValidatorNode& node, PyObject* object, std::string_view path);
    WalkOutcome walk_dict(const ValidatorNode& node, PyObject* object, std::string_view path);
    WalkOutcome walk_fields(const ValidatorNode& node, PyObject* object, std::string_view path);
};

// The path of the value under `key` of a dict at `parent`: the bare key at the root.
Text key_path(std::string_view parent, std::string_view key) {
    if (parent.empty()) return Text(key);
    return format_message("{}.{}", {parent, key});
}

Text index_path(std::string_view parent, Py_ssize_t index) {
    return format_message("{}[{}]", {parent, static_cast<std::uint64_t>(index)});
}

// Folds a child's outcome into its container's: Unsupported and failures end the
// container's walk, a violation below makes the container Invalid.
bool absorb(WalkOutcome child, WalkOutcome& container) noexcept {
    if (child == WalkOutcome::Unsupported || child == WalkOutcome::Failed) {
        container = child;
        return false;
    }
    if (child == WalkOutcome::Invalid) container = WalkOutcome::Invalid;
    return true;
}

WalkOutcome Collector::walk_int(const ValidatorNode& node, PyObject* object,
                                std::string_view path) {
    std::int64_t value = 0;
    switch (read_walk_i64(object, value, context)) {
        case IntRead::Read: break;
        case IntRead::NotInt: return record(path, "Expected int", object);
        case IntRead::Failed: return WalkOutcome::Failed;
    }
    if (node.kind() == NodeKind::Int) return WalkOutcome::Valid;
    BoundCheck check = check_bounds(node.bounds(), static_cast<double>(value));
    if (check == BoundCheck::InBounds) return WalkOutcome::Valid;
    return record_bound(path, check, MessageArg(value), node.bounds(), object);
}

WalkOutcome Collector::walk_float(const ValidatorNode& node, PyObject* object,
                                  std::string_view path) {
    if (!is_float(object)) return record(path, "Expected float", object);
    if (node.kind() == NodeKind::Float) return WalkOutcome::Valid;
    auto value = read_f64(object);
    if (!value) return context.fail(std::move(value).take_failure());
    BoundCheck check = check_bounds(node.bounds(), value.value());
    if (check == BoundCheck::InBounds) return WalkOutcome::Valid;
    return record_bound(path, check, MessageArg(value.value()), node.bounds(), object);
}

WalkOutcome Collector::walk_str(const ValidatorNode& node, PyObject* object,
                                std::string_view path) {
    if (!is_str(object)) return record(path, "Expected str", object);
    auto text = utf8_view(object);
    if (!text) return context.fail(std::move(text).take_failure());
    std::uint64_t length = code_points(text.value());
    LengthCheck check = check_length(node.lengths(), length);
    if (check == LengthCheck::InBounds) return WalkOutcome::Valid;
    return record_length(path, "String", check, length, node.lengths(), object);
}

WalkOutcome Collector::walk_list(const ValidatorNode& node, PyObject* object,
                                 std::string_view path) {
    if (!is_list(object)) {
        if (is_tuple(object)) return WalkOutcome::Unsupported;
        return record(path, "Expected list", object);
    }
    if (node.kind() == NodeKind::ListSized) {
        auto length = static_cast<std::uint64_t>(PyList_GET_SIZE(object));
        LengthCheck check = check_length(node.lengths(), length);
        if (check != LengthCheck::InBounds) {
            return record_length(path, "List", check, length, node.lengths(), object);
        }
    }
    const ValidatorNode& item = node.child();
    WalkOutcome outcome = WalkOutcome::Valid;
    ListCursor cursor(object);
    OwnedRef element;
    while (cursor.next(element)) {
        Text child_path = index_path(path, cursor.index());
        if (!absorb(walk(item, element.get(), view_of(child_path)), outcome)) break;
    }
    return outcome;
}

WalkOutcome Collector::walk_dict(const ValidatorNode& node, PyObject* object,
                                 std::string_view path) {
    if (!is_dict(object)) return record(path, "Expected dict", object);
    const ValidatorNode& value_node = node.child();
    WalkOutcome outcome = WalkOutcome::Valid;
    DictCursor cursor(object);
    OwnedRef key;
    OwnedRef value;
    while (cursor.next(key, value)) {
        if (!is_str(key.get())) return WalkOutcome::Unsupported;
        auto text = utf8_view(key.get());
        if (!text) return context.fail(std::move(text).take_failure());
        Text child_path = key_path(path, text.value());
        if (!absorb(walk(value_node, value.get(), view_of(child_path)), outcome)) break;
    }
    return outcome;
}

WalkOutcome Collector::walk_fields(const ValidatorNode& node, PyObject* object,
                                   std::string_view path) {
    if (!is_dict(object)) return record(path, "Expected dict", object);
    std::span<const FieldEntry> entries = node.entries();
    auto present = static_cast<std::size_t>(PyDict_GET_SIZE(object));
    if (present > entries.size()) return WalkOutcome::Unsupported;
    // Which fields the keys named; needed only when some field must be missing.
    NativeVector<std::uint8_t> seen;
    if (present < entries.size()) seen.assign(entries.size(), 0);
    bool str_subclass_key = false;

    WalkOutcome outcome = WalkOutcome::Valid;
    DictCursor cursor(object);
    OwnedRef key;
    OwnedRef value;
    while (cursor.next(key, value)) {
        if (!PyUnicode_CheckExact(key.get())) {
            if (!is_str(key.get())) return WalkOutcome::Unsupported;
            str_subclass_key = true;
        }
        auto text = utf8_view(key.get());
        if (!text) return context.fail(std::move(text).take_failure());
        std::size_t field = find_field(entries, text.value());
        if (field == kNoField) return WalkOutcome::Unsupported;
        if (!seen.empty()) seen[field] = 1;
        Text child_path = key_path(path, text.value());
        if (!absorb(walk(entries[field].node, value.get(), view_of(child_path)), outcome)) {
            return outcome;
        }
    }
    if (seen.empty()) {
        // With as many keys as fields, exact str keys name every field once. A str
        // subclass with its own equality can share its text with another key.
        if (!str_subclass_key) return outcome;
        auto named = fields_named(entries, object);
        if (!named) return context.fail(std::move(named).take_failure());
        seen = std::move(named).value();
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (seen[i]) continue;
        Text missing_path = key_path(path, view_of(entries[i].key));
        if (!absorb(record(view_of(missing_path), "Missing required field", Py_None), outcome)) {
            return outcome;
        }
    }
    return outcome;
}

WalkOutcome Collector::walk(const ValidatorNode& node, PyObject* object, std::string_view path) {
    switch (node.kind()) {
        case NodeKind::Any:
            return WalkOutcome::Valid;
        case NodeKind::Bool:
            if (is_bool(object)) return WalkOutcome::Valid;
            return record(path, "Expected bool", object);
        case NodeKind::Int:
        case NodeKind::IntRange:
        case NodeKind::IntRangeExclusive:
            return walk_int(node, object, path);
        case NodeKind::Float:
        case NodeKind::FloatRange:
        case NodeKind::FloatRangeExclusive:
            return walk_float(node, object, path);
        case NodeKind::Str:
            return walk_str(node, object, path);
        case NodeKind::List:
        case NodeKind::ListSized:
            return walk_list(node, object, path);
        case NodeKind::Dict:
            return walk_dict(node, object, path);
        case NodeKind::Fields:
            return walk_fields(node, object, path);
    }
    return WalkOutcome::Unsupported;
}

}  // namespace

Result<OwnedRef> run_collect(const ValidatorNode& root, PyObject* data) {
    auto errors = OwnedRef::steal(PyList_New(0));
    if (!errors) api_call_failed();
    Collector collector{errors.get(), {}};
    switch (collector.walk(root, data, "")) {
        case WalkOutcome::Failed:
            return std::move(*collector.context.failure);
        case WalkOutcome::Unsupported:
            return OwnedRef::borrow(Py_None);
        default:
            return errors;
    }
}

}  // namespace brindle
