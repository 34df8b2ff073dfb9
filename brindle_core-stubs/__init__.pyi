"""Type information for brindle_core, the native core of a schema-validation library."""

from typing import NoReturn, TypeVar, final

__all__ = ["compile_schema", "NativeValidator"]

_T = TypeVar("_T")

def compile_schema(schema: object) -> NativeValidator | None:
    """Compile a validator tree (or a dict of field names to validators) once.

    Returns None when the schema uses a feature the native core does not handle;
    raises what reading the schema raises, and RecursionError for a schema that
    contains itself or nests too deeply.
    """

@final
class NativeValidator:
    """A compiled schema. Made only by compile_schema: the type cannot be
    instantiated or subclassed."""

    def __new__(cls, *args: object, **kwargs: object) -> NoReturn: ...
    def validate(self, data: _T) -> _T | None:
        """`data` itself when it satisfies the schema, else None."""

    def collect(self, data: object) -> list[tuple[str, str, object]] | None:
        """Every violation as (path, message, value), [] when valid, or None when
        the value has a shape the native core declines."""
