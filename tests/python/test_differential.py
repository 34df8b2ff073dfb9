"""The native walks against the example library's Python path, on generated schemas
and values: the same entries (the offending objects themselves), the same verdicts,
the same declines and the same exceptions."""

import builtins
import math
import os

import pytest
from hypothesis import HealthCheck, event, given, settings, strategies as st

import brindle_core
from values import DictSub, FloatSub, Index, IntSub, ListSub, StrSub
from schemalib import (
    DECLINED,
    BoolValidator,
    DictValidator,
    ListValidator,
    NumberValidator,
    StringValidator,
    Validator,
    python_collect,
    python_validate,
)

# make test runs each interpreter's suite in about a minute, of which this takes a
# few seconds; make fuzz runs the long campaigns (BRINDLE_DIFFERENTIAL_EXAMPLES).
EXAMPLES = int(os.environ.get("BRINDLE_DIFFERENTIAL_EXAMPLES", "500"))

# Keys of every length class the field lookup compares differently, with
# near-misses that differ only in their last byte.
KEYS = ["a", "b", "c", "", "a.b", "x[0]", "é", "名前", "\U0001F600", "abcd", "abce",
        "abcdefgh", "abcdefgi", "abcdefghijklmnopq", "abcdefghijklmnopr"]


bounds = st.one_of(
    st.none(),
    st.integers(-10, 10),
    st.floats(allow_nan=True, allow_infinity=True),
    st.sampled_from([0, 2 ** 53, -(2 ** 53), 1e300, -1e300, 0.5, -0.0]),
)
lengths = st.one_of(st.none(), st.integers(0, 4), st.just(2 ** 64 - 1))


@st.composite
def numbers(draw):
    return NumberValidator(
        draw(st.sampled_from([int, float])),
        min=draw(bounds),
        max=draw(bounds),
        exclusive_min=draw(st.booleans()),
        exclusive_max=draw(st.booleans()),
    )


leaves = st.one_of(
    st.builds(Validator),
    st.builds(BoolValidator),
    numbers(),
    st.builds(StringValidator, min_len=lengths, max_len=lengths),
)


def containers(children):
    return st.one_of(
        st.builds(ListValidator, children, min_len=lengths, max_len=lengths),
        st.builds(DictValidator, children),
        st.dictionaries(st.sampled_from(KEYS), children, max_size=4),
    )


schemas = st.recursive(leaves, containers, max_leaves=8)

scalars = st.one_of(
    st.booleans(),
    st.integers(-20, 20),
    st.sampled_from([2 ** 53 + 1, 2 ** 63, -(2 ** 63) - 1, 2 ** 63 - 1, -(2 ** 63)]),
    st.floats(allow_nan=True, allow_infinity=True),
    st.text(max_size=6),
    st.sampled_from(["héllo", "\ud800", "a\udfff", "\U0001F600\U0001F600", ""]),
    st.none(),
    st.integers(-5, 5).map(IntSub),
    st.floats(-5, 5).map(FloatSub),
    st.text(max_size=3).map(StrSub),
    st.sampled_from([Index(3), Index(2 ** 70), Index(ValueError("no")), Index("x")]),
)


# The interpreter's other built-in mapping (3.15 on), which is no dict: a record or a
# Dict given one must answer as for any other non-dict.
MAPPINGS = [builtins.frozendict] if hasattr(builtins, "frozendict") else []


def any_values():
    return st.recursive(
        scalars,
        lambda inner: st.one_of(
            st.lists(inner, max_size=4),
            st.lists(inner, max_size=3).map(tuple),
            st.lists(inner, max_size=3).map(ListSub),
            st.dictionaries(st.sampled_from(KEYS), inner, max_size=4),
            st.dictionaries(st.sampled_from(KEYS), inner, max_size=3).map(DictSub),
            *[st.dictionaries(st.sampled_from(KEYS), inner, max_size=3).map(m) for m in MAPPINGS],
            st.dictionaries(st.one_of(st.integers(0, 2), st.sampled_from(["\ud800", "a"])),
                            inner, max_size=2),
        ),
        max_leaves=6,
    )


def value_for(schema, draw):
    """Mostly a value of the schema's shape, sometimes anything at all."""
    if draw(st.integers(0, 9)) == 0:
        return draw(any_values())
    if isinstance(schema, dict):
        keys = list(schema)
        if draw(st.integers(0, 5)) == 0 and keys:
            keys.remove(draw(st.sampled_from(keys)))
        if draw(st.integers(0, 7)) == 0:
            keys.append(draw(st.sampled_from(KEYS)))
        # Mostly in schema order, which the quick passes settle (and stop in); else
        # any order, which the full checks match by lookup.
        if draw(st.integers(0, 2)) == 0:
            keys = draw(st.permutations(keys))
        return draw(st.sampled_from([dict] * 7 + MAPPINGS))(
            {key: (value_for(schema[key], draw) if key in schema else draw(scalars))
             for key in keys})
    kind = type(schema).__name__
    if kind == "ListValidator":
        size = draw(st.integers(0, 4))
        items = [value_for(schema._item_validator, draw) for _ in range(size)]
        return draw(st.sampled_from([list, list, ListSub, tuple]))(items)
    if kind == "DictValidator":
        keys = draw(st.lists(st.sampled_from(KEYS), max_size=3, unique=True))
        return draw(st.sampled_from([dict] * 7 + MAPPINGS))(
            {key: value_for(schema._value_validator, draw) for key in keys})
    if kind == "NumberValidator" and schema._type_cls is int:
        return draw(st.one_of(st.integers(-20, 20), scalars))
    if kind == "NumberValidator":
        return draw(st.one_of(st.floats(allow_nan=True, allow_infinity=True), scalars))
    if kind == "StringValidator":
        return draw(st.one_of(st.text(max_size=6), scalars))
    return draw(scalars)


def outcome(call):
    try:
        return "ok", call()
    except BaseException as error:  # compared by type below
        return "raised", type(error)


def same_entries(actual, expected):
    if len(actual) != len(expected):
        return False
    for got, want in zip(actual, expected):
        if type(got) is not tuple or len(got) != 3:
            return False
        if got[0] != want[0] or got[1] != want[1] or got[2] is not want[2]:
            return False
    return True


def assert_walks_match_the_model(schema, value, in_hypothesis=True):
    """collect and validate give the Python model's answers: the same entries (the
    offending objects themselves), declines, verdicts and exception types."""
    validator = brindle_core.compile_schema(schema)
    assert validator is not None

    expected = outcome(lambda: python_collect(schema, value, native=True))
    actual = outcome(lambda: validator.collect(value))
    if in_hypothesis:
        event("collect: " + ("raised" if expected[0] == "raised" else "declined"
                             if expected[1] is DECLINED else "valid" if not expected[1]
                             else "invalid"))
    if expected[0] == "raised":
        assert actual == expected
    elif expected[1] is DECLINED:
        assert actual == ("ok", None)
    else:
        assert actual[0] == "ok" and same_entries(actual[1], expected[1]), (actual, expected)

    expected_valid = outcome(lambda: python_validate(schema, value, native=True))
    verdict = outcome(lambda: validator.validate(value))
    if expected_valid[0] == "raised":
        assert verdict == expected_valid
    else:
        assert verdict[0] == "ok"
        assert verdict[1] is (value if expected_valid[1] else None)


@settings(max_examples=EXAMPLES, deadline=None,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(schema=schemas, data=st.data())
def test_walks_match_the_python_model(schema, data):
    assert_walks_match_the_model(schema, value_for(schema, data.draw))


@pytest.mark.parametrize("x", [1.0, 10.0, -2.5, 0.1, 0.1 + 0.2, 1 / 3, 1e-7, 1e15 + 0.25,
                               2.0 ** 63, 1e21, 5e-324, -0.0, math.inf, math.nan])
def test_bounds_render_alike(x):
    """A bound shows in messages the same way through both paths."""
    schema = NumberValidator(float, max=x, exclusive_max=True)
    native = brindle_core.compile_schema(schema)
    assert native.collect(math.inf) == python_collect(schema, math.inf, native=True)


WIDE_KEYS = [f"field_{i}" for i in range(20)] + ["x" * 8, "x" * 9, "y" * 16]


@settings(max_examples=max(EXAMPLES // 10, 50), deadline=None)
@given(data=st.data())
def test_wide_records_match_the_python_model(data):
    """Records with enough fields for the indexed lookup, keys in any order, some
    missing, renamed or near-missed."""
    names = data.draw(st.lists(st.sampled_from(WIDE_KEYS), min_size=8, max_size=23, unique=True))
    schema = {name: data.draw(leaves) for name in names}
    keys = data.draw(st.permutations(names))
    drop = data.draw(st.integers(0, 2))
    keys = keys[drop:]
    if data.draw(st.booleans()):
        keys.append(data.draw(st.sampled_from(["field_99", "field_1x", "x" * 7 + "y"])))
    value = {key: (value_for(schema[key], data.draw) if key in schema else 0) for key in keys}
    assert_walks_match_the_model(schema, value)


# A record whose every field can be settled in schema order by a check that makes no
# call, and the values that send one field to its full check, or fail it there.
QUICK_RECORD = {
    "name": StringValidator(min_len=1),
    "tags": ListValidator(StringValidator(max_len=3), min_len=1, max_len=2),
    "n": NumberValidator(int, min=0, max=5),
    "x": NumberValidator(float, max=1.0),
}
QUICK_GOOD = {"name": "a", "tags": ["ab"], "n": 3, "x": 0.5}
QUICK_CHANGES = [
    ("name", ""), ("name", "é"), ("name", StrSub("a")),
    ("tags", ["a", "b", "c"]), ("tags", []), ("tags", ["abcd"]), ("tags", [1]),
    ("tags", [StrSub("a")]), ("tags", [StrSub("abcd")]), ("tags", ["é"]),
    ("tags", ["a", "éééé"]), ("tags", ("a",)), ("tags", ListSub(["a"])),
    ("n", IntSub(3)), ("n", 2 ** 40), ("n", -1), ("n", Index(3)), ("n", True), ("n", 3.0),
    ("x", FloatSub(0.5)), ("x", 2.0), ("x", math.nan), ("x", 1),
]


@pytest.mark.parametrize("in_order", [True, False], ids=["in-order", "reversed"])
@pytest.mark.parametrize("field, change", QUICK_CHANGES,
                         ids=[f"{field}={change!r}" for field, change in QUICK_CHANGES])
def test_records_settled_in_order_match_the_model(field, change, in_order):
    """Each value alone, after a record that taught the key memo, and as a Dict's value."""
    record = dict(QUICK_GOOD, **{field: change})
    if not in_order:
        record = dict(reversed(list(record.items())))
    for schema, value in [(QUICK_RECORD, record),
                          (ListValidator(QUICK_RECORD), [QUICK_GOOD, record, record]),
                          (DictValidator(QUICK_RECORD), {"a": QUICK_GOOD, "b": record})]:
        assert_walks_match_the_model(schema, value, in_hypothesis=False)


@st.composite
def quick_records(draw):
    """QUICK_GOOD with up to two changes, sometimes a field missing or one too many,
    sometimes in reverse order: each stops its quick pass somewhere else, or nowhere."""
    record = dict(QUICK_GOOD)
    for field, change in draw(st.lists(st.sampled_from(QUICK_CHANGES), max_size=2)):
        record[field] = change
    roll = draw(st.integers(0, 5))
    if roll == 0:
        del record[draw(st.sampled_from(sorted(record)))]
    elif roll == 1:
        record["extra"] = 0
    if draw(st.integers(0, 3)) == 0:
        record = dict(reversed(list(record.items())))
    return record


@settings(max_examples=EXAMPLES, deadline=None)
@given(records=st.lists(quick_records(), min_size=1, max_size=6))
def test_runs_of_records_match_the_model(records):
    """Records one after another in a list's loop and a Dict's: where one record's
    quick pass stopped is never taken for the next one's."""
    assert_walks_match_the_model(ListValidator(QUICK_RECORD), records)
    assert_walks_match_the_model(DictValidator(QUICK_RECORD), dict(zip(KEYS, records)))
