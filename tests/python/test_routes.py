"""Every route a value can take through the walks gives the Python model's answer.

A value is checked by a quick check where one can answer (small exact ints against a
span of ints, exact floats, ASCII strs, records in schema order, a list's records
through a memo of their keys) and by the full check elsewhere, and the walks step
through containers unchecked until Python code has run. The generators here aim at
the seams between those routes: integers and bounds at every width where a read or
a comparison could change its way (2**15 to 2**63, both signs, +-1), every placement
of a value (the root, a field, a list item, a Dict value, a record in a list or in a
Dict), and __index__ hooks that change an enclosing list or dict in the middle of the
walk. Each walk gets data built afresh, as the hooks change it.

For every value, both walks of the module give the model's answers (faults
included), and agree with each other: validate(d) is d exactly when collect(d) is [].
"""

import os

from hypothesis import HealthCheck, event, given, settings, strategies as st

import brindle_core
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
from values import DictSub, IntSub, ListSub

EXAMPLES = int(os.environ.get("BRINDLE_ROUTES_EXAMPLES", "400"))

# Widths at which an int is read or compared differently: 15- and 30-bit digits,
# 32 and 64 bits, the 53 bits of a double's significand, and the quick reads' span.
EDGES = [2 ** 15, 2 ** 30, 2 ** 31, 2 ** 32, 2 ** 52, 2 ** 53, 2 ** 54,
         2 ** 59, 2 ** 60, 2 ** 61, 2 ** 62, 2 ** 63]
EDGE_INTS = sorted({sign * (edge + step) for edge in EDGES for step in (-1, 0, 1)
                    for sign in (1, -1)} | {0, 1, -1})
edge_ints = st.one_of(st.sampled_from(EDGE_INTS), st.integers(-3, 3))
edge_bounds = st.one_of(
    st.none(),
    st.none(),
    edge_ints,
    edge_ints.map(float),
    edge_ints.map(lambda value: value + 0.5),
    st.sampled_from([float("nan"), float("inf"), -float("inf")]),
)

KEYS = ["a", "b", "c", "é", "k" * 9]
FILLERS = [Validator(), StringValidator(max_len=3), NumberValidator(float, min=0.0)]


@st.composite
def leaves(draw):
    """Mostly int ranges with bounds at the edges; now and then another leaf."""
    kind = draw(st.sampled_from(["int"] * 6 + ["float", "str", "bool", "any"]))
    if kind in ("int", "float"):
        return NumberValidator(int if kind == "int" else float, min=draw(edge_bounds),
                               max=draw(edge_bounds), exclusive_min=draw(st.booleans()),
                               exclusive_max=draw(st.booleans()))
    if kind == "str":
        return StringValidator(min_len=draw(st.sampled_from([None, 1])),
                               max_len=draw(st.sampled_from([None, 2])))
    return BoolValidator() if kind == "bool" else Validator()


def record_of(inner, draw):
    keys = draw(st.lists(st.sampled_from(KEYS[1:]), min_size=0, max_size=2, unique=True))
    record = {"a": inner}
    for key in keys:
        record[key] = draw(st.sampled_from(FILLERS))
    return record


@st.composite
def placed(draw):
    """A leaf at one of the placements, then maybe wrapped once more."""
    leaf = draw(leaves())
    placement = draw(st.sampled_from(
        ["root", "field", "item", "item", "value", "record-in-list", "record-in-list",
         "record-in-list", "record-in-dict", "record-in-dict", "nested"]))
    if placement == "root":
        schema = leaf
    elif placement == "field":
        schema = record_of(leaf, draw)
    elif placement == "item":
        schema = ListValidator(leaf, max_len=draw(st.sampled_from([None, 6])))
    elif placement == "value":
        schema = DictValidator(leaf)
    elif placement == "record-in-list":
        schema = ListValidator(record_of(leaf, draw))
    elif placement == "record-in-dict":
        schema = DictValidator(record_of(leaf, draw))
    else:
        schema = ListValidator(ListValidator(leaf))
    if draw(st.integers(0, 3)) == 0:
        schema = draw(st.sampled_from([{"top": schema, "z": Validator()},
                                       ListValidator(schema), DictValidator(schema)]))
    return schema


# ---------------------------------------------------------------------------
# Recipes: descriptions of data, built afresh for each walk.

class Hook:
    """An int only through __index__, which first changes one of the containers that
    enclose it: `level` -1 is its own, -2 the one around that, and so on."""

    def __init__(self, value, containers, level, change, payload):
        self.value, self.containers = value, containers
        self.level, self.change, self.payload = level, change, payload

    def __index__(self):
        if -self.level <= len(self.containers):
            target = self.containers[self.level]
            change, payload = self.change, self.payload
            if isinstance(target, list):
                if change == "append":
                    target.append(build(payload))
                elif change == "pop" and target:
                    target.pop()
                elif change == "clear":
                    target.clear()
                elif change == "insert":
                    target.insert(0, build(payload))
                elif change == "replace" and target:
                    target[len(target) // 2] = build(payload)
            else:
                if change == "add":
                    target["added"] = build(payload)
                elif change == "delete" and target:
                    del target[list(target)[-1]]
                elif change == "set" and target:
                    target[list(target)[0]] = build(payload)
        return self.value

    def __repr__(self):
        return f"Hook({self.value})"


def build(recipe, containers=()):
    kind = recipe[0]
    if kind == "leaf":
        return recipe[1]
    if kind == "hook":
        _, value, level, change, payload = recipe
        return Hook(value, containers, level, change, payload)
    _, children, make = recipe
    if kind == "list":
        made = make() if make is not tuple else []
        for child in children:
            made.append(build(child, containers + (made,)))
        return made if make is not tuple else tuple(made)
    made = make()
    for key, child in children:
        made[key] = build(child, containers + (made,))
    return made


SCALARS = [None, "x", "", "héllo", 1.5, -0.0, float("nan"), True, [], {}]


@st.composite
def recipes(draw, schema, depth=0, hooks=True):
    """Mostly a value of the schema's shape, with hooks where ints go."""
    if draw(st.integers(0, 11)) == 0:
        return ("leaf", draw(st.one_of(st.sampled_from(SCALARS), edge_ints)))
    if isinstance(schema, dict):
        keys = list(schema)
        if keys and draw(st.integers(0, 7)) == 0:
            keys.remove(draw(st.sampled_from(keys)))
        if draw(st.integers(0, 9)) == 0:
            keys.append("extra")
        if draw(st.integers(0, 3)) == 0:
            keys = draw(st.permutations(keys))
        children = [(key, draw(recipes(schema[key], depth + 1, hooks)) if key in schema
                     else ("leaf", 0)) for key in keys]
        return ("dict", children, draw(st.sampled_from([dict, dict, dict, DictSub])))
    kind = type(schema).__name__
    if kind == "ListValidator":
        size = draw(st.sampled_from([0, 1, 2, 2, 3, 3, 4]))
        children = [draw(recipes(schema._item_validator, depth + 1, hooks)) for _ in range(size)]
        return ("list", children, draw(st.sampled_from([list, list, list, ListSub, tuple])))
    if kind == "DictValidator":
        keys = draw(st.lists(st.sampled_from(KEYS), max_size=4, unique=True))
        return ("dict", [(key, draw(recipes(schema._value_validator, depth + 1, hooks)))
                         for key in keys], dict)
    if kind == "NumberValidator" and schema._type_cls is int:
        value = draw(st.one_of(edge_ints, near_bounds(schema)))
        if hooks and depth > 0 and draw(st.booleans()):
            value = draw(st.one_of(st.integers(0, 3), edge_ints))
            level = -draw(st.integers(1, depth))
            change = draw(st.sampled_from(["append", "append", "append", "insert", "insert",
                                           "pop", "pop", "clear", "replace",
                                           "add", "add", "delete", "delete", "set"]))
            payload = draw(payloads)
            return ("hook", value, level, change, payload)
        return ("leaf", draw(st.sampled_from([value, value, IntSub(value)])))
    if kind == "NumberValidator":
        return ("leaf", draw(st.sampled_from([0.5, -1.0, 1e300, float("nan"), 1])))
    if kind == "StringValidator":
        return ("leaf", draw(st.sampled_from(["", "a", "ab", "abc", "é", 5])))
    return ("leaf", draw(st.sampled_from([True, 1, "x", None])))


def near_bounds(schema):
    """Ints around the schema's bounds, where an integer and a double comparison of
    the same value can part."""
    near = [int(bound) + step for bound in (schema._min, schema._max)
            if bound is not None and abs(bound) < 2 ** 64 for step in (-2, -1, 0, 1, 2)]
    return st.sampled_from(near) if near else edge_ints


# What a hook puts into a container: a valid or invalid item or record.
payloads = st.sampled_from([
    ("leaf", 0), ("leaf", "bad"), ("leaf", 2 ** 70),
    ("dict", [("a", ("leaf", 1))], dict),
    ("dict", [("a", ("leaf", "bad"))], dict),
    ("list", [("leaf", 1), ("leaf", "bad")], list),
])


# ---------------------------------------------------------------------------

def outcome(call, panic_type):
    """A result, or the fault (the module's fault exception, or the RuntimeError a
    live dict iteration raises in the model) with its message, or an exception type."""
    try:
        return "ok", call()
    except panic_type as error:
        return "fault", str(error)
    except RuntimeError as error:
        return "fault", str(error)
    except BaseException as error:  # compared by type
        return "raised", type(error)


def shown(result):
    """Entries with the offending objects by their repr: each walk has data of its own."""
    if result[0] != "ok" or result[1] is DECLINED or result[1] is None:
        return result if result[0] != "ok" or result[1] is None else ("ok", None)
    return "ok", [(path, message, repr(value)) for path, message, value in result[1]]


def assert_routes_match(schema, recipe, panic_type):
    validator = brindle_core.compile_schema(schema)
    collected = shown(outcome(lambda: validator.collect(build(recipe)), panic_type))
    expected = shown(outcome(lambda: python_collect(schema, build(recipe), native=True),
                             panic_type))
    assert collected == expected, (collected, expected)

    data = build(recipe)
    verdict = outcome(lambda: validator.validate(data) is data, panic_type)
    expected_verdict = outcome(lambda: python_validate(schema, build(recipe), native=True),
                               panic_type)
    if data is None and verdict == ("ok", True):
        verdict = ("ok", expected_verdict[1])  # None is validate's answer either way
    assert verdict == expected_verdict, (verdict, expected_verdict)
    if collected[0] == "ok" and collected[1] is not None and verdict[0] == "ok":
        assert verdict[1] == (collected[1] == []), (verdict, collected)
    event("collect: " + (collected[0] if collected[0] != "ok" else "declined"
                         if collected[1] is None else "valid" if not collected[1]
                         else "invalid"))


@settings(max_examples=EXAMPLES, deadline=None,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large,
                                 HealthCheck.function_scoped_fixture])
@given(data=st.data())
def test_every_route_gives_the_models_answer(data, panic_type):
    schema = data.draw(placed())
    recipe = data.draw(recipes(schema))
    assert_routes_match(schema, recipe, panic_type)
