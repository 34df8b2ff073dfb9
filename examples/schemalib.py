"""A small schema-validation library with a native fast path.

This is how a library uses brindle_core: its validator classes are plain Python and
keep their settings in private attributes; a schema (a validator, or a dict of field
names to validators) is compiled once with ``brindle_core.compile_schema``. When the
native core takes the schema, ``validate`` and ``collect`` run natively; when it
declines the schema (``compile_schema`` gives ``None``) or a value (``collect`` gives
``None``), the library answers with its own Python code below.

The Python path gives exactly the native answers wherever the native core answers,
so that a user never sees a difference between the two. It also handles what the
native core declines: patterns, custom checks, tuples as lists, unexpected keys.

    schema = Schema({"name": StringValidator(min_len=1), "age": NumberValidator(int, min=0)})
    schema.errors({"name": "", "age": -1})
    # [('name', 'String length 0 is shorter than minimum length 1', ''),
    #  ('age', 'Value -1 is less than minimum 0', -1)]
"""

from __future__ import annotations

import decimal
import math
import operator
import re
from fractions import Fraction
from typing import Any, Callable, Iterable, List, Optional, Tuple

try:
    import brindle_core
except ImportError:  # the library works without its native core, only slower
    brindle_core = None

ErrorEntry = Tuple[str, str, Any]

__all__ = [
    "Validator",
    "BoolValidator",
    "NumberValidator",
    "StringValidator",
    "ListValidator",
    "DictValidator",
    "Schema",
    "python_collect",
    "python_validate",
    "DECLINED",
    "render_f64",
]


# ---------------------------------------------------------------------------
# Validator classes. The native compiler reads exactly these private attributes.


class Validator:
    """Accepts any value."""

    def __init__(self, *, custom_checks: Iterable[Callable[[Any], Optional[str]]] = ()):
        # The gate settings the native compiler reads from every validator. Only
        # custom checks are offered by this small library; the other three are
        # kept at their "not in use" values.
        self._coerce = False
        self._custom_checks = list(custom_checks)
        self._when_condition = None
        self._env_key = None


class BoolValidator(Validator):
    """Accepts exactly True and False."""


class NumberValidator(Validator):
    """An int or a float, within optional bounds."""

    def __init__(self, type_cls: type = int, *, min=None, max=None,
                 exclusive_min: bool = False, exclusive_max: bool = False, **gates):
        super().__init__(**gates)
        self._type_cls = type_cls
        self._min = min
        self._max = max
        self._exclusive_min = exclusive_min
        self._exclusive_max = exclusive_max


class StringValidator(Validator):
    """A str, with optional length limits (in code points) and pattern."""

    def __init__(self, *, min_len: Optional[int] = None, max_len: Optional[int] = None,
                 regex: Optional[str] = None, **gates):
        super().__init__(**gates)
        self._min_len = min_len
        self._max_len = max_len
        self._regex = None if regex is None else re.compile(regex)


class ListValidator(Validator):
    """A list whose items all satisfy one validator, with optional length limits."""

    def __init__(self, item_validator, *, min_len: Optional[int] = None,
                 max_len: Optional[int] = None, **gates):
        super().__init__(**gates)
        self._item_validator = item_validator
        self._min_len = min_len
        self._max_len = max_len


class DictValidator(Validator):
    """A dict with str keys whose values all satisfy one validator."""

    def __init__(self, value_validator, *, key_type: type = str, **gates):
        super().__init__(**gates)
        self._key_type = key_type
        self._value_validator = value_validator


# ---------------------------------------------------------------------------
# Rendering numbers in messages, as the native core does.


def render_f64(x: float) -> str:
    """The shortest decimal that reads back to x, written without an exponent.

    Among the shortest candidates the nearest wins, and an exact tie goes to the one
    of larger magnitude: 1000000000000000.25 renders as 1000000000000000.3.
    """
    if x != x:
        return "NaN"
    sign = "-" if math.copysign(1.0, x) < 0 else ""
    x = abs(x)
    if math.isinf(x):
        return sign + "inf"
    if x == 0:
        return sign + "0"
    # repr is shortest and nearest, but breaks exact ties towards an even digit.
    _, digit_tuple, exponent = decimal.Decimal(repr(x)).as_tuple()
    digits = "".join(map(str, digit_tuple)).rstrip("0")
    exponent += len(digit_tuple) - len(digits)
    exact = Fraction(x)
    lower = int(digits)
    if exact == (lower + Fraction(1, 2)) * Fraction(10) ** exponent:
        upper = str(lower + 1)
        if float(f"{upper}e{exponent}") == x and len(upper) == len(digits):
            digits = upper
    point = len(digits) + exponent  # the value is 0.<digits> x 10**point
    if point <= 0:
        return f"{sign}0.{'0' * -point}{digits}"
    if point < len(digits):
        return f"{sign}{digits[:point]}.{digits[point:]}"
    return f"{sign}{digits}{'0' * (point - len(digits))}"


# ---------------------------------------------------------------------------
# The Python path.

DECLINED = object()  # a shape the native core does not handle
_VALID, _INVALID = "valid", "invalid"
_I64_MIN, _I64_MAX = -(2 ** 63), 2 ** 63 - 1


class _Node:
    """A validator read once into plain settings, as the native compiler reads it."""

    __slots__ = ("kind", "min", "max", "exclusive_min", "exclusive_max", "min_len",
                 "max_len", "child", "fields", "regex", "checks")

    def __init__(self, kind, **settings):
        self.kind = kind
        self.min = self.max = self.min_len = self.max_len = None
        self.exclusive_min = self.exclusive_max = False
        self.child = None
        self.fields = []
        self.regex = None
        self.checks = []
        for name, value in settings.items():
            setattr(self, name, value)


def _read_node(schema) -> _Node:
    if isinstance(schema, dict):
        return _Node("fields", fields=[(key, _read_node(value)) for key, value in dict.items(schema)])
    kind = type(schema).__name__
    checks = list(schema._custom_checks)
    if kind == "Validator":
        return _Node("any", checks=checks)
    if kind == "BoolValidator":
        return _Node("bool", checks=checks)
    if kind == "NumberValidator":
        number = {"int": "int", "float": "float"}[schema._type_cls.__name__]
        return _Node(number, min=schema._min, max=schema._max,
                     exclusive_min=schema._exclusive_min, exclusive_max=schema._exclusive_max,
                     checks=checks)
    if kind == "StringValidator":
        return _Node("str", min_len=schema._min_len, max_len=schema._max_len,
                     regex=schema._regex, checks=checks)
    if kind == "ListValidator":
        return _Node("list", child=_read_node(schema._item_validator),
                     min_len=schema._min_len, max_len=schema._max_len, checks=checks)
    if kind == "DictValidator":
        return _Node("dict", child=_read_node(schema._value_validator), checks=checks)
    raise TypeError(f"not a validator: {schema!r}")


def _key_path(parent: str, key: str) -> str:
    return key if not parent else f"{parent}.{key}"


def _read_int(value):
    """The value as the native core reads an integer, or None when it can't."""
    if isinstance(value, int):
        number = int.__index__(value)  # the stored value, whatever the subclass says
    else:
        try:
            number = operator.index(value)
        except Exception:  # an unreadable integer is a violation, not an error
            return None
    return number if _I64_MIN <= number <= _I64_MAX else None


def _bound_message(node: _Node, value, shown: str) -> Optional[str]:
    low, high = node.min, node.max
    if low is not None:
        low = float(low)
        if node.exclusive_min and low >= value:
            return f"Value {shown} must be greater than {render_f64(low)}"
        if not node.exclusive_min and low > value:
            return f"Value {shown} is less than minimum {render_f64(low)}"
    if high is not None:
        high = float(high)
        if node.exclusive_max and value >= high:
            return f"Value {shown} must be less than {render_f64(high)}"
        if not node.exclusive_max and value > high:
            return f"Value {shown} is greater than maximum {render_f64(high)}"
    return None


def _length_message(what: str, length: int, node: _Node) -> Optional[str]:
    if node.min_len is not None and length < node.min_len:
        return f"{what} length {length} is shorter than minimum length {node.min_len}"
    if node.max_len is not None and length > node.max_len:
        return f"{what} length {length} is longer than maximum length {node.max_len}"
    return None


class _Walk:
    """One walk over a value. `native` gives exactly the native core's answers and
    DECLINED where it declines; otherwise the library handles those shapes itself.
    `first_only` stops at the first violation, as validate does."""

    def __init__(self, native: bool, first_only: bool):
        self.native = native
        self.first_only = first_only
        self.errors: List[ErrorEntry] = []

    def record(self, path: str, message: str, value) -> str:
        self.errors.append((path, message, value))
        return _INVALID

    def walk(self, node: _Node, value, path: str):
        outcome = self.walk_kind(node, value, path)
        if outcome is _VALID and node.checks:
            for check in node.checks:
                message = check(value)
                if message is not None:
                    outcome = self.record(path, message, value)
                    if self.first_only:
                        break
        return outcome

    def walk_kind(self, node: _Node, value, path: str):
        kind = node.kind
        if kind == "any":
            return _VALID
        if kind == "bool":
            return _VALID if type(value) is bool else self.record(path, "Expected bool", value)
        if kind == "int":
            number = _read_int(value)
            if number is None:
                return self.record(path, "Expected int", value)
            message = _bound_message(node, float(number), str(number))
            return _VALID if message is None else self.record(path, message, value)
        if kind == "float":
            if not isinstance(value, float):
                return self.record(path, "Expected float", value)
            number = float.__float__(value)
            message = _bound_message(node, number, render_f64(number))
            return _VALID if message is None else self.record(path, message, value)
        if kind == "str":
            if not isinstance(value, str):
                return self.record(path, "Expected str", value)
            str.encode(value, "utf-8")  # a lone surrogate raises, as natively
            message = _length_message("String", str.__len__(value), node)
            if message is None and node.regex is not None and not node.regex.fullmatch(value):
                message = f"String does not match pattern {node.regex.pattern}"
            return _VALID if message is None else self.record(path, message, value)
        if kind == "list":
            return self.walk_list(node, value, path)
        if kind == "dict":
            return self.walk_dict(node, value, path)
        return self.walk_fields(node, value, path)

    def merge(self, child, outcome):
        """(stop, outcome) after a child's outcome."""
        if child is DECLINED:
            return True, DECLINED
        if child is _INVALID:
            return self.first_only, _INVALID
        return False, outcome

    def walk_list(self, node: _Node, value, path: str):
        items = value
        if isinstance(value, tuple):
            if self.native:
                return _INVALID if self.first_only else DECLINED
            items = list(value)  # the library takes a tuple for a list; entries show the tuple
        if not isinstance(items, list):
            return self.record(path, "Expected list", value)
        message = _length_message("List", list.__len__(items), node)
        if message is not None:
            return self.record(path, message, value)
        outcome = _VALID
        start = list.__len__(items)
        index = 0
        while index < min(start, list.__len__(items)):
            item = list.__getitem__(items, index)
            stop, outcome = self.merge(self.walk(node.child, item, f"{path}[{index}]"), outcome)
            if stop:
                return outcome
            index += 1
        return outcome

    def walk_dict(self, node: _Node, value, path: str):
        if not isinstance(value, dict):
            return self.record(path, "Expected dict", value)
        outcome = _VALID
        # Stepped through live, as the native core does: a dict changed in the middle
        # of its walk raises RuntimeError at the next step.
        for key, item in dict.items(value):
            if not isinstance(key, str):
                if self.native:
                    return _INVALID if self.first_only else DECLINED
                stop, outcome = self.merge(self.record(path, "Expected str key", key), outcome)
                if stop:
                    return outcome
                continue
            if not self.first_only:
                text = str.encode(key, "utf-8").decode("utf-8")  # validate never reads it
            else:
                text = key
            stop, outcome = self.merge(self.walk(node.child, item, _key_path(path, text)), outcome)
            if stop:
                return outcome
        return outcome

    def walk_fields(self, node: _Node, value, path: str):
        if not isinstance(value, dict):
            return self.record(path, "Expected dict", value)
        fields = node.fields
        present = dict.__len__(value)
        if self.native and self.first_only and present != len(fields):
            return _INVALID
        if self.native and present > len(fields):
            return DECLINED
        seen = [False] * len(fields)
        outcome = _VALID
        for key, item in dict.items(value):
            if not isinstance(key, str):
                if self.native:
                    return _INVALID if self.first_only else DECLINED
                stop, outcome = self.merge(self.record(path, "Expected str key", key), outcome)
                if stop:
                    return outcome
                continue
            text = str.encode(key, "utf-8")
            index = next((i for i, (name, _) in enumerate(fields)
                          if name.encode("utf-8") == text), None)
            if index is None:
                if self.native:
                    return _INVALID if self.first_only else DECLINED
                stop, outcome = self.merge(
                    self.record(_key_path(path, key), "Unexpected field", item), outcome)
                if stop:
                    return outcome
                continue
            seen[index] = True
            child_path = _key_path(path, text.decode("utf-8"))
            stop, outcome = self.merge(self.walk(fields[index][1], item, child_path), outcome)
            if stop:
                return outcome
        for (name, _), named in zip(fields, seen):
            if not named:
                stop, outcome = self.merge(
                    self.record(_key_path(path, name), "Missing required field", None), outcome)
                if stop:
                    return outcome
        return outcome


def python_collect(schema, data, *, native: bool = False):
    """Every violation of `data` as (path, message, value) entries. With `native`,
    exactly the native core's answer: DECLINED where it returns None."""
    walk = _Walk(native, first_only=False)
    outcome = walk.walk(_read_node(schema), data, "")
    return DECLINED if outcome is DECLINED else walk.errors


def python_validate(schema, data, *, native: bool = False) -> bool:
    """Whether `data` satisfies `schema`, stopping at the first violation."""
    walk = _Walk(native, first_only=True)
    return walk.walk(_read_node(schema), data, "") is _VALID


# ---------------------------------------------------------------------------
# The public face: compile once, native when possible, Python otherwise.


class Schema:
    """A compiled schema. `native` is the NativeValidator, or None when the native
    core declined the schema (or is not installed)."""

    def __init__(self, schema):
        self.schema = schema
        self.native = brindle_core.compile_schema(schema) if brindle_core is not None else None

    def is_valid(self, data) -> bool:
        if self.native is not None:
            # validate hands back data itself when valid, so for data None its answer
            # is None either way; and None is also its answer for shapes the core
            # declines. collect tells these apart.
            if data is not None and self.native.validate(data) is not None:
                return True
            entries = self.native.collect(data)
            if entries is not None:
                return not entries
        return python_validate(self.schema, data)

    def errors(self, data) -> List[ErrorEntry]:
        if self.native is not None:
            entries = self.native.collect(data)
            if entries is not None:
                return entries
        return python_collect(self.schema, data)
