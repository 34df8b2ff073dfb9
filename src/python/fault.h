// Internal faults and the boundary guards.
//
// An internal fault is a defect or an impossible state of the module itself (a dict
// changed under a cursor, an API call that cannot fail failing). It is the only C++
// exception the module throws: it unwinds the native work, releasing every
// reference held on the way, and the guard around each interpreter entry turns it
// into the fault exception PanicException. Python exceptions never travel as C++
// exceptions; they are Failures (result.h).
#pragma once

#include <exception>
#include <source_location>
#include <string_view>
#include <utility>

#include "core/alloc.h"
#include "python/result.h"

namespace brindle {

class InternalFault {
public:
    explicit InternalFault(Text message) noexcept : message_(std::move(message)) {}
    const Text& message() const noexcept { return message_; }

private:
    Text message_;
};

// Writes the fault diagnostic (thread, source position, message) to standard error
// and throws the fault.
[[noreturn]] void raise_fault(std::string_view message,
                              std::source_location where = std::source_location::current());

// For an API call that cannot fail in normal operation but did: prints the pending
// exception and raises the fault "Python API call failed".
[[noreturn]] void api_call_failed(std::source_location where = std::source_location::current());

// Taking the module's own fault exception out of the interpreter: Python code that
// raised it inside a call wants the call to end as a fault, not as a failed read.
// Prints the exception's traceback and throws the fault.
[[noreturn]] void resume_panic(TakenException taken);

// The fault exception type, created on first need and kept for the process.
PyObject* panic_exception_type();
// As panic_exception_type, but null, with the MemoryError pending, when memory ran
// out making the type: for callers that then raise the MemoryError or carry on.
PyObject* panic_exception_type_or_null();
// The fault exception type if it has been made, else null; makes nothing, so it
// runs no Python code and allocates nothing.
PyObject* panic_exception_type_if_made() noexcept;

// Whether the pending exception is the interpreter running out of memory. Making an
// exception's text, arguments or type may meet it while a call ends; the MemoryError
// is then what the call raises.
bool ran_out_of_memory() noexcept;

// Drops the fault exception type without releasing it, for a runtime that has been
// finalized: the next fault makes it again.
void forget_panic_exception_type() noexcept;

// "type: ..., value: ..., traceback: ..." for fault messages that carry an exception.
Text render_exception(const TakenException& exception);

// A new `type(message)` whose __cause__ is the exception of `cause`, for an error
// that says what the module was doing when `cause` was raised.
[[gnu::cold]] Failure chained_failure(PyObject* type, std::string_view message, Failure cause);

namespace detail {
// Raise a failure, or a fault caught by a guard, as the call's exception. A fault
// raised while doing so cannot be reported to anyone: the process ends.
PyObject* raise_failure_at_boundary(Failure failure) noexcept;
PyObject* raise_fault_at_boundary(std::exception_ptr fault) noexcept;
}  // namespace detail

// Runs `body` (returning Result<OwnedRef>) for an interpreter entry that returns an
// object: the result as a new reference, or null with the exception set.
template <class Body>
PyObject* guard(Body&& body) noexcept {
    try {
        auto result = std::forward<Body>(body)();
        if (result) return std::move(result).value().release();
        return detail::raise_failure_at_boundary(std::move(result).take_failure());
    } catch (...) {
        return detail::raise_fault_at_boundary(std::current_exception());
    }
}

// For entries with no result (the deallocator): whatever would have been raised is
// reported as unraisable, and the entry returns normally.
template <class Body>
void guard_no_result(Body&& body) noexcept {
    PyObject* done = guard([&]() -> Result<OwnedRef> {
        std::forward<Body>(body)();
        return OwnedRef::borrow(Py_None);
    });
    if (done != nullptr) {
        Py_DECREF(done);
    } else {
        PyErr_WriteUnraisable(nullptr);
    }
}

}  // namespace brindle
