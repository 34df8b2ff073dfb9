#include "walk/collect.h"

#include "python/access.h"
#include "python/render.h"
#include "python/text.h"
#include "walk/common.h"

namespace brindle {

namespace {

// One collect call: the list that receives the entries, the path of the value
// being walked, and the parked failure.
struct Collector {
    PyObject* errors;  // borrowed from run_collect, which owns it
    WalkContext context;
    // The path of the current value. A child's path is appended before its walk and
    // cut off after it, so that paths cost no allocation once the buffer has grown.
    Text path;

    // Extends the path by a dict key or list index for one child's walk.
    class Step {
    public:
        Step(Text& buffer, std::string_view key) : path_(buffer), mark_(buffer.size()) {
            // The bare key at the root, "{parent}.{key}" below it.
            if (mark_ != 0) path_.push_back('.');
            path_.append(key);
        }
        Step(Text& buffer, Py_ssize_t index) : path_(buffer), mark_(buffer.size()) {
            path_.push_back('[');
            path_.append(render_count(static_cast<std::uint64_t>(index)));
            path_.push_back(']');
        }
        ~Step() { path_.resize(mark_); }
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;

    private:
        Text& path_;
        std::size_t mark_;
    };

    // Appends (path, message, value) as a new tuple. Only the append can fail as a
    // Python error; failing to make a str or tuple is a fault.
    [[gnu::noinline]] WalkOutcome record(std::string_view message, PyObject* value) {
        auto path_str = OwnedRef::steal(PyUnicode_FromStringAndSize(path.data(), std::ssize(path)));
        if (!path_str) api_call_failed();
        auto message_str =
            OwnedRef::steal(PyUnicode_FromStringAndSize(message.data(), std::ssize(message)));
        if (!message_str) api_call_failed();
        auto entry = OwnedRef::steal(PyTuple_New(3));
        if (!entry) api_call_failed();
        PyTuple_SET_ITEM(entry.get(), 0, path_str.release());
        PyTuple_SET_ITEM(entry.get(), 1, message_str.release());
        PyTuple_SET_ITEM(entry.get(), 2, OwnedRef::borrow(value).release());
        if (PyList_Append(errors, entry.get()) != 0) return context.fail(Failure::fetch());
        return WalkOutcome::Invalid;
    }

    [[gnu::cold, gnu::noinline]] WalkOutcome record_bound(BoundCheck check,
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
        return record(view_of(format_message(templ, {value, bound})), object);
    }

    [[gnu::cold, gnu::noinline]] WalkOutcome record_length(std::string_view what,
                                                           LengthCheck check,
                                                           std::uint64_t length,
                                                           const Lengths& lengths,
                                                           PyObject* object) {
        Text message = check == LengthCheck::TooShort
                           ? format_message("{} length {} is shorter than minimum length {}",
                                            {what, length, *lengths.min_len})
                           : format_message("{} length {} is longer than maximum length {}",
                                            {what, length, *lengths.max_len});
        return record(view_of(message), object);
    }

    WalkOutcome walk(const ValidatorNode& node, PyObject* object);
    WalkOutcome walk_int(const ValidatorNode& node, PyObject* object);
    WalkOutcome walk_float(const ValidatorNode& node, PyObject* object);
    WalkOutcome walk_str(const ValidatorNode& node, PyObject* object);
    WalkOutcome walk_list(const ValidatorNode& node, PyObject* object);
    WalkOutcome walk_dict(const ValidatorNode& node, PyObject* object);
    WalkOutcome walk_fields(const ValidatorNode& node, PyObject* object);
};

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

WalkOutcome Collector::walk_int(const ValidatorNode& node, PyObject* object) {
    std::int64_t value = 0;
    switch (read_walk_i64(object, value, context)) {
        case IntRead::Read: break;
        case IntRead::NotInt: return record("Expected int", object);
        case IntRead::Failed: return WalkOutcome::Failed;
    }
    if (node.kind() == NodeKind::Int) return WalkOutcome::Valid;
    BoundCheck check = check_bounds(node.bounds(), static_cast<double>(value));
    if (check == BoundCheck::InBounds) return WalkOutcome::Valid;
    return record_bound(check, MessageArg(value), node.bounds(), object);
}

WalkOutcome Collector::walk_float(const ValidatorNode& node, PyObject* object) {
    if (!is_float(object)) return record("Expected float", object);
    if (node.kind() == NodeKind::Float) return WalkOutcome::Valid;
    auto value = read_f64(object);
    if (!value) return context.fail(std::move(value).take_failure());
    BoundCheck check = check_bounds(node.bounds(), value.value());
    if (check == BoundCheck::InBounds) return WalkOutcome::Valid;
    return record_bound(check, MessageArg(value.value()), node.bounds(), object);
}

WalkOutcome Collector::walk_str(const ValidatorNode& node, PyObject* object) {
    if (!is_str(object)) return record("Expected str", object);
    auto counted = str_code_points(object);
    if (!counted) return context.fail(std::move(counted).take_failure());
    std::uint64_t length = counted.value();
    LengthCheck check = check_length(node.lengths(), length);
    if (check == LengthCheck::InBounds) return WalkOutcome::Valid;
    return record_length("String", check, length, node.lengths(), object);
}

WalkOutcome Collector::walk_list(const ValidatorNode& node, PyObject* object) {
    if (!is_list(object)) {
        if (is_tuple(object)) return WalkOutcome::Unsupported;
        return record("Expected list", object);
    }
    if (!context.enter()) return WalkOutcome::Failed;
    if (node.kind() == NodeKind::ListSized) {
        auto length = static_cast<std::uint64_t>(PyList_GET_SIZE(object));
        LengthCheck check = check_length(node.lengths(), length);
        if (check != LengthCheck::InBounds) {
            return record_length("List", check, length, node.lengths(), object);
        }
    }
    const ValidatorNode& item = node.child();
    WalkOutcome outcome = WalkOutcome::Valid;
    ListCursor cursor(object);
    OwnedRef element;
    while (cursor.next(element)) {
        Step step(path, cursor.index());
        if (!absorb(walk(item, element.get()), outcome)) break;
    }
    return outcome;
}

WalkOutcome Collector::walk_dict(const ValidatorNode& node, PyObject* object) {
    if (!is_dict(object)) return record("Expected dict", object);
    if (!context.enter()) return WalkOutcome::Failed;
    const ValidatorNode& value_node = node.child();
    WalkOutcome outcome = WalkOutcome::Valid;
    DictCursor cursor(object);
    OwnedRef key;
    OwnedRef value;
    while (cursor.next(key, value)) {
        if (!is_str(key.get())) return WalkOutcome::Unsupported;
        auto text = utf8_view(key.get());
        if (!text) return context.fail(std::move(text).take_failure());
        Step step(path, text.value());
        if (!absorb(walk(value_node, value.get()), outcome)) break;
    }
    return outcome;
}

WalkOutcome Collector::walk_fields(const ValidatorNode& node, PyObject* object) {
    if (!is_dict(object)) return record("Expected dict", object);
    if (!context.enter()) return WalkOutcome::Failed;
    FieldFinder fields(node);
    std::span<const FieldEntry> entries = fields.entries();
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
        std::size_t field = fields.find(key.get(), text.value());
        if (field == kNoField) return WalkOutcome::Unsupported;
        if (!seen.empty()) seen[field] = 1;
        Step step(path, text.value());
        if (!absorb(walk(entries[field].node, value.get()), outcome)) return outcome;
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
        Step step(path, view_of(entries[i].key));
        if (!absorb(record("Missing required field", Py_None), outcome)) return outcome;
    }
    return outcome;
}

WalkOutcome Collector::walk(const ValidatorNode& node, PyObject* object) {
    switch (node.kind()) {
        case NodeKind::Any:
            return WalkOutcome::Valid;
        case NodeKind::Bool:
            if (is_bool(object)) return WalkOutcome::Valid;
            return record("Expected bool", object);
        case NodeKind::Int:
        case NodeKind::IntRange:
        case NodeKind::IntRangeExclusive:
            return walk_int(node, object);
        case NodeKind::Float:
        case NodeKind::FloatRange:
        case NodeKind::FloatRangeExclusive:
            return walk_float(node, object);
        case NodeKind::Str:
            return walk_str(node, object);
        case NodeKind::List:
        case NodeKind::ListSized:
            return walk_list(node, object);
        case NodeKind::Dict:
            return walk_dict(node, object);
        case NodeKind::Fields:
            return walk_fields(node, object);
    }
    return WalkOutcome::Unsupported;
}

}  // namespace

Result<OwnedRef> run_collect(const ValidatorNode& root, PyObject* data) {
    auto errors = OwnedRef::steal(PyList_New(0));
    if (!errors) api_call_failed();
    Collector collector{errors.get(), {}, {}};
    switch (collector.walk(root, data)) {
        case WalkOutcome::Failed:
            return std::move(*collector.context.failure);
        case WalkOutcome::Unsupported:
            return OwnedRef::borrow(Py_None);
        default:
            return errors;
    }
}

}  // namespace brindle
