// Objects made on first need and kept for the process: the fault exception type,
// the NativeValidator type, interned attribute names and the fixed error messages.
#pragma once

#include <string_view>
#include <type_traits>
#include <utility>

#include "python/fault.h"
#include "python/ref.h"
#include "python/result.h"

namespace brindle {

// The object in `slot`, made by `make` on first need and then kept there for the
// process (written under the interpreter lock, never released). `make` returns the
// new object either as an OwnedRef (empty, with the exception pending, when it could
// not be made) or as a Result<OwnedRef>, whose failure is passed on; either way a
// failure leaves the slot empty for a later try. Making the object may run Python code that comes back here first; the object
// made first is kept, and a later one released.
template <class T, class Make>
auto singleton(T*& slot, Make&& make) {
    using Made = decltype(make());
    auto keep = [&slot](OwnedRef made) {
        if (slot == nullptr) slot = reinterpret_cast<T*>(made.release());
        return slot;
    };
    if constexpr (std::is_same_v<Made, OwnedRef>) {
        if (slot != nullptr) [[likely]] return slot;
        return keep(make());
    } else {
        if (slot != nullptr) [[likely]] return Result<T*>(slot);
        Made made = make();
        if (!made) return Result<T*>(std::move(made).take_failure());
        return Result<T*>(keep(std::move(made).value()));
    }
}

// An interned str of `text` (ASCII), kept in `slot`; null, with the exception
// pending, when it cannot be made.
inline PyObject* interned_str_or_null(PyObject*& slot, std::string_view text) {
    return singleton(slot, [text] {
        PyObject* made = PyUnicode_FromStringAndSize(text.data(), std::ssize(text));
        if (made != nullptr) PyUnicode_InternInPlace(&made);
        return OwnedRef::steal(made);
    });
}

inline PyObject* interned_str(PyObject*& slot, std::string_view text) {
    PyObject* made = interned_str_or_null(slot, text);
    if (made == nullptr) api_call_failed();
    return made;
}

}  // namespace brindle
