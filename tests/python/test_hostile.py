"""Python code that the module calls back into, doing its worst: raising every kind
of exception (the fault exception too), changing the schema or data being read,
calling back into the module, collecting garbage, dropping the last references to
what is being read. Also schemas and data far larger or deeper than usual. The
answer is always a result or an exception, never a crash; the runs that could
crash run in a child process."""

import gc
import subprocess
import sys
from pathlib import Path

import pytest

from brindle_core import compile_schema
from schemalib import DECLINED, python_collect, python_validate
from validators import (
    DictValidator, ListValidator, NumberValidator, StringValidator, Validator, gates,
)

HERE = Path(__file__).resolve().parent
COMPILED = "compiled"
CHANGED_SIZE = "dictionary changed size during iteration"


class Hook:
    """What a callback does before it returns its argument (or `value`). `context`
    names what the callback may reach: the dict being read, how to re-enter, how to
    drop references."""

    def __init__(self, action, value, context):
        self.action, self.value, self.context = action, value, context
        self.depth = 0
        self.calls = 0

    def __call__(self, *returned):
        self.calls += 1
        action, context = self.action, self.context
        if action == "raise":
            raise ValueError("from a callback")
        if action in ("interrupt", "system-exit", "memory-error"):
            raise {"interrupt": KeyboardInterrupt, "system-exit": SystemExit,
                   "memory-error": MemoryError}[action]()
        if action == "panic":
            raise context["panic_type"]("raised by a callback")
        if action == "gc":
            gc.collect()
        if action == "reenter" and self.depth == 0:
            self.depth += 1
            try:
                context["reenter"]()
            finally:
                self.depth -= 1
        if action == "grow":
            context["dict"]["grown"] = Validator()
        if action == "drop":
            context["drop"]()
        return returned[0] if returned else self.value


# ---------------------------------------------------------------------------
# compile_schema: the callbacks that reading a schema can run

def hooked(location, hook):
    """A validator whose compilation calls `hook` at `location`; the setting that
    holds the object with the hook, and a plain value for it."""
    if location == "property":
        return type("Validator", (), {
            "_coerce": False, "_custom_checks": (), "_when_condition": None,
            "_env_key": property(lambda self: hook(None))})(), None, None
    if location == "__index__":
        length = type("Length", (), {"__index__": lambda s: hook(3)})()
        return StringValidator(min_len=length), "_min_len", 3
    if location == "__float__":
        bound = type("Bound", (), {"__float__": lambda s: hook(1.5)})()
        return NumberValidator(float, min=bound), "_min", 1.5
    if location == "__len__":
        checks = type("Checks", (), {"__len__": lambda s: hook(0)})()
        return gates(Validator(), custom_checks=checks), "_custom_checks", ()
    if location == "__bool__":
        # Read through its type's __bool__ slot: numpy's bool, recognised by name.
        flag = type("bool_", (), {"__module__": "numpy", "__bool__": lambda s: hook(False)})
        return gates(Validator(), coerce=flag()), "_coerce", False
    assert location == "__str__"
    # The class name comes from str() of the type's __name__, here a str subclass.
    name = type("Name", (str,), {"__str__": lambda s: hook("Validator")})("Validator")

    class Meta(type):
        def __getattribute__(cls, attribute):
            return name if attribute == "__name__" else super().__getattribute__(attribute)

    return Meta("Hostile", (Validator,), {})(), None, None


COMPILE_LOCATIONS = ["property", "__index__", "__float__", "__len__", "__bool__", "__str__"]

# What compile_schema gives for each action where the callback's own failure counts.
COMPILE_OUTCOMES = {
    "raise": ValueError,
    "interrupt": KeyboardInterrupt,
    "system-exit": SystemExit,
    "memory-error": MemoryError,
    "panic": ("panic", "raised by a callback"),
    "gc": COMPILED,
    "reenter": COMPILED,
    "drop": COMPILED,
    "grow": ("panic", CHANGED_SIZE),
}
# str() failing is not an error of the schema: the name is then unprintable,
# which is no validator's name.
STR_OUTCOMES = {"raise": None, "interrupt": None, "system-exit": None, "memory-error": None,
                "panic": None}


def compile_outcome(schema, panic_type):
    try:
        result = compile_schema(schema)
    except panic_type as error:
        return ("panic", str(error))
    except BaseException as error:  # every exception is an outcome here
        return type(error)
    return None if result is None else COMPILED


@pytest.mark.filterwarnings("ignore::pytest.PytestUnraisableExceptionWarning")
@pytest.mark.parametrize("action", list(COMPILE_OUTCOMES))
@pytest.mark.parametrize("location", COMPILE_LOCATIONS)
def test_compile_callbacks(location, action, panic_type, capfd):
    schema = {}
    reentered = []

    def drop():
        # The validator being compiled, and the setting being read, lose every
        # other reference.
        if setting is not None:
            setattr(schema["hostile"], setting, plain)
        schema["hostile"] = Validator()

    context = {"panic_type": panic_type, "dict": schema, "drop": drop,
               "reenter": lambda: reentered.append(compile_outcome(schema, panic_type))}
    schema["before"] = ListValidator(Validator())
    schema["hostile"], setting, plain = hooked(location, Hook(action, None, context))
    schema["after"] = DictValidator(Validator())
    expected = (STR_OUTCOMES if location == "__str__" else {}).get(
        action, COMPILE_OUTCOMES[action])
    assert compile_outcome(schema, panic_type) == expected
    assert reentered == ([COMPILED] if action == "reenter" else [])
    capfd.readouterr()  # what the unraisable hook and the fault diagnostics wrote


@pytest.mark.filterwarnings("ignore::pytest.PytestUnraisableExceptionWarning")
@pytest.mark.parametrize("action", ["raise", "panic", "interrupt", "reenter", "gc"])
def test_keyword_name_str(action, panic_type, capfd):
    """An argument error quotes the keyword's name through str()."""
    context = {"panic_type": panic_type, "reenter": lambda: compile_schema({})}
    name_type = type("Name", (str,), {"__str__": Hook(action, "quoted", context)})
    with pytest.raises(TypeError) as caught:
        compile_schema(**{name_type("bad"): 1})
    quoted = "quoted" if action in ("reenter", "gc") else "<unprintable Name object>"
    assert str(caught.value) == f"compile_schema() got an unexpected keyword argument '{quoted}'"
    capfd.readouterr()


# ---------------------------------------------------------------------------
# The walks: __index__ of a value being walked

class Hostile:
    def __init__(self, hook):
        self.hook = hook

    def __index__(self):
        return self.hook()

    def __repr__(self):
        return f"Hostile({self.hook.action})"


def placed(place, value):
    """(schema, data, container of the value, key of the value in it)."""
    if place == "list-item":
        data = [1, value, "x", 2]
        return ListValidator(NumberValidator(int, min=0)), data, data, 1
    if place == "dict-value":
        data = {"a": 1, "b": value, "c": "x"}
        return DictValidator(NumberValidator(int)), data, data, "b"
    if place == "field":
        data = {"b": value, "a": -1, "c": 3}
        schema = {"a": NumberValidator(int, min=0), "b": NumberValidator(int), "c": Validator()}
        return schema, data, data, "b"
    if place == "record":
        # The second of a list's records: its keys are the first one's objects, so it
        # is matched through the list's key memo.
        inner = {"n": value, "m": "x", "k": 9}
        data = [{"n": 1, "m": "y", "k": 2}, inner, {"n": 2, "m": "z", "k": 3}]
        return ListValidator({"n": NumberValidator(int), "m": Validator(),
                              "k": NumberValidator(int, max=5)}), data, inner, "n"
    if place == "records":
        # The records of "record", in a list that a dict's field holds and can drop.
        schema, records, inner, key = placed("record", value)
        inner["k"] = 2  # valid, so that the walk goes on to the next record
        return {"top": schema}, {"top": records}, inner, key
    inner = {"n": value, "m": "x"}
    data = {"top": [inner, {"n": 1, "m": 2}]}
    schema = {"top": ListValidator(DictValidator(NumberValidator(int)), max_len=3)}
    return schema, data, inner, "n"


PLACES = ["list-item", "dict-value", "field", "record", "deep"]


# The actions whose own exception is the walk's outcome, whatever the data: what
# is no Exception (an interrupt, an exit) and the fault exception. An Exception
# raised by __index__, MemoryError included, makes the int unreadable: a violation.
RAISED_BY_THE_WALK = {
    "interrupt": KeyboardInterrupt,
    "system-exit": SystemExit,
    "panic": ("panic", "raised by a callback"),
}
DROPPED_BY_THE_WALK = {"raise", "memory-error"}


def walk_outcome(call, panic_type):
    try:
        result = call()
    except panic_type as error:
        return ("panic", str(error))
    except BaseException as error:  # every exception is an outcome here
        return type(error)
    return result


@pytest.mark.parametrize("action", ["raise", "memory-error", "interrupt", "system-exit",
                                    "panic", "gc", "reenter", "drop-validator", "drop-value"])
@pytest.mark.parametrize("place", PLACES)
@pytest.mark.parametrize("method", ["validate", "collect"])
def test_walk_callbacks_match_the_model(method, place, action, panic_type, capfd):
    """Callbacks that leave the containers' sizes alone: the answer is the Python
    model's, which calls the same __index__ at the same point of the walk."""
    context = {"panic_type": panic_type}
    holder = []
    hook = Hook("drop" if action.startswith("drop") else action, 7, context)
    schema, data, container, key = placed(place, Hostile(hook))
    holder.append(compile_schema(schema))
    reentered = []

    def reenter():
        reentered.append((holder[0].validate(data) is data, holder[0].collect(data)))

    def drop():
        if action == "drop-validator":
            holder.clear()
        else:  # the value being read loses its container's reference
            container[key] = 7

    context.update(reenter=reenter, drop=drop)
    validator = holder[0] if method == "validate" else None
    native = walk_outcome(lambda: getattr(holder[0], method)(data), panic_type)
    del validator
    # Reentering walks the data twice more, meeting the hook again.
    assert hook.calls == (3 if action == "reenter" else 1)
    if action in RAISED_BY_THE_WALK:
        assert native == RAISED_BY_THE_WALK[action]
    elif action in DROPPED_BY_THE_WALK:
        assert not isinstance(native, (type, tuple))
    if action == "drop-value":
        container[key] = Hostile(hook)
    if method == "collect":
        expected = walk_outcome(lambda: python_collect(schema, data, native=True), panic_type)
        expected = None if expected is DECLINED else expected
    else:
        valid = walk_outcome(lambda: python_validate(schema, data, native=True), panic_type)
        expected = (data if valid else None) if isinstance(valid, bool) else valid
    if action != "drop-value":  # the entries hold the very objects walked
        assert native == expected
    else:
        assert repr(native) == repr(expected)
    if action == "reenter":
        assert len(reentered) == 2 and reentered[0] == reentered[1]
    capfd.readouterr()


@pytest.mark.parametrize(("place", "change", "expected"), [
    pytest.param("dict-value", "grow", ("panic", CHANGED_SIZE), id="dict-grows"),
    pytest.param("dict-value", "shrink", ("panic", CHANGED_SIZE), id="dict-shrinks"),
    pytest.param("field", "grow", ("panic", CHANGED_SIZE), id="fields-grow"),
    pytest.param("field", "shrink", ("panic", CHANGED_SIZE), id="fields-shrink"),
    pytest.param("deep", "grow", ("panic", CHANGED_SIZE), id="inner-dict-grows"),
    pytest.param("record", "grow", ("panic", CHANGED_SIZE), id="record-grows"),
    pytest.param("record", "shrink", ("panic", CHANGED_SIZE), id="record-shrinks"),
    pytest.param("deep", "outer", ([("top[0].m", "Expected int", "x")], None),
                 id="outer-list-shrinks"),
    pytest.param("list-item", "shrink", ([], None), id="list-shrinks"),
    pytest.param("records", "drop", ([], None), id="records-list-dropped"),
    pytest.param("list-item", "grow", ([("[2]", "Expected int", "x")], None), id="list-grows"),
])
@pytest.mark.parametrize("method", ["validate", "collect"])
def test_walk_callbacks_changing_sizes(method, place, change, expected, panic_type):
    context = {"panic_type": panic_type}
    hook = Hook("drop", 7, context)
    schema, data, container, key = placed(place, Hostile(hook))

    def resize():
        if change == "outer":
            data["top"].pop(0)  # the list being walked drops the dict being walked
        elif change == "drop":
            data["top"] = None  # the list being walked loses its last reference
        elif isinstance(container, list):
            container[2:] = [] if change == "shrink" else container[2:] + [5, "y"]
        elif change == "grow":
            container["new"] = 1
        else:
            del container[next(k for k in container if k != key)]

    context["drop"] = resize
    result = walk_outcome(lambda: getattr(compile_schema(schema), method)(data), panic_type)
    if method == "collect" or isinstance(expected, tuple) and expected[0] == "panic":
        assert result == (expected[0] if expected[0] != "panic" else expected)
    else:
        assert result is (data if expected[0] == [] else None)


def test_a_collection_run_while_an_entry_is_made_changes_the_list(capfd):
    """Making an entry's tuple may run a collection, before 3.12 in the allocation
    itself, and with it a finalizer that clears the list being walked: the walk goes
    on with the cursor's checks, and stops there."""
    validator = compile_schema(ListValidator(NumberValidator(int, max=0)))
    seen = set()
    for attempt in range(40):
        data = [5, 6, 7, 8]
        ran = []

        class Clears:
            def __del__(self):
                data.clear()
                ran.append(1)

        gc.collect()
        threshold = gc.get_threshold()
        cycle = Clears()
        cycle.me = cycle  # garbage that only a collection frees
        del cycle
        # The next collection comes after a few more tracked allocations: the
        # result list's, then one entry's or another's.
        gc.set_threshold(gc.get_count()[0] + attempt % 4)
        try:
            entries = validator.collect(data)
        finally:
            gc.set_threshold(*threshold)
        seen.add(len(entries))
        assert ran
        gc.collect()
    if sys.version_info < (3, 12):
        # Cleared before the walk (no entry), or mid-walk, after the first entry or
        # a later one: never an entry for an item the list no longer holds.
        assert seen <= {0, 1, 2, 3} and seen - {0}, seen
    else:
        # A collection waits for the interpreter's next check point, after the walk.
        assert seen == {4}, seen


# ---------------------------------------------------------------------------
# Size

def test_schema_with_100000_fields():
    schema = {f"field{i}": NumberValidator(int, max=i) for i in range(100_000)}
    validator = compile_schema(schema)
    data = {f"field{i}": i for i in reversed(range(100_000))}
    assert validator.validate(data) is data
    data["field99999"] = 10 ** 6
    del data["field0"]
    assert validator.collect(data) == [
        ("field99999", "Value 1000000 is greater than maximum 99999", 10 ** 6),
        ("field0", "Missing required field", None)]


def test_dict_with_a_million_keys():
    validator = compile_schema(DictValidator(StringValidator(max_len=3)))
    data = dict.fromkeys(map(str, range(1_000_000)), "abc")
    assert validator.validate(data) is data
    data["last"] = "abcd"
    assert validator.validate(data) is None
    assert validator.collect(data) == [
        ("last", "String length 4 is longer than maximum length 3", "abcd")]


# ---------------------------------------------------------------------------
# Callbacks while an exception is being raised

QUALNAME = r"""
from brindle_core import compile_schema
from validators import Validator, gates, growing_schema

try:
    compile_schema(growing_schema())
except BaseException as error:
    panic_type = type(error)

class Meta(type):
    def __getattribute__(cls, name):
        if name == "__qualname__":
            raise {raised}
        return super().__getattribute__(name)

try:
    compile_schema(gates(Validator(), coerce=Meta("Flag", (), {{}})()))
except BaseException as error:
    print(type(error).__name__, error)
"""


@pytest.mark.parametrize("raised", [
    pytest.param("AttributeError('no')", id="exception"),
    pytest.param("KeyboardInterrupt()", id="interrupt"),
    pytest.param("panic_type('boom')", id="panic"),
])
def test_type_name_lookup_raising_while_the_conversion_error_is_raised(raised):
    """The message of a conversion error is made as it is raised, reading the
    offending type's __qualname__; what that read raises only leaves the name out."""
    child = subprocess.run([sys.executable, "-c", QUALNAME.format(raised=raised)],
                           cwd=HERE, capture_output=True, text=True, timeout=60)
    assert (child.returncode, child.stdout) == (
        0, "TypeError '<failed to extract type name>' object cannot be converted to 'PyBool'\n"
    ), child.stderr
