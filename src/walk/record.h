// A record's quick pass, shared by the two walks: a dict against a Fields node by
// tests that call nothing that can run Python code, with unchecked steps and no
// reference taken, stopping with the cursor where a value needs its full check.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>

#include "python/access.h"
#include "python/cursor.h"
#include "schema/fields.h"
#include "schema/node.h"
#include "walk/quick.h"

namespace brindle {

// Key objects that named fields by their text in earlier dicts of one loop (a
// list's records, a Dict's values), by field: the dicts of a loop mostly share
// their key objects, and a key found here is matched by its address. Each key is an
// exact str whose text is its field's name, held by a dict that the walk still
// holds unchanged while the clock stands. Lives in the loop's frame; the tree,
// shared between threads, holds nothing of a call.
class KeyMemo {
public:
    static constexpr std::size_t kSize = 16;

    explicit KeyMemo(const PythonClock& clock) noexcept : clock_(clock), since_(clock.now()) {}

    // The keys, first forgotten when Python code has run since they were written.
    [[gnu::always_inline]] PyObject** keys() noexcept {
        if (clock_.now() != since_) [[unlikely]] forget();
        return keys_;
    }

private:
    [[gnu::noinline]] void forget() noexcept {
        since_ = clock_.now();
        std::fill(std::begin(keys_), std::end(keys_), nullptr);
    }

    const PythonClock& clock_;
    std::uint64_t since_;
    PyObject* keys_[kSize] = {};
};

// What a record check needs of its node, read once per check.
//
// A schema dict can hold two field names of one text (str subclasses with an
// equality of their own). No dict satisfies such a node: its keys, exact strs, have
// as many texts as it has entries, one more than the node's names; and where some are
// str subclasses, the re-check of check_record_rest finds the repeated field named by
// none (a key names the first field of its text). So this walk need not tell such
// nodes apart: whichever field it matches a key to first, the answer is Invalid.
struct RecordShape {
    explicit RecordShape(const ValidatorNode& node) noexcept : entries(node.entries()) {}

    // Whether a loop's memo can serve: no more fields than it holds.
    bool memoizable() const noexcept { return entries.size() <= KeyMemo::kSize; }

    std::span<const FieldEntry> entries;
};

// Whether `key` is an exact compact ASCII str whose text is field `field`'s name.
[[gnu::always_inline]] inline bool names_field_by_text(std::span<const FieldEntry> entries,
                                                       std::size_t field, PyObject* key) noexcept {
    return Py_IS_TYPE(key, &PyUnicode_Type) && is_compact_ascii(key) &&
           same_text(entries[field].key, compact_ascii_text(key));
}

// names_field_by_text out of line, for keys a loop's memo does not know: in a loop
// whose dicts share their key objects, only the first dict's keys come here.
bool names_field_apart(std::span<const FieldEntry> entries, std::size_t field,
                       PyObject* key) noexcept;

// Whether `key` names field `field` of a record, by a test that calls nothing that
// can run Python code: the memo's key object for that field, or an exact compact
// ASCII str with its text (which the memo then keeps). With `memo_keys` null, by
// text alone.
[[gnu::always_inline]] inline bool names_field(std::span<const FieldEntry> entries,
                                               std::size_t field, PyObject* key,
                                               PyObject** memo_keys) noexcept {
    if (memo_keys == nullptr) return names_field_by_text(entries, field, key);
    if (memo_keys[field] == key) [[likely]] return true;
    if (!names_field_apart(entries, field, key)) return false;
    memo_keys[field] = key;
    return true;
}

// Where a record's quick pass stopped with NeedsFull: the cursor, handed over, with
// the entry it took last and did not settle. The fields before that entry's index
// were settled in schema order, each named by its key. Like DictStop, set only where
// the quick pass stops so; any other answer leaves it as it was.
struct RecordStop {
    DictStop at;
    PyObject* dict;   // the record, lent until the cursor holds it
    bool key_named;   // the key names field `at.index`; its value needs its full check
};

// The quick pass over a record. Entries mostly come in schema order, and most
// values need no call: each key is compared with the field at its position alone
// and its value given its quick check (quick_node), with unchecked steps, no
// reference to the dict and nothing that recurses. Valid or Invalid is the record's
// answer; NeedsFull leaves in `stop` where the full pass goes on.
template <bool WithMemo>
[[gnu::always_inline]] inline Quick quick_record(const RecordShape& shape, PyObject* object,
                                                 const PythonClock& clock, KeyMemo* memo,
                                                 RecordStop& stop) {
    if (!is_dict(object)) return Quick::Invalid;
    // Equal sizes first: a missing field or an extra key fails before any value is read.
    if (static_cast<std::size_t>(dict_length(object)) != shape.entries.size()) {
        return Quick::Invalid;
    }
    PyObject** memo_keys = WithMemo ? memo->keys() : nullptr;
    const std::span<const FieldEntry> entries = shape.entries;
    Quick answer = Quick::Valid;
    bool named = true;
    DictCursor::quick_steps(
        object, clock, stop.at,
        [&](std::size_t field, PyObject* key, PyObject* value) __attribute__((always_inline)) {
            named = names_field(entries, field, key, memo_keys);
            answer = named ? quick_node(entries[field].node, value) : Quick::NeedsFull;
            return visited(answer);
        });
    if (answer == Quick::NeedsFull) [[unlikely]] {
        stop.dict = object;
        stop.key_named = named;
    }
    return answer;
}

}  // namespace brindle
