import gc
import importlib
import re
import subprocess
import sys
import weakref

import pytest

import brindle_core
from brindle_core import NativeValidator, compile_schema


def test_namespace():
    assert brindle_core.__all__ == ["compile_schema", "NativeValidator"]
    assert brindle_core.__doc__ == ""
    own = {name for name in vars(brindle_core) if not name.startswith("__")}
    assert own == {"compile_schema", "NativeValidator"}


@pytest.mark.parametrize(("obj", "attribute", "expected"), [
    pytest.param(NativeValidator, "__name__", "NativeValidator", id="type-name"),
    pytest.param(NativeValidator, "__qualname__", "NativeValidator", id="type-qualname"),
    pytest.param(NativeValidator, "__module__", "builtins", id="type-module"),
    pytest.param(NativeValidator, "__doc__", None, id="type-doc"),
    pytest.param(NativeValidator, "__bases__", (object,), id="type-bases"),
    pytest.param(compile_schema, "__name__", "compile_schema", id="function-name"),
    pytest.param(compile_schema, "__module__", "brindle_core", id="function-module"),
    pytest.param(compile_schema, "__self__", brindle_core, id="function-self"),
    pytest.param(compile_schema, "__doc__", None, id="function-doc"),
    pytest.param(compile_schema, "__text_signature__", "(schema)", id="function-signature"),
    pytest.param(NativeValidator.validate, "__doc__", None, id="validate-doc"),
    pytest.param(NativeValidator.validate, "__text_signature__", "($self, data)",
                 id="validate-signature"),
    pytest.param(NativeValidator.collect, "__doc__", None, id="collect-doc"),
    pytest.param(NativeValidator.collect, "__text_signature__", "($self, data)",
                 id="collect-signature"),
])
def test_attributes(obj, attribute, expected):
    assert getattr(obj, attribute) == expected


def test_instances_are_plain_objects():
    validator = compile_schema({})
    assert type(validator) is NativeValidator
    assert not gc.is_tracked(validator)
    with pytest.raises(AttributeError):
        validator.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(validator)


@pytest.mark.parametrize(("args", "kwargs"), [
    pytest.param((), {}, id="no-arguments"),
    pytest.param((1,), {}, id="positional"),
    pytest.param((1,), {"x": 2}, id="positional-and-keyword"),
    pytest.param((), {"data": {}}, id="keyword"),
])
def test_constructor_refuses(args, kwargs):
    with pytest.raises(TypeError) as info:
        NativeValidator(*args, **kwargs)
    assert type(info.value) is TypeError
    assert info.value.args == ("No constructor defined for NativeValidator",)


def test_constructor_refuses_through_new():
    with pytest.raises(TypeError, match="^No constructor defined for NativeValidator$"):
        NativeValidator.__new__(NativeValidator)


def test_cannot_be_subclassed():
    with pytest.raises(TypeError, match="not an acceptable base type"):
        type("Derived", (NativeValidator,), {})


def test_reimport_gives_the_same_module(monkeypatch):
    monkeypatch.delitem(sys.modules, "brindle_core")
    again = importlib.import_module("brindle_core")
    assert again is brindle_core
    assert again.__all__ == ["compile_schema", "NativeValidator"]
    assert again.compile_schema is compile_schema
    assert again.NativeValidator is NativeValidator


SUBINTERPRETER_SCRIPT = """
import _testcapi
import brindle_core
print(_testcapi.run_in_subinterp("import brindle_core"))
print(type(brindle_core.compile_schema({})).__name__)
"""


def test_subinterpreter_is_refused():
    testcapi = pytest.importorskip("_testcapi")
    if not hasattr(testcapi, "run_in_subinterp"):
        pytest.skip("_testcapi.run_in_subinterp is not available")
    run = subprocess.run([sys.executable, "-c", SUBINTERPRETER_SCRIPT],
                         capture_output=True, text=True, timeout=60)
    assert run.stdout == "-1\nNativeValidator\n", run.stderr
    assert re.search(r"^ImportError: Corvane modules do not yet support subinterpreters, "
                     r"see https?://\S+$", run.stderr, re.MULTILINE), run.stderr
