#include "walk/check.h"

#include <optional>

#include "python/access.h"
#include "walk/common.h"
#include "walk/quick.h"

namespace brindle {

namespace {

// Answers Valid, Invalid or Failed (the failure parked in `context`), stopping at
// the first violation. Builds no text and allocates nothing: this is the fast path.
//
// Items, keys and values are used as their containers lend them. Python code runs
// only in an __index__ of an integer read, which holds its own reference for the
// call; every use of a lent object comes before any Python code it could be
// exposed to, and each container being stepped through while Python code may run is
// held by its cursor.
WalkOutcome check_value(const ValidatorNode& node, PyObject* object, WalkContext& context);
template <NodeKind Kind>
WalkOutcome check_list(const ValidatorNode& node, PyObject* object, WalkContext& context);
WalkOutcome check_dict(const ValidatorNode& node, PyObject* object, WalkContext& context);

// Key objects that matched fields by text in earlier dicts of one list (or one
// Dict's values), by position: the dicts of a list mostly share their key objects,
// and a key found here is matched by its address. An address is only trusted while
// no Python code has run since it was written down: until then every key written
// here belongs to a dict that the walk still holds, unchanged, so none can have
// been freed and its address taken by another object. Lives in the loop's frame;
// the tree, shared between threads, holds nothing of a call.
struct KeyMemo {
    static constexpr std::size_t kSize = 16;
    std::uint32_t python_runs = 0;  // WalkContext::python_runs() when it was written
    PyObject* keys[kSize] = {};
};

// The text of a compact ASCII str, which is its UTF-8 text.
[[gnu::always_inline]] inline std::string_view ascii_text(PyObject* str) noexcept {
    // Known here; said again so that PyUnicode_DATA's own tests fold away.
    if (!PyUnicode_IS_COMPACT_ASCII(str)) __builtin_unreachable();
    return {static_cast<const char*>(PyUnicode_DATA(str)),
            static_cast<std::size_t>(PyUnicode_GET_LENGTH(str))};
}

template <bool WithMemo>
WalkOutcome check_fields(const ValidatorNode& node, PyObject* object, WalkContext& context,
                         KeyMemo* memo);

// An outcome only the in-order loop of check_fields makes and reads: the field was
// valid, and Python code ran while it was checked.
constexpr auto kPythonRan = static_cast<WalkOutcome>(4);

// One check per kind, instantiated per kind so that the loops over list items and
// dict values decide the item's kind once, not once per item. Leaves are inline;
// containers are calls.
// `settings` is the node's payload for the leaves that have settings (a copy, in the
// loops, which then stays in registers across the items) and the node itself
// otherwise.
template <NodeKind Kind, class Settings>
[[gnu::always_inline]] inline WalkOutcome check_kind(const ValidatorNode& node,
                                                     const Settings& settings, PyObject* object,
                                                     WalkContext& context) {
    if constexpr (Kind == NodeKind::Any) {
        return WalkOutcome::Valid;
    } else if constexpr (Kind == NodeKind::Bool) {
        return verdict(is_bool(object));
    } else if constexpr (kIntKind<Kind>) {
        std::int64_t value;
        switch (read_walk_i64(object, value, context)) {
            case IntRead::Read: break;
            case IntRead::NotInt: return WalkOutcome::Invalid;
            case IntRead::Failed: return context.failed();
        }
        if constexpr (Kind == NodeKind::Int) {
            return WalkOutcome::Valid;
        } else {
            return verdict(in_bounds<Kind == NodeKind::IntRangeExclusive>(
                settings, static_cast<double>(value)));
        }
    } else if constexpr (Kind == NodeKind::Float) {
        return verdict(is_float(object));
    } else if constexpr (Kind == NodeKind::FloatRange || Kind == NodeKind::FloatRangeExclusive) {
        double value;
        if (PyFloat_CheckExact(object)) {
            value = PyFloat_AS_DOUBLE(object);
        } else {
            if (!is_float(object)) return WalkOutcome::Invalid;
            auto read = read_f64(object);
            if (!read) return context.fail(std::move(read).take_failure());
            value = read.value();
        }
        return verdict(
            in_bounds<Kind == NodeKind::FloatRangeExclusive>(settings, value));
    } else if constexpr (Kind == NodeKind::Str) {
        if (!is_str(object)) return WalkOutcome::Invalid;
        if (PyUnicode_IS_COMPACT_ASCII(object)) [[likely]] {
            return verdict(length_within(settings,
                                         static_cast<std::uint64_t>(PyUnicode_GET_LENGTH(object))));
        }
        auto length = str_code_points(object);
        if (!length) return context.fail(std::move(length).take_failure());
        return verdict(length_within(settings, length.value()));
    } else if constexpr (Kind == NodeKind::List || Kind == NodeKind::ListSized) {
        return check_list<Kind>(node, object, context);
    } else if constexpr (Kind == NodeKind::Dict) {
        return check_dict(node, object, context);
    } else {
        static_assert(Kind == NodeKind::Fields, "every kind has a check");
        return check_fields<false>(node, object, context, nullptr);
    }
}

// One item of a list or value of a Dict: dicts of fields match their keys through
// the loop's memo.
template <NodeKind Kind, class Settings>
[[gnu::always_inline]] inline WalkOutcome check_item(const ValidatorNode& node,
                                                     const Settings& settings, PyObject* object,
                                                     WalkContext& context, KeyMemo& memo) {
    if constexpr (Kind == NodeKind::Fields) {
        return check_fields<true>(node, object, context, &memo);
    } else {
        return check_kind<Kind>(node, settings, object, context);
    }
}

// The items of a list from `from` on, each with its full check. Until an item runs
// Python code the list is as it was: its items are read by index, with no cursor
// state kept in memory. Where items may run Python code, which could drop every
// other reference to the list, the cursor holds it from the start (no Python code
// has run before this call); elsewhere the list's holder outlives the loop.
template <NodeKind Kind>
[[gnu::noinline]] WalkOutcome check_items_from(const ValidatorNode& item, PyObject* list,
                                               WalkContext& context, Py_ssize_t from) {
    std::optional<ListCursor> cursor;
    if constexpr (kMayRunPython<Kind>) cursor.emplace(list);
    const std::uint32_t runs = context.python_runs();
    KeyMemo memo{runs};
    return with_local_settings<Kind>(item, [&](const auto& settings) {
        const Py_ssize_t size = PyList_GET_SIZE(list);
        PyObject* const* const items = reinterpret_cast<PyListObject*>(list)->ob_item;
        Py_ssize_t index = from;
        while (index < size) {
            PyObject* element = items[index];
            if (element == nullptr) api_call_failed();
            ++index;
            WalkOutcome outcome;
            if (quick_check<Kind>(settings, element, outcome)) [[likely]] {
                if (outcome != WalkOutcome::Valid) [[unlikely]] return outcome;
                continue;
            }
            outcome = check_item<Kind>(item, settings, element, context, memo);
            if (outcome != WalkOutcome::Valid) [[unlikely]] return outcome;
            if constexpr (kMayRunPython<Kind>) {
                if (context.python_runs() != runs) [[unlikely]] break;
            }
        }
        if constexpr (kMayRunPython<Kind>) {
            if (index != size) {
                // Python code has run: the cursor's checked steps take over after this item.
                cursor->skip(index);
                while (PyObject* element = cursor->next_borrowed()) {
                    WalkOutcome outcome = check_item<Kind>(item, settings, element, context, memo);
                    if (outcome != WalkOutcome::Valid) [[unlikely]] return outcome;
                }
            }
        }
        return WalkOutcome::Valid;
    });
}

WalkOutcome check_records_of(const ValidatorNode& record, PyObject* list, WalkContext& context);

// A list's items: first by their quick checks, in a loop that makes no call and so
// keeps its state in the registers a call would spoil, with nothing to save; the
// first item that needs its full check hands the rest of the list on. Records have a
// loop of their own (check_records_of) where the memo can serve them all.
template <NodeKind Kind>
[[gnu::noinline]] WalkOutcome check_items_of(const ValidatorNode& item, PyObject* list,
                                             WalkContext& context) {
    if constexpr (Kind == NodeKind::Fields) {
        if (item.field_index().distinct() && item.entries().size() <= KeyMemo::kSize) [[likely]] {
            return check_records_of(item, list, context);
        }
        return check_items_from<Kind>(item, list, context, 0);
    } else if constexpr (kHasQuickCheck<Kind>) {
        const Py_ssize_t size = PyList_GET_SIZE(list);
        PyObject* const* const items = reinterpret_cast<PyListObject*>(list)->ob_item;
        return with_local_settings<Kind>(item, [&](const auto& settings) {
            for (Py_ssize_t index = 0; index < size; ++index) {
                PyObject* element = items[index];
                // One test on the common path: Unsupported stands for "needs the
                // full check" here, an outcome the boolean walk has no other use for.
                WalkOutcome outcome = WalkOutcome::Unsupported;
                if (element != nullptr && !quick_check<Kind>(settings, element, outcome)) {
                    outcome = WalkOutcome::Unsupported;
                }
                if (outcome != WalkOutcome::Valid) [[unlikely]] {
                    if (outcome != WalkOutcome::Unsupported) return outcome;
                    return check_items_from<Kind>(item, list, context, index);
                }
            }
            return WalkOutcome::Valid;
        });
    } else {
        return check_items_from<Kind>(item, list, context, 0);
    }
}

template <NodeKind Kind>
WalkOutcome check_values_of(const ValidatorNode& value_node, PyObject* dict,
                            WalkContext& context) {
    DictCursor cursor(dict);
    const bool first_pass = context.first_pass();
    const std::uint32_t runs = context.python_runs();
    KeyMemo memo{runs};
    return with_local_settings<Kind>(value_node, [&](const auto& settings) {
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (context.python_runs() == runs ? cursor.next_unchanged(key, value)
                                             : cursor.next_borrowed(key, value)) {
            // The key's text is never read here: only its type matters.
            if (!is_str(key)) return WalkOutcome::Invalid;
            if (first_pass && !PyUnicode_IS_COMPACT_ASCII(key)) [[unlikely]] {
                // The collecting walk reads every key's text, which can fail.
                auto text = utf8_view(key);
                if (!text) return context.fail(std::move(text).take_failure());
            }
            WalkOutcome outcome = check_item<Kind>(value_node, settings, value, context, memo);
            if (outcome != WalkOutcome::Valid) [[unlikely]] return outcome;
        }
        return WalkOutcome::Valid;
    });
}

// Runs Loop<Kind> for the kind of `node`, decided once.
template <template <NodeKind> class Loop>
WalkOutcome by_item_kind(const ValidatorNode& node, PyObject* container, WalkContext& context) {
    return with_kind(node.kind(), [&]<NodeKind Kind>() {
        return Loop<Kind>::run(node, container, context);
    });
}

template <NodeKind Kind>
struct ItemsLoop {
    static WalkOutcome run(const ValidatorNode& item, PyObject* list, WalkContext& context) {
        return check_items_of<Kind>(item, list, context);
    }
};

template <NodeKind Kind>
struct ValuesLoop {
    static WalkOutcome run(const ValidatorNode& value, PyObject* dict, WalkContext& context) {
        return check_values_of<Kind>(value, dict, context);
    }
};

// The kind switch with every leaf inline; containers are calls. Inlined into the
// loop over a record's fields, whose values differ in kind from field to field.
[[gnu::always_inline]] inline WalkOutcome dispatch(const ValidatorNode& node, PyObject* object,
                                                   WalkContext& context) {
    return with_kind(node.kind(), [&]<NodeKind Kind>() __attribute__((always_inline)) {
        return check_kind<Kind>(node, settings_of<Kind>(node), object, context);
    });
}

// Inline wherever a list is met: what it does before the loop is a few tests, and
// the loop, one call per item kind, takes the call.
template <NodeKind Kind>
[[gnu::always_inline]] inline WalkOutcome check_list(const ValidatorNode& node, PyObject* object,
                                                     WalkContext& context) {
    if (!is_list(object)) return WalkOutcome::Invalid;
    if (!context.enter()) return context.failed();
    const Branch& branch = node.payload<Kind>();
    if constexpr (Kind == NodeKind::ListSized) {
        if (!length_within(branch.lengths, static_cast<std::uint64_t>(PyList_GET_SIZE(object)))) {
            return WalkOutcome::Invalid;
        }
    }
    return by_item_kind<ItemsLoop>(*branch.child, object, context);
}

[[gnu::noinline]] WalkOutcome check_dict(const ValidatorNode& node, PyObject* object,
                                         WalkContext& context) {
    if (!is_dict(object)) return WalkOutcome::Invalid;
    if (!context.enter()) return context.failed();
    return by_item_kind<ValuesLoop>(node.child(), object, context);
}

// Where the quick pass over a dict's entries stopped, for the full pass to go on from.
struct FieldsProgress {
    Py_ssize_t dict_position = 0;  // PyDict_Next's position after the entries taken
    std::size_t position = 0;      // the entries settled, in schema order
    PyObject* key = nullptr;       // the entry taken but not settled, when `taken`
    PyObject* value = nullptr;
    bool taken = false;
    bool key_matched = false;      // the taken key names the field at `position`
};

template <bool WithMemo>
WalkOutcome check_fields_rest(const ValidatorNode& node, PyObject* object, WalkContext& context,
                              KeyMemo* memo, FieldsProgress& progress);

// Which of a dict's entries the quick pass matches through a loop's key memo: none
// (a lone dict), the first KeyMemo::kSize, or all of them (no more than that).
enum class ByMemo : std::uint8_t { None, Leading, All };

// The quick pass over a dict whose size is the schema's and whose field names are
// distinct: Valid or Invalid, the dict's outcome, or Unsupported with `progress`
// telling the full pass where to go on.
//
// Entries mostly come in schema order, and most values need no call: each key is
// first compared with the field at its position alone, its value given its quick
// check, with none of the cursor's checks. In the dicts of one list, which mostly
// hold the same key objects, a key that is the memo's object at its position needs
// no text; an exact str whose text matches becomes the memo's (distinct names: its
// text alone decides the field, whichever dict it is met in). No Python code runs
// in this pass, so the dict, alive when it began, needs no reference of its own, and
// nothing here recurses. The first entry that needs more is left to the full pass.
template <ByMemo Memo>
[[gnu::always_inline]] inline WalkOutcome quick_fields(std::span<const FieldEntry> entries,
                                                       PyObject* object, KeyMemo* memo,
                                                       FieldsProgress& progress) {
    const std::size_t size = entries.size();
    // Locals, not the progress's members: those have their address taken, and would
    // be read back from memory after every call.
    Py_ssize_t dict_position = 0;
    PyObject* key;
    PyObject* value;
    std::size_t position = 0;
    // Whether the pass stopped at a key that names the field at `position`, whose
    // value needs its full check.
    bool key_matched = false;
    auto step = [&]<bool Memoized>() __attribute__((always_inline)) {
        PyDict_Next(object, &dict_position, &key, &value);
        const FieldEntry& entry = entries[position];
        if (Memoized && memo->keys[position] == key) [[likely]] {
            // the very key object that matched this field by text before
        } else if (Py_IS_TYPE(key, &PyUnicode_Type) && PyUnicode_IS_COMPACT_ASCII(key) &&
                   same_text(entry.key, ascii_text(key))) {
            if (Memoized) memo->keys[position] = key;
        } else {
            return WalkOutcome::Unsupported;
        }
        WalkOutcome outcome = quick_value(entry.node, value);
        if (outcome == WalkOutcome::Unsupported) [[unlikely]] {
            key_matched = true;
        } else {
            ++position;
        }
        return outcome;
    };
    WalkOutcome outcome = WalkOutcome::Valid;
    if constexpr (Memo == ByMemo::All) {
        while (position < size &&
               (outcome = step.template operator()<true>()) == WalkOutcome::Valid) {
        }
    } else {
        if constexpr (Memo == ByMemo::Leading) {
            while (position < KeyMemo::kSize &&
                   (outcome = step.template operator()<true>()) == WalkOutcome::Valid) {
            }
        }
        while (outcome == WalkOutcome::Valid && position < size &&
               (outcome = step.template operator()<false>()) == WalkOutcome::Valid) {
        }
    }
    // Every entry taken, each an exact str: nothing is left to check.
    if (outcome != WalkOutcome::Unsupported) [[likely]] return outcome;
    progress = FieldsProgress{dict_position, position, key, value, true, key_matched};
    return outcome;
}

// With `WithMemo`, `memo` is the memo of the loop that the dict is an item of;
// lone dicts are a separate instantiation that pays nothing for it.
template <bool WithMemo>
[[gnu::noinline]] WalkOutcome check_fields(const ValidatorNode& node, PyObject* object,
                                           WalkContext& context, KeyMemo* memo) {
    if (!is_dict(object)) return WalkOutcome::Invalid;
    const std::span<const FieldEntry> entries = node.entries();
    // Equal sizes first: a missing field or an extra key fails before any value is read.
    const std::size_t size = entries.size();
    if (static_cast<std::size_t>(PyDict_GET_SIZE(object)) != size) return WalkOutcome::Invalid;
    // The memo's keys are only trusted while no Python code has run since they were
    // written; only these passes write to it.
    if (WithMemo && memo->python_runs != context.python_runs()) [[unlikely]] {
        *memo = KeyMemo{context.python_runs()};
    }
    if (!node.field_index().distinct()) [[unlikely]] {
        FieldsProgress none;
        return check_fields_rest<WithMemo>(node, object, context, memo, none);
    }
    FieldsProgress progress;
    WalkOutcome outcome;
    if (WithMemo && size <= KeyMemo::kSize) [[likely]] {
        outcome = quick_fields<ByMemo::All>(entries, object, memo, progress);
    } else {
        outcome = quick_fields<WithMemo ? ByMemo::Leading : ByMemo::None>(entries, object, memo,
                                                                         progress);
    }
    if (outcome != WalkOutcome::Unsupported) [[likely]] return outcome;
    return check_fields_rest<WithMemo>(node, object, context, memo, progress);
}

// The dicts of a list, of a schema with distinct field names, no more of them than
// the memo holds: each dict's quick pass runs in this loop, with the memo in its
// frame. The list is held only once a dict needs its full pass, which may run
// Python code; after Python code has run, the rest of the list goes to the loop
// that steps with the cursor's checks.
[[gnu::noinline]] WalkOutcome check_records_of(const ValidatorNode& record, PyObject* list,
                                               WalkContext& context) {
    const std::uint32_t runs = context.python_runs();
    KeyMemo memo{runs};
    const std::span<const FieldEntry> entries = record.entries();
    const Py_ssize_t count = PyList_GET_SIZE(list);
    PyObject* const* const items = reinterpret_cast<PyListObject*>(list)->ob_item;
    OwnedRef held;
    for (Py_ssize_t index = 0; index < count; ++index) {
        PyObject* element = items[index];
        if (element == nullptr) api_call_failed();
        if (!is_dict(element)) return WalkOutcome::Invalid;
        if (static_cast<std::size_t>(PyDict_GET_SIZE(element)) != entries.size()) {
            return WalkOutcome::Invalid;
        }
        FieldsProgress progress;
        WalkOutcome outcome = quick_fields<ByMemo::All>(entries, element, &memo, progress);
        if (outcome == WalkOutcome::Valid) [[likely]] continue;
        if (outcome != WalkOutcome::Unsupported) return outcome;
        if (!held) held = OwnedRef::borrow(list);
        outcome = check_fields_rest<true>(record, element, context, &memo, progress);
        if (outcome != WalkOutcome::Valid) return outcome;
        if (context.python_runs() != runs) [[unlikely]] {
            return check_items_from<NodeKind::Fields>(record, list, context, index + 1);
        }
    }
    return WalkOutcome::Valid;
}

// The entries the quick pass left: the one it stopped at, then the others in schema
// order by the same tests with each value's full check, then any out of order by
// text. The cursor's checks come in once Python code has run.
template <bool WithMemo>
[[gnu::noinline]] WalkOutcome check_fields_rest(const ValidatorNode& node, PyObject* object,
                                                WalkContext& context, KeyMemo* memo,
                                                FieldsProgress& progress) {
    if (!context.enter()) return context.failed();
    const std::span<const FieldEntry> entries = node.entries();
    // The dict is held from here on: the values' checks may run Python code, which
    // could drop every other reference to it.
    DictCursor cursor(object);
    cursor.resume_unchanged(progress.dict_position);
    const std::uint32_t runs = context.python_runs();
    PyObject* key = progress.key;
    PyObject* value = progress.value;
    std::size_t position = progress.position;
    bool taken = progress.taken;  // key and value hold an entry not yet settled
    if (node.field_index().distinct()) [[likely]] {
        const std::size_t size = entries.size();
        // One entry whose key names the field at `position`: Next, or Stop (Python
        // code ran: the entries left go to the loop below), or Done (the outcome is
        // the dict's).
        enum class Step : std::uint8_t { Next, Stop, Done };
        WalkOutcome outcome = WalkOutcome::Valid;
        auto settle = [&]() __attribute__((always_inline)) {
            const ValidatorNode& field = entries[position].node;
            ++position;
            // kPythonRan: valid, after Python code ran, which ends this loop.
            outcome = with_kind(field.kind(), [&]<NodeKind Kind>() {
                WalkOutcome checked =
                    check_kind<Kind>(field, settings_of<Kind>(field), value, context);
                if constexpr (kMayRunPython<Kind>) {
                    if (checked == WalkOutcome::Valid && context.python_runs() != runs)
                        [[unlikely]] {
                        return kPythonRan;
                    }
                }
                return checked;
            });
            if (outcome == WalkOutcome::Valid) [[likely]] return Step::Next;
            return outcome == kPythonRan ? Step::Stop : Step::Done;
        };
        Step last = Step::Next;
        if (taken && progress.key_matched) {
            taken = false;
            last = settle();
        }
        while (last == Step::Next && !taken && position < size) {
            cursor.step_unchanged(key, value);
            if ((WithMemo && position < KeyMemo::kSize && memo->keys[position] == key) ||
                (Py_IS_TYPE(key, &PyUnicode_Type) && PyUnicode_IS_COMPACT_ASCII(key) &&
                 same_text(entries[position].key, ascii_text(key)))) {
                if (WithMemo && position < KeyMemo::kSize) memo->keys[position] = key;
                last = settle();
            } else {
                taken = true;
            }
        }
        if (last == Step::Done) return outcome;
        if (last == Step::Next && !taken) return WalkOutcome::Valid;
        cursor.took_unchanged(static_cast<Py_ssize_t>(position) + (taken ? 1 : 0));
    }
    // The entries the in-order loops did not settle: looked up by text, with the
    // cursor's checks once Python code has run.
    FieldFinder fields(node);
    if (position != 0) fields.matched(position - 1);
    bool str_subclass_key = false;
    for (;;) {
        const bool unchanged = context.python_runs() == runs;
        if (taken) {
            taken = false;
        } else if (!(unchanged ? cursor.next_unchanged(key, value)
                               : cursor.next_borrowed(key, value))) {
            break;
        }
        std::size_t field;
        if (WithMemo && unchanged && position < KeyMemo::kSize && memo->keys[position] == key)
            [[likely]] {
            // The very key object that matched this field by text before.
            field = position;
            fields.matched(field);
        } else {
            std::string_view text;
            if (Py_IS_TYPE(key, &PyUnicode_Type) && PyUnicode_IS_COMPACT_ASCII(key)) [[likely]] {
                text = ascii_text(key);
            } else {
                if (!is_str(key)) return WalkOutcome::Invalid;
                str_subclass_key |= !PyUnicode_CheckExact(key);
                auto view = utf8_view(key);
                if (!view) return context.fail(std::move(view).take_failure());
                text = view.value();
            }
            field = fields.find(text, [key] { return str_hash(key); });
            if (field == kNoField) return WalkOutcome::Invalid;
            // Only an exact str among distinct field names: its text alone then
            // decides the field, whichever dict it is met in.
            if (WithMemo && unchanged && field == position && position < KeyMemo::kSize &&
                PyUnicode_CheckExact(key) && fields.distinct()) {
                memo->keys[position] = key;
            }
        }
        ++position;
        WalkOutcome outcome = dispatch(fields.entries()[field].node, value, context);
        if (outcome != WalkOutcome::Valid) return outcome;
    }
    if (str_subclass_key) {
        // Exact strs with distinct keys name distinct fields; a str subclass with its
        // own equality can share its text with another key and leave a field unnamed.
        auto named = fields_named(fields.entries(), object);
        if (!named) return context.fail(std::move(named).take_failure());
        for (std::uint8_t seen : named.value()) {
            if (!seen) return WalkOutcome::Invalid;
        }
    }
    return WalkOutcome::Valid;
}

WalkOutcome check_value(const ValidatorNode& node, PyObject* object, WalkContext& context) {
    return dispatch(node, object, context);
}

}  // namespace

Result<OwnedRef> run_validate(const ValidatorNode& root, PyObject* data) {
    WalkContext context;
    WalkOutcome outcome = check_value(root, data, context);
    if (WalkContext::is_failed(outcome)) return std::move(context).take_failure();
    return OwnedRef::borrow(outcome == WalkOutcome::Valid ? data : Py_None);
}

bool valid_for_collect(const ValidatorNode& root, PyObject* data) {
    WalkContext context(WalkContext::FirstPass{});
    return check_value(root, data, context) == WalkOutcome::Valid;
}

}  // namespace brindle
