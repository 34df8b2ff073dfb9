// Fallible results: a value, or a failure that owns a Python exception.
//
// No Python exception stays set in the interpreter while native code goes on. The
// moment an API call reports an error, its exception is taken into a Failure, which
// owns it until a boundary guard raises it or a caller drops it on purpose (and
// with it the exception). Exceptions the module makes itself are held unformatted:
// their message text exists only once they are raised, so reads whose failures are
// dropped (most failed reads in a walk) never pay for a message.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>

#include "core/alloc.h"
#include "python/ref.h"

namespace brindle {

// An exception as the interpreter held it, put back exactly as taken.
class TakenException {
public:
    TakenException() = default;
    // Takes the pending exception out of the interpreter; empty when none is set.
    static TakenException fetch() noexcept;

    explicit operator bool() const noexcept { return static_cast<bool>(type_); }
    PyObject* type() const noexcept { return type_.get(); }
    // May be null, or not yet an exception instance, when the raiser set no value.
    PyObject* value() const noexcept { return value_.get(); }
    PyObject* traceback() const noexcept { return traceback_.get(); }
    // The exception instance, carrying its traceback. Before 3.12 a raised exception
    // may still be held raw (its type and argument tuple) until something normalises
    // it; this makes the instance without touching the held triple. Empty when
    // making it failed.
    OwnedRef instance() const noexcept;
    // Makes it the interpreter's pending exception again.
    void restore() && noexcept;

private:
    OwnedRef type_;
    OwnedRef value_;
    OwnedRef traceback_;
};

// An exception the module raises itself: a type and a message made when raised.
struct MadeException {
    PyObject* type;  // an exception type that lives for the whole process
    Text message;
};

// "'{}' object cannot be converted to '{}'": the offending object's type is held
// and its __qualname__ read only if the exception is raised.
struct ConversionError {
    OwnedRef object_type;
    const char* target;
};

class Failure {
public:
    // Takes the interpreter's pending exception. Nothing pending gives the
    // SystemError "attempted to fetch exception but none was set". The module's own
    // fault exception is not a failure: taking one resumes the fault (it throws).
    static Failure fetch();
    static Failure made(PyObject* type, std::string_view message);
    // The conversion TypeError for `object`, naming `target` (a static text).
    static Failure conversion(PyObject* object, const char* target);

    Failure(Failure&&) noexcept = default;
    Failure& operator=(Failure&&) noexcept = default;

    // Sets it as the interpreter's pending exception; the failure is spent.
    void raise() &&;

    // The exception type this failure would raise (borrowed).
    PyObject* exception_type() const noexcept;

private:
    using State = std::variant<TakenException, MadeException, ConversionError>;
    explicit Failure(State state) noexcept : state_(std::move(state)) {}
    State state_;
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_type<T>, std::move(value)) {}
    Result(Failure failure) : state_(std::in_place_type<Failure>, std::move(failure)) {}

    explicit operator bool() const noexcept { return std::holds_alternative<T>(state_); }
    T& value() & noexcept { return *std::get_if<T>(&state_); }
    const T& value() const& noexcept { return *std::get_if<T>(&state_); }
    T&& value() && noexcept { return std::move(*std::get_if<T>(&state_)); }
    Failure take_failure() && noexcept { return std::move(*std::get_if<Failure>(&state_)); }

private:
    std::variant<T, Failure> state_;
};

struct Done {};
using Status = Result<Done>;
inline Status ok() noexcept { return Done{}; }

}  // namespace brindle
