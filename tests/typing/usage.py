"""A typed library module that uses brindle_core, as a type checker sees it.

tools/check_stubs.sh checks this file with ``mypy --strict --disallow-any-expr
--warn-unreachable`` against the installed stubs (so no ``Any`` reaches it from the
module), then runs it, so that the types it states are also what the module does.
The ``# type: ignore[...]`` comments mark calls the stubs must reject; with
``--warn-unused-ignores`` (part of ``--strict``) a stub that accepted them fails.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Dict, List, Optional, Tuple, Union

import brindle_core
from brindle_core import NativeValidator, compile_schema

if TYPE_CHECKING:
    from typing_extensions import assert_type
else:
    def assert_type(value, expected_type):
        return value

ErrorEntry = Tuple[str, str, object]
Record = Dict[str, Union[str, int, List[int]]]


class Validator:
    """The settings every validator carries; these leave the native core in charge."""

    def __init__(self) -> None:
        self._coerce = False
        self._custom_checks: List[object] = []
        self._when_condition: object = None
        self._env_key: object = None


class StringValidator(Validator):
    def __init__(self, *, min_len: Optional[int] = None, max_len: Optional[int] = None,
                 regex: Optional[str] = None) -> None:
        super().__init__()
        self._min_len = min_len
        self._max_len = max_len
        self._regex = regex


class NumberValidator(Validator):
    def __init__(self, type_cls: type = int, *, min: Optional[float] = None,
                 max: Optional[float] = None) -> None:
        super().__init__()
        self._type_cls = type_cls
        self._min = min
        self._max = max
        self._exclusive_min = False
        self._exclusive_max = False


class ListValidator(Validator):
    def __init__(self, item_validator: object, *, min_len: Optional[int] = None,
                 max_len: Optional[int] = None) -> None:
        super().__init__()
        self._item_validator = item_validator
        self._min_len = min_len
        self._max_len = max_len


SCHEMA: Dict[str, Validator] = {
    "name": StringValidator(min_len=1),
    "age": NumberValidator(int, min=0),
    "tags": ListValidator(NumberValidator(int)),
}


def python_errors(data: object) -> List[ErrorEntry]:
    """Stands for the library's own Python path (a real library walks the schema)."""
    return [] if isinstance(data, dict) else [("", "Expected dict", data)]


class Schema:
    """Compile once; native when compile_schema gives a validator, Python otherwise."""

    def __init__(self, schema: object) -> None:
        self.native: Optional[NativeValidator] = compile_schema(schema)

    def errors(self, data: object) -> List[ErrorEntry]:
        if self.native is not None:
            entries = self.native.collect(data)
            assert_type(entries, Optional[List[Tuple[str, str, object]]])
            if entries is not None:
                return entries
        return python_errors(data)

    def checked(self, record: Record) -> Optional[Record]:
        """The record itself when valid: validate hands back its argument's type."""
        if self.native is None:
            return None if python_errors(record) else record
        result = self.native.validate(record)
        assert_type(result, Optional[Record])
        return result


def construct_directly() -> None:
    """NativeValidator() always raises: instances come only from compile_schema."""
    NativeValidator()
    print("a NativeValidator was constructed")  # type: ignore[unreachable]


def subclass() -> None:
    """NativeValidator is final, for type checkers and for the interpreter."""

    class Derived(NativeValidator):  # type: ignore[misc]
        pass


def wrong_arguments(validator: NativeValidator) -> None:
    compile_schema(data=SCHEMA)  # type: ignore[call-arg]
    validator.validate()  # type: ignore[call-arg]
    validator.collect(1, 2)  # type: ignore[call-arg]


def main() -> None:
    assert_type(brindle_core.__all__, List[str])
    assert brindle_core.__all__ == ["compile_schema", "NativeValidator"]

    schema = Schema(SCHEMA)
    assert schema.native is not None
    assert_type(compile_schema(schema=SCHEMA), Optional[NativeValidator])

    good: Record = {"name": "Ada", "age": 36, "tags": [1, 2]}
    bad: Record = {"name": "", "age": -1, "tags": [1]}
    assert schema.checked(good) is good
    assert schema.checked(bad) is None
    assert schema.errors(good) == []
    assert schema.errors(bad) == [
        ("name", "String length 0 is shorter than minimum length 1", ""),
        ("age", "Value -1 is less than minimum 0", -1),
    ]
    # A tuple where a list belongs: the native core declines, the library answers.
    assert schema.native.collect({"name": "x", "age": 1, "tags": (1,)}) is None

    # A pattern is a feature the native core leaves to the library.
    assert Schema({"name": StringValidator(regex="[a-z]+")}).native is None

    try:
        construct_directly()
    except TypeError as error:
        assert str(error) == "No constructor defined for NativeValidator"
    else:
        raise AssertionError("NativeValidator() did not raise")
    try:
        subclass()
    except TypeError as error:
        assert "not an acceptable base type" in str(error)
    else:
        raise AssertionError("NativeValidator was subclassed")
    print("usage.py: ok")


if __name__ == "__main__":
    main()
