#include "schema/compile.h"

#include <string_view>

#include "core/stack.h"
#include "python/access.h"
#include "python/cursor.h"

namespace brindle {

namespace {

constexpr const char* kTooDeep = "maximum recursion depth exceeded while compiling a schema";

// Bounds the compiler's recursion by the interpreter's own limit and by the native
// stack: a validator that is its own item validator, or a schema nested beyond the
// limit, raises RecursionError instead of exhausting the stack. The compiled tree
// is then no deeper than this thread's stack allows, which bounds its release too.
class RecursionGuard {
public:
    RecursionGuard() noexcept : entered_(Py_EnterRecursiveCall(" while compiling a schema") == 0) {}
    ~RecursionGuard() {
        if (entered_) Py_LeaveRecursiveCall();
    }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;
    explicit operator bool() const noexcept { return entered_; }

private:
    bool entered_;
};

// Reads the attribute `name` and converts it with `read`.
template <class Read>
auto read_setting(PyObject* validator, Attribute name, Read read)
    -> decltype(read(validator)) {
    auto value = get_attr(validator, name);
    if (!value) return std::move(value).take_failure();
    return read(value.value().get());
}

Result<Lengths> read_lengths(PyObject* validator) {
    auto min_len = read_setting(validator, Attribute::MinLen, read_optional_count);
    if (!min_len) return std::move(min_len).take_failure();
    auto max_len = read_setting(validator, Attribute::MaxLen, read_optional_count);
    if (!max_len) return std::move(max_len).take_failure();
    return Lengths{min_len.value(), max_len.value()};
}

// A str and a view of its UTF-8 text, which the str keeps alive.
struct HeldText {
    OwnedRef str;
    std::string_view text;
};

// `_type_cls.__name__` or `_key_type.__name__` and its text, converted as read_text
// converts; only compared, never copied. The name is read from a settings object,
// not from a type, so it is an ordinary attribute read.
Result<HeldText> settings_type_name(PyObject* validator, Attribute attribute) {
    auto type = get_attr(validator, attribute);
    if (!type) return std::move(type).take_failure();
    auto name = get_attr(type.value().get(), Attribute::Name);
    if (!name) return std::move(name).take_failure();
    PyObject* str = name.value().get();
    if (!is_str(str)) return Failure::conversion(str, "PyString");
    auto text = utf8_view(str);
    if (!text) return std::move(text).take_failure();
    return HeldText{std::move(name).value(), text.value()};
}

CompileOutcome compile_number(PyObject* validator) {
    auto type_name = settings_type_name(validator, Attribute::TypeCls);
    if (!type_name) return std::move(type_name).take_failure();
    bool is_float;
    if (type_name.value().text == "int") {
        is_float = false;
    } else if (type_name.value().text == "float") {
        is_float = true;
    } else {
        return Unsupported{};
    }
    Bounds bounds;
    auto min = read_setting(validator, Attribute::Min, read_optional_f64);
    if (!min) return std::move(min).take_failure();
    bounds.min = min.value();
    auto max = read_setting(validator, Attribute::Max, read_optional_f64);
    if (!max) return std::move(max).take_failure();
    bounds.max = max.value();
    auto exclusive_min = read_setting(validator, Attribute::ExclusiveMin, read_bool);
    if (!exclusive_min) return std::move(exclusive_min).take_failure();
    bounds.exclusive_min = exclusive_min.value();
    auto exclusive_max = read_setting(validator, Attribute::ExclusiveMax, read_bool);
    if (!exclusive_max) return std::move(exclusive_max).take_failure();
    bounds.exclusive_max = exclusive_max.value();
    return ValidatorNode::number(is_float, bounds);
}

CompileOutcome compile_string(PyObject* validator) {
    auto regex = get_attr(validator, Attribute::Regex);
    if (!regex) return std::move(regex).take_failure();
    if (!is_none(regex.value().get())) return Unsupported{};  // no pattern matching here
    auto lengths = read_lengths(validator);
    if (!lengths) return std::move(lengths).take_failure();
    return ValidatorNode::str(lengths.value());
}

CompileOutcome compile_list(PyObject* validator) {
    // No None test first: None fails like any non-validator, on its `_coerce`.
    auto item_validator = get_attr(validator, Attribute::ItemValidator);
    if (!item_validator) return std::move(item_validator).take_failure();
    CompileOutcome item = compile(item_validator.value().get());
    if (!item.is_node()) return item;
    auto lengths = read_lengths(validator);
    if (!lengths) return std::move(lengths).take_failure();
    return ValidatorNode::list(std::move(item).take_node(), lengths.value());
}

CompileOutcome compile_dict_validator(PyObject* validator) {
    auto key_type = settings_type_name(validator, Attribute::KeyType);
    if (!key_type) return std::move(key_type).take_failure();
    if (key_type.value().text != "str") return Unsupported{};
    auto value_validator = get_attr(validator, Attribute::ValueValidator);
    if (!value_validator) return std::move(value_validator).take_failure();
    CompileOutcome value = compile(value_validator.value().get());
    if (!value.is_node()) return value;
    return ValidatorNode::dict(std::move(value).take_node());
}

CompileOutcome compile_fields(PyObject* dict) {
    NativeVector<FieldEntry> entries;
    entries.reserve(static_cast<std::size_t>(dict_length(dict)));
    DictCursor cursor(dict);
    OwnedRef key;
    OwnedRef value;
    while (cursor.next(key, value)) {
        auto key_text = read_text(key.get());
        // Dropped: a key that is not a str with a UTF-8 form is a shape the core
        // declines, not an error of the schema.
        if (!key_text) return Unsupported{};
        CompileOutcome field = compile(value.get());
        if (!field.is_node()) return field;
        entries.push_back(FieldEntry{std::move(key_text).value(), std::move(field).take_node(),
                                     str_hash(key.get())});
    }
    return ValidatorNode::fields(std::move(entries));
}

// The gate settings that every validator object has: any of them in use means the
// library's own Python code must do the validating.
Result<bool> uses_python_only_features(PyObject* validator) {
    auto coerce = read_setting(validator, Attribute::Coerce, read_bool);
    if (!coerce) return std::move(coerce).take_failure();
    if (coerce.value()) return true;
    auto custom_checks = read_setting(validator, Attribute::CustomChecks, object_len);
    if (!custom_checks) return std::move(custom_checks).take_failure();
    if (custom_checks.value() != 0) return true;
    for (Attribute name : {Attribute::WhenCondition, Attribute::EnvKey}) {
        auto setting = get_attr(validator, name);
        if (!setting) return std::move(setting).take_failure();
        if (!is_none(setting.value().get())) return true;
    }
    return false;
}

}  // namespace

CompileOutcome compile(PyObject* schema) {
    RecursionGuard recursion;
    if (!recursion) return Failure::fetch();
    if (stack_exhausted(stack_floor())) return Failure::made(PyExc_RecursionError, kTooDeep);

    if (is_dict(schema)) return compile_fields(schema);

    auto python_only = uses_python_only_features(schema);
    if (!python_only) return std::move(python_only).take_failure();
    if (python_only.value()) return Unsupported{};

    auto name = type_name_object(schema);
    if (!name) return std::move(name).take_failure();
    // The class name as display_text shows it; an exact ASCII str shows as itself,
    // so most names are compared in place.
    PyObject* name_str = name.value().get();
    std::string_view kind;
    Text shown;
    if (PyUnicode_CheckExact(name_str) && PyUnicode_IS_COMPACT_ASCII(name_str)) [[likely]] {
        kind = std::string_view(static_cast<const char*>(PyUnicode_DATA(name_str)),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(name_str)));
    } else {
        shown = display_text(name_str);
        kind = view_of(shown);
    }
    if (kind == "StringValidator") return compile_string(schema);
    if (kind == "NumberValidator") return compile_number(schema);
    if (kind == "BoolValidator") return ValidatorNode::boolean();
    if (kind == "ListValidator") return compile_list(schema);
    if (kind == "DictValidator") return compile_dict_validator(schema);
    if (kind == "Validator") return ValidatorNode::any();
    return Unsupported{};
}

}  // namespace brindle
