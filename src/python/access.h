// Reading Python values: attributes, type tests, numbers and texts. (Dicts and
// lists are stepped through by the cursors of python/cursor.h.)
//
// Every read returns its value or a Failure owning the exception, never leaving one
// set. Reads can run Python code (descriptors, __index__, __float__, __str__, a
// numpy bool's __bool__), and that code may change the very container being
// iterated; the cursors re-check sizes for that reason.
#pragma once

#include <cstdint>
#include <cstring>
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

// Every int that read_small_int gives lies strictly between -kSmallIntBound and
// kSmallIntBound: at most two digits of at most 30 bits.
inline constexpr std::int64_t kSmallIntBound = std::int64_t{1} << 60;
static_assert(2 * PyLong_SHIFT <= 60, "two digits of an int fit below kSmallIntBound");

// An int (which must pass is_int) small enough to be read straight from its digits,
// as most ints are. False leaves the reading to PyLong_AsLongLong.
[[gnu::always_inline]] inline bool read_small_int(PyObject* object, std::int64_t& value) noexcept {
    auto* integer = reinterpret_cast<PyLongObject*>(object);
#if PY_VERSION_HEX >= 0x030C0000
    if (!PyUnstable_Long_IsCompact(integer)) return false;
    // PyUnstable_Long_CompactValue's sign * digit, by selection rather than a
    // multiplication: a cheaper instruction in the item loops' tightest path. The
    // tag's sign bits are 0 for a positive int, 1 for zero and 2 for a negative one;
    // zero is read as 0 whatever its digit holds.
    const auto digit = static_cast<std::int64_t>(integer->long_value.ob_digit[0]);
    const std::uintptr_t sign = integer->long_value.lv_tag & 3;
    value = sign == 0 ? digit : sign == 2 ? -digit : 0;
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

// An int (bool included) read directly; anything else through __index__. 64 bits
// on every platform: a C long is 32 bits on Windows.
inline Result<std::int64_t> read_i64(PyObject* object) {
    if (is_int(object)) {
        std::int64_t small = 0;
        if (read_small_int(object, small)) return small;
        long long value = PyLong_AsLongLong(object);
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

// Whether a str (which must pass is_str) is compact ASCII, as PyUnicode_IS_COMPACT_ASCII
// tells, with both flags tested in one load and one mask where the state fits a word:
// the mask is worked out from the state struct itself, so whatever the build's
// layout of its bit-fields, and it folds to a constant.
[[gnu::always_inline]] inline bool is_compact_ascii(PyObject* str) noexcept {
    using State = decltype(PyASCIIObject::state);
    if constexpr (sizeof(State) == sizeof(std::uint32_t)) {
        State flags{};
        flags.compact = 1;
        flags.ascii = 1;
        std::uint32_t mask;
        std::memcpy(&mask, &flags, sizeof mask);
        std::uint32_t word;
        std::memcpy(&word, &reinterpret_cast<PyASCIIObject*>(str)->state, sizeof word);
        return (word & mask) == mask;
    } else {
        return PyUnicode_IS_COMPACT_ASCII(str);
    }
}

// The text of a compact ASCII str (which must pass is_compact_ascii): its characters
// follow its header, and are its UTF-8 text.
[[gnu::always_inline]] inline std::string_view compact_ascii_text(PyObject* str) noexcept {
    return {reinterpret_cast<const char*>(reinterpret_cast<PyASCIIObject*>(str) + 1),
            static_cast<std::size_t>(PyUnicode_GET_LENGTH(str))};
}

// The UTF-8 bytes the interpreter caches inside a str (which must pass is_str).
// They belong to the str: valid while the caller holds it.
Result<std::string_view> utf8_view_slow(PyObject* str);

inline Result<std::string_view> utf8_view(PyObject* str) {
    // A compact ASCII str is its own UTF-8 text.
    if (is_compact_ascii(str)) return compact_ascii_text(str);
    return utf8_view_slow(str);
}

// A new str of the module's own well-formed UTF-8 text (an entry's path or message),
// or null with the interpreter's exception set. ASCII text, the usual case, is copied
// straight in: the interpreter's decoder would scan it once more to learn as much.
PyObject* new_str(std::string_view utf8);

Result<std::uint64_t> str_code_points_slow(PyObject* str);

// The number of code points of a str (which must pass is_str), which is the
// code_points() of its UTF-8 text; the failure of utf8_view when it has none. Only
// a str that may hold a surrogate is searched, and no UTF-8 copy is made.
inline Result<std::uint64_t> str_code_points(PyObject* str) {
    if (is_compact_ascii(str)) {
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

}  // namespace brindle
