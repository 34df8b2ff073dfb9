import gc
import math
import os
import subprocess
import sys
import traceback

import numpy
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from brindle_core import NativeValidator, compile_schema
from validators import (
    BoolValidator, DictValidator, ListValidator, Named, NumberValidator, StringValidator,
    Validator, gates, growing_schema, logged, raise_, with_property,
)
from values import Index

NODE = "compiled"  # the outcome "a NativeValidator came back"


def refcounts(objects):
    gc.collect()  # garbage of other tests may still refer to the objects
    return [sys.getrefcount(o) for o in objects]


def outcome(schema):
    result = compile_schema(schema)
    if result is None:
        return None
    assert type(result) is NativeValidator
    return NODE


class SchemaDict(dict):
    def __iter__(self):  # never used: the compiler walks the dict's own storage
        raise AssertionError("iterated through __iter__")


class KeyStr(str):
    pass


class Settings:
    class Flag:
        pass


class NamedFive(type):
    """A metaclass whose classes have the int 5 as their __name__."""

    def __getattribute__(cls, name):
        return 5 if name == "__name__" else super().__getattribute__(name)


class NamelessQualname(type):
    """A metaclass whose classes have the int 5 as their __qualname__."""

    def __getattribute__(cls, name):
        return 5 if name == "__qualname__" else super().__getattribute__(name)


def of_class(name, validator, metaclass=type):
    """The validator's settings on an instance of a class unrelated to the validator
    classes."""
    copy = metaclass(name, (), {})()
    vars(copy).update(vars(validator))
    return copy


def numpy_like(name, module="numpy", **namespace):
    cls = type(name, (), {"__module__": module, "__qualname__": name, **namespace})
    return cls()


@pytest.mark.parametrize("schema", [
    pytest.param({}, id="empty-dict"),
    pytest.param(StringValidator(min_len=0, max_len=2**64 - 1), id="str-largest-length"),
    pytest.param(StringValidator(min_len=Index(3), max_len=True), id="str-length-index"),
    pytest.param(NumberValidator(int, min=10, max=5), id="min-above-max"),
    pytest.param(NumberValidator(int, min=True), id="min-true"),
    pytest.param(NumberValidator(float, min=math.nan, max=-1.0), id="nan-bound"),
    pytest.param(NumberValidator(float, min=2**1023, max=Index(7)), id="int-bounds"),
    pytest.param(NumberValidator(int, exclusive_min=True), id="exclusive-without-bounds"),
    pytest.param(NumberValidator(Named("int")), id="any-class-named-int"),
    pytest.param(ListValidator(StringValidator(), min_len=1), id="list-sized"),
    pytest.param(DictValidator(Validator(), key_type=Named("str")), id="any-class-named-str"),
    pytest.param(DictValidator({"a": Validator()}), id="dict-validator-of-fields"),
    pytest.param(SchemaDict(a=Validator()), id="dict-subclass"),
    pytest.param({KeyStr("a"): Validator(), "é€😀": Validator(), "": Validator()},
                 id="str-subclass-and-unicode-keys"),
    pytest.param(gates(Validator(), custom_checks=""), id="custom-checks-empty-str"),
    pytest.param(gates(Validator(), coerce=numpy.False_), id="coerce-numpy-false"),
    pytest.param(of_class("StringValidator", StringValidator()), id="unrelated-class-same-name"),
])
def test_supported(schema):
    assert outcome(schema) == NODE


@pytest.mark.parametrize("schema", [
    pytest.param(gates(Validator(), coerce=True), id="coerce"),
    pytest.param(gates(Validator(), coerce=numpy.True_), id="coerce-numpy-true"),
    pytest.param(gates(Validator(), custom_checks=[len]), id="custom-checks"),
    pytest.param(gates(Validator(), custom_checks="x"), id="custom-checks-str"),
    pytest.param(gates(Validator(), when_condition=False), id="when-false"),
    pytest.param(gates(Validator(), when_condition=""), id="when-empty"),
    pytest.param(gates(Validator(), env_key=""), id="env-key-empty"),
    pytest.param(StringValidator(regex=""), id="regex-empty"),
    pytest.param(NumberValidator(complex), id="number-complex"),
    pytest.param(NumberValidator(Named("in")), id="number-prefix-of-int"),
    pytest.param(NumberValidator(Named("intx")), id="number-int-prefix"),
    pytest.param(NumberValidator(Named("Float")), id="number-case"),
    pytest.param(DictValidator(Validator(), key_type=Named("st")), id="key-prefix-of-str"),
    pytest.param(type("EmailValidator", (StringValidator,), {})(), id="subclass-own-name"),
    pytest.param(of_class("stringvalidator", StringValidator()), id="class-name-case"),
    pytest.param(of_class("StringValidatorX", StringValidator()), id="class-name-longer"),
    pytest.param(of_class("StringValidato", StringValidator()), id="class-name-shorter"),
    pytest.param({b"a": Validator()}, id="bytes-key"),
    pytest.param({"\ud800": Validator()}, id="surrogate-key"),
    pytest.param({"a": Validator(), "b": {"c": {2: Validator()}}}, id="nested-int-key"),
])
def test_unsupported(schema):
    assert outcome(schema) is None


NOT_A_BOOL = "'{}' object cannot be converted to 'PyBool'"
NOT_A_STR = "'{}' object cannot be converted to 'PyString'"


# `message` None: the interpreter's own wording, which is not the module's to fix.
@pytest.mark.parametrize(("schema", "error", "message"), [
    pytest.param(5, AttributeError, "'int' object has no attribute '_coerce'", id="int"),
    pytest.param(ListValidator(None), AttributeError,
                 "'NoneType' object has no attribute '_coerce'", id="item-none"),
    pytest.param(DictValidator(5), AttributeError, "'int' object has no attribute '_coerce'",
                 id="value-int"),
    pytest.param(DictValidator(Validator(), key_type=None), AttributeError,
                 "'NoneType' object has no attribute '__name__'", id="key-type-none"),
    pytest.param(NumberValidator(5), AttributeError,
                 "'int' object has no attribute '__name__'", id="type-cls-int"),
    pytest.param(NumberValidator(Named(5)), TypeError, NOT_A_STR.format("int"),
                 id="type-name-int"),
    pytest.param(DictValidator(Validator(), key_type=Named(KeyStr)), TypeError,
                 NOT_A_STR.format("type"), id="key-type-name-type"),
    pytest.param(NumberValidator(Named("\ud800")), UnicodeEncodeError, None,
                 id="type-name-surrogate"),
    pytest.param(of_class("X", Validator(), metaclass=NamedFive), TypeError,
                 NOT_A_STR.format("int"), id="class-name-int"),
    pytest.param(gates(Validator(), coerce=1), TypeError, NOT_A_BOOL.format("int"), id="coerce-int"),
    pytest.param(gates(Validator(), coerce=None), TypeError, NOT_A_BOOL.format("NoneType"),
                 id="coerce-none"),
    pytest.param(gates(Validator(), coerce=Settings.Flag()), TypeError,
                 NOT_A_BOOL.format("Settings.Flag"), id="coerce-qualname"),
    pytest.param(gates(Validator(), coerce=of_class("X", Validator(), metaclass=NamelessQualname)),
                 TypeError, NOT_A_BOOL.format("<failed to extract type name>"),
                 id="coerce-qualname-not-str"),
    pytest.param(NumberValidator(int, exclusive_min=1), TypeError, NOT_A_BOOL.format("int"),
                 id="exclusive-min-int"),
    pytest.param(NumberValidator(int, exclusive_max=None), TypeError,
                 NOT_A_BOOL.format("NoneType"), id="exclusive-max-none"),
    pytest.param(gates(Validator(), custom_checks=None), TypeError,
                 "object of type 'NoneType' has no len()", id="custom-checks-none"),
    pytest.param(NumberValidator(float, min="1"), TypeError, None, id="min-str"),
    pytest.param(NumberValidator(int, max=2**1024), OverflowError,
                 "int too large to convert to float", id="max-huge"),
    pytest.param(StringValidator(min_len=-1), OverflowError, None, id="min-len-negative"),
    pytest.param(StringValidator(max_len=2**64), OverflowError, None, id="max-len-2-64"),
    pytest.param(StringValidator(min_len=1.0), TypeError, None, id="min-len-float"),
    pytest.param(ListValidator(Validator(), max_len=-1), OverflowError, None,
                 id="list-max-len-negative"),
])
def test_exceptions(schema, error, message):
    with pytest.raises(error) as info:
        compile_schema(schema)
    assert type(info.value) is error
    if message is not None:
        assert info.value.args == (message,)


PROTOCOL = [
    (Validator(), []),
    (BoolValidator(), []),
    (StringValidator(), ["_regex", "_min_len", "_max_len"]),
    (NumberValidator(int), ["_type_cls", "_min", "_max", "_exclusive_min", "_exclusive_max"]),
    (ListValidator(Validator()), ["_item_validator", "_min_len", "_max_len"]),
    (DictValidator(Validator()), ["_key_type", "_value_validator"]),
]
GATES = ["_coerce", "_custom_checks", "_when_condition", "_env_key"]


@pytest.mark.parametrize(("validator", "attribute"), [
    pytest.param(validator, attribute, id=f"{type(validator).__name__}-{attribute}")
    for validator, own in PROTOCOL for attribute in GATES + own
])
def test_missing_attribute_is_not_absent(validator, attribute):
    stripped = of_class(type(validator).__name__, validator)
    delattr(stripped, attribute)
    with pytest.raises(AttributeError) as info:
        compile_schema({"field": stripped})
    name = type(validator).__name__
    assert info.value.args == (f"'{name}' object has no attribute '{attribute}'",)


def settings_reads(prefix=""):
    return [prefix + name for name in GATES + ["type.__name__"]]


def schema_with_unread_rest(log):
    return {"a": logged(StringValidator(regex="x"), log, "a."),
            "b": logged(Validator(), log, "b.")}


def schema_with_int_key(log):
    return {"a": logged(Validator(), log, "a."), 2: logged(Validator(), log, "b.")}


def failing_then_unsupported(log):
    return {"a": logged(NumberValidator(int, max="x"), log, "a."),
            "b": logged(StringValidator(regex="x"), log, "b.")}


NUMBER_READS = ["_type_cls", "type_cls.__name__", "_min", "_max", "_exclusive_min",
                "_exclusive_max"]


# Each case builds its schema around a shared log of attribute reads.
@pytest.mark.parametrize(("build", "expected", "reads"), [
    pytest.param(lambda log: logged(Validator(), log), NODE, settings_reads(), id="any"),
    pytest.param(lambda log: logged(StringValidator(min_len=1), log), NODE,
                 settings_reads() + ["_regex", "_min_len", "_max_len"], id="str"),
    pytest.param(lambda log: logged(NumberValidator(logged(Named("int"), log, "type_cls.")),
                                    log), NODE, settings_reads() + NUMBER_READS, id="number"),
    pytest.param(lambda log: logged(NumberValidator(logged(Named("bool"), log, "type_cls.")),
                                    log), None, settings_reads() + NUMBER_READS[:2],
                 id="number-bool-reads-no-bound"),
    pytest.param(lambda log: logged(ListValidator(logged(Validator(), log, "item.")), log),
                 NODE, settings_reads() + ["_item_validator"] + settings_reads("item.")
                 + ["_min_len", "_max_len"], id="list"),
    pytest.param(lambda log: logged(ListValidator(logged(gates(Validator(), env_key="E"), log,
                                                         "item.")), log),
                 None, settings_reads() + ["_item_validator"] + [f"item.{name}" for name in GATES],
                 id="list-item-unsupported"),
    pytest.param(lambda log: logged(DictValidator(logged(Validator(), log, "value."),
                                                  key_type=logged(Named("str"), log, "key.")),
                                    log), NODE,
                 settings_reads() + ["_key_type", "key.__name__", "_value_validator"]
                 + settings_reads("value."), id="dict-validator"),
    pytest.param(lambda log: logged(DictValidator(logged(Validator(), log, "value."),
                                                  key_type=int), log), None,
                 settings_reads() + ["_key_type"], id="dict-validator-int-key"),
    pytest.param(lambda log: logged(gates(Validator(), coerce=True), log), None, GATES[:1],
                 id="coerce"),
    pytest.param(lambda log: logged(gates(Validator(), custom_checks=[len]), log), None, GATES[:2],
                 id="custom-checks"),
    pytest.param(lambda log: logged(gates(Validator(), when_condition=False), log), None, GATES[:3],
                 id="when-condition"),
    pytest.param(lambda log: logged(gates(Validator(), env_key="E"), log), None, GATES, id="env-key"),
    pytest.param(lambda log: logged(of_class("Other", Validator()), log), None,
                 settings_reads(), id="unknown-class"),
    pytest.param(lambda log: logged(gates(Validator(), coerce=1), log), TypeError, GATES[:1],
                 id="coerce-not-bool"),
    pytest.param(lambda log: logged(NumberValidator(int, min="x"), log), TypeError,
                 settings_reads() + NUMBER_READS[:1] + ["_min"], id="min-not-number"),
    pytest.param(lambda log: logged(StringValidator(min_len=-1), log), OverflowError,
                 settings_reads() + ["_regex", "_min_len"], id="min-len-negative"),
    pytest.param(schema_with_unread_rest, None, settings_reads("a.") + ["a._regex"],
                 id="fields-stop-at-first-unsupported"),
    pytest.param(schema_with_int_key, None, settings_reads("a."), id="fields-int-key"),
    pytest.param(failing_then_unsupported, TypeError,
                 settings_reads("a.") + ["a._type_cls", "a._min", "a._max"],
                 id="fields-first-exception-wins"),
])
def test_read_order(build, expected, reads):
    log = []
    schema = build(log)
    if isinstance(expected, type):
        with pytest.raises(expected):
            compile_schema(schema)
    else:
        assert outcome(schema) == expected
    assert log == reads


def test_exception_is_passed_on_as_raised():
    error = AttributeError("no such setting")

    def max_len_getter(validator):
        raise error

    schema = {"a": ListValidator(with_property(StringValidator(), "_max_len", max_len_getter))}
    with pytest.raises(AttributeError) as info:
        compile_schema(schema)
    assert info.value is error
    assert error.__cause__ is None and error.__context__ is None
    frames = [frame.name for frame in traceback.extract_tb(error.__traceback__)]
    assert frames[0] == "test_exception_is_passed_on_as_raised"
    assert frames[-1] == "max_len_getter"


class BoolProblem(ValueError):
    pass


BOOL_PROBLEM = BoolProblem("no truth")
NO_BOOL_SLOT = "object of type '<class 'numpy.{}'>' does not define a '__bool__' conversion"


# How each setting read as a bool turns out: True, False or an exception (type, message).
@pytest.mark.parametrize(("value", "expected"), [
    pytest.param(numpy.True_, True, id="numpy-true"),
    pytest.param(numpy.False_, False, id="numpy-false"),
    pytest.param(getattr(numpy, "bool", numpy.bool_)(True), True, id="numpy-bool",
                 marks=pytest.mark.skipif(not hasattr(numpy, "bool"), reason="numpy 1")),
    pytest.param(numpy_like("bool_", __bool__=lambda self: True), True, id="fake-bool_-true"),
    pytest.param(numpy_like("bool", __bool__=lambda self: False), False, id="fake-bool-false"),
    pytest.param(numpy_like("bool_"), (TypeError, NO_BOOL_SLOT.format("bool_")),
                 id="fake-bool_-without-bool"),
    pytest.param(numpy_like("bool"), (TypeError, NO_BOOL_SLOT.format("bool")),
                 id="fake-bool-without-bool"),
    pytest.param(numpy_like("bool_", __bool__=lambda self: raise_(BOOL_PROBLEM)),
                 (BoolProblem, "no truth"), id="fake-bool-raises"),
    pytest.param(numpy_like("bool_", module="numpy.core", __bool__=lambda self: True),
                 (TypeError, NOT_A_BOOL.format("bool_")), id="other-module"),
    pytest.param(numpy_like("int_", __bool__=lambda self: True),
                 (TypeError, NOT_A_BOOL.format("int_")), id="other-numpy-class"),
    pytest.param(numpy.int64(1), (TypeError, NOT_A_BOOL.format("int64")), id="numpy-int"),
    pytest.param(numpy_like("Truthy", module=__name__, __bool__=lambda self: True),
                 (TypeError, NOT_A_BOOL.format("Truthy")), id="own-bool-is-not-enough"),
])
@pytest.mark.parametrize("setting", ["coerce", "exclusive_min", "exclusive_max"])
def test_bool_settings(setting, value, expected):
    schema = (gates(NumberValidator(float), coerce=value) if setting == "coerce"
              else NumberValidator(float, **{setting: value}))
    if isinstance(expected, tuple):
        error, message = expected
        with pytest.raises(error) as info:
            compile_schema(schema)
        assert type(info.value) is error
        assert info.value.args == (message,)
    else:
        # Only coerce shows its value from outside: true declines the schema.
        assert outcome(schema) == (None if setting == "coerce" and expected else NODE)


# The validators of the generated trees: ("ok", name), ("unsupported", name), ("raises",),
# ("list", tree), ("dict", tree) and ("fields", [(key, tree), ...]).
SUPPORTED_LEAVES = {
    "str": lambda: StringValidator(min_len=1), "int": lambda: NumberValidator(int, max=3),
    "float": lambda: NumberValidator(float), "bool": BoolValidator, "any": Validator,
}
UNSUPPORTED_LEAVES = {
    "coerce": lambda: gates(BoolValidator(), coerce=True), "regex": lambda: StringValidator(regex="x"),
    "number-bool": lambda: NumberValidator(bool),
    "int-keys": lambda: DictValidator(Validator(), key_type=int),
}
leaves = st.sampled_from([("ok", name) for name in SUPPORTED_LEAVES]
                         + [("unsupported", name) for name in UNSUPPORTED_LEAVES]
                         + [("raises",)])
trees = st.recursive(leaves, lambda children: st.one_of(
    st.tuples(st.just("list"), children),
    st.tuples(st.just("dict"), children),
    st.tuples(st.just("fields"), st.lists(
        st.tuples(st.one_of(st.text(max_size=2), st.integers(0, 2)), children),
        max_size=3, unique_by=lambda entry: entry[0])),
), max_leaves=8)


def build(tree, events):
    """The schema for `tree`; `events` gets, in the order in which the compiler meets
    them, None for each part that compiles and else "unsupported" or the exception."""
    kind = tree[0]
    if kind == "ok":
        events.append(None)
        return SUPPORTED_LEAVES[tree[1]]()
    if kind == "unsupported":
        events.append("unsupported")
        return UNSUPPORTED_LEAVES[tree[1]]()
    if kind == "raises":
        error = LookupError(len(events))
        events.append(error)
        return with_property(Validator(), "_coerce", lambda validator: raise_(error))
    if kind == "list":
        return ListValidator(build(tree[1], events))
    if kind == "dict":
        return DictValidator(build(tree[1], events))
    schema = {}
    for key, child in tree[1]:
        events.append(None if isinstance(key, str) else "unsupported")
        schema[key] = build(child, events)
    return schema


@settings(max_examples=200, deadline=None)
@given(trees)
def test_first_unsupported_or_exception_decides(tree):
    events = []
    schema = build(tree, events)
    first = next((event for event in events if event is not None), None)
    if isinstance(first, LookupError):
        with pytest.raises(LookupError) as info:
            compile_schema(schema)
        assert info.value is first
    else:
        assert outcome(schema) == (None if first == "unsupported" else NODE)


def nested_lists(depth, leaf):
    schema = leaf
    for _ in range(depth):
        schema = ListValidator(schema)
    return schema


def nested_fields(depth, leaf):
    schema = leaf
    for _ in range(depth):
        schema = {"a": schema}
    return schema


def cyclic_list():
    cyclic = ListValidator(None)
    cyclic._item_validator = cyclic
    return cyclic


def cyclic_fields():
    cyclic = {}
    cyclic["self"] = cyclic
    return cyclic


DEEP = 100_000
RECURSIVE_SCHEMAS = {
    "own-item-validator": lambda leaf: cyclic_list(),
    "dict-containing-itself": lambda leaf: cyclic_fields(),
    "deep-lists": lambda leaf: nested_lists(DEEP, leaf),
    "deep-fields": lambda leaf: nested_fields(DEEP, leaf),
    "deep-mixed": lambda leaf: DictValidator(nested_fields(DEEP, leaf)),
}


def refuse_recursion(name):
    """Compiles one of the RECURSIVE_SCHEMAS a few times; run in a child process,
    where running out of native stack ends the child, not the test run."""
    leaf = Validator()
    schema = RECURSIVE_SCHEMAS[name](leaf)
    watched = [schema, leaf]
    before = refcounts(watched)
    for _ in range(5):
        with pytest.raises(RecursionError):
            compile_schema(schema)
    assert refcounts(watched) == before
    # The recursion depth was given back: schemas of ordinary depth still compile.
    assert outcome(nested_lists(200, Validator())) == NODE
    assert outcome(nested_fields(200, Validator())) == NODE


@pytest.mark.parametrize("name", list(RECURSIVE_SCHEMAS))
def test_endless_recursion_is_refused(name):
    here = os.path.dirname(os.path.abspath(__file__))
    code = f"from test_compile import refuse_recursion; refuse_recursion({name!r})"
    child = subprocess.run([sys.executable, "-X", "faulthandler", "-c", code], cwd=here,
                           capture_output=True, text=True, timeout=120)
    assert (child.returncode, child.stderr) == (0, "")


def rekeyed_schema():
    """A schema dict whose first validator, while read, replaces the visited field by
    a new one: the size stays, but the dict yields one entry more than it had."""

    def rekey(validator):
        del schema["first"]
        schema["added"] = Validator()
        return None

    schema = {"first": with_property(StringValidator(), "_regex", rekey), "second": Validator()}
    return schema


@pytest.mark.parametrize(("make", "message"), [
    pytest.param(growing_schema, "dictionary changed size during iteration", id="size"),
    pytest.param(rekeyed_schema, "dictionary keys changed during iteration", id="keys"),
])
def test_schema_dict_changed_while_compiled(make, message, panic_type):
    schema = make()
    # The first field may be deleted: held here, it keeps its getter's hold on the schema.
    first = schema["first"]
    watched = [schema, schema["second"]]
    before = refcounts(watched)
    with pytest.raises(BaseException) as info:
        compile_schema(schema)
    assert type(info.value) is panic_type
    assert info.value.args == (message,)
    del info
    assert refcounts(watched) == before
    del first
    assert outcome({"still": Validator()}) == NODE


def test_reference_counts_are_unchanged():
    bound = float("2.5")
    length = int("123456789012")
    checks = []
    key = "".join(["fie", "ld"])
    type_cls = Named("float")
    leaf = gates(StringValidator(min_len=length), custom_checks=checks)
    number = NumberValidator(type_cls, min=bound, max=length)
    items = ListValidator(leaf, max_len=length)
    values = DictValidator(number)
    schemas = [
        {key: items, "values": values},
        {key: items, "values": values, "last": StringValidator(regex=key)},
        {key: items, "values": values, "last": ListValidator(leaf, min_len=bound)},
        {key: items, "values": values, "last": ListValidator(number, min_len=-1)},
        {key: items, "values": values, "last": gates(Validator(), coerce=bound)},
        {key: items, "values": values, "last": gates(BoolValidator(), custom_checks=bound)},
        {key: items, "values": values, "last": None},
        {1: items, key: values},
    ]
    watched = [bound, length, checks, key, type_cls, leaf, number, items, values,
               NativeValidator, *schemas]
    before = refcounts(watched)
    for _ in range(2000):
        for schema in schemas:
            try:
                compile_schema(schema)
            except (AttributeError, TypeError, OverflowError):
                pass
    del schema
    assert refcounts(watched) == before
