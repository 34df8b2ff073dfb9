#include "python/fault.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "core/render.h"
#include "core/platform.h"
#include "python/access.h"
#include "python/singleton.h"

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

[[noreturn]] void type_creation_failed() {
    TakenException cause = TakenException::fetch();
    raise_fault(view_of(format_message("Failed to initialize new exception type.: {}",
                                       {render_exception(cause)})));
}

// Raises the fault exception with `message` as its one argument. This runs while a
// guard raises, where a fault would end the process: without memory for the type,
// the text or the arguments, the MemoryError is left to be raised instead.
void raise_panic(std::string_view message) {
    PyObject* type = panic_exception_type_or_null();
    if (type == nullptr) return;
    auto text = OwnedRef::steal(PyUnicode_FromStringAndSize(message.data(),
                                                            std::ssize(message)));
    if (!text && ran_out_of_memory()) return;
    if (!text) api_call_failed();
    auto args = OwnedRef::steal(PyTuple_Pack(1, text.get()));
    if (!args && ran_out_of_memory()) return;
    if (!args) api_call_failed();
    PyErr_SetObject(type, args.get());
}

}  // namespace

void resume_panic(TakenException taken) {
    Text message("Unwrapped panic from Python code");
    if (taken.value() != nullptr) {
        OwnedRef instance = taken.instance();
        auto text = OwnedRef::steal(instance ? PyObject_Str(instance.get()) : nullptr);
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

namespace {

Text thread_label() {
    char name[64];
    platform::thread_name(name, sizeof name);
    return format_message("'{}' ({})", {std::string_view(name),
                                         static_cast<std::uint64_t>(PyThread_get_thread_ident())});
}

}  // namespace

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

PyObject* panic_exception_type_or_null() {
    PyObject* type = singleton(panic_type_slot, [] {
        return OwnedRef::steal(
            PyErr_NewExceptionWithDoc(kPanicName, kPanicDoc, PyExc_BaseException, nullptr));
    });
    if (type == nullptr && !ran_out_of_memory()) type_creation_failed();
    return type;
}

PyObject* panic_exception_type_if_made() noexcept { return panic_type_slot; }

PyObject* panic_exception_type() {
    PyObject* type = panic_exception_type_or_null();
    if (type == nullptr) type_creation_failed();
    return type;
}

bool ran_out_of_memory() noexcept {
    return PyErr_Occurred() != nullptr && PyErr_ExceptionMatches(PyExc_MemoryError);
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

// Normalises the cause first before 3.12: an exception set by a C call may be only a
// type and an argument, and a cause must be an exception instance.
Failure chained_failure(PyObject* type, std::string_view message, Failure cause) {
    std::move(cause).raise();
    TakenException taken = TakenException::fetch();
    OwnedRef cause_value = taken.instance();
    auto error = OwnedRef::steal(PyObject_CallFunction(type, "s#", message.data(),
                                                       std::ssize(message)));
    if (!error) return Failure::fetch();
    PyException_SetCause(error.get(), cause_value.release());
    PyErr_SetObject(type, error.get());
    return Failure::fetch();
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
