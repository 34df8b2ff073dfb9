"""Every Python allocation of a call fails once, in turn.

``_testcapi.set_nomemory(n, n + 1)`` makes the allocation after the first n from then
on fail. For n = 0, 1, 2, ... each call must end with MemoryError, with the fault exception where an
interpreter call that cannot fail did fail, or with its right answer; never crash,
leave an exception set, keep a reference or spoil the validator. The sweep ends at
the first n the call does not reach: the allocation right after it is then the one
that fails.
"""
import gc
import os
import subprocess
import sys

import pytest

from brindle_core import NativeValidator, compile_schema
from validators import (BoolValidator, DictValidator, ListValidator, NumberValidator,
                        StringValidator, gates)

_testcapi = pytest.importorskip("_testcapi", reason="the interpreter has no _testcapi")
if not hasattr(_testcapi, "set_nomemory"):
    pytest.skip("_testcapi has no set_nomemory", allow_module_level=True)

MAX_ALLOCATIONS = 5000


def schema():
    return {
        "name": StringValidator(min_len=2, max_len=8),
        "tags": ListValidator(StringValidator(min_len=1), max_len=3),
        "scores": ListValidator(NumberValidator(int, min=0, max=100)),
        "ratios": DictValidator(NumberValidator(float, min=0.0, exclusive_min=True)),
        "flag": BoolValidator(),
        "inner": {"größe": NumberValidator(int), "label": StringValidator()},
    }


SCHEMA = schema()
VALIDATOR = compile_schema(SCHEMA)
VALID = {
    "name": "zoë",
    "tags": ["a", "b"],
    "scores": [1, 50, 100],
    "ratios": {"x": 0.5, "ÿ": 2.0},
    "flag": True,
    "inner": {"größe": 3, "label": "ok"},
}
INVALID = {
    "name": "z",
    "tags": ["a", "", "c", "d"],
    "scores": [1, -5, "x", 2**70],
    "ratios": {"x": 0.0, "ÿ": "no"},
    "flag": 1,
    "inner": {"größe": 3.5},
}


def fresh(data):
    """A copy of `data` whose dict keys are new strs: their UTF-8 texts are not made yet."""
    if isinstance(data, dict):
        return {"".join(list(key)): fresh(value) for key, value in data.items()}
    return data


def attempt(call, n, stop):
    """The call's result or exception with its allocations n + 1 to `stop` failing
    (0: all from n + 1 on), and whether the call got that far."""
    gc.disable()
    _testcapi.set_nomemory(n, stop)
    try:
        try:
            result = call()
        except BaseException as error:  # noqa: B036 - the fault exception too
            # Past the call, failing to make a traceback entry chains a MemoryError
            # to the exception the call raised.
            reached = not (isinstance(error, MemoryError) and error.__context__ is not None)
            return (error.__context__ if not reached else error), reached
        try:
            object()
        except MemoryError:
            return result, False
        return result, True
    finally:
        _testcapi.remove_mem_hooks()
        gc.enable()


def sweep(call, check, watched):
    """Fails allocation 1, 2, ... of `call` until it completes first, then fails every
    allocation from the first, the second, ... on; `check` judges each outcome."""
    # Objects the interpreter shares (small ints, bools, one-letter strs) have
    # counts that anything may change.
    watched = [o for o in watched if isinstance(o, (list, dict, NativeValidator))
               or type(o).__name__.endswith("Validator")]
    counts = [sys.getrefcount(o) for o in watched]

    def run(n, stop):
        outcome, reached = attempt(call, n, stop)
        # The interpreter's error printing keeps the last exception printed.
        for name in ("last_type", "last_value", "last_traceback", "last_exc"):
            if hasattr(sys, name):
                delattr(sys, name)
        check(outcome, n)
        del outcome
        assert [sys.getrefcount(o) for o in watched] == counts, f"allocation {n}"
        return reached

    allocations = next((n for n in range(MAX_ALLOCATIONS) if not run(n, n + 1)), None)
    assert allocations is not None, f"still allocating after {MAX_ALLOCATIONS} allocations"
    # Where memory stays exhausted, raising the call's exception cannot make its
    # message or the fault exception either.
    for n in range(allocations):
        run(n, 0)


def allowed_failure(outcome, panic_type, *, faults=("Python API call failed",)):
    """MemoryError, or the fault exception with one of the texts of a failed call."""
    if isinstance(outcome, MemoryError):
        return True
    return type(outcome) is panic_type and str(outcome).startswith(faults)


def answers_right(validator):
    assert validator.collect(VALID) == []
    assert validator.validate(VALID) is VALID
    assert validator.collect(INVALID) == VALIDATOR_INVALID_ENTRIES
    assert validator.validate(INVALID) is None


VALIDATOR_INVALID_ENTRIES = VALIDATOR.collect(INVALID)


@pytest.mark.parametrize(("call", "expected"), [
    pytest.param(lambda: VALIDATOR.validate(VALID), VALID, id="validate-valid"),
    pytest.param(lambda: VALIDATOR.validate(INVALID), None, id="validate-invalid"),
    pytest.param(lambda: VALIDATOR.collect(VALID), [], id="collect-valid"),
    pytest.param(lambda: VALIDATOR.collect(INVALID), VALIDATOR_INVALID_ENTRIES,
                 id="collect-invalid"),
    # The walk makes the UTF-8 text of each non-ASCII key.
    pytest.param(lambda: VALIDATOR.validate(fresh(VALID)), VALID, id="validate-new-keys"),
    pytest.param(lambda: VALIDATOR.collect(fresh(INVALID)), VALIDATOR_INVALID_ENTRIES,
                 id="collect-new-keys"),
])
def test_walk(panic_type, capfd, call, expected):
    def check(outcome, n):
        if isinstance(outcome, BaseException):
            assert allowed_failure(outcome, panic_type), (n, outcome)
        else:
            assert outcome == expected, n

    sweep(call, check, [VALIDATOR, VALID, INVALID, *VALID.values(), *INVALID.values()])
    answers_right(VALIDATOR)
    capfd.readouterr()


def test_compile(panic_type, capfd):
    validators = list(SCHEMA.values()) + [SCHEMA["inner"]["größe"]]

    def check(outcome, n):
        if isinstance(outcome, BaseException):
            # Making the validator object itself is a fault of its own.
            assert allowed_failure(outcome, panic_type, faults=(
                "Python API call failed", "unexpected error result: ")), (n, outcome)
        else:
            assert type(outcome) is NativeValidator, n
            answers_right(outcome)

    sweep(lambda: compile_schema(SCHEMA), check, [SCHEMA, *validators])
    capfd.readouterr()


@pytest.mark.parametrize(("call", "message"), [
    pytest.param(lambda: VALIDATOR.validate(),
                 "NativeValidator.validate() missing 1 required positional argument: 'data'",
                 id="validate-missing"),
    pytest.param(lambda: VALIDATOR.collect(1, 2),
                 "NativeValidator.collect() takes 1 positional arguments but 2 were given",
                 id="collect-extra"),
    pytest.param(lambda: compile_schema(scheme=SCHEMA),
                 "compile_schema() got an unexpected keyword argument 'scheme'",
                 id="compile-keyword"),
    pytest.param(lambda: NativeValidator(), "No constructor defined for NativeValidator",
                 id="constructor"),
    # The built-in type's __qualname__ is made on each read.
    pytest.param(lambda: compile_schema(gates(BoolValidator(), coerce=None)),
                 "'NoneType' object cannot be converted to 'PyBool'", id="conversion"),
])
def test_raising(panic_type, capfd, call, message):
    def check(outcome, n):
        if not allowed_failure(outcome, panic_type):
            assert type(outcome) is TypeError and str(outcome) == message, (n, outcome)

    sweep(call, check, [VALIDATOR, SCHEMA])
    capfd.readouterr()


FIRST_EXCEPTION = """
import sys, _testcapi
from brindle_core import compile_schema
from test_out_of_memory import attempt
class StringValidator:
    pass  # no settings: reading the first one raises AttributeError
outcome, reached = attempt(lambda: compile_schema(StringValidator()), int(sys.argv[1]),
                           int(sys.argv[1]) + 1)
api_call_failed = str(outcome) == "Python API call failed"
print(type(outcome).__name__ + ("(api)" if api_call_failed else ""), reached)
"""


def test_first_exception_taken(tmp_path):
    """The first exception a process takes makes the fault exception type, to compare
    it with: without memory for that, the exception taken is raised all the same."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    for n in range(200):
        run = subprocess.run([sys.executable, "-c", FIRST_EXCEPTION, str(n)], env=env,
                             capture_output=True, text=True)
        assert run.returncode == 0, (n, run.stderr)
        name, reached = run.stdout.split()
        assert name in ("AttributeError", "MemoryError", "PanicException(api)"), (n, run.stdout)
        if reached == "False":
            return
    pytest.fail("compile_schema was still allocating after 200 allocations")
