#include "python/access.h"

#include "core/render.h"
#include "core/text.h"
#include "python/singleton.h"

namespace brindle {

namespace {

constexpr std::string_view kAttributeTexts[] = {
#define BRINDLE_ATTRIBUTE_TEXT(name, text) text,
    BRINDLE_ATTRIBUTES(BRINDLE_ATTRIBUTE_TEXT)
#undef BRINDLE_ATTRIBUTE_TEXT
};

// Interned attribute names, made on first use and kept for the process (written
// under the interpreter lock).
PyObject* attribute_slots[std::size(kAttributeTexts)] = {};
PyObject* qualname_slot = nullptr;
PyObject* module_slot = nullptr;

PyObject* dunder_name() { return attribute_name(Attribute::Name); }
PyObject* dunder_module() { return interned_str(module_slot, "__module__"); }

}  // namespace

void forget_interned_names() noexcept {
    for (PyObject*& slot : attribute_slots) slot = nullptr;
    qualname_slot = nullptr;
    module_slot = nullptr;
}

namespace {

PyObject* type_object(PyObject* object) noexcept {
    return reinterpret_cast<PyObject*>(Py_TYPE(object));
}

// Whether `object` is numpy's bool scalar, recognised by name so that numpy is
// never imported or linked. Every failure met on the way means "no".
bool is_numpy_bool(PyObject* object) {
    auto module = OwnedRef::steal(PyObject_GetAttr(type_object(object), dunder_module()));
    if (!module) {
        Failure::fetch();  // dropped: a type without a readable module is not numpy's
        return false;
    }
    if (!is_str(module.get())) return false;
    auto module_text = utf8_view(module.get());
    if (!module_text || module_text.value() != "numpy") return false;
    auto name = type_name_object(object);
    if (!name) return false;
    auto name_text = utf8_view(name.value().get());
    return name_text && (name_text.value() == "bool_" || name_text.value() == "bool");
}

}  // namespace

PyObject* attribute_name(Attribute attribute) {
    auto index = static_cast<std::size_t>(attribute);
    return interned_str(attribute_slots[index], kAttributeTexts[index]);
}

Result<OwnedRef> get_attr(PyObject* object, Attribute name) {
    auto value = OwnedRef::steal(PyObject_GetAttr(object, attribute_name(name)));
    if (!value) return Failure::fetch();
    return value;
}

Result<OwnedRef> name_object(PyObject* object) {
    auto name = OwnedRef::steal(PyObject_GetAttr(object, dunder_name()));
    if (!name) return Failure::fetch();
    if (!is_str(name.get())) return Failure::conversion(name.get(), "PyString");
    return name;
}

Result<OwnedRef> type_name_object(PyObject* object) {
    return name_object(type_object(object));
}

std::optional<Text> conversion_message(PyObject* object_type, const char* target) {
    // This runs while a guard raises, where a fault would end the process: no step
    // here may fault. Where memory runs out (a built-in type's __qualname__ is a new
    // str on each read), the MemoryError is the exception to raise, not a message
    // with a placeholder in it.
    Text type_text("<failed to extract type name>");
    PyObject* name = interned_str_or_null(qualname_slot, "__qualname__");
    auto qualname = OwnedRef::steal(name == nullptr ? nullptr
                                                    : PyObject_GetAttr(object_type, name));
    if (qualname && is_str(qualname.get())) {
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(qualname.get(), &size);
        if (text != nullptr) type_text.assign(text, static_cast<std::size_t>(size));
    }
    if (PyErr_Occurred()) {
        if (ran_out_of_memory()) return std::nullopt;
        // Dropped as taken, not resumed as a fault even when it is the fault exception.
        TakenException::fetch();
    }
    return format_message("'{}' object cannot be converted to '{}'",
                          {type_text, std::string_view(target)});
}

Result<std::string_view> utf8_view_slow(PyObject* str) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(str, &size);
    if (data == nullptr) return Failure::fetch();
    return std::string_view(data, static_cast<std::size_t>(size));
}

PyObject* new_str(std::string_view utf8) {
    if (!is_ascii(utf8)) return PyUnicode_DecodeUTF8(utf8.data(), std::ssize(utf8), nullptr);
    PyObject* str = PyUnicode_New(std::ssize(utf8), 127);
    if (str != nullptr) std::memcpy(PyUnicode_DATA(str), utf8.data(), utf8.size());
    return str;
}

Result<std::uint64_t> str_code_points_slow(PyObject* str) {
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(str) != 0) return Failure::fetch();
#endif
    auto length = static_cast<std::uint64_t>(PyUnicode_GET_LENGTH(str));
    const void* data = PyUnicode_DATA(str);
    bool surrogate = false;
    switch (PyUnicode_KIND(str)) {
        case PyUnicode_2BYTE_KIND: {
            const auto* units = static_cast<const Py_UCS2*>(data);
            for (std::uint64_t i = 0; i < length; ++i) surrogate |= (units[i] & 0xF800) == 0xD800;
            break;
        }
        case PyUnicode_4BYTE_KIND: {
            const auto* units = static_cast<const Py_UCS4*>(data);
            for (std::uint64_t i = 0; i < length; ++i) surrogate |= (units[i] & 0xFFFFF800) == 0xD800;
            break;
        }
        default:  // Latin-1 holds no surrogate
            break;
    }
    if (!surrogate) return length;
    // The interpreter's own encoding error, exactly as reading the text raises it.
    auto text = utf8_view_slow(str);
    if (!text) return std::move(text).take_failure();
    return code_points(text.value());
}

Result<std::int64_t> read_i64_slow(PyObject* object) {
    auto index = OwnedRef::steal(PyNumber_Index(object));
    if (!index) return Failure::fetch();
    long long value = PyLong_AsLongLong(index.get());
    if (value == -1 && PyErr_Occurred()) return Failure::fetch();
    return static_cast<std::int64_t>(value);
}

Result<std::uint64_t> read_count(PyObject* object) {
    OwnedRef index;
    PyObject* integer = object;
    if (!is_int(object)) {
        index = OwnedRef::steal(PyNumber_Index(object));
        if (!index) return Failure::fetch();
        integer = index.get();
    }
    unsigned long long value = PyLong_AsUnsignedLongLong(integer);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        return Failure::fetch();
    }
    return static_cast<std::uint64_t>(value);
}

Result<std::optional<double>> read_optional_f64(PyObject* object) {
    if (is_none(object)) return std::optional<double>();
    auto value = read_f64(object);
    if (!value) return std::move(value).take_failure();
    return std::optional<double>(value.value());
}

Result<std::optional<std::uint64_t>> read_optional_count(PyObject* object) {
    if (is_none(object)) return std::optional<std::uint64_t>();
    auto value = read_count(object);
    if (!value) return std::move(value).take_failure();
    return std::optional<std::uint64_t>(value.value());
}

Result<bool> read_bool(PyObject* object) {
    if (is_bool(object)) return object == Py_True;
    if (!is_numpy_bool(object)) return Failure::conversion(object, "PyBool");
    PyNumberMethods* number = Py_TYPE(object)->tp_as_number;
    if (number == nullptr || number->nb_bool == nullptr) {
        return Failure::made(
            PyExc_TypeError,
            view_of(format_message("object of type '{}' does not define a '__bool__' conversion",
                                   {display_text(type_object(object))})));
    }
    int truth = number->nb_bool(object);
    if (truth == 0) return false;
    if (truth == 1) return true;
    return Failure::fetch();
}

Result<Text> read_text(PyObject* object) {
    if (!is_str(object)) return Failure::conversion(object, "PyString");
    auto view = utf8_view(object);
    if (!view) return std::move(view).take_failure();
    return Text(view.value());
}

Result<Py_ssize_t> object_len(PyObject* object) {
    Py_ssize_t size = PyObject_Size(object);
    if (size == -1) return Failure::fetch();
    return size;
}

Text display_text(PyObject* object) {
    auto str = OwnedRef::steal(PyObject_Str(object));
    if (!str) {
        // The interpreter's unraisable hook reports the exception and clears it.
        if (PyErr_Occurred()) PyErr_WriteUnraisable(object);
        auto name = type_name_object(object);
        if (!name) return Text("<unprintable object>");
        return format_message("<unprintable {} object>", {display_text(name.value().get())});
    }
    auto view = utf8_view(str.get());
    if (view) return Text(view.value());
    Failure dropped = std::move(view).take_failure();  // lone surrogates: shown as U+FFFD
    // Each byte of an encoded surrogate is a maximal ill-formed subpart, which the
    // interpreter's "replace" decoding turns into one U+FFFD.
    auto bytes = OwnedRef::steal(PyUnicode_AsEncodedString(str.get(), "utf-8", "surrogatepass"));
    if (!bytes) api_call_failed();
    auto replaced = OwnedRef::steal(PyUnicode_DecodeUTF8(
        PyBytes_AS_STRING(bytes.get()), PyBytes_GET_SIZE(bytes.get()), "replace"));
    if (!replaced) api_call_failed();
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(replaced.get(), &size);
    if (data == nullptr) api_call_failed();
    return Text(data, static_cast<std::size_t>(size));
}

}  // namespace brindle
