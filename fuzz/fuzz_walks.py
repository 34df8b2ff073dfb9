"""Coverage-guided fuzzing of compile_schema and both walks with atheris.

Each input is decoded into a schema (a tree of validator stand-ins, now and then
with a setting the native core declines or cannot read) and a value mostly of the
schema's shape. compile_schema must give the outcome that the schema's read order
implies, and validate and collect the answers of the Python model in
examples/schemalib.py. Any difference raises, and libFuzzer saves the input.

    python fuzz/fuzz_walks.py [libFuzzer options] [corpus directory]

The Python model is instrumented, so inputs that take new paths through the
walks' rules are kept.
"""

import math
import sys
from pathlib import Path

import atheris

ROOT = Path(__file__).resolve().parents[1]
sys.path[:0] = [str(ROOT / "examples"), str(ROOT / "tests" / "python")]

with atheris.instrument_imports():
    import schemalib
    from schemalib import DECLINED, python_collect, python_validate

import brindle_core  # noqa: E402  (native: not instrumented)
from values import DictSub, FloatSub, Index, IntSub, ListSub, StrSub  # noqa: E402
from validators import (  # noqa: E402
    BoolValidator, DictValidator, ListValidator, Named, NumberValidator, StringValidator,
    Validator, gates,
)

KEYS = ["a", "b", "c", "", "a.b", "x[0]", "é", "名前", "\U0001F600"]
BOUNDS = [None, 0, 1, -1, 5, 0.5, -0.0, 2 ** 53, 2 ** 63, -(2 ** 63), 1e300, math.inf,
          -math.inf, math.nan, True]
LENGTHS = [None, 0, 1, 2, 3, 2 ** 64 - 1]
UNSUPPORTED = "unsupported"


SCALARS = [True, False, 0, 1, -1, 7, 2 ** 53 + 1, 2 ** 63, 2 ** 63 - 1, -(2 ** 63),
           -(2 ** 63) - 1, 0.0, -0.0, 1.5, -2.5, math.inf, -math.inf, math.nan, 1e300,
           "", "a", "héllo", "\ud800", "a\udfff", "\U0001F600\U0001F600", "toolong",
           None, IntSub(3), FloatSub(0.5), StrSub("ab"), Index(3), Index(2 ** 70),
           Index(ValueError("no")), Index("x"), object()]


class Fuzzed:
    """Choices drawn from the input bytes; zeros once they run out."""

    def __init__(self, data):
        self.provider = atheris.FuzzedDataProvider(data)

    def pick(self, options):
        return options[self.provider.ConsumeIntInRange(0, len(options) - 1)]

    def below(self, n):
        return self.provider.ConsumeIntInRange(0, n - 1)


def schema_of(fuzzed, depth=0):
    """(schema, expected compile outcome): a NativeValidator is expected, or None
    (UNSUPPORTED), or an exception type, decided by the first setting in read order
    that declines or fails."""
    kind = fuzzed.below(10 if depth < 4 else 5)
    if kind == 0:
        return Validator(), "node"
    if kind == 1:
        return BoolValidator(), "node"
    if kind == 2:
        number = NumberValidator(fuzzed.pick([int, float]), min=fuzzed.pick(BOUNDS),
                                 max=fuzzed.pick(BOUNDS), exclusive_min=fuzzed.below(2) == 1,
                                 exclusive_max=fuzzed.below(2) == 1)
        if isinstance(number._min, int) and abs(number._min) > 2 ** 1023 or \
                isinstance(number._max, int) and abs(number._max) > 2 ** 1023:
            return number, OverflowError
        return number, "node"
    if kind == 3:
        return StringValidator(min_len=fuzzed.pick(LENGTHS),
                               max_len=fuzzed.pick(LENGTHS)), "node"
    if kind == 4:  # something the native core declines or cannot read
        return fuzzed.pick([
            (StringValidator(regex="x"), UNSUPPORTED),
            (gates(Validator(), coerce=True), UNSUPPORTED),
            (gates(Validator(), custom_checks=[len]), UNSUPPORTED),
            (NumberValidator(complex), UNSUPPORTED),
            (DictValidator(Validator(), key_type=int), UNSUPPORTED),
            (gates(Validator(), coerce=1), TypeError),
            (StringValidator(min_len=-1), OverflowError),
            (NumberValidator(Named(5)), TypeError),
            (5, AttributeError),
        ])
    if kind in (5, 6):
        item, expected = schema_of(fuzzed, depth + 1)
        lists = ListValidator(item, min_len=fuzzed.pick(LENGTHS), max_len=fuzzed.pick(LENGTHS))
        return lists, expected
    if kind == 7:
        value, expected = schema_of(fuzzed, depth + 1)
        return DictValidator(value), expected
    fields, expected = {}, "node"
    for _ in range(fuzzed.below(4)):
        key = fuzzed.pick(KEYS + [1])
        value, outcome = schema_of(fuzzed, depth + 1)
        if key in fields:
            continue
        fields[key] = value
        if expected == "node":
            expected = UNSUPPORTED if key == 1 else outcome
    return fields, expected


def value_of(fuzzed, schema, depth=0):
    if fuzzed.below(8) == 0 or depth > 6:
        choice = fuzzed.below(len(SCALARS) + 3)
        if choice == len(SCALARS):
            return tuple(value_of(fuzzed, schema, depth + 1) for _ in range(fuzzed.below(3)))
        if choice == len(SCALARS) + 1:
            return {fuzzed.pick([0, "\ud800", "a"]): 1}
        if choice == len(SCALARS) + 2:
            return [value_of(fuzzed, schema, depth + 1) for _ in range(fuzzed.below(3))]
        return SCALARS[choice]
    if isinstance(schema, dict):
        keys = [key for key in schema if fuzzed.below(6)]
        if fuzzed.below(6) == 0:
            keys.append(fuzzed.pick(KEYS))
        cls = fuzzed.pick([dict, dict, DictSub])
        return cls((key, value_of(fuzzed, schema[key], depth + 1) if key in schema
                    else fuzzed.pick(SCALARS)) for key in keys)
    kind = type(schema).__name__
    if kind == "ListValidator":
        items = [value_of(fuzzed, schema._item_validator, depth + 1)
                 for _ in range(fuzzed.below(5))]
        return fuzzed.pick([list, list, ListSub])(items)
    if kind == "DictValidator":
        return {fuzzed.pick(KEYS): value_of(fuzzed, schema._value_validator, depth + 1)
                for _ in range(fuzzed.below(4))}
    return fuzzed.pick(SCALARS)


def outcome(call):
    try:
        return "ok", call()
    except BaseException as error:  # compared by type
        return "raised", type(error)


def same_entries(actual, expected):
    return (type(actual) is list and len(actual) == len(expected) and all(
        type(got) is tuple and len(got) == 3 and got[0] == want[0] and got[1] == want[1]
        and got[2] is want[2] for got, want in zip(actual, expected)))


def test_one_input(data):
    fuzzed = Fuzzed(data)
    schema, expected = schema_of(fuzzed)
    compiled = outcome(lambda: brindle_core.compile_schema(schema))
    if expected == "node":
        assert compiled[0] == "ok" and type(compiled[1]) is brindle_core.NativeValidator, \
            (schema, compiled)
    else:
        assert compiled == (("ok", None) if expected == UNSUPPORTED else ("raised", expected)), \
            (schema, expected, compiled)
        return
    validator = compiled[1]
    value = value_of(fuzzed, schema)

    want = outcome(lambda: python_collect(schema, value, native=True))
    got = outcome(lambda: validator.collect(value))
    if want[0] == "raised" or want[1] is DECLINED:
        assert got == (want if want[0] == "raised" else ("ok", None)), (schema, value, got, want)
    else:
        assert got[0] == "ok" and same_entries(got[1], want[1]), (schema, value, got, want)

    want = outcome(lambda: python_validate(schema, value, native=True))
    got = outcome(lambda: validator.validate(value))
    if want[0] == "raised":
        assert got == want, (schema, value, got, want)
    else:
        assert got[0] == "ok" and got[1] is (value if want[1] else None), \
            (schema, value, got, want)


def main():
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    assert schemalib  # instrumented above
    main()
