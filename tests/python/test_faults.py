import re

import pytest

import brindle_core
from brindle_core import NativeValidator, compile_schema
from validators import (DictValidator, ListValidator, NumberValidator, StringValidator,
                        growing_schema, with_property)

PANIC_DOC = (
    "\n"
    "The exception raised when Tarnic code called from Python panics.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n"
)
BANNER = (
    "--- Corvane is resuming a panic after fetching a PanicException from Python. ---\n"
    "Python stack trace below:\n"
)


def fault():
    """The exception that a fault inside compile_schema raises."""
    try:
        compile_schema(growing_schema())
    except Exception:
        pytest.fail("a fault was caught by 'except Exception'")
    except BaseException as error:  # noqa: B036 - the fault exception is a BaseException
        return error
    pytest.fail("no fault")


@pytest.mark.parametrize(("attribute", "expected"), [
    pytest.param("__name__", "PanicException", id="name"),
    pytest.param("__qualname__", "PanicException", id="qualname"),
    pytest.param("__module__", "corvane_runtime", id="module"),
    pytest.param("__bases__", (BaseException,), id="bases"),
    pytest.param("__doc__", PANIC_DOC, id="doc"),
])
def test_panic_exception_type(panic_type, attribute, expected):
    assert getattr(panic_type, attribute) == expected


def test_fault_raises_panic_exception(panic_type):
    error = fault()
    assert type(error) is panic_type
    assert error.args == ("dictionary changed size during iteration",)
    assert str(error) == "dictionary changed size during iteration"
    assert type(fault()) is panic_type


def test_panic_exception_is_in_no_namespace(panic_type):
    assert not any(value is panic_type for value in vars(brindle_core).values())
    assert not hasattr(brindle_core, "PanicException")


def test_fault_diagnostic(capfd):
    fault()
    err = capfd.readouterr().err
    # The diagnostic names where in the source the fault arose, then the message.
    assert re.search(r"\S+\.(?:h|hh|hpp|c|cc|cpp):\d+", err), err
    assert "dictionary changed size during iteration" in err, err


def min_raising(error):
    def raising_min(validator):
        raise error

    return with_property(NumberValidator(int), "_min", raising_min)


class Unprintable:
    def __str__(self):
        raise ValueError("no text")


# What str() of the new fault exception is, for the panic raised from Python.
@pytest.mark.parametrize(("args", "message"), [
    pytest.param(("boom",), "boom", id="message"),
    pytest.param(("two", "args"), "('two', 'args')", id="two-args"),
    pytest.param((), "panic from Tarnic code", id="empty"),
    pytest.param((Unprintable(),), "Unwrapped panic from Python code", id="str-raises"),
])
def test_panic_raised_by_python_code_is_resumed(panic_type, capfd, args, message):
    raised = panic_type(*args)
    schema = {"a": StringValidator(), "b": min_raising(raised)}
    with pytest.raises(BaseException) as info:
        compile_schema(schema)
    assert type(info.value) is panic_type
    assert info.value is not raised
    assert info.value.args == (message,)
    # The banner and the printed traceback of the panic raised, and nothing else.
    err = capfd.readouterr().err
    assert err.startswith(BANNER), err
    first, *frames, last = err[len(BANNER):].splitlines()
    assert first == "Traceback (most recent call last):"
    assert all(line.startswith(" ") for line in frames) and "raising_min" in err, err
    assert last.startswith("corvane_runtime.PanicException"), err


def test_panic_subclass_is_an_ordinary_exception(panic_type, capfd):
    class Derived(panic_type):
        pass

    raised = Derived("mine")
    with pytest.raises(Derived) as info:
        compile_schema(min_raising(raised))
    assert info.value is raised
    assert capfd.readouterr().err == ""


def test_module_works_after_faults(panic_type):
    for _ in range(3):
        assert type(fault()) is panic_type
        with pytest.raises(BaseException):
            compile_schema(min_raising(panic_type("again")))
    assert type(compile_schema({"a": StringValidator(min_len=1)})) is NativeValidator


class Hook:
    """An int whose __index__ first runs `action`."""

    def __init__(self, action):
        self.action = action

    def __index__(self):
        self.action()
        return 1


def inner_walk_fault():
    """A validate call that faults: an __index__ deletes a key of the dict walked."""
    inner = compile_schema(DictValidator(NumberValidator(int)))
    data = {}
    data["a"] = Hook(lambda: data.pop("b"))
    data["b"] = 1
    inner.validate(data)


def inner_compile_fault():
    compile_schema(growing_schema())


# Before 3.12 the fault exception raised by the inner call could reach the outer one
# still raw, and the resumed fault carried the text of its argument tuple.
@pytest.mark.parametrize("inner", [inner_walk_fault, inner_compile_fault],
                         ids=["inner-walk", "inner-compile"])
@pytest.mark.parametrize("outer", [
    pytest.param(lambda run: compile_schema(ListValidator(NumberValidator(int)))
                 .validate([Hook(run)]), id="validate"),
    pytest.param(lambda run: compile_schema(ListValidator(NumberValidator(int)))
                 .collect([Hook(run)]), id="collect"),
    pytest.param(lambda run: compile_schema(with_property(NumberValidator(int), "_min",
                                                          lambda self: run())),
                 id="compile"),
])
def test_fault_in_nested_call_keeps_its_text(panic_type, capfd, outer, inner):
    with pytest.raises(BaseException) as info:
        outer(inner)
    assert type(info.value) is panic_type
    assert info.value.args == ("dictionary changed size during iteration",)
    assert capfd.readouterr().err.count(BANNER) == 1
