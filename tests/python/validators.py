"""Stand-ins for the validation library's Python validator classes.

brindle_core recognises a validator by the exact ``__name__`` of its type and reads
its settings from private attributes, so these plain classes are all a test needs.
Every setting has a default that the native core accepts; any can be given by keyword:

    NumberValidator(int, min=0)
    ListValidator(StringValidator(min_len=1), max_len=3, coerce=True)

``logged`` copies a validator into one whose attribute reads are recorded in order,
and ``with_property`` into one where a setting is computed by a function on each read.
"""


class Validator:
    """Accepts anything; also holds the settings that every validator has."""

    def __init__(self, *, coerce=False, custom_checks=(), when_condition=None, env_key=None):
        self._coerce = coerce
        self._custom_checks = custom_checks
        self._when_condition = when_condition
        self._env_key = env_key


class StringValidator(Validator):
    def __init__(self, *, min_len=None, max_len=None, regex=None, **common):
        super().__init__(**common)
        self._regex = regex
        self._min_len = min_len
        self._max_len = max_len


class NumberValidator(Validator):
    def __init__(self, type_cls=int, *, min=None, max=None, exclusive_min=False,
                 exclusive_max=False, **common):
        super().__init__(**common)
        self._type_cls = type_cls
        self._min = min
        self._max = max
        self._exclusive_min = exclusive_min
        self._exclusive_max = exclusive_max


class BoolValidator(Validator):
    pass


class ListValidator(Validator):
    def __init__(self, item_validator, *, min_len=None, max_len=None, **common):
        super().__init__(**common)
        self._item_validator = item_validator
        self._min_len = min_len
        self._max_len = max_len


class DictValidator(Validator):
    def __init__(self, value_validator, *, key_type=str, **common):
        super().__init__(**common)
        self._key_type = key_type
        self._value_validator = value_validator


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
