// The module as the interpreter sees it: PyInit_brindle_core, compile_schema and
// the NativeValidator type with validate and collect.
//
// Each entry binds its arguments, then hands over to the part that owns the work:
// compile_schema to the compiler (schema/compile.h), validate to the boolean walk
// (walk/check.h) and collect to the error-collecting walk (walk/collect.h). The
// guard around each entry turns whatever comes back into a result or a raised
// exception.
#include <atomic>
#include <cstdint>
#include <new>
#include <string_view>

#include "core/render.h"
#include "python/access.h"
#include "python/fault.h"
#include "python/ref.h"
#include "python/result.h"
#include "python/singleton.h"
#include "schema/compile.h"
#include "schema/node.h"
#include "walk/check.h"
#include "walk/collect.h"

namespace brindle {
namespace {

struct NativeValidatorObject {
    PyObject_HEAD
    ValidatorNode root;  // owned: built by compile_schema, released by the deallocator
};

// Process-wide init state, written only under the interpreter lock, except the
// owner ID, which a second interpreter may race for.
std::atomic<std::int64_t> owner_interpreter{-1};
PyObject* module_cache = nullptr;
PyTypeObject* validator_type = nullptr;

constexpr const char* kSubinterpreterMessage =
    "Corvane modules do not yet support subinterpreters, see "
    "https://docs.python.org/3/c-api/init.html#sub-interpreter-support";

// ---------------------------------------------------------------------------
// Argument binding. Each callable takes one parameter, by position or keyword.

struct CallableParameters {
    std::string_view display_name;  // "compile_schema()", "NativeValidator.validate()"
    std::string_view parameter;
};

constexpr CallableParameters compile_schema_args{"compile_schema()", "schema"};
constexpr CallableParameters validate_args{"NativeValidator.validate()", "data"};
constexpr CallableParameters collect_args{"NativeValidator.collect()", "data"};

[[gnu::cold, gnu::noinline]] Failure argument_error(Text message) {
    return Failure::made(PyExc_TypeError, view_of(message));
}

[[gnu::noinline]] Result<PyObject*> bind_by_keyword(const CallableParameters& spec,
                                                    PyObject* const* args, Py_ssize_t nargs,
                                                    PyObject* kwnames);

// The one argument, passed by position in the common case.
[[gnu::always_inline]] inline Result<PyObject*> bind_one_argument(const CallableParameters& spec,
                                                                  PyObject* const* args,
                                                                  Py_ssize_t nargs,
                                                                  PyObject* kwnames) {
    if (nargs == 1 && kwnames == nullptr) [[likely]] return args[0];
    return bind_by_keyword(spec, args, nargs, kwnames);
}

Result<PyObject*> bind_by_keyword(const CallableParameters& spec, PyObject* const* args,
                                  Py_ssize_t nargs, PyObject* kwnames) {
    if (nargs > 1) {
        return argument_error(format_message(
            "{} takes {} positional arguments but {} {} given",
            {spec.display_name, std::uint64_t{1}, static_cast<std::uint64_t>(nargs),
             nargs == 1 ? "was" : "were"}));
    }
    PyObject* slot = nargs == 1 ? args[0] : nullptr;
    Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < keywords; ++i) {
        PyObject* name = PyTuple_GET_ITEM(kwnames, i);
        bool names_parameter = false;
        if (is_str(name)) {
            auto text = utf8_view(name);
            // Dropped: a name without a UTF-8 form names no parameter.
            names_parameter = text && text.value() == spec.parameter;
        }
        if (!names_parameter) {
            return argument_error(format_message("{} got an unexpected keyword argument '{}'",
                                                 {spec.display_name, display_text(name)}));
        }
        if (slot != nullptr) {
            return argument_error(format_message("{} got multiple values for argument '{}'",
                                                 {spec.display_name, spec.parameter}));
        }
        slot = args[nargs + i];
    }
    if (slot == nullptr) {
        return argument_error(format_message(
            "{} missing {} required {} {}: {}",
            {spec.display_name, std::uint64_t{1}, "positional", "argument",
             format_message("'{}'", {spec.parameter})}));
    }
    return slot;
}

// ---------------------------------------------------------------------------
// NativeValidator

// A new reference to `self`, held for the whole call, so that Python code run by
// the walk can drop every other reference to the validator without harm.
Result<OwnedRef> hold_validator(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    if (type != validator_type && !PyType_IsSubtype(type, validator_type)) {
        return Failure::conversion(self, "NativeValidator");
    }
    return OwnedRef::borrow(self);
}

const ValidatorNode& root_of(const OwnedRef& validator) {
    return reinterpret_cast<NativeValidatorObject*>(validator.get())->root;
}

Result<OwnedRef> new_validator(ValidatorNode root) {
    allocfunc alloc = validator_type->tp_alloc != nullptr ? validator_type->tp_alloc
                                                           : PyType_GenericAlloc;
    PyObject* object = alloc(validator_type, 0);
    if (object == nullptr) {
        TakenException error = TakenException::fetch();
        { ValidatorNode released = std::move(root); }
        raise_fault(view_of(format_message("unexpected error result: {}",
                                           {render_exception(error)})));
    }
    new (&reinterpret_cast<NativeValidatorObject*>(object)->root) ValidatorNode(std::move(root));
    return OwnedRef::steal(object);
}

// validate and collect: bind `data`, hold the validator, run the walk over its tree.
template <auto walk>
PyObject* walk_entry(const CallableParameters& parameters, PyObject* self, PyObject* const* args,
                     Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return guard([&]() -> Result<OwnedRef> {
        auto data = bind_one_argument(parameters, args, nargs, kwnames);
        if (!data) return std::move(data).take_failure();
        auto held = hold_validator(self);
        if (!held) return std::move(held).take_failure();
        return walk(root_of(held.value()), data.value());
    });
}

PyObject* validator_validate(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) noexcept {
    return walk_entry<run_validate>(validate_args, self, args, nargs, kwnames);
}

PyObject* validator_collect(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) noexcept {
    return walk_entry<run_collect>(collect_args, self, args, nargs, kwnames);
}

PyObject* validator_new(PyTypeObject* type, PyObject*, PyObject*) noexcept {
    return guard([&]() -> Result<OwnedRef> {
        Text name("<unknown>");
        auto name_str = name_object(reinterpret_cast<PyObject*>(type));
        if (name_str) {
            auto text = utf8_view(name_str.value().get());
            if (text) name.assign(text.value());
        }
        // Any failure reading the name was dropped above: the placeholder stands in.
        return Failure::made(PyExc_TypeError,
                             view_of(format_message("No constructor defined for {}", {name})));
    });
}

void validator_dealloc(PyObject* self) noexcept {
    guard_no_result([&] {
        reinterpret_cast<NativeValidatorObject*>(self)->root.~ValidatorNode();
        PyTypeObject* type = Py_TYPE(self);
        type->tp_free(self);
        Py_DECREF(type);
    });
}

// ---------------------------------------------------------------------------
// compile_schema

PyObject* module_compile_schema(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) noexcept {
    return guard([&]() -> Result<OwnedRef> {
        auto schema = bind_one_argument(compile_schema_args, args, nargs, kwnames);
        if (!schema) return std::move(schema).take_failure();
        auto held = OwnedRef::borrow(schema.value());
        CompileOutcome outcome = compile(held.get());
        if (outcome.is_unsupported()) return OwnedRef::borrow(Py_None);
        if (!outcome.is_node()) return std::move(outcome).take_failure();
        return new_validator(std::move(outcome).take_node());
    });
}

// ---------------------------------------------------------------------------
// Type and module definitions

template <class Function>
PyCFunction as_method(Function function) {
    // The interpreter calls through the signature that ml_flags announce.
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

PyMethodDef compile_schema_def = {"compile_schema", as_method(module_compile_schema),
                                  METH_FASTCALL | METH_KEYWORDS,
                                  "compile_schema(schema)\n--\n\n"};

PyMethodDef validator_methods[] = {
    {"validate", as_method(validator_validate), METH_FASTCALL | METH_KEYWORDS,
     "validate($self, data)\n--\n\n"},
    {"collect", as_method(validator_collect), METH_FASTCALL | METH_KEYWORDS,
     "collect($self, data)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot validator_slots[] = {
    {Py_tp_methods, validator_methods},
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_new, reinterpret_cast<void*>(validator_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(validator_dealloc)},
    {0, nullptr},
};

PyType_Spec validator_spec = {
    "builtins.NativeValidator",
    static_cast<int>(sizeof(NativeValidatorObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    validator_slots,
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "brindle_core",
    "",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

Result<PyTypeObject*> get_validator_type() {
    return singleton(validator_type, []() -> Result<OwnedRef> {
        auto made = OwnedRef::steal(PyType_FromSpec(&validator_spec));
        if (!made) {
            return chained_failure(PyExc_RuntimeError,
                                   "An error occurred while initializing class NativeValidator",
                                   Failure::fetch());
        }
        return made;
    });
}

// Adds `value` to the module under `name` and lists the name in __all__.
Status add_to_module(PyObject* module, PyObject* name, PyObject* value) {
    auto all = OwnedRef::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        Failure missing = Failure::fetch();
        if (!PyErr_GivenExceptionMatches(missing.exception_type(), PyExc_AttributeError)) {
            return missing;
        }
        all = OwnedRef::steal(PyList_New(0));
        if (!all) api_call_failed();
        if (PyObject_SetAttrString(module, "__all__", all.get()) != 0) return Failure::fetch();
    }
    if (!is_list(all.get())) return Failure::conversion(all.get(), "PyList");
    if (PyList_Append(all.get(), name) != 0) {
        TakenException error = TakenException::fetch();
        raise_fault(view_of(format_message("could not append __name__ to __all__: {}",
                                           {render_exception(error)})));
    }
    if (PyObject_SetAttr(module, name, value) != 0) return Failure::fetch();
    return ok();
}

Status populate_module(PyObject* module) {
    auto module_name = OwnedRef::steal(PyModule_GetNameObject(module));
    if (!module_name) return Failure::fetch();
    auto function = OwnedRef::steal(
        PyCMethod_New(&compile_schema_def, module, module_name.get(), nullptr));
    if (!function) return Failure::fetch();
    auto function_name = name_object(function.get());
    if (!function_name) return std::move(function_name).take_failure();
    auto added = add_to_module(module, function_name.value().get(), function.get());
    if (!added) return std::move(added).take_failure();

    auto type = get_validator_type();
    if (!type) return std::move(type).take_failure();
    auto type_name = OwnedRef::steal(PyUnicode_FromString("NativeValidator"));
    if (!type_name) api_call_failed();
    return add_to_module(module, type_name.get(), reinterpret_cast<PyObject*>(type.value()));
}

// Everything the module keeps for the process belongs to the runtime that made it.
// From 3.14 on, finalizing the runtime frees interned strings whoever holds them,
// so an embedder that finalizes and initializes again would otherwise meet freed
// names, messages and types: after finalization the module forgets them all (the
// runtime is gone, nothing is released) and the next import starts afresh.
void forget_runtime_objects() noexcept {
    module_cache = nullptr;
    validator_type = nullptr;
    forget_interned_names();
    forget_fixed_messages();
    forget_panic_exception_type();
    owner_interpreter.store(-1);
}

Result<OwnedRef> init_module() {
    std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) return Failure::fetch();
    std::int64_t owner = -1;
    if (!owner_interpreter.compare_exchange_strong(owner, id) && owner != id) {
        return Failure::made(PyExc_ImportError, kSubinterpreterMessage);
    }
    // Re-importing after the module left sys.modules gives the same module object.
    if (module_cache != nullptr) return OwnedRef::borrow(module_cache);

    auto module = OwnedRef::steal(PyModule_Create2(&module_def, 1013));
    if (!module) return Failure::fetch();
    auto populated = populate_module(module.get());
    if (!populated) return std::move(populated).take_failure();
#if PY_VERSION_HEX >= 0x030E0000
    // Runs after finalization. Py_AtExit fails only when its table is full; the
    // module then works as before, for every runtime but a re-initialized one.
    (void)Py_AtExit(forget_runtime_objects);
#else
    (void)&forget_runtime_objects;
#endif
    module_cache = OwnedRef::borrow(module.get()).release();
    return module;
}

}  // namespace
}  // namespace brindle

PyMODINIT_FUNC PyInit_brindle_core() noexcept {
    return brindle::guard(brindle::init_module);
}
