#include "python/fault.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "core/platform.h"
#include "python/access.h"
#include "python/render.h"

namespace brindle {

namespace {

constexpr const char* kPanicName = "corvane_runtime.PanicException";
constexpr const char* kPanicDoc =
    "\n"
    "The exception raised when Tarnic code called from Python panics.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

// Written once, under the interpreter lock, and never released.
PyObject* panic_type_slot = nullptr;

void write_stderr(std::string_view text) noexcept {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

[[noreturn]] void uncaught_at_boundary() noexcept {
    write_stderr("uncaught panic at ffi boundary\n");
    std::abort();
}

// Raises the fault exception with `message` as its one argument.
void raise_panic(std::string_view message) {
    PyObject* type = panic_exception_type();
    auto text = OwnedRef::steal(PyUnicode_FromStringAndSize(message.data(),
                                                            std::ssize(message)));
    if (!text) api_call_failed();
    auto args = OwnedRef::steal(PyTuple_Pack(1, text.get()));
    if (!args) api_call_failed();
    PyErr_SetObject(type, args.get());
}

// Taking the module's own fault exception out of the interpreter: Python code that
// raised it inside a call wants the call to end as a fault, not as a failed read.
[[noreturn]] void resume_panic(TakenException taken) {
    Text message("Unwrapped panic from Python code");
    if (taken.value() != nullptr) {
        auto text = OwnedRef::steal(PyObject_Str(taken.value()));
        if (text) {
            Py_ssize_t size = 0;
            const char* data = PyUnicode_AsUTF8AndSize(text.get(), &size);
            if (data != nullptr) message.assign(data, static_cast<std::size_t>(size));
        }
        // Whatever str() or the encoding raised is not worth more than the fallback.
        PyErr_Clear();
    }
    write_stderr(
        "--- Corvane is resuming a panic after fetching a PanicException from Python. ---\n"
        "Python stack trace below:\n");
    std::move(taken).restore();
    PyErr_PrintEx(0);
    throw InternalFault(std::move(message));
}

Text thread_label() {
    char name[64];
    platform::thread_name(name, sizeof name);
    return format_message("'{}' ({})", {std::string_view(name),
                                         static_cast<std::uint64_t>(PyThread_get_thread_ident())});
}

}  // namespace

TakenException TakenException::fetch() noexcept {
    TakenException taken;
#if PY_VERSION_HEX >= 0x030C0000
    PyObject* value = PyErr_GetRaisedException();
    if (value != nullptr) {
        taken.type_ = OwnedRef::borrow(reinterpret_cast<PyObject*>(Py_TYPE(value)));
        taken.traceback_ = OwnedRef::steal(PyException_GetTraceback(value));
        taken.value_ = OwnedRef::steal(value);
    }
#else
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    taken.type_ = OwnedRef::steal(type);
    taken.value_ = OwnedRef::steal(value);
    taken.traceback_ = OwnedRef::steal(traceback);
#endif
    return taken;
}

void TakenException::restore() && noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    traceback_ = OwnedRef();
    type_ = OwnedRef();
    PyErr_SetRaisedException(value_.release());
#else
    PyErr_Restore(type_.release(), value_.release(), traceback_.release());
#endif
}

Failure Failure::fetch() {
    TakenException taken = TakenException::fetch();
    if (!taken) {
        return made(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    if (taken.type() == panic_exception_type()) resume_panic(std::move(taken));
    return Failure(std::move(taken));
}

Failure Failure::made(PyObject* type, std::string_view message) {
    return Failure(MadeException{type, Text(message)});
}

Failure Failure::conversion(PyObject* object, const char* target) {
    return Failure(ConversionError{
        OwnedRef::borrow(reinterpret_cast<PyObject*>(Py_TYPE(object))), target});
}

PyObject* Failure::exception_type() const noexcept {
    if (auto* taken = std::get_if<TakenException>(&state_)) return taken->type();
    if (auto* made = std::get_if<MadeException>(&state_)) return made->type;
    return PyExc_TypeError;
}

void Failure::raise() && {
    if (auto* taken = std::get_if<TakenException>(&state_)) {
        std::move(*taken).restore();
        return;
    }
    Text message;
    PyObject* type = PyExc_TypeError;
    if (auto* made_exception = std::get_if<MadeException>(&state_)) {
        type = made_exception->type;
        message = std::move(made_exception->message);
    } else {
        auto& conversion = *std::get_if<ConversionError>(&state_);
        message = conversion_message(conversion.object_type.get(), conversion.target);
    }
    auto text = OwnedRef::steal(PyUnicode_FromStringAndSize(message.data(),
                                                            std::ssize(message)));
    if (!text) api_call_failed();
    PyErr_SetObject(type, text.get());
}

void raise_fault(std::string_view message, std::source_location where) {
    Text diagnostic = format_message(
        "thread {} panicked at {}:{}:{}:\n{}\n",
        {thread_label(), where.file_name(), static_cast<std::uint64_t>(where.line()),
         static_cast<std::uint64_t>(where.column()), message});
    write_stderr(view_of(diagnostic));
    throw InternalFault(Text(message));
}

void api_call_failed(std::source_location where) {
    if (PyErr_Occurred()) PyErr_Print();
    raise_fault("Python API call failed", where);
}

PyObject* panic_exception_type() {
    if (panic_type_slot != nullptr) return panic_type_slot;
    PyObject* made = PyErr_NewExceptionWithDoc(kPanicName, kPanicDoc, PyExc_BaseException,
                                               nullptr);
    if (made == nullptr) {
        TakenException cause = TakenException::fetch();
        raise_fault(view_of(format_message("Failed to initialize new exception type.: {}",
                                           {render_exception(cause)})));
    }
    // Making the type ran Python code, which may have come back here first.
    if (panic_type_slot != nullptr) {
        Py_DECREF(made);
    } else {
        panic_type_slot = made;
    }
    return panic_type_slot;
}

void forget_panic_exception_type() noexcept { panic_type_slot = nullptr; }

Text render_exception(const TakenException& exception) {
    auto part = [](PyObject* object) {
        return object == nullptr ? Text("None") : display_text(object);
    };
    return format_message("type: {}, value: {}, traceback: {}",
                          {part(exception.type()), part(exception.value()),
                           part(exception.traceback())});
}

namespace detail {

PyObject* raise_failure_at_boundary(Failure failure) noexcept {
    try {
        std::move(failure).raise();
    } catch (...) {
        uncaught_at_boundary();
    }
    return nullptr;
}

PyObject* raise_fault_at_boundary(std::exception_ptr fault) noexcept {
    try {
        try {
            std::rethrow_exception(fault);
        } catch (const InternalFault& internal) {
            raise_panic(internal.message().empty() ? std::string_view("panic from Tarnic code")
                                                   : view_of(internal.message()));
        } catch (const std::exception& error) {
            raise_panic(error.what());
        } catch (...) {
            raise_panic("panic from Tarnic code");
        }
    } catch (...) {
        uncaught_at_boundary();
    }
    return nullptr;
}

}  // namespace detail

}  // namespace brindle
