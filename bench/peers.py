"""Every implementation behind one face, built from a schema of the example library's
validators (translated for the peers): `check(data)` answers (accepted, errors), and a
statement with its namespace is what gets timed, with the data bound to `d`. `errors`
is a sorted list of paths (tuples of keys and indices) or a count where the
implementation reports every violation, and None where it stops at the first."""

from __future__ import annotations

import itertools
import re
from typing import Annotated, Any, Dict, List

import brindle_core
import fastjsonschema
import jsonschema
import msgspec
from pydantic_core import SchemaValidator, ValidationError
from pydantic_core import core_schema as cs

_names = itertools.count()


def _setting(v, name):
    return getattr(v, "_" + name)


def _bounds(v, convert):
    """The bounds of a NumberValidator as (ge, gt, le, lt), the exclusive ones apart."""
    low, high = _setting(v, "min"), _setting(v, "max")
    low = None if low is None else convert(low)
    high = None if high is None else convert(high)
    ex_low, ex_high = _setting(v, "exclusive_min"), _setting(v, "exclusive_max")
    return dict(ge=None if ex_low else low, gt=low if ex_low else None,
                le=None if ex_high else high, lt=high if ex_high else None)


def _kind(v):
    if isinstance(v, dict):
        return "fields"
    kind = type(v).__name__
    if kind == "NumberValidator":
        return _setting(v, "type_cls").__name__
    return kind


def to_json_schema(v) -> dict:
    kind = _kind(v)
    if kind == "fields":
        return {"type": "object", "properties": {k: to_json_schema(s) for k, s in v.items()},
                "required": list(v), "additionalProperties": False}
    if kind in ("int", "float"):
        names = dict(ge="minimum", gt="exclusiveMinimum", le="maximum", lt="exclusiveMaximum")
        schema = {"type": "integer" if kind == "int" else "number"}
        for key, bound in _bounds(v, lambda x: x).items():
            if bound is not None:
                schema[names[key]] = bound
        return schema
    if kind == "StringValidator":
        schema = {"type": "string"}
        for key, name in (("minLength", "min_len"), ("maxLength", "max_len")):
            if _setting(v, name) is not None:
                schema[key] = _setting(v, name)
        return schema
    if kind == "ListValidator":
        schema = {"type": "array", "items": to_json_schema(_setting(v, "item_validator"))}
        for key, name in (("minItems", "min_len"), ("maxItems", "max_len")):
            if _setting(v, name) is not None:
                schema[key] = _setting(v, name)
        return schema
    if kind == "DictValidator":
        return {"type": "object", "additionalProperties": to_json_schema(_setting(v, "value_validator"))}
    return {"type": "boolean"} if kind == "BoolValidator" else {}


def to_msgspec(v):
    kind = _kind(v)
    if kind == "fields":
        fields = [(k, to_msgspec(s)) for k, s in v.items()]
        return msgspec.defstruct(f"Struct{next(_names)}", fields, forbid_unknown_fields=True)
    if kind in ("int", "float"):
        number = int if kind == "int" else float
        meta = {k: b for k, b in _bounds(v, number).items() if b is not None}
        return Annotated[number, msgspec.Meta(**meta)] if meta else number
    if kind in ("StringValidator", "ListValidator"):
        base = str if kind == "StringValidator" else List[to_msgspec(_setting(v, "item_validator"))]
        meta = {k: _setting(v, n) for k, n in (("min_length", "min_len"), ("max_length", "max_len"))
                if _setting(v, n) is not None}
        return Annotated[base, msgspec.Meta(**meta)] if meta else base
    if kind == "DictValidator":
        return Dict[str, to_msgspec(_setting(v, "value_validator"))]
    return bool if kind == "BoolValidator" else Any


def to_pydantic(v) -> dict:
    kind = _kind(v)
    if kind == "fields":
        return cs.typed_dict_schema({k: cs.typed_dict_field(to_pydantic(s)) for k, s in v.items()},
                                    extra_behavior="forbid", strict=True)
    if kind in ("int", "float"):
        number = cs.int_schema if kind == "int" else cs.float_schema
        return number(**_bounds(v, int if kind == "int" else float), strict=True)
    lengths = {}
    if kind in ("StringValidator", "ListValidator"):
        lengths = dict(min_length=_setting(v, "min_len"), max_length=_setting(v, "max_len"))
    if kind == "StringValidator":
        return cs.str_schema(**lengths, strict=True)
    if kind == "ListValidator":
        return cs.list_schema(to_pydantic(_setting(v, "item_validator")), **lengths, strict=True)
    if kind == "DictValidator":
        return cs.dict_schema(cs.str_schema(strict=True), to_pydantic(_setting(v, "value_validator")),
                              strict=True)
    return cs.bool_schema(strict=True) if kind == "BoolValidator" else cs.any_schema()


_TOKEN = re.compile(r"\[(\d+)\]|([^.\[\]]+)")


def parse_path(text: str) -> tuple:
    """A collect path ("a.b[3].c") as a tuple of keys and indices."""
    return tuple(int(i) if i else k for i, k in _TOKEN.findall(text))


class Impl:
    """A named implementation; build(schema) -> (check, stmt, namespace)."""

    def __init__(self, name, build):
        self.name = name
        self.build = build


def _brindle_validate(schema):
    v = brindle_core.compile_schema(schema)
    return (lambda d: (v.validate(d) is d, None)), "f(d)", {"f": v.validate}


def _brindle_collect(schema):
    v = brindle_core.compile_schema(schema)

    def check(d):
        entries = v.collect(d)
        if entries is None:
            return None, "declined"
        return not entries, sorted((parse_path(p) for p, _, _ in entries), key=repr)
    return check, "f(d)", {"f": v.collect}


def _raising(call, error, errors=None):
    """check() for an implementation that raises `error` on invalid data."""
    def check(d):
        try:
            call(d)
        except error as e:
            return False, None if errors is None else errors(e)
        return True, None if errors is None else []
    return check


def _msgspec(schema):
    t = to_msgspec(schema)
    check = _raising(lambda d: msgspec.convert(d, type=t, strict=True), msgspec.ValidationError)
    stmt = "try:\n    convert(d, type=t, strict=True)\nexcept E:\n    pass"
    return check, stmt, {"convert": msgspec.convert, "t": t, "E": msgspec.ValidationError}


def _pydantic(schema):
    f = SchemaValidator(to_pydantic(schema), cs.CoreConfig(strict=True)).validate_python
    check = _raising(f, ValidationError, lambda e: sorted((tuple(x["loc"]) for x in e.errors()), key=repr))
    stmt = "try:\n    f(d)\nexcept E as e:\n    e.errors()"
    return check, stmt, {"f": f, "E": ValidationError}


def _fastjsonschema(schema):
    f = fastjsonschema.compile(to_json_schema(schema))
    E = fastjsonschema.JsonSchemaValueException
    return _raising(f, E), "try:\n    f(d)\nexcept E:\n    pass", {"f": f, "E": E}


def _jsonschema_is_valid(schema):
    f = jsonschema.Draft202012Validator(to_json_schema(schema)).is_valid
    return (lambda d: (f(d), None)), "f(d)", {"f": f}


def _jsonschema_iter_errors(schema):
    f = jsonschema.Draft202012Validator(to_json_schema(schema)).iter_errors

    def check(d):
        errors = list(f(d))
        return not errors, len(errors)  # a "required" error has the parent's path: count only
    return check, "list(f(d))", {"f": f}


IMPLS = [
    Impl("brindle validate", _brindle_validate),
    Impl("brindle collect", _brindle_collect),
    Impl("msgspec", _msgspec),
    Impl("pydantic-core", _pydantic),
    Impl("fastjsonschema", _fastjsonschema),
    Impl("jsonschema is_valid", _jsonschema_is_valid),
    Impl("jsonschema iter_errors", _jsonschema_iter_errors),
]
