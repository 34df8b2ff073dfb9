// Reading Python values: attributes, type tests, numbers, texts and guarded
// iteration of dicts and lists.
//
// Every read returns its value or a Failure owning the exception, never leaving one
// set. Reads can run Python code (descriptors, __index__, __float__, __str__, a
// numpy bool's __bool__), and that code may change the very container being
// iterated; the cursors re-check sizes at every step for that reason.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/alloc.h"
#include "python/fault.h"
#include "python/ref.h"
#include "python/result.h"

namespace brindle {

// Type tests. Only is_bool and is_none are exact; the others accept subclasses.
inline bool is_bool(PyObject* o) noexcept { return Py_TYPE(o) == &PyBool_Type; }
inline bool is_int(PyObject* o) noexcept { return PyLong_Check(o); }
inline bool is_float(PyObject* o) noexcept { return PyFloat_Check(o); }
inline bool is_str(PyObject* o) noexcept { return PyUnicode_Check(o); }
inline bool is_list(PyObject* o) noexcept { return PyList_Check(o); }
inline bool is_tuple(PyObject* o) noexcept { return PyTuple_Check(o); }
inline bool is_dict(PyObject* o) noexcept { return PyDict_Check(o); }
inline bool is_none(PyObject* o) noexcept { return o == Py_None; }

// The attribute names that compiling a schema reads. Each is made into an interned
// str once and kept for the process: a str made afresh for every read would cost its
// allocation, its hash and a miss in the type's attribute cache, which is keyed on
// the name object.
#define BRINDLE_ATTRIBUTES(X)                               \
    X(Coerce, "_coerce")                                    \
    X(CustomChecks, "_custom_checks")                       \
    X(WhenCondition, "_when_condition")                     \
    X(EnvKey, "_env_key")                                   \
    X(Regex, "_regex")                                      \
    X(MinLen, "_min_len")                                   \
    X(MaxLen, "_max_len")                                   \
    X(TypeCls, "_type_cls")                                 \
    X(KeyType, "_key_type")                                 \
    X(Name, "__name__")                                     \
    X(Min, "_min")                                          \
    X(Max, "_max")                                          \
    X(ExclusiveMin, "_exclusive_min")                       \
    X(ExclusiveMax, "_exclusive_max")                       \
    X(ItemValidator, "_item_validator")                     \
    X(ValueValidator, "_value_validator")

enum class Attribute : std::uint8_t {
#define BRINDLE_ATTRIBUTE_ENUMERATOR(name, text) name,
    BRINDLE_ATTRIBUTES(BRINDLE_ATTRIBUTE_ENUMERATOR)
#undef BRINDLE_ATTRIBUTE_ENUMERATOR
};

// The interned name of `attribute`; a fault when it cannot be made.
PyObject* attribute_name(Attribute attribute);

// The attribute `name` of `object`; the lookup's own exception on failure.
Result<OwnedRef> get_attr(PyObject* object, Attribute name);

// Drops the interned attribute names without releasing them, for a runtime that has
// been finalized (and freed them): the next use makes them again.
void forget_interned_names() noexcept;

// The object's own __name__ (read through the interned name), which must be a str.
Result<OwnedRef> name_object(PyObject* object);

// The __name__ of the object's type, which must be a str.
Result<OwnedRef> type_name_object(PyObject* object);

// The message of the conversion TypeError, built when it is raised: the offending
// type's __qualname__ and the target. Nothing, with the MemoryError pending, when
// memory ran out reading the name.
std::optional<Text> conversion_message(PyObject* object_type, const char* target);

Result<std::int64_t> read_i64_slow(PyObject* object);

// An int (which must pass is_int) small enough to be read straight from its digits,
// as most ints are. False leaves the reading to PyLong_AsLong.
[[gnu::always_inline]] inline bool read_small_int(PyObject* object, std::int64_t& value) noexcept {
    auto* integer = reinterpret_cast<PyLongObject*>(object);
#if PY_VERSION_HEX >= 0x030C0000
    if (!PyUnstable_Long_IsCompact(integer)) return false;
    value = PyUnstable_Long_CompactValue(integer);
    return true;
#else
    const digit* digits = integer->ob_digit;
    if (Py_SIZE(object) == 1) [[likely]] {  // most ints are small and positive
        value = static_cast<std::int64_t>(digits[0]);
        return true;
    }
    switch (Py_SIZE(object)) {
        case 0: value = 0; return true;
        case 1: value = static_cast<std::int64_t>(digits[0]); return true;
        case -1: value = -static_cast<std::int64_t>(digits[0]); return true;
        case 2:
            value = static_cast<std::int64_t>(digits[0]) |
                    (static_cast<std::int64_t>(digits[1]) << PyLong_SHIFT);
            return true;
        case -2:
            value = -(static_cast<std::int64_t>(digits[0]) |
                      (static_cast<std::int64_t>(digits[1]) << PyLong_SHIFT));
            return true;
        default: return false;
    }
#endif
}

// An int (bool included) read directly; anything else through __index__.
inline Result<std::int64_t> read_i64(PyObject* object) {
    if (is_int(object)) {
        std::int64_t small = 0;
        if (read_small_int(object, small)) return small;
        long value = PyLong_AsLong(object);
        if (value == -1 && PyErr_Occurred()) return Failure::fetch();
        return static_cast<std::int64_t>(value);
    }
    return read_i64_slow(object);
}

// As read_i64, over the unsigned 64-bit range.
Result<std::uint64_t> read_count(PyObject* object);

// An exact float without a call; anything else through the float protocol.
inline Result<double> read_f64(PyObject* object) {
    if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
    double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return Failure::fetch();
    return value;
}

// None is absent; anything else as read_f64 or read_count.
Result<std::optional<double>> read_optional_f64(PyObject* object);
Result<std::optional<std::uint64_t>> read_optional_count(PyObject* object);

// A bool, or a numpy bool read through its type's __bool__ slot.
Result<bool> read_bool(PyObject* object);

// The UTF-8 bytes the interpreter caches inside a str (which must pass is_str).
// They belong to the str: valid while the caller holds it.
Result<std::string_view> utf8_view_slow(PyObject* str);

inline Result<std::string_view> utf8_view(PyObject* str) {
    // A compact ASCII str is its own UTF-8 text.
    if (PyUnicode_IS_COMPACT_ASCII(str)) {
        return std::string_view(static_cast<const char*>(PyUnicode_DATA(str)),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(str)));
    }
    return utf8_view_slow(str);
}

Result<std::uint64_t> str_code_points_slow(PyObject* str);

// The number of code points of a str (which must pass is_str), which is the
// code_points() of its UTF-8 text; the failure of utf8_view when it has none. Only
// a str that may hold a surrogate is searched, and no UTF-8 copy is made.
inline Result<std::uint64_t> str_code_points(PyObject* str) {
    if (PyUnicode_IS_COMPACT_ASCII(str)) {
        return static_cast<std::uint64_t>(PyUnicode_GET_LENGTH(str));
    }
    return str_code_points_slow(str);
}

// The interpreter's hash of a str's text (str's own hash, whatever a subclass
// defines), which every str with the same text shares. Runs no Python code.
inline std::int64_t str_hash(PyObject* str) {
#if PY_VERSION_HEX < 0x030E0000
    Py_hash_t cached = reinterpret_cast<PyASCIIObject*>(str)->hash;
    if (cached != -1) return cached;
#endif
    Py_hash_t hash = PyUnicode_Type.tp_hash(str);
    if (hash == -1) api_call_failed();
    return hash;
}

// An owned copy of a str's UTF-8 text; the conversion TypeError for a non-str.
Result<Text> read_text(PyObject* object);

// len(object).
Result<Py_ssize_t> object_len(PyObject* object);

// The text of str(object) for messages. Never fails: lone surrogates become U+FFFD,
// and an object whose __str__ raises gets a placeholder after its exception has
// been reported as unraisable.
Text display_text(PyObject* object);

// Steps through a dict's own storage in insertion order (PyDict_Next), faulting
// when Python code run between steps changes the dict under it.
class DictCursor {
public:
    explicit DictCursor(PyObject* dict) noexcept
        : dict_(OwnedRef::borrow(dict)),
          start_size_(PyDict_GET_SIZE(dict)),
          countdown_(start_size_) {}

    // Sets the next key and value (new references); false at the end.
    bool next(OwnedRef& key, OwnedRef& value) {
        PyObject* borrowed_key = nullptr;
        PyObject* borrowed_value = nullptr;
        if (!next_borrowed(borrowed_key, borrowed_value)) return false;
        key = OwnedRef::borrow(borrowed_key);
        value = OwnedRef::borrow(borrowed_value);
        return true;
    }

    // As next(), with the key and value lent by the dict: only for a caller that
    // runs no Python code while it uses them.
    bool next_borrowed(PyObject*& key, PyObject*& value);

    // As next_borrowed(), for a caller that knows no Python code has run since the
    // cursor started: the dict is then as it was, so the checks are left out and the
    // step that would find the end is not taken.
    bool next_unchanged(PyObject*& key, PyObject*& value) {
        if (countdown_ == 0) return false;
        PyDict_Next(dict_.get(), &pos_, &key, &value);
        --countdown_;
        return true;
    }

    // As next_unchanged(), for a caller that knows an entry remains: it has taken
    // fewer than the dict's starting size. It reports how many it took with
    // took_unchanged() before stepping on by the other calls.
    void step_unchanged(PyObject*& key, PyObject*& value) {
        PyDict_Next(dict_.get(), &pos_, &key, &value);
    }
    void took_unchanged(Py_ssize_t count) noexcept { countdown_ -= count; }

    // Goes on from `position`, where a caller that held no reference to the dict and
    // ran no Python code stepped it to with PyDict_Next, reporting the entries it
    // took with took_unchanged() as above.
    void resume_unchanged(Py_ssize_t position) noexcept { pos_ = position; }

private:
    OwnedRef dict_;
    Py_ssize_t start_size_;
    Py_ssize_t countdown_;
    Py_ssize_t pos_ = 0;
};

// Steps through a list's own storage; a list that shrinks ends early, and items
// appended after the start are not visited.
class ListCursor {
public:
    explicit ListCursor(PyObject* list) noexcept
        : list_(OwnedRef::borrow(list)), start_size_(PyList_GET_SIZE(list)) {}

    // Sets the next item (a new reference); false at the end.
    bool next(OwnedRef& item) {
        PyObject* borrowed = next_borrowed();
        if (borrowed == nullptr) return false;
        item = OwnedRef::borrow(borrowed);
        return true;
    }

    // The next item, lent by the list, or null at the end. Only for a caller that
    // runs no Python code while it uses the item: nothing else keeps it alive.
    PyObject* next_borrowed() {
        PyObject* list = list_.get();
        Py_ssize_t limit = PyList_GET_SIZE(list);
        if (start_size_ < limit) limit = start_size_;
        if (index_ >= limit) return nullptr;
        PyObject* item = PyList_GET_ITEM(list, index_);
        if (item == nullptr) api_call_failed();
        ++index_;
        return item;
    }

    // Steps past the first `count` items, which the caller has read by index while
    // it knew that no Python code had run (the list then as it was).
    void skip(Py_ssize_t count) noexcept { index_ = count; }

    // The index of the item that next() returned last.
    Py_ssize_t index() const noexcept { return index_ - 1; }

private:
    OwnedRef list_;
    Py_ssize_t start_size_;
    Py_ssize_t index_ = 0;
};

inline bool DictCursor::next_borrowed(PyObject*& key, PyObject*& value) {
    PyObject* dict = dict_.get();
    if (PyDict_GET_SIZE(dict) != start_size_) [[unlikely]] {
        raise_fault("dictionary changed size during iteration");
    }
    if (countdown_ == -1) [[unlikely]] raise_fault("dictionary keys changed during iteration");
    if (!PyDict_Next(dict, &pos_, &key, &value)) return false;
    --countdown_;
    return true;
}

}  // namespace brindle
