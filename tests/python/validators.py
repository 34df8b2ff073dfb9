"""The validator classes the tests compile, and helpers that bend them.

The classes are the example library's own (examples/schemalib.py): brindle_core
recognises a validator by the exact ``__name__`` of its type and reads its settings
from private attributes, so they are all a test needs. The gate settings that the
library does not offer (coercion, conditions, environment keys), and values of its
own that it would not accept, are set with ``gates``:

    NumberValidator(int, min=0)
    gates(StringValidator(min_len=1), coerce=True, custom_checks=None)

``logged`` copies a validator into one whose attribute reads are recorded in order,
and ``with_property`` into one where a setting is computed by a function on each read.
"""

import sys
from pathlib import Path

# The tests' own child processes import this module too, without pytest's path.
_EXAMPLES = str(Path(__file__).resolve().parents[2] / "examples")
if _EXAMPLES not in sys.path:
    sys.path.append(_EXAMPLES)

from schemalib import (  # noqa: E402, F401 - re-exported for the tests
    BoolValidator,
    DictValidator,
    ListValidator,
    NumberValidator,
    StringValidator,
    Validator,
)


def gates(validator, **settings):
    """`validator` with its gate settings (`coerce`, `custom_checks`,
    `when_condition`, `env_key`) set to exactly these values."""
    for name, value in settings.items():
        assert name in ("coerce", "custom_checks", "when_condition", "env_key"), name
        setattr(validator, "_" + name, value)
    return validator


class Named:
    """Stands in for a class in ``_type_cls`` or ``_key_type``: only ``__name__`` is read."""

    def __init__(self, name):
        self.__name__ = name


def _copy(validator, namespace, metaclass=type):
    """An instance of a new subclass with the validator's class name and settings."""
    base = type(validator)
    cls = metaclass(base.__name__, (base,), namespace)
    copy = object.__new__(cls)
    for name, value in vars(validator).items():
        if name not in namespace:
            object.__setattr__(copy, name, value)
    return copy


def logged(validator, log, prefix=""):
    """A copy of ``validator`` that appends ``prefix + name`` to ``log`` for every
    attribute read, and ``prefix + "type.__name__"`` when its class name is read."""

    class LoggedType(type(type(validator))):
        def __getattribute__(cls, name):
            if name == "__name__":
                log.append(prefix + "type.__name__")
            return super().__getattribute__(name)

    def __getattribute__(self, name):
        log.append(prefix + name)
        return object.__getattribute__(self, name)

    start = len(log)
    copy = _copy(validator, {"__getattribute__": __getattribute__}, LoggedType)
    del log[start:]  # making the class may have looked itself up
    return copy


def with_property(validator, name, getter):
    """A copy of ``validator`` whose setting ``name`` is ``getter(self)``, computed
    on every read (so ``getter`` may raise, or change the schema)."""
    return _copy(validator, {name: property(getter)})


def growing_schema():
    """A schema dict whose first validator adds a field to the dict while its
    `_regex` is read: compiling it is a fault."""

    def grow(validator):
        schema["added"] = Validator()
        return None

    schema = {"first": with_property(StringValidator(), "_regex", grow), "second": Validator()}
    return schema


def raise_(exception):
    """For lambdas: raise ``exception``."""
    raise exception
