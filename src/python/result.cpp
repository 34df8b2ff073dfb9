// Taking and raising Python exceptions: TakenException and Failure.
#include "python/result.h"

#include "python/access.h"
#include "python/fault.h"

namespace brindle {

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

OwnedRef TakenException::instance() const noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    return OwnedRef::borrow(value_.get());
#else
    // Normalised on copies: the triple itself is restored exactly as taken.
    PyObject* type = OwnedRef::borrow(type_.get()).release();
    PyObject* value = OwnedRef::borrow(value_.get()).release();
    PyObject* traceback = OwnedRef::borrow(traceback_.get()).release();
    PyErr_NormalizeException(&type, &value, &traceback);
    auto normalised_type = OwnedRef::steal(type);
    auto normalised = OwnedRef::steal(value);
    auto normalised_traceback = OwnedRef::steal(traceback);
    // Making the instance failed when it left another exception in its place.
    if (!normalised || !PyErr_GivenExceptionMatches(normalised_type.get(), type_.get())) {
        return OwnedRef();
    }
    // The traceback travels with the instance, as it does from 3.12 on.
    if (normalised_traceback) {
        PyException_SetTraceback(normalised.get(), normalised_traceback.get());
    }
    return normalised;
#endif
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
    // Read, not made: no exception of a type not made yet can be pending, and making
    // the type here, in the middle of a walk, could run a collection and with it
    // Python code.
    PyObject* panic_type = panic_exception_type_if_made();
    if (panic_type != nullptr && taken.type() == panic_type) resume_panic(std::move(taken));
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
        auto made_message = conversion_message(conversion.object_type.get(), conversion.target);
        if (!made_message) return;  // out of memory: its MemoryError is pending
        message = std::move(*made_message);
    }
    auto text = OwnedRef::steal(PyUnicode_FromStringAndSize(message.data(),
                                                            std::ssize(message)));
    if (!text && ran_out_of_memory()) return;
    if (!text) api_call_failed();
    PyErr_SetObject(type, text.get());
}

}  // namespace brindle
