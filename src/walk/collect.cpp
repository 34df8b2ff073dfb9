#include "walk/collect.h"

#include <optional>

#include "core/render.h"
#include "core/text.h"
#include "python/access.h"
#include "python/singleton.h"
#include "walk/check.h"
#include "walk/common.h"
#include "walk/quick.h"
#include "walk/record.h"

namespace brindle {

namespace {

// The seven messages without a number, made once and shared by every entry.
enum class Fixed : std::uint8_t { Bool, Int, Float, Str, List, Dict, Missing, Count };

// Written once under the interpreter lock and kept for the process.
PyObject* fixed_messages[static_cast<std::size_t>(Fixed::Count)] = {};

PyObject* fixed_message(Fixed which) {
    static constexpr std::string_view texts[] = {
        "Expected bool", "Expected int",  "Expected float",         "Expected str",
        "Expected list", "Expected dict", "Missing required field",
    };
    auto index = static_cast<std::size_t>(which);
    return interned_str(fixed_messages[index], texts[index]);
}

}  // namespace

void forget_fixed_messages() noexcept {
    for (PyObject*& slot : fixed_messages) slot = nullptr;
}

namespace {

// One collect call: the list that receives the entries, where the walk is, and the
// parked failure.
struct Collector {
    PyObject* errors;  // borrowed from run_collect, which owns it
    WalkContext context;

    // The way from the root to the current value: a dict key (its UTF-8 text, lent
    // by a key the walk holds or by the tree) or a list index per level. The path
    // text is only made when an entry needs it, so valid values cost no text.
    struct Segment {
        const char* key;  // null for a list index
        std::size_t size_or_index;
    };
    NativeVector<Segment> segments;
    Text path;          // reused for each entry's path
    Text message_text;  // and for each formatted message

    class Step {
    public:
        Step(Collector& collector, std::string_view key) : segments_(collector.segments) {
            segments_.push_back({key.data(), key.size()});
        }
        Step(Collector& collector, Py_ssize_t index) : segments_(collector.segments) {
            segments_.push_back({nullptr, static_cast<std::size_t>(index)});
        }
        ~Step() { segments_.pop_back(); }
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;

    private:
        NativeVector<Segment>& segments_;
    };

    // "{parent}.{key}" below a non-empty path and the bare key otherwise (so the
    // children of a root key "" get bare keys too); "{parent}[{index}]" for items.
    void make_path() {
        path.clear();
        for (const Segment& segment : segments) {
            if (segment.key != nullptr) {
                if (!path.empty()) path.push_back('.');
                path.append(segment.key, segment.size_or_index);
            } else {
                path.push_back('[');
                path.append(render_count(segment.size_or_index));
                path.push_back(']');
            }
        }
    }

    // Appends (path, message, value) as a new tuple. Only the append can fail as a
    // Python error; failing to make a str or tuple is a fault.
    [[gnu::noinline]] WalkOutcome record(OwnedRef message, PyObject* value) {
        // Making a tuple may run a collection, and with it finalizers: Python code.
        context.clock().python_may_run();
        make_path();
        auto path_str = OwnedRef::steal(new_str(view_of(path)));
        if (!path_str) api_call_failed();
        auto entry = OwnedRef::steal(PyTuple_New(3));
        if (!entry) api_call_failed();
        PyTuple_SET_ITEM(entry.get(), 0, path_str.release());
        PyTuple_SET_ITEM(entry.get(), 1, message.release());
        PyTuple_SET_ITEM(entry.get(), 2, OwnedRef::borrow(value).release());
        if (PyList_Append(errors, entry.get()) != 0) return context.fail(Failure::fetch());
        return WalkOutcome::Invalid;
    }

    WalkOutcome record(Fixed message, PyObject* value) {
        return record(OwnedRef::borrow(fixed_message(message)), value);
    }

    WalkOutcome record(std::string_view message, PyObject* value) {
        auto text = OwnedRef::steal(new_str(message));
        if (!text) api_call_failed();
        return record(std::move(text), value);
    }

    [[gnu::cold, gnu::noinline]] WalkOutcome record_bound(BoundCheck check, MessageArg value,
                                                          const BoundLimits& bounds,
                                                          PyObject* object) {
        const char* templ = "";
        double bound = 0.0;
        switch (check) {
            case BoundCheck::BelowMin:
                templ = "Value {} is less than minimum {}";
                bound = bounds.low;
                break;
            case BoundCheck::NotAboveMin:
                templ = "Value {} must be greater than {}";
                bound = bounds.low;
                break;
            case BoundCheck::AboveMax:
                templ = "Value {} is greater than maximum {}";
                bound = bounds.high;
                break;
            case BoundCheck::NotBelowMax:
                templ = "Value {} must be less than {}";
                bound = bounds.high;
                break;
            case BoundCheck::InBounds:
                return WalkOutcome::Valid;
        }
        format_message_to(message_text, templ, {value, bound});
        return record(view_of(message_text), object);
    }

    [[gnu::cold, gnu::noinline]] WalkOutcome record_length(std::string_view what,
                                                           LengthCheck check,
                                                           std::uint64_t length,
                                                           const Lengths& lengths,
                                                           PyObject* object) {
        if (check == LengthCheck::TooShort) {
            format_message_to(message_text, "{} length {} is shorter than minimum length {}",
                              {what, length, *lengths.min_len});
        } else {
            format_message_to(message_text, "{} length {} is longer than maximum length {}",
                              {what, length, *lengths.max_len});
        }
        return record(view_of(message_text), object);
    }

    WalkOutcome walk(const ValidatorNode& node, PyObject* object);
    WalkOutcome walk_root(const ValidatorNode& root, PyObject* data);
    WalkOutcome walk_int(const ValidatorNode& node, PyObject* object);
    WalkOutcome walk_float(const ValidatorNode& node, PyObject* object);
    WalkOutcome walk_str(const ValidatorNode& node, PyObject* object);
    WalkOutcome walk_list(const ValidatorNode& node, PyObject* object);
    template <NodeKind Kind>
    WalkOutcome walk_items(const ValidatorNode& item, PyObject* list);
    WalkOutcome walk_dict(const ValidatorNode& node, PyObject* object);
    WalkOutcome walk_fields(const ValidatorNode& node, PyObject* object, KeyMemo* memo);
    WalkOutcome walk_fields_rest(const ValidatorNode& node, PyObject* object, RecordStop& stop);
    template <bool WithMemo>
    WalkOutcome walk_records(const ValidatorNode& item, PyObject* list);
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
        case IntRead::NotInt: return record(Fixed::Int, object);
        case IntRead::Failed: return WalkOutcome::Failed;
    }
    if (node.kind() == NodeKind::Int) return WalkOutcome::Valid;
    BoundCheck check = check_bounds(node.bounds(), static_cast<double>(value));
    if (check == BoundCheck::InBounds) return WalkOutcome::Valid;
    return record_bound(check, MessageArg(value), node.bounds(), object);
}

WalkOutcome Collector::walk_float(const ValidatorNode& node, PyObject* object) {
    if (!is_float(object)) return record(Fixed::Float, object);
    if (node.kind() == NodeKind::Float) return WalkOutcome::Valid;
    auto value = read_f64(object);
    if (!value) return context.fail(std::move(value).take_failure());
    BoundCheck check = check_bounds(node.bounds(), value.value());
    if (check == BoundCheck::InBounds) return WalkOutcome::Valid;
    return record_bound(check, MessageArg(value.value()), node.bounds(), object);
}

WalkOutcome Collector::walk_str(const ValidatorNode& node, PyObject* object) {
    if (!is_str(object)) return record(Fixed::Str, object);
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
        return record(Fixed::List, object);
    }
    if (!context.enter()) return WalkOutcome::Failed;
    if (node.kind() == NodeKind::ListSized) {
        auto length = static_cast<std::uint64_t>(list_length(object));
        LengthCheck check = check_length(node.lengths(), length);
        if (check != LengthCheck::InBounds) {
            return record_length("List", check, length, node.lengths(), object);
        }
    }
    const ValidatorNode& item = node.child();
    return with_kind(item.kind(), [&]<NodeKind Kind>() { return walk_items<Kind>(item, object); });
}

// An item that its quick check finds valid adds no entry and runs no Python code:
// it is passed over with no path step and no reference of its own. The others take
// the full walk, in order, so the entries come as the walk would make them.
template <NodeKind Kind>
WalkOutcome Collector::walk_items(const ValidatorNode& item, PyObject* list) {
    if constexpr (Kind == NodeKind::Fields) {
        if (RecordShape(item).memoizable()) [[likely]] return walk_records<true>(item, list);
        return walk_records<false>(item, list);
    } else {
        WalkOutcome outcome = WalkOutcome::Valid;
        ListCursor cursor(list, context.clock());
        auto full = [&](PyObject* lent) {
            OwnedRef element = OwnedRef::borrow(lent);
            Step step(*this, cursor.index());
            return absorb(walk(item, element.get()), outcome);
        };
        if constexpr (kContainerKind<Kind>) {
            cursor.each_full(full);
        } else {
            const QuickSettings<Kind> settings = quick_settings<Kind>(item);
            cursor.each(
                [settings](PyObject* lent) {
                    return quick_check<Kind>(settings, lent) == Quick::Valid;
                },
                full);
        }
        return outcome;
    }
}

WalkOutcome Collector::walk_dict(const ValidatorNode& node, PyObject* object) {
    if (!is_dict(object)) return record(Fixed::Dict, object);
    if (!context.enter()) return WalkOutcome::Failed;
    const ValidatorNode& value_node = node.child();
    WalkOutcome outcome = WalkOutcome::Valid;
    DictCursor cursor(object, context.clock());
    PyObject* lent_key = nullptr;
    PyObject* lent_value = nullptr;
    while (cursor.next(lent_key, lent_value)) {
        // As a list's items: a value found valid by its quick check, under a key
        // whose text is at hand, is passed over.
        if (is_str(lent_key) && is_compact_ascii(lent_key) &&
            quick_node(value_node, lent_value) == Quick::Valid) {
            continue;
        }
        OwnedRef key = OwnedRef::borrow(lent_key);
        OwnedRef value = OwnedRef::borrow(lent_value);
        if (!is_str(key.get())) return WalkOutcome::Unsupported;
        auto text = utf8_view(key.get());
        if (!text) return context.fail(std::move(text).take_failure());
        Step step(*this, text.value());
        if (!absorb(walk(value_node, value.get()), outcome)) break;
    }
    return outcome;
}

// A record: its quick pass first, which makes no entry, takes no reference and runs
// no Python code, so a record it finds valid costs what it costs the boolean walk.
WalkOutcome Collector::walk_fields(const ValidatorNode& node, PyObject* object, KeyMemo* memo) {
    const RecordShape shape(node);
    RecordStop stop;
    Quick quick = memo != nullptr
                      ? quick_record<true>(shape, object, context.clock(), memo, stop)
                      : quick_record<false>(shape, object, context.clock(), nullptr, stop);
    if (quick == Quick::Valid) return WalkOutcome::Valid;
    return walk_fields_rest(node, object, stop);
}

// A record after its quick pass said no: from the entry that pass stopped at, with
// its cursor handed over (the entries before it were valid, each key naming the field
// at its position), or from the start where it stopped before its steps. `stop` is
// left empty for the next record's pass.
WalkOutcome Collector::walk_fields_rest(const ValidatorNode& node, PyObject* object,
                                        RecordStop& stop) {
    std::optional<DictCursor> stopped(std::move(stop.at.cursor));
    stop.at.cursor.reset();
    if (!is_dict(object)) return record(Fixed::Dict, object);
    if (!context.enter()) return WalkOutcome::Failed;
    FieldFinder fields(node);
    std::span<const FieldEntry> entries = fields.entries();
    auto present = static_cast<std::size_t>(dict_length(object));
    if (present > entries.size()) return WalkOutcome::Unsupported;
    // Which fields the keys named; needed only when some field must be missing.
    NativeVector<std::uint8_t> seen;
    if (present < entries.size()) seen.assign(entries.size(), 0);
    bool str_subclass_key = false;

    WalkOutcome outcome = WalkOutcome::Valid;
    OwnedRef key;
    OwnedRef value;
    std::optional<DictCursor> fresh;
    DictCursor* cursor = nullptr;
    bool more = false;
    // Each key before the stop named the field at its position, which is the first
    // field of its text (as a lookup finds it) even where field names repeat: an
    // earlier field of that text would have been named by an earlier key of the same
    // text, and a dict's exact str keys have distinct texts.
    if (stopped) {
        cursor = &*stopped;
        if (stop.at.index != 0) fields.matched(stop.at.index - 1);
        key = OwnedRef::borrow(stop.at.key);
        value = OwnedRef::borrow(stop.at.value);
        more = true;
    } else {
        cursor = &fresh.emplace(object, context.clock());
        more = cursor->next(key, value);
    }
    for (; more; more = cursor->next(key, value)) {
        if (!PyUnicode_CheckExact(key.get())) {
            if (!is_str(key.get())) return WalkOutcome::Unsupported;
            str_subclass_key = true;
        }
        auto text = utf8_view(key.get());
        if (!text) return context.fail(std::move(text).take_failure());
        std::size_t field =
            fields.find(text.value(), [held = key.get()] { return str_hash(held); });
        if (field == kNoField) return WalkOutcome::Unsupported;
        if (!seen.empty()) seen[field] = 1;
        if (quick_node(entries[field].node, value.get()) == Quick::Valid) continue;
        Step step(*this, text.value());
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
        Step step(*this, view_of(entries[i].key));
        if (!absorb(record(Fixed::Missing, Py_None), outcome)) return outcome;
    }
    return outcome;
}

// The records of a list: each one's quick pass runs in the list's own loop, with the
// loop's memo of key objects, and only the records it does not find valid are walked.
template <bool WithMemo>
WalkOutcome Collector::walk_records(const ValidatorNode& item, PyObject* list) {
    WalkOutcome outcome = WalkOutcome::Valid;
    ListCursor cursor(list, context.clock());
    const RecordShape shape(item);
    KeyMemo memo(context.clock());
    RecordStop stop;
    cursor.each<ListCursor::QuickLoop::Inline>(
        [&](PyObject* lent) __attribute__((always_inline)) {
            return quick_record<WithMemo>(shape, lent, context.clock(), &memo, stop) ==
                   Quick::Valid;
        },
        [&](PyObject* lent) {
            // Called right after the quick pass of the same item said no.
            OwnedRef element = OwnedRef::borrow(lent);
            Step step(*this, cursor.index());
            return absorb(walk_fields_rest(item, element.get(), stop), outcome);
        });
    return outcome;
}

WalkOutcome Collector::walk(const ValidatorNode& node, PyObject* object) {
    switch (node.kind()) {
        case NodeKind::Any:
            return WalkOutcome::Valid;
        case NodeKind::Bool:
            if (is_bool(object)) return WalkOutcome::Valid;
            return record(Fixed::Bool, object);
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
            if (!is_dict(object)) return record(Fixed::Dict, object);
            return walk_fields(node, object, nullptr);
    }
    return WalkOutcome::Unsupported;
}

// The root, which the boolean walk has just found wanting: a record goes straight to
// its full walk, as its quick pass would stop where the boolean walk did.
WalkOutcome Collector::walk_root(const ValidatorNode& root, PyObject* data) {
    if (root.kind() != NodeKind::Fields || !is_dict(data)) return walk(root, data);
    RecordStop none;
    return walk_fields_rest(root, data, none);
}

}  // namespace

Result<OwnedRef> run_collect(const ValidatorNode& root, PyObject* data) {
    auto errors = OwnedRef::steal(PyList_New(0));
    if (!errors) api_call_failed();
    // Valid data is the common case: the boolean walk answers it without a path,
    // an owned reference per item or a call per value.
    if (valid_for_collect(root, data)) return errors;
    Collector collector{errors.get(), {}, {}, {}, {}};
    collector.segments.reserve(16);
    WalkOutcome outcome = collector.walk_root(root, data);
    if (outcome == WalkOutcome::Failed) return std::move(collector.context).take_failure();
    if (outcome == WalkOutcome::Unsupported) return OwnedRef::borrow(Py_None);
    return errors;
}

}  // namespace brindle
