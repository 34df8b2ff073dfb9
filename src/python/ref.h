// Owned references to Python objects.
//
// A raw PyObject* is always borrowed: never released and never kept past the call
// that lent it. Every reference the module takes lives in an OwnedRef, so that it is
// released on every way out, including the unwinding of an internal fault.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#if PY_VERSION_HEX < 0x030B0000
#include <longintrepr.h>  // the digits of small ints are read in place
#endif

#include <utility>

namespace brindle {

class OwnedRef {  // move-only: a copy would hide an incref
public:
    OwnedRef() = default;
    static OwnedRef steal(PyObject* p) noexcept { return OwnedRef(p); }
    static OwnedRef borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return OwnedRef(p);
    }

    OwnedRef(OwnedRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    OwnedRef& operator=(OwnedRef&& o) noexcept {
        // Store first, release second: the old object's finalizer may run Python code
        // that reaches this very holder.
        PyObject* old = std::exchange(p_, std::exchange(o.p_, nullptr));
        Py_XDECREF(old);
        return *this;
    }
    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;
    ~OwnedRef() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    explicit OwnedRef(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

}  // namespace brindle
