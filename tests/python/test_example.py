"""The example library (examples/schemalib.py) as its users call it: its own Python
path gives the native entries wherever the native core answers, and its `Schema`,
which compiles once and falls back, answers like the native core where it can and
like the Python path where the core declines, a schema or a value."""

import math
import os

from hypothesis import HealthCheck, event, given, settings, strategies as st

import brindle_core
from values import Index
from schemalib import (
    BoolValidator,
    DictValidator,
    ListValidator,
    NumberValidator,
    Schema,
    StringValidator,
    Validator,
    python_collect,
    python_validate,
)

EXAMPLES = int(os.environ.get("BRINDLE_EXAMPLE_EXAMPLES", "400"))
SETTINGS = settings(max_examples=EXAMPLES, deadline=None,
                    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])

KEYS = ["id", "name", "", "a.b", "x[0]", "é"]


def even(value):
    """A custom check: the native core declines every schema that has one."""
    if isinstance(value, int) and value % 2:
        return "Must be even"
    return None


bounds = st.one_of(st.none(), st.integers(-3, 3), st.sampled_from([0.5, -0.0, math.nan, 1e300]))
lengths = st.one_of(st.none(), st.integers(0, 3))


@st.composite
def leaves(draw, python_only):
    checks = [even] if python_only and draw(st.integers(0, 3)) == 0 else []
    kind = draw(st.sampled_from(["any", "bool", "int", "float", "str"]))
    if kind == "any":
        return Validator(custom_checks=checks)
    if kind == "bool":
        return BoolValidator(custom_checks=checks)
    if kind == "str":
        regex = "[a-z]*" if python_only and draw(st.integers(0, 3)) == 0 else None
        return StringValidator(min_len=draw(lengths), max_len=draw(lengths), regex=regex,
                               custom_checks=checks)
    return NumberValidator(int if kind == "int" else float, min=draw(bounds), max=draw(bounds),
                           exclusive_min=draw(st.booleans()), exclusive_max=draw(st.booleans()),
                           custom_checks=checks)


def containers(children):
    return st.one_of(
        st.builds(ListValidator, children, min_len=lengths, max_len=lengths),
        st.builds(DictValidator, children),
        st.dictionaries(st.sampled_from(KEYS), children, max_size=3),
    )


def schemas(python_only):
    return st.recursive(leaves(python_only), containers, max_leaves=6)


scalars = st.one_of(
    st.booleans(),
    st.integers(-4, 4),
    st.sampled_from([2 ** 63, -(2 ** 63), Index(2), Index(ValueError("no"))]),
    st.floats(allow_nan=True, allow_infinity=True),
    st.text(max_size=4),
    st.sampled_from(["héllo", "\ud800"]),
    st.none(),
)


def value_for(schema, draw):
    """A value of the schema's shape, with now and then what the core declines (a
    tuple, an unknown key, a key that is not a str) or a value of another type."""
    if draw(st.integers(0, 7)) == 0:
        return draw(scalars)
    if isinstance(schema, dict):
        keys = list(schema)
        if keys and draw(st.integers(0, 4)) == 0:
            keys.remove(draw(st.sampled_from(keys)))
        if draw(st.integers(0, 6)) == 0:
            keys.append(draw(st.sampled_from(KEYS + [7])))
        keys = draw(st.permutations(keys))
        return {key: value_for(schema[key], draw) if key in schema else draw(scalars)
                for key in keys}
    kind = type(schema).__name__
    if kind == "ListValidator":
        items = [value_for(schema._item_validator, draw) for _ in range(draw(st.integers(0, 3)))]
        return tuple(items) if draw(st.integers(0, 6)) == 0 else items
    if kind == "DictValidator":
        keys = draw(st.lists(st.sampled_from(KEYS + [0]), max_size=3, unique=True))
        return {key: value_for(schema._value_validator, draw) for key in keys}
    if kind == "NumberValidator":
        return draw(st.one_of(st.integers(-4, 4), st.floats(-4, 4), scalars))
    if kind == "StringValidator":
        return draw(st.one_of(st.text(alphabet="abC", max_size=4), scalars))
    return draw(scalars)


def outcome(call):
    """The result, or the type of what the call raised."""
    try:
        return "ok", call()
    except Exception as error:  # compared by type
        return "raised", type(error)


def same(actual, expected):
    """The same outcome; entries are equal tuples holding the very same values."""
    if actual[0] != expected[0] or actual[0] == "raised":
        return actual == expected
    if actual[1] is None or expected[1] is None:
        return actual[1] is expected[1]
    return len(actual[1]) == len(expected[1]) and all(
        got[:2] == want[:2] and got[2] is want[2] for got, want in zip(actual[1], expected[1]))


@SETTINGS
@given(schema=schemas(python_only=False), data=st.data())
def test_python_path_gives_the_native_entries(schema, data):
    native = brindle_core.compile_schema(schema)
    assert native is not None
    value = value_for(schema, data.draw)
    answer = outcome(lambda: native.collect(value))
    event("native: " + ("raised" if answer[0] == "raised" else "declined" if answer[1] is None
                        else "valid" if not answer[1] else "invalid"))
    if answer == ("ok", None):
        return  # declined: the Python path answers in its own way
    assert same(outcome(lambda: python_collect(schema, value)), answer)


@SETTINGS
@given(schema=schemas(python_only=False), data=st.data())
def test_schema_answers_natively_where_it_can(schema, data):
    compiled = Schema(schema)
    assert isinstance(compiled.native, brindle_core.NativeValidator)
    value = value_for(schema, data.draw)
    native = outcome(lambda: compiled.native.collect(value))
    errors = outcome(lambda: compiled.errors(value))
    if native == ("ok", None):
        event("declined value")
        assert same(errors, outcome(lambda: python_collect(schema, value)))
    else:
        assert same(errors, native)

    verdict = outcome(lambda: compiled.is_valid(value))
    if errors[0] == "ok":
        assert verdict == ("ok", errors[1] == [])
    # validate answers with the value itself, which says nothing when that is None.
    checked = outcome(lambda: compiled.native.validate(value))
    if value is not None and checked[0] == "ok" and checked[1] is value:
        assert verdict == ("ok", True)


@SETTINGS
@given(schema=schemas(python_only=True), data=st.data())
def test_schema_falls_back_on_a_declined_schema(schema, data):
    compiled = Schema(schema)
    value = value_for(schema, data.draw)
    if compiled.native is None:
        event("declined schema")
        errors = outcome(lambda: compiled.errors(value))
        assert same(errors, outcome(lambda: python_collect(schema, value)))
        assert outcome(lambda: compiled.is_valid(value)) == outcome(
            lambda: python_validate(schema, value))
        if errors[0] == "ok":
            assert compiled.is_valid(value) == (errors[1] == [])
    else:
        answer = outcome(lambda: compiled.native.collect(value))
        if answer != ("ok", None):
            assert same(outcome(lambda: compiled.errors(value)), answer)
