#include "walk/check.h"

#include <algorithm>
#include <optional>

#include "python/access.h"
#include "python/cursor.h"
#include "walk/common.h"
#include "walk/quick.h"
#include "walk/record.h"

namespace brindle {

namespace {

// The boolean walk: Valid, Invalid or Failed (the failure parked in the context),
// stopping at the first violation. Builds no text and allocates nothing.
//
// Rules of the walk (the cursors' own are in python/cursor.h):
// - Python code runs in this walk only where the context's clock is moved first: an
//   __index__ called by an integer read, and whatever an exception made by the
//   interpreter brings with it (a failed read; every other failure ends the walk).
//   Nothing else here calls out to code that can run Python code.
// - Every value is first given its quick check (walk/quick.h), which calls nothing;
//   only a value it cannot answer for gets its full check, which may.
// - Objects lent by a container are used only until Python code may run, unless
//   held: an integer read holds the value it hands to __index__; a list, dict or
//   record is held by its cursor before any of its values gets a full check.
// - A memo of key objects (KeyMemo) is trusted only while the clock stands since it
//   was written: Python code could free a key and leave its address to another.

WalkOutcome check_value(const ValidatorNode& node, PyObject* object, WalkContext& context);
template <NodeKind Kind>
WalkOutcome check_list(const ValidatorNode& node, PyObject* object, WalkContext& context);
WalkOutcome check_dict(const ValidatorNode& node, PyObject* object, WalkContext& context);
[[gnu::noinline]] WalkOutcome check_lone_record(const ValidatorNode& node, PyObject* object,
                                                WalkContext& context);

WalkOutcome verdict(bool valid) noexcept { return valid ? WalkOutcome::Valid : WalkOutcome::Invalid; }

// The full check of a leaf whose quick check could not answer: subclasses, ints
// beyond a quick read or read through __index__, non-ASCII strs.
template <NodeKind Kind>
[[gnu::noinline]] WalkOutcome check_leaf(const ValidatorNode& node, PyObject* object,
                                         WalkContext& context) {
    if constexpr (kIntKind<Kind>) {
        std::int64_t value;
        switch (read_walk_i64(object, value, context)) {
            case IntRead::Read: break;
            case IntRead::NotInt: return WalkOutcome::Invalid;
            case IntRead::Failed: return WalkOutcome::Failed;
        }
        if constexpr (Kind == NodeKind::Int) {
            return WalkOutcome::Valid;
        } else {
            return verdict(in_bounds<Kind == NodeKind::IntRangeExclusive>(
                node.payload<Kind>(), static_cast<double>(value)));
        }
    } else if constexpr (Kind == NodeKind::Float) {
        return verdict(is_float(object));
    } else if constexpr (Kind == NodeKind::FloatRange || Kind == NodeKind::FloatRangeExclusive) {
        if (!is_float(object)) return WalkOutcome::Invalid;
        auto read = read_f64(object);
        if (!read) return context.fail(std::move(read).take_failure());
        return verdict(
            in_bounds<Kind == NodeKind::FloatRangeExclusive>(node.payload<Kind>(), read.value()));
    } else if constexpr (Kind == NodeKind::Str) {
        if (!is_str(object)) return WalkOutcome::Invalid;
        auto length = str_code_points(object);
        if (!length) return context.fail(std::move(length).take_failure());
        return verdict(LengthLimits(node.payload<Kind>()).within(length.value()));
    } else {
        // Any and Bool: the quick check always answers.
        static_assert(Kind == NodeKind::Any || Kind == NodeKind::Bool);
        return quick_check<Kind>({}, object) == Quick::Valid ? WalkOutcome::Valid
                                                             : WalkOutcome::Invalid;
    }
}

// One value against a node of `Kind`, with the quick settings the caller keeps.
// Leaves are inline; containers are calls.
template <NodeKind Kind>
[[gnu::always_inline]] inline WalkOutcome check_kind(const ValidatorNode& node,
                                                     const QuickSettings<Kind>& settings,
                                                     PyObject* object, WalkContext& context) {
    if constexpr (Kind == NodeKind::List || Kind == NodeKind::ListSized) {
        return check_list<Kind>(node, object, context);
    } else if constexpr (Kind == NodeKind::Dict) {
        return check_dict(node, object, context);
    } else if constexpr (Kind == NodeKind::Fields) {
        return check_lone_record(node, object, context);
    } else {
        switch (quick_check<Kind>(settings, object)) {
            case Quick::Valid: return WalkOutcome::Valid;
            case Quick::Invalid: return WalkOutcome::Invalid;
            case Quick::NeedsFull: break;
        }
        return check_leaf<Kind>(node, object, context);
    }
}

// ---------------------------------------------------------------------------
// Records: dicts against a Fields node.

// The entries a record's quick pass left, from where it stopped: each key matched
// to its field (by the field after the last one matched first, then by the node's
// lookup) and each value given its full check. The cursor holds the dict from here
// on, and its checks come in once Python code has run.
[[gnu::noinline]] WalkOutcome check_record_rest(const ValidatorNode& node, RecordStop& stop,
                                                WalkContext& context, KeyMemo* memo) {
    DictCursor& cursor = *stop.at.cursor;
    if (!context.enter()) return WalkOutcome::Failed;
    FieldFinder fields(node);
    const std::span<const FieldEntry> entries = fields.entries();
    if (stop.at.index != 0) fields.matched(stop.at.index - 1);
    PyObject* key = stop.at.key;
    PyObject* value = stop.at.value;
    bool taken = key != nullptr;
    bool key_named = stop.key_named;
    bool str_subclass_key = false;
    for (;;) {
        if (taken) {
            taken = false;
        } else if (!cursor.next(key, value)) {
            break;
        }
        std::size_t field = fields.expected();
        if (key_named) {
            key_named = false;
        } else if (!(field < entries.size() &&
                     names_field(entries, field, key, memo != nullptr ? memo->keys() : nullptr))) {
            std::string_view text;
            if (Py_IS_TYPE(key, &PyUnicode_Type) && is_compact_ascii(key)) [[likely]] {
                text = compact_ascii_text(key);
            } else {
                if (!is_str(key)) return WalkOutcome::Invalid;
                str_subclass_key |= !PyUnicode_CheckExact(key);
                auto view = utf8_view(key);
                if (!view) return context.fail(std::move(view).take_failure());
                text = view.value();
            }
            field = fields.find(text, [key] { return str_hash(key); });
            if (field == kNoField) return WalkOutcome::Invalid;
        }
        fields.matched(field);
        WalkOutcome outcome = check_value(entries[field].node, value, context);
        if (outcome != WalkOutcome::Valid) return outcome;
    }
    if (str_subclass_key) {
        // Exact strs with distinct keys name distinct fields; a str subclass with its
        // own equality can share its text with another key and leave a field unnamed.
        auto named = fields_named(entries, stop.dict);
        if (!named) return context.fail(std::move(named).take_failure());
        for (std::uint8_t seen : named.value()) {
            if (!seen) return WalkOutcome::Invalid;
        }
    }
    return WalkOutcome::Valid;
}

template <bool WithMemo>
[[gnu::always_inline]] inline WalkOutcome check_record(const ValidatorNode& node,
                                                       PyObject* object, WalkContext& context,
                                                       KeyMemo* memo) {
    const RecordShape shape(node);
    RecordStop stop;
    switch (quick_record<WithMemo>(shape, object, context.clock(), memo, stop)) {
        case Quick::Valid: return WalkOutcome::Valid;
        case Quick::Invalid: return WalkOutcome::Invalid;
        case Quick::NeedsFull: break;
    }
    return check_record_rest(node, stop, context, WithMemo ? memo : nullptr);
}

WalkOutcome check_lone_record(const ValidatorNode& node, PyObject* object, WalkContext& context) {
    return check_record<false>(node, object, context, nullptr);
}

// The records of a list: each one's quick pass runs in the list's own loop, with
// the memo in its frame.
template <bool WithMemo>
[[gnu::noinline]] WalkOutcome check_records(const ValidatorNode& record, PyObject* list,
                                            WalkContext& context) {
    ListCursor items(list, context.clock());
    const RecordShape shape(record);
    KeyMemo memo(context.clock());
    RecordStop stop;
    Quick answer = Quick::Valid;
    WalkOutcome outcome = WalkOutcome::Valid;
    items.each<ListCursor::QuickLoop::Inline>(
        [&](PyObject* item) __attribute__((always_inline)) {
            answer = quick_record<WithMemo>(shape, item, context.clock(), &memo, stop);
            return answer == Quick::Valid;
        },
        [&](PyObject*) {
            // Called right after the quick pass of the same item said no.
            outcome = answer == Quick::Invalid
                          ? WalkOutcome::Invalid
                          : check_record_rest(record, stop, context, WithMemo ? &memo : nullptr);
            return outcome == WalkOutcome::Valid;
        });
    return outcome;
}

// ---------------------------------------------------------------------------
// Lists and Dicts.

// The items of a list: quick checks in a loop that makes no call, the full check
// where one cannot answer (ListCursor::each).
template <NodeKind Kind>
[[gnu::noinline]] WalkOutcome check_items(const ValidatorNode& item, PyObject* list,
                                          WalkContext& context) {
    if constexpr (Kind == NodeKind::Fields) {
        if (RecordShape(item).memoizable()) [[likely]] {
            return check_records<true>(item, list, context);
        }
        return check_records<false>(item, list, context);
    } else if constexpr (kContainerKind<Kind>) {
        ListCursor items(list, context.clock());
        WalkOutcome outcome = WalkOutcome::Valid;
        items.each_full([&](PyObject* element) {
            outcome = check_kind<Kind>(item, {}, element, context);
            return outcome == WalkOutcome::Valid;
        });
        return outcome;
    } else {
        ListCursor items(list, context.clock());
        const QuickSettings<Kind> settings = quick_settings<Kind>(item);
        WalkOutcome outcome = WalkOutcome::Valid;
        items.each(
            [settings](PyObject* element) __attribute__((always_inline)) {
                return quick_check<Kind>(settings, element) == Quick::Valid;
            },
            [&](PyObject* element) {
                outcome = check_kind<Kind>(item, settings, element, context);
                return outcome == WalkOutcome::Valid;
            });
        return outcome;
    }
}

// The values of a Dict from where its cursor stands, each given `check(value)`; with
// `key` and `value` set, that entry (lent by the dict, taken by the cursor) first.
// The key's text is never read, only its type, except in a first pass: the
// collecting walk reads every key's text, which can fail.
template <bool FirstPass, class Check>
[[gnu::always_inline]] inline WalkOutcome values_loop(DictCursor& cursor, WalkContext& context,
                                                      Check& check, PyObject* key = nullptr,
                                                      PyObject* value = nullptr) {
    for (bool more = key != nullptr || cursor.next(key, value); more;
         more = cursor.next(key, value)) {
        if (!is_str(key)) return WalkOutcome::Invalid;
        if (FirstPass && !is_compact_ascii(key)) {
            auto text = utf8_view(key);
            if (!text) return context.fail(std::move(text).take_failure());
        }
        WalkOutcome outcome = check(value);
        if (outcome != WalkOutcome::Valid) [[unlikely]] return outcome;
    }
    return WalkOutcome::Valid;
}

template <class Check>
[[gnu::always_inline]] inline WalkOutcome values_from(DictCursor& cursor, WalkContext& context,
                                                      Check& check, PyObject* key = nullptr,
                                                      PyObject* value = nullptr) {
    if (context.first_pass()) [[unlikely]] {
        return values_loop<true>(cursor, context, check, key, value);
    }
    return values_loop<false>(cursor, context, check, key, value);
}

template <class Check>
[[gnu::always_inline]] inline WalkOutcome each_value(PyObject* dict, WalkContext& context,
                                                     Check&& check) {
    DictCursor cursor(dict, context.clock());
    return values_from(cursor, context, check);
}

template <bool WithMemo>
WalkOutcome check_record_values(const ValidatorNode& record, PyObject* dict,
                                WalkContext& context) {
    KeyMemo memo(context.clock());
    return each_value(dict, context, [&](PyObject* value) {
        return check_record<WithMemo>(record, value, context, &memo);
    });
}

template <NodeKind Kind>
[[gnu::noinline]] WalkOutcome check_values(const ValidatorNode& value_node, PyObject* dict,
                                           WalkContext& context) {
    if constexpr (Kind == NodeKind::Fields) {
        if (RecordShape(value_node).memoizable()) [[likely]] {
            return check_record_values<true>(value_node, dict, context);
        }
        return check_record_values<false>(value_node, dict, context);
    } else if constexpr (kContainerKind<Kind>) {
        return each_value(dict, context, [&](PyObject* value) {
            return check_kind<Kind>(value_node, {}, value, context);
        });
    } else {
        // The quick checks first, in steps that keep their state in registers; from
        // the first entry they cannot answer for, the full loop, with the cursor.
        const QuickSettings<Kind> settings = quick_settings<Kind>(value_node);
        const bool first_pass = context.first_pass();
        DictStop stop;
        Quick answer = Quick::Valid;
        const bool all_valid = DictCursor::quick_steps(
            dict, context.clock(), stop,
            [&](std::size_t, PyObject* key, PyObject* value) __attribute__((always_inline)) {
                if (!is_str(key)) [[unlikely]] {
                    answer = Quick::Invalid;
                } else if (first_pass && !is_compact_ascii(key)) [[unlikely]] {
                    answer = Quick::NeedsFull;  // its text is read first
                } else {
                    answer = quick_check<Kind>(settings, value);
                }
                return visited(answer);
            });
        if (all_valid) return WalkOutcome::Valid;
        if (answer == Quick::Invalid) return WalkOutcome::Invalid;
        auto check = [&](PyObject* value) {
            return check_kind<Kind>(value_node, settings, value, context);
        };
        return values_from(*stop.cursor, context, check, stop.key, stop.value);
    }
}

// Runs Loop<Kind>::run for the kind of `node`, decided once per container.
template <template <NodeKind> class Loop>
WalkOutcome by_item_kind(const ValidatorNode& node, PyObject* container, WalkContext& context) {
    return with_kind(node.kind(), [&]<NodeKind Kind>() {
        return Loop<Kind>::run(node, container, context);
    });
}

template <NodeKind Kind>
struct ItemsLoop {
    static WalkOutcome run(const ValidatorNode& item, PyObject* list, WalkContext& context) {
        return check_items<Kind>(item, list, context);
    }
};

template <NodeKind Kind>
struct ValuesLoop {
    static WalkOutcome run(const ValidatorNode& value, PyObject* dict, WalkContext& context) {
        return check_values<Kind>(value, dict, context);
    }
};

// Inline wherever a list is met: what it does before the loop is a few tests, and
// the loop, one call per item kind, takes the call.
template <NodeKind Kind>
[[gnu::always_inline]] inline WalkOutcome check_list(const ValidatorNode& node, PyObject* object,
                                                     WalkContext& context) {
    if (!is_list(object)) return WalkOutcome::Invalid;
    if (!context.enter()) return WalkOutcome::Failed;
    const Branch& branch = node.payload<Kind>();
    if constexpr (Kind == NodeKind::ListSized) {
        if (!LengthLimits(branch.lengths).within(static_cast<std::uint64_t>(list_length(object)))) {
            return WalkOutcome::Invalid;
        }
    }
    return by_item_kind<ItemsLoop>(*branch.child, object, context);
}

WalkOutcome check_dict(const ValidatorNode& node, PyObject* object, WalkContext& context) {
    if (!is_dict(object)) return WalkOutcome::Invalid;
    if (!context.enter()) return WalkOutcome::Failed;
    return by_item_kind<ValuesLoop>(node.child(), object, context);
}

// The kind switch with every leaf inline; containers are calls.
WalkOutcome check_value(const ValidatorNode& node, PyObject* object, WalkContext& context) {
    return with_kind(node.kind(), [&]<NodeKind Kind>() __attribute__((always_inline)) {
        return check_kind<Kind>(node, quick_settings<Kind>(node), object, context);
    });
}

}  // namespace

Result<OwnedRef> run_validate(const ValidatorNode& root, PyObject* data) {
    WalkContext context;
    WalkOutcome outcome = check_value(root, data, context);
    if (outcome == WalkOutcome::Failed) return std::move(context).take_failure();
    return OwnedRef::borrow(outcome == WalkOutcome::Valid ? data : Py_None);
}

bool valid_for_collect(const ValidatorNode& root, PyObject* data) {
    WalkContext context(WalkContext::FirstPass{});
    return check_value(root, data, context) == WalkOutcome::Valid;
}

}  // namespace brindle
