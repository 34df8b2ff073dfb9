// The least work any validator of each benchmark schema must do, written by hand for
// exactly that schema, as a yardstick for brindle_core: no tree, no dispatch on node
// kinds, bounds and lengths as constants, exact-type tests before the subclass tests,
// ints read in place, each dict key compared by pointer with the field expected at its
// position (the interned name) before its text is compared.
//
// Each validator answers as brindle_core's validate does: True for valid data, False
// for invalid data, an exception where validate raises one (a str with no UTF-8 form).
// Nothing here runs Python code, so the borrowed items, keys and values stay valid
// throughout; the one exception is an int field holding an object that is no int but
// has __index__, which the floor declines with NotImplementedError.
//
// compile_reads(schema) does the attribute reads and conversions that compile_schema
// must do, in its order, and builds nothing: the floor of schema compilation.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#if PY_VERSION_HEX < 0x030B0000
#include <longintrepr.h>  // ob_digit; from 3.11 on Python.h brings it in
#endif

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

namespace {

enum Verdict : int { Error = -1, Invalid = 0, Valid = 1 };

inline Verdict verdict(bool valid) noexcept { return valid ? Valid : Invalid; }

// ---------------------------------------------------------------------------
// Leaves.

[[gnu::noinline, gnu::cold]] Verdict decline_index() {
    PyErr_SetString(PyExc_NotImplementedError, "the floor reads int fields holding ints only");
    return Error;
}

// An int too large to be compact (3.12+) or to fit two digits: out of the signed
// 64-bit range is Invalid, as validate's failed read is.
[[gnu::noinline]] Verdict read_big_int(PyObject* object, long long& value) {
    int overflow = 0;
    value = PyLong_AsLongLongAndOverflow(object, &overflow);
    return verdict(overflow == 0);
}

// Not an int: Invalid unless it has __index__, which the floor does not call.
[[gnu::noinline]] Verdict read_non_int(PyObject* object) {
    PyNumberMethods* number = Py_TYPE(object)->tp_as_number;
    if (number != nullptr && number->nb_index != nullptr) return decline_index();
    return Invalid;
}

[[gnu::always_inline]] inline Verdict read_int(PyObject* object, long long& value) {
    if (Py_IS_TYPE(object, &PyLong_Type) || PyLong_Check(object)) [[likely]] {
        auto* integer = reinterpret_cast<PyLongObject*>(object);
#if PY_VERSION_HEX >= 0x030C0000
        if (PyUnstable_Long_IsCompact(integer)) [[likely]] {
            value = PyUnstable_Long_CompactValue(integer);
            return Valid;
        }
#else
        // One positive digit first: most ints are, and a switch would test the others too.
        Py_ssize_t size = Py_SIZE(object);
        if (size == 1) [[likely]] {
            value = static_cast<long long>(integer->ob_digit[0]);
            return Valid;
        }
        if (size == 0) {
            value = 0;
            return Valid;
        }
        if (size == -1) {
            value = -static_cast<long long>(integer->ob_digit[0]);
            return Valid;
        }
#endif
        return read_big_int(object, value);
    }
    return read_non_int(object);
}

// An int within [Low, High]. With integral bounds inside the exactly representable
// doubles this is the same test as validate's comparison of the value as a double.
template <long long Low, long long High>
[[gnu::always_inline]] inline Verdict int_in(PyObject* object) {
    long long value = 0;
    Verdict read = read_int(object, value);
    if (read != Valid) [[unlikely]] return read;
    return verdict(value >= Low && value <= High);
}

// A float; NaN passes every bound, as the ordered comparisons of validate let it.
template <bool ExclusiveHigh>
[[gnu::always_inline]] inline Verdict float_in(PyObject* object, double low, double high) {
    if (!(Py_IS_TYPE(object, &PyFloat_Type) || PyFloat_Check(object))) [[unlikely]] return Invalid;
    double value = PyFloat_AS_DOUBLE(object);  // also a subclass's own value, as PyFloat_AsDouble
    if (value < low) return Invalid;
    return verdict(ExclusiveHigh ? !(value >= high) : !(value > high));
}

// A str that is not compact ASCII: its code points, once its UTF-8 form is known to
// exist (validate raises for a str holding a lone surrogate).
[[gnu::noinline]] Verdict str_length_slow(PyObject* object, Py_ssize_t low, Py_ssize_t high) {
    Py_ssize_t size = 0;
    if (PyUnicode_AsUTF8AndSize(object, &size) == nullptr) return Error;
    Py_ssize_t length = PyUnicode_GET_LENGTH(object);
    return verdict(length >= low && length <= high);
}

template <Py_ssize_t Low, Py_ssize_t High = PY_SSIZE_T_MAX>
[[gnu::always_inline]] inline Verdict str_in(PyObject* object) {
    if (!(Py_IS_TYPE(object, &PyUnicode_Type) || PyUnicode_Check(object))) [[unlikely]] {
        return Invalid;
    }
    if (PyUnicode_IS_COMPACT_ASCII(object)) [[likely]] {
        Py_ssize_t length = PyUnicode_GET_LENGTH(object);
        return verdict(length >= Low && length <= High);
    }
    return str_length_slow(object, Low, High);
}

[[gnu::always_inline]] inline Verdict is_bool(PyObject* object) {
    return verdict(Py_IS_TYPE(object, &PyBool_Type));
}

[[gnu::always_inline]] inline bool is_list(PyObject* object) {
    return Py_IS_TYPE(object, &PyList_Type) || PyList_Check(object);
}

[[gnu::always_inline]] inline bool is_dict(PyObject* object) {
    return Py_IS_TYPE(object, &PyDict_Type) || PyDict_Check(object);
}

[[gnu::always_inline]] inline bool is_str(PyObject* object) {
    return Py_IS_TYPE(object, &PyUnicode_Type) || PyUnicode_Check(object);
}

// Items of a list of at most MaxLength items, each checked by `item`.
template <Py_ssize_t MaxLength = PY_SSIZE_T_MAX, class Item>
[[gnu::always_inline]] inline Verdict list_of(PyObject* object, Item item) {
    if (!is_list(object)) [[unlikely]] return Invalid;
    Py_ssize_t size = PyList_GET_SIZE(object);
    if (size > MaxLength) return Invalid;
    PyObject** items = reinterpret_cast<PyListObject*>(object)->ob_item;
    for (Py_ssize_t i = 0; i < size; ++i) {
        Verdict answer = item(items[i]);
        if (answer != Valid) [[unlikely]] return answer;
    }
    return Valid;
}

// ---------------------------------------------------------------------------
// Records: fixed fields, every one required, no other key.

// The UTF-8 text of a str key; false with the exception set when it has none.
bool key_text(PyObject* key, std::string_view& text) {
    if (PyUnicode_IS_COMPACT_ASCII(key)) {
        text = std::string_view(static_cast<const char*>(PyUnicode_DATA(key)),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(key)));
        return true;
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(key, &size);
    if (data == nullptr) return false;
    text = std::string_view(data, static_cast<std::size_t>(size));
    return true;
}

constexpr std::size_t kNoField = static_cast<std::size_t>(-1);
constexpr std::size_t kKeyError = static_cast<std::size_t>(-2);

// Names are interned once, at import; keys written as literals in Python source are
// the same objects, so the pointer test settles them.
template <std::size_t N>
struct FieldNames {
    const char* texts[N];
    PyObject* names[N] = {};

    bool intern() {
        for (std::size_t i = 0; i < N; ++i) {
            names[i] = PyUnicode_InternFromString(texts[i]);
            if (names[i] == nullptr) return false;
        }
        return true;
    }

    // The field of a key that is not the expected field's name object: the expected
    // field's text first, then every field in order.
    [[gnu::noinline]] std::size_t by_text(PyObject* key, std::size_t expected,
                                          bool& subclass_key) const {
        if (!is_str(key)) return kNoField;
        subclass_key |= !PyUnicode_CheckExact(key);
        std::string_view text;
        if (!key_text(key, text)) return kKeyError;
        if (expected < N && text == texts[expected]) return expected;
        for (std::size_t i = 0; i < N; ++i) {
            if (text == texts[i]) return i;
        }
        return kNoField;
    }

    // With a str subclass among the keys, two keys may share a text: every field
    // must still be named by some key.
    [[gnu::noinline]] Verdict all_named(PyObject* dict) const {
        bool named[N] = {};
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(dict, &pos, &key, &value)) {
            bool ignored = false;
            std::size_t field = by_text(key, N, ignored);
            if (field == kKeyError) return Error;
            if (field != kNoField) named[field] = true;
        }
        for (bool seen : named) {
            if (!seen) return Invalid;
        }
        return Valid;
    }
};

// A record whose schema is Schema: its names and, per field index, check<I>(value).
// The I-th entry of a dict in schema order is tried against the I-th name by pointer;
// any other key goes through the text and then a table of the field checks.
template <class Schema, std::size_t... I>
[[gnu::always_inline]] inline Verdict record_fields(PyObject* object, std::index_sequence<I...>) {
    constexpr std::size_t n = sizeof...(I);
    if (!is_dict(object)) [[unlikely]] return Invalid;
    if (PyDict_GET_SIZE(object) != static_cast<Py_ssize_t>(n)) return Invalid;
    static constexpr Verdict (*checks[])(PyObject*) = {&Schema::template check<I>...};
    Py_ssize_t pos = 0;
    bool subclass_key = false;
    Verdict answer = Valid;
    auto step = [&](auto index) -> bool {
        constexpr std::size_t i = decltype(index)::value;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        PyDict_Next(object, &pos, &key, &value);  // sizes are equal: there is an i-th entry
        if (key == Schema::fields.names[i]) [[likely]] {
            answer = Schema::template check<i>(value);
        } else {
            std::size_t field = Schema::fields.by_text(key, i, subclass_key);
            answer = field == kKeyError ? Error : field == kNoField ? Invalid : checks[field](value);
        }
        return answer == Valid;
    };
    (step(std::integral_constant<std::size_t, I>{}) && ...);
    if (answer == Valid && subclass_key) [[unlikely]] return Schema::fields.all_named(object);
    return answer;
}

template <class Schema>
Verdict record_of(PyObject* object) {
    return record_fields<Schema>(object, std::make_index_sequence<Schema::size>{});
}

// The eight-field record, also a thousand of them in a list under "records".
struct Record {
    static constexpr std::size_t size = 8;
    static inline FieldNames<size> fields = {
        {"id", "name", "email", "age", "score", "ratio", "active", "tags"}};

    template <std::size_t I>
    static Verdict check(PyObject* value) {
        if constexpr (I == 0) return int_in<1, LLONG_MAX>(value);
        else if constexpr (I == 1) return str_in<1, 40>(value);
        else if constexpr (I == 2) return str_in<3, 254>(value);
        else if constexpr (I == 3) return int_in<0, 150>(value);
        else if constexpr (I == 4) return float_in<false>(value, 0.0, 100.0);
        else if constexpr (I == 5) return float_in<true>(value, 0.0, 1.0);
        else if constexpr (I == 6) return is_bool(value);
        else return list_of<8>(value, [](PyObject* tag) { return str_in<1, 16>(tag); });
    }
};

struct Batch {
    static constexpr std::size_t size = 1;
    static inline FieldNames<size> fields = {{"records"}};

    template <std::size_t I>
    static Verdict check(PyObject* value) {
        return list_of(value, [](PyObject* item) { return record_of<Record>(item); });
    }
};

// The nested document: a company with departments by name, each with its staff.
struct Member {
    static constexpr std::size_t size = 4;
    static inline FieldNames<size> fields = {{"name", "age", "email", "skills"}};

    template <std::size_t I>
    static Verdict check(PyObject* value) {
        if constexpr (I == 0) return str_in<1, 40>(value);
        else if constexpr (I == 1) return int_in<16, 99>(value);
        else if constexpr (I == 2) return str_in<3>(value);
        else return list_of<10>(value, [](PyObject* skill) { return str_in<1, 20>(skill); });
    }
};

struct Department {
    static constexpr std::size_t size = 3;
    static inline FieldNames<size> fields = {{"head", "budget", "staff"}};

    template <std::size_t I>
    static Verdict check(PyObject* value) {
        if constexpr (I == 0) return str_in<1>(value);
        else if constexpr (I == 1) return float_in<false>(value, 0.0, HUGE_VAL);
        else return list_of(value, [](PyObject* member) { return record_of<Member>(member); });
    }
};

// The values of a dict with str keys (whose text is never read), each checked by `value`.
template <class Value>
[[gnu::always_inline]] inline Verdict dict_of(PyObject* object, Value check_value) {
    if (!is_dict(object)) [[unlikely]] return Invalid;
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(object, &pos, &key, &value)) {
        if (!is_str(key)) [[unlikely]] return Invalid;
        Verdict answer = check_value(value);
        if (answer != Valid) [[unlikely]] return answer;
    }
    return Valid;
}

struct Document {
    static constexpr std::size_t size = 3;
    static inline FieldNames<size> fields = {{"company", "founded", "departments"}};

    template <std::size_t I>
    static Verdict check(PyObject* value) {
        if constexpr (I == 0) return str_in<1>(value);
        else if constexpr (I == 1) return int_in<1800, 2100>(value);
        else return dict_of(value, [](PyObject* dept) { return record_of<Department>(dept); });
    }
};

// A request body of many small containers: meta, and an org of departments, each of
// teams, each of members.
struct Meta {
    static constexpr std::size_t size = 2;
    static inline FieldNames<size> fields = {{"version", "source"}};

    template <std::size_t I>
    static Verdict check(PyObject* value) {
        if constexpr (I == 0) return int_in<1, 10>(value);
        else return str_in<1, 64>(value);
    }
};

struct Team {
    static constexpr std::size_t size = 4;
    static inline FieldNames<size> fields = {{"name", "lead", "active", "members"}};

    template <std::size_t I>
    static Verdict check(PyObject* value) {
        if constexpr (I == 0 || I == 1) return str_in<1, 64>(value);
        else if constexpr (I == 2) return is_bool(value);
        else return list_of<50>(value, [](PyObject* member) { return str_in<1, 64>(member); });
    }
};

struct SmallDepartment {
    static constexpr std::size_t size = 4;
    static inline FieldNames<size> fields = {{"name", "budget", "headcount", "teams"}};

    template <std::size_t I>
    static Verdict check(PyObject* value) {
        if constexpr (I == 0) return str_in<1, 64>(value);
        else if constexpr (I == 1) return float_in<false>(value, 0.0, HUGE_VAL);
        else if constexpr (I == 2) return int_in<0, 100'000>(value);
        else return list_of(value, [](PyObject* team) { return record_of<Team>(team); });
    }
};

struct Org {
    static constexpr std::size_t size = 2;
    static inline FieldNames<size> fields = {{"name", "departments"}};

    template <std::size_t I>
    static Verdict check(PyObject* value) {
        if constexpr (I == 0) return str_in<1, 100>(value);
        else return list_of(value, [](PyObject* dept) { return record_of<SmallDepartment>(dept); });
    }
};

struct SmallDocument {
    static constexpr std::size_t size = 2;
    static inline FieldNames<size> fields = {{"meta", "org"}};

    template <std::size_t I>
    static Verdict check(PyObject* value) {
        if constexpr (I == 0) return record_of<Meta>(value);
        else return record_of<Org>(value);
    }
};

// {"users": [record, ...]}, and its collect: each record checked by the boolean check,
// the entries built only for the records that fail it.
struct Users {
    static constexpr std::size_t size = 1;
    static inline FieldNames<size> fields = {{"users"}};

    template <std::size_t I>
    static Verdict check(PyObject* value) {
        return list_of(value, [](PyObject* item) { return record_of<Record>(item); });
    }
};

// Sets the floor's NotImplementedError; false, as a failed entry step.
[[gnu::cold]] bool decline_collect() {
    PyErr_SetString(PyExc_NotImplementedError,
                    "the collect floor builds the entries of its workload's violations only");
    return false;
}

// Appends (path, message, value) to `entries`; false with the exception set.
bool add_entry(PyObject* entries, const char* path, PyObject* message, PyObject* value) {
    if (message == nullptr) return false;
    PyObject* entry = Py_BuildValue("(sNO)", path, message, value);
    if (entry == nullptr) return false;
    int added = PyList_Append(entries, entry);
    Py_DECREF(entry);
    return added == 0;
}

// The entries of an int field within [low, high]; 0 where it passes, -1 on error, 1 added.
int int_entry(PyObject* entries, const char* path, PyObject* value, long long low, long long high) {
    long long number = 0;
    Verdict read = read_int(value, number);
    if (read == Error) return -1;
    if (read == Invalid) return add_entry(entries, path, PyUnicode_FromString("Expected int"), value) ? 1 : -1;
    if (number < low) {
        return add_entry(entries, path, PyUnicode_FromFormat("Value %lld is less than minimum %lld",
                                                             number, low), value) ? 1 : -1;
    }
    if (number > high) {
        return add_entry(entries, path, PyUnicode_FromFormat("Value %lld is greater than maximum %lld",
                                                             number, high), value) ? 1 : -1;
    }
    return 0;
}

int str_entry(PyObject* entries, const char* path, PyObject* value, Py_ssize_t low, Py_ssize_t high) {
    if (!is_str(value)) return add_entry(entries, path, PyUnicode_FromString("Expected str"), value) ? 1 : -1;
    Py_ssize_t size = 0;
    if (!PyUnicode_IS_COMPACT_ASCII(value) && PyUnicode_AsUTF8AndSize(value, &size) == nullptr) return -1;
    Py_ssize_t length = PyUnicode_GET_LENGTH(value);
    if (length < low) {
        return add_entry(entries, path, PyUnicode_FromFormat(
            "String length %zd is shorter than minimum length %zd", length, low), value) ? 1 : -1;
    }
    if (length > high) {
        return add_entry(entries, path, PyUnicode_FromFormat(
            "String length %zd is longer than maximum length %zd", length, high), value) ? 1 : -1;
    }
    return 0;
}

// The entries of one record of the users list that failed the boolean check, its keys
// in schema order as the workload has them; anything else is declined.
bool record_entries(PyObject* entries, PyObject* record, Py_ssize_t index) {
    if (!is_dict(record) || PyDict_GET_SIZE(record) != 8) return decline_collect();
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    char path[96];
    for (std::size_t i = 0; PyDict_Next(record, &pos, &key, &value); ++i) {
        if (key != Record::fields.names[i]) return decline_collect();
        std::snprintf(path, sizeof path, "users[%zd].%s", index, Record::fields.texts[i]);
        int added = 0;
        switch (i) {
            case 0: added = int_entry(entries, path, value, 1, LLONG_MAX); break;
            case 1: added = str_entry(entries, path, value, 1, 40); break;
            case 2: added = str_entry(entries, path, value, 3, 254); break;
            case 3: added = int_entry(entries, path, value, 0, 150); break;
            case 4:  // the floats: no violation of theirs is in the workload
                if (Record::check<4>(value) != Valid) return decline_collect();
                break;
            case 5:
                if (Record::check<5>(value) != Valid) return decline_collect();
                break;
            case 6:
                if (is_bool(value) != Valid) {
                    added = add_entry(entries, path, PyUnicode_FromString("Expected bool"), value) ? 1 : -1;
                }
                break;
            default: {
                if (!is_list(value)) return decline_collect();
                Py_ssize_t size = PyList_GET_SIZE(value);
                if (size > 8) {
                    added = add_entry(entries, path, PyUnicode_FromFormat(
                        "List length %zd is longer than maximum length 8", size), value) ? 1 : -1;
                    break;
                }
                for (Py_ssize_t j = 0; j < size && added >= 0; ++j) {
                    char item_path[112];
                    std::snprintf(item_path, sizeof item_path, "%s[%zd]", path, j);
                    added = str_entry(entries, item_path, PyList_GET_ITEM(value, j), 1, 16);
                }
            }
        }
        if (added < 0) return false;
    }
    return true;
}

PyObject* users_collect(PyObject* data) {
    PyObject* users = nullptr;
    if (is_dict(data) && PyDict_GET_SIZE(data) == 1) {
        users = PyDict_GetItemWithError(data, Users::fields.names[0]);
    }
    if (users == nullptr || !is_list(users)) {
        if (!PyErr_Occurred()) decline_collect();
        return nullptr;
    }
    PyObject* entries = PyList_New(0);
    if (entries == nullptr) return nullptr;
    PyObject** items = reinterpret_cast<PyListObject*>(users)->ob_item;
    for (Py_ssize_t i = 0, size = PyList_GET_SIZE(users); i < size; ++i) {
        Verdict verdict = record_of<Record>(items[i]);
        if (verdict == Valid) [[likely]] continue;
        if (verdict == Error || !record_entries(entries, items[i], i)) {
            Py_DECREF(entries);
            return nullptr;
        }
    }
    return entries;
}

// ---------------------------------------------------------------------------
// The wide record: fields f00000, f00001, ... of the kinds int, float, str, bool in
// turn. Written as a loop over groups of four fields, one of each kind, which is how
// one would write it by hand for a thousand fields.

constexpr std::size_t kWide = 1000;
PyObject* wide_names[kWide];
char wide_texts[kWide][8];
PyObject* wide_index;  // name -> field number, for keys out of schema order

Verdict wide_check(std::size_t field, PyObject* value) {
    switch (field % 4) {
        case 0: return int_in<0, 1000>(value);
        case 1: return float_in<false>(value, 0.0, 1.0);
        case 2: return str_in<1, 20>(value);
        default: return is_bool(value);
    }
}

// The field of a key that is not the expected name object: the expected field's text
// first (keys made at run time are equal texts in other objects), then the index.
[[gnu::always_inline]] inline std::size_t wide_field(PyObject* key, std::size_t expected,
                                                    bool& subclass_key) {
    if (key == wide_names[expected]) [[likely]] return expected;
    if (Py_IS_TYPE(key, &PyUnicode_Type) && PyUnicode_IS_COMPACT_ASCII(key) &&
        PyUnicode_GET_LENGTH(key) == 6) [[likely]] {
        if (std::memcmp(PyUnicode_DATA(key), wide_texts[expected], 6) == 0) return expected;
    }
    if (!is_str(key)) return kNoField;
    subclass_key |= !PyUnicode_CheckExact(key);
    std::string_view text;
    if (!key_text(key, text)) return kKeyError;
    // The index is searched with an exact str of the key's text: no Python code runs.
    PyObject* exact = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    if (exact == nullptr) return kKeyError;
    PyObject* found = PyDict_GetItemWithError(wide_index, exact);
    Py_DECREF(exact);
    if (found == nullptr) return PyErr_Occurred() ? kKeyError : kNoField;
    return static_cast<std::size_t>(PyLong_AsSsize_t(found));
}

Verdict wide_all_named(PyObject* dict) {
    bool named[kWide] = {};
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(dict, &pos, &key, &value)) {
        bool ignored = false;
        std::size_t field = wide_field(key, 0, ignored);
        if (field == kKeyError) return Error;
        if (field != kNoField) named[field] = true;
    }
    for (bool seen : named) {
        if (!seen) return Invalid;
    }
    return Valid;
}

Verdict wide_record(PyObject* object) {
    if (!is_dict(object)) [[unlikely]] return Invalid;
    if (PyDict_GET_SIZE(object) != static_cast<Py_ssize_t>(kWide)) return Invalid;
    Py_ssize_t pos = 0;
    bool subclass_key = false;
    auto step = [&](std::size_t expected, auto check) -> Verdict {
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        PyDict_Next(object, &pos, &key, &value);
        std::size_t field = wide_field(key, expected, subclass_key);
        if (field == expected) [[likely]] return check(value);
        if (field == kKeyError) return Error;
        if (field == kNoField) return Invalid;
        return wide_check(field, value);
    };
    for (std::size_t i = 0; i < kWide; i += 4) {
        Verdict answer = step(i, [](PyObject* v) { return int_in<0, 1000>(v); });
        if (answer == Valid) answer = step(i + 1, [](PyObject* v) { return float_in<false>(v, 0.0, 1.0); });
        if (answer == Valid) answer = step(i + 2, [](PyObject* v) { return str_in<1, 20>(v); });
        if (answer == Valid) answer = step(i + 3, [](PyObject* v) { return is_bool(v); });
        if (answer != Valid) [[unlikely]] return answer;
    }
    if (subclass_key) [[unlikely]] return wide_all_named(object);
    return Valid;
}

bool make_wide_names() {
    wide_index = PyDict_New();
    if (wide_index == nullptr) return false;
    for (std::size_t i = 0; i < kWide; ++i) {
        std::snprintf(wide_texts[i], sizeof wide_texts[i], "f%05zu", i);
        wide_names[i] = PyUnicode_InternFromString(wide_texts[i]);
        if (wide_names[i] == nullptr) return false;
        PyObject* number = PyLong_FromSize_t(i);
        if (number == nullptr) return false;
        int stored = PyDict_SetItem(wide_index, wide_names[i], number);
        Py_DECREF(number);
        if (stored < 0) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// The bulk workloads: 100,000 ints in [0, 1000000]; 10,000 floats in [0, 1e6] by str keys.

Verdict ints(PyObject* object) {
    return list_of(object, [](PyObject* item) { return int_in<0, 1'000'000>(item); });
}

Verdict floats(PyObject* object) {
    return dict_of(object, [](PyObject* value) { return float_in<false>(value, 0.0, 1e6); });
}

// ---------------------------------------------------------------------------
// The reads of schema compilation alone.

enum Interned : int {
    kCoerce, kCustomChecks, kWhenCondition, kEnvKey, kName, kTypeCls, kMin, kMax,
    kExclusiveMin, kExclusiveMax, kRegex, kMinLen, kMaxLen, kItemValidator, kKeyType,
    kValueValidator, kNumberValidator, kStringValidator, kBoolValidator, kListValidator,
    kDictValidator, kValidator, kInt, kFloat, kStr, kInternedCount
};
const char* const interned_texts[kInternedCount] = {
    "_coerce", "_custom_checks", "_when_condition", "_env_key", "__name__", "_type_cls", "_min",
    "_max", "_exclusive_min", "_exclusive_max", "_regex", "_min_len", "_max_len",
    "_item_validator", "_key_type", "_value_validator", "NumberValidator", "StringValidator",
    "BoolValidator", "ListValidator", "DictValidator", "Validator", "int", "float", "str"};
PyObject* interned[kInternedCount];

// Owns one reference for the scope of a read.
class Held {
public:
    explicit Held(PyObject* object) noexcept : object_(object) {}
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() { Py_XDECREF(object_); }
    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    PyObject* object_;
};

inline Held attr(PyObject* object, Interned name) {
    return Held(PyObject_GetAttr(object, interned[name]));
}

// A str compared with one of the names: by pointer, then by text.
bool names(PyObject* text, Interned name) {
    if (text == interned[name]) return true;
    return PyUnicode_Check(text) && PyUnicode_Compare(text, interned[name]) == 0;
}

enum Read : int { ReadError = -1, ReadUnsupported = 0, ReadOk = 1 };

Read read_schema(PyObject* schema);

Read read_bool_attr(PyObject* object, Interned name, bool& value) {
    Held held = attr(object, name);
    if (!held) return ReadError;
    if (held.get() == Py_True || held.get() == Py_False) {
        value = held.get() == Py_True;
        return ReadOk;
    }
    int truth = PyObject_IsTrue(held.get());
    if (truth < 0) return ReadError;
    value = truth != 0;
    return ReadOk;
}

Read read_f64_attr(PyObject* object, Interned name) {
    Held held = attr(object, name);
    if (!held) return ReadError;
    if (held.get() == Py_None) return ReadOk;
    double value = PyFloat_AsDouble(held.get());
    return value == -1.0 && PyErr_Occurred() ? ReadError : ReadOk;
}

Read read_count_attr(PyObject* object, Interned name) {
    Held held = attr(object, name);
    if (!held) return ReadError;
    if (held.get() == Py_None) return ReadOk;
    unsigned long long value = PyLong_AsUnsignedLongLong(held.get());
    return value == static_cast<unsigned long long>(-1) && PyErr_Occurred() ? ReadError : ReadOk;
}

Read read_none_attr(PyObject* object, Interned name) {
    Held held = attr(object, name);
    if (!held) return ReadError;
    return held.get() == Py_None ? ReadOk : ReadUnsupported;
}

// The __name__ of `object`'s attribute `name`, compared with one or two names: which matched.
int attr_type_name(PyObject* object, Interned name, Interned first, Interned second) {
    Held held = attr(object, name);
    if (!held) return -1;
    Held type_name = attr(held.get(), kName);
    if (!type_name) return -1;
    if (!PyUnicode_Check(type_name.get())) {
        PyErr_SetString(PyExc_TypeError, "__name__ is not a str");
        return -1;
    }
    return names(type_name.get(), first) ? 1 : names(type_name.get(), second) ? 2 : 0;
}

Read read_fields(PyObject* schema) {
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(schema, &pos, &key, &value)) {
        if (!PyUnicode_Check(key)) return ReadUnsupported;
        std::string_view text;
        if (!key_text(key, text)) {
            PyErr_Clear();
            return ReadUnsupported;
        }
        Py_INCREF(value);  // attribute reads may run Python code
        Read read = read_schema(value);
        Py_DECREF(value);
        if (read != ReadOk) return read;
    }
    return ReadOk;
}

Read read_validator(PyObject* schema) {
    bool coerce = false;
    if (Read r = read_bool_attr(schema, kCoerce, coerce); r != ReadOk) return r;
    if (coerce) return ReadUnsupported;
    {
        Held checks = attr(schema, kCustomChecks);
        if (!checks) return ReadError;
        Py_ssize_t length = PyObject_Length(checks.get());
        if (length < 0) return ReadError;
        if (length != 0) return ReadUnsupported;
    }
    if (Read r = read_none_attr(schema, kWhenCondition); r != ReadOk) return r;
    if (Read r = read_none_attr(schema, kEnvKey); r != ReadOk) return r;
    Held name = Held(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(schema)), interned[kName]));
    if (!name) return ReadError;
    if (!PyUnicode_Check(name.get())) {
        PyErr_SetString(PyExc_TypeError, "__name__ is not a str");
        return ReadError;
    }
    if (names(name.get(), kNumberValidator)) {
        int kind = attr_type_name(schema, kTypeCls, kInt, kFloat);
        if (kind <= 0) return kind < 0 ? ReadError : ReadUnsupported;
        if (Read r = read_f64_attr(schema, kMin); r != ReadOk) return r;
        if (Read r = read_f64_attr(schema, kMax); r != ReadOk) return r;
        bool flag = false;
        if (Read r = read_bool_attr(schema, kExclusiveMin, flag); r != ReadOk) return r;
        return read_bool_attr(schema, kExclusiveMax, flag);
    }
    if (names(name.get(), kStringValidator)) {
        if (Read r = read_none_attr(schema, kRegex); r != ReadOk) return r;
        if (Read r = read_count_attr(schema, kMinLen); r != ReadOk) return r;
        return read_count_attr(schema, kMaxLen);
    }
    if (names(name.get(), kBoolValidator) || names(name.get(), kValidator)) return ReadOk;
    if (names(name.get(), kListValidator)) {
        Held item = attr(schema, kItemValidator);
        if (!item) return ReadError;
        if (Read r = read_schema(item.get()); r != ReadOk) return r;
        if (Read r = read_count_attr(schema, kMinLen); r != ReadOk) return r;
        return read_count_attr(schema, kMaxLen);
    }
    if (names(name.get(), kDictValidator)) {
        int kind = attr_type_name(schema, kKeyType, kStr, kStr);
        if (kind <= 0) return kind < 0 ? ReadError : ReadUnsupported;
        Held value = attr(schema, kValueValidator);
        if (!value) return ReadError;
        return read_schema(value.get());
    }
    return ReadUnsupported;
}

Read read_schema(PyObject* schema) {
    return PyDict_Check(schema) ? read_fields(schema) : read_validator(schema);
}

// ---------------------------------------------------------------------------
// Module.

PyObject* answer(Verdict verdict) {
    if (verdict == Error) return nullptr;
    return PyBool_FromLong(verdict == Valid);
}

PyObject* floor_record(PyObject*, PyObject* data) { return answer(record_of<Record>(data)); }
PyObject* floor_records(PyObject*, PyObject* data) { return answer(record_of<Batch>(data)); }
PyObject* floor_document(PyObject*, PyObject* data) { return answer(record_of<Document>(data)); }
PyObject* floor_ints(PyObject*, PyObject* data) { return answer(ints(data)); }
PyObject* floor_floats(PyObject*, PyObject* data) { return answer(floats(data)); }
PyObject* floor_wide(PyObject*, PyObject* data) { return answer(wide_record(data)); }
PyObject* floor_small(PyObject*, PyObject* data) { return answer(record_of<SmallDocument>(data)); }
PyObject* floor_users(PyObject*, PyObject* data) { return answer(record_of<Users>(data)); }
PyObject* floor_users_collect(PyObject*, PyObject* data) { return users_collect(data); }

PyObject* floor_compile_reads(PyObject*, PyObject* schema) {
    Read read = read_schema(schema);
    if (read == ReadError) return nullptr;
    return PyBool_FromLong(read == ReadOk);
}

PyMethodDef floor_methods[] = {
    {"record", floor_record, METH_O, "record(data) -> bool: the eight-field record"},
    {"records", floor_records, METH_O, "records(data) -> bool: {'records': [record, ...]}"},
    {"document", floor_document, METH_O, "document(data) -> bool: the nested document"},
    {"ints", floor_ints, METH_O, "ints(data) -> bool: a list of ints in [0, 1000000]"},
    {"floats", floor_floats, METH_O, "floats(data) -> bool: str keys to floats in [0, 1e6]"},
    {"wide", floor_wide, METH_O, "wide(data) -> bool: the record of 1,000 fields"},
    {"small", floor_small, METH_O, "small(data) -> bool: the document of small containers"},
    {"users", floor_users, METH_O, "users(data) -> bool: {'users': [record, ...]}"},
    {"users_collect", floor_users_collect, METH_O,
     "users_collect(data) -> list: collect's entries for {'users': [record, ...]}, built only "
     "for the records the boolean check rejects"},
    {"compile_reads", floor_compile_reads, METH_O,
     "compile_reads(schema) -> bool: the reads of compile_schema alone; False where it "
     "would return None"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef floor_module = {
    PyModuleDef_HEAD_INIT, "brindle_floor", "Hand-written validators of the benchmark schemas.",
    -1, floor_methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_brindle_floor() {
    for (int i = 0; i < kInternedCount; ++i) {
        interned[i] = PyUnicode_InternFromString(interned_texts[i]);
        if (interned[i] == nullptr) return nullptr;
    }
    if (!Record::fields.intern() || !Batch::fields.intern() || !Member::fields.intern() ||
        !Department::fields.intern() || !Document::fields.intern() || !Meta::fields.intern() ||
        !Team::fields.intern() || !SmallDepartment::fields.intern() || !Org::fields.intern() ||
        !SmallDocument::fields.intern() || !Users::fields.intern() || !make_wide_names()) {
        return nullptr;
    }
    return PyModule_Create(&floor_module);
}
