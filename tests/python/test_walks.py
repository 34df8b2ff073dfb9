"""Both walks on the cases that tell them apart: each row gives a schema, a value,
what collect returns and whether validate accepts."""

import gc

import pytest

from brindle_core import compile_schema
from validators import (
    BoolValidator,
    DictValidator,
    ListValidator,
    NumberValidator,
    StringValidator,
    Validator,
)
from values import Index

NAN = float("nan")
INF = float("inf")


class BadIndex:
    def __index__(self):
        raise ValueError("no integer here")


class FloatSub(float):
    def __float__(self):
        return 99.0


class IntSub(int):
    pass


class StrSub(str):
    pass


class ListSub(list):
    def __len__(self):
        return 0

    def __iter__(self):
        return iter(())


class DictSub(dict):
    def __len__(self):
        return 0

    def __iter__(self):
        return iter(())


class SameText(str):
    """A str subclass whose instances are distinct dict keys from an equal str."""

    def __eq__(self, other):
        return self is other

    def __hash__(self):
        return id(self)


def Int(**bounds):
    return NumberValidator(int, **bounds)


def Float(**bounds):
    return NumberValidator(float, **bounds)


def Str(**limits):
    return StringValidator(**limits)


BAD_INDEX = BadIndex()
FLOAT_SUB = FloatSub(1.5)
SEVEN = Index(7)
TUPLE = (1, 2)
EMPTY_LIST = []
TWO = [1, "x"]
HUGE = 2 ** 63
X = "x"
HELLO = "héllo"
TRUE = True
TIE = 1e15 + 0.25
SUB_A = StrSub("a")
MAPPING = {1: 2}
PAIRS = [("a", 1)]

# (schema, data, collect, validate accepts)
CASES = [
    # Scalars at the root: the path is the empty string.
    pytest.param(Str(), 5, [("", "Expected str", 5)], False, id="root-scalar"),
    pytest.param(Validator(), object, [], True, id="any"),
    pytest.param(BoolValidator(), 1, [("", "Expected bool", 1)], False, id="int-is-not-bool"),
    pytest.param(BoolValidator(), True, [], True, id="bool"),
    # Integers: bools and __index__ read as ints, floats and huge ints do not.
    pytest.param(Int(), True, [], True, id="bool-is-int"),
    pytest.param(Int(), SEVEN, [], True, id="index"),
    pytest.param(Int(), 3.0, [("", "Expected int", 3.0)], False, id="float-is-not-int"),
    pytest.param(Int(), HUGE, [("", "Expected int", HUGE)], False, id="beyond-i64"),
    pytest.param(Int(), BAD_INDEX, [("", "Expected int", BAD_INDEX)], False, id="raising-index"),
    pytest.param(Int(min=5), TRUE, [("", "Value 1 is less than minimum 5", TRUE)], False,
                 id="bool-shown-as-1"),
    pytest.param(Int(max=2 ** 53), 2 ** 53 + 1, [], True, id="compared-as-double"),
    # The same in a list, where items are read straight from their digits.
    pytest.param(ListValidator(Int(max=2 ** 53)), [2 ** 53 + 1], [], True,
                 id="item-compared-as-double"),
    pytest.param(ListValidator(Int(max=576460752303423489, exclusive_max=True)),
                 [5, 576460752303423488, 7],
                 [("[1]", "Value 576460752303423488 must be less than 576460752303423500",
                   576460752303423488)], False, id="item-equal-to-bound-as-double"),
    pytest.param(Int(min=0, exclusive_min=True), 0, [("", "Value 0 must be greater than 0", 0)],
                 False, id="exclusive-min"),
    pytest.param(Int(min=0), 0, [], True, id="inclusive-min"),
    pytest.param(Int(max=10, exclusive_max=True), 10, [("", "Value 10 must be less than 10", 10)],
                 False, id="exclusive-max"),
    pytest.param(Int(min=10, max=5), 1, [("", "Value 1 is less than minimum 10", 1)], False,
                 id="inverted-bounds-report-min-only"),
    pytest.param(Int(min=NAN), -(2 ** 62), [], True, id="nan-bound"),
    pytest.param(Int(exclusive_min=True), -5, [], True, id="exclusive-without-bounds"),
    pytest.param(Int(max=1.5), 2, [("", "Value 2 is greater than maximum 1.5", 2)], False,
                 id="fractional-bound"),
    # Floats: ints are not floats; NaN passes every bound; subclasses read the stored value.
    pytest.param(Float(), 3, [("", "Expected float", 3)], False, id="int-is-not-float"),
    pytest.param(Float(min=0), NAN, [], True, id="nan-value"),
    pytest.param(Float(max=INF, exclusive_max=True), INF,
                 [("", "Value inf must be less than inf", INF)], False, id="infinities"),
    pytest.param(Float(max=2), FLOAT_SUB, [], True, id="float-subclass-stored-value"),
    pytest.param(Float(min=1e15 + 0.5), TIE,
                 [("", "Value 1000000000000000.3 is less than minimum 1000000000000000.5", TIE)],
                 False, id="exact-tie-rounds-up"),
    # Strings count code points.
    pytest.param(Str(max_len=4), HELLO,
                 [("", "String length 5 is longer than maximum length 4", HELLO)], False,
                 id="code-points-not-bytes"),
    pytest.param(Str(min_len=2), SUB_A,
                 [("", "String length 1 is shorter than minimum length 2", SUB_A)], False,
                 id="str-subclass"),
    # Lists.
    pytest.param(ListValidator(Int()), TWO, [("[1]", "Expected int", "x")], False,
                 id="root-list-paths"),
    pytest.param(ListValidator(Int()), TUPLE, None, False, id="tuple-declined"),
    pytest.param(ListValidator(Int(), min_len=3), TWO,
                 [("", "List length 2 is shorter than minimum length 3", TWO)], False,
                 id="length-entry-stands-for-items"),
    pytest.param(ListValidator(Int(), max_len=0), EMPTY_LIST, [], True, id="empty-list"),
    pytest.param(ListValidator(Int()), ListSub([1, "x"]), [("[1]", "Expected int", "x")],
                 False, id="list-subclass-storage"),
    pytest.param(ListValidator(Int()), MAPPING, [("", "Expected list", MAPPING)], False,
                 id="not-a-list"),
    pytest.param(ListValidator(ListValidator(Int())), [[1, "x"]],
                 [("[0][1]", "Expected int", "x")], False, id="nested-list-paths"),
    # Dicts of values.
    pytest.param(DictValidator(Int()), {"a": 1, "b": "x", "c": 2.5},
                 [("b", "Expected int", "x"), ("c", "Expected int", 2.5)], False,
                 id="dict-values"),
    pytest.param(DictValidator(Int()), {1: 2}, None, False, id="dict-non-str-key"),
    pytest.param(DictValidator(Int()), {"a": "x", 1: 2}, None, False,
                 id="declined-after-entries"),
    pytest.param(DictValidator(Int()), DictSub(a="x"), [("a", "Expected int", "x")], False,
                 id="dict-subclass-storage"),
    pytest.param(DictValidator(Int()), PAIRS, [("", "Expected dict", PAIRS)], False,
                 id="not-a-dict"),
    pytest.param(DictValidator(Int()), {"\ud800": 1}, UnicodeEncodeError, True,
                 id="surrogate-key-text-read-by-collect-only"),
    # Fields.
    pytest.param({"a": Int(), "b": Int()}, {"b": 1, "a": 2}, [], True, id="fields-any-order"),
    pytest.param({"a": Int(), "b": Int()}, {"b": "x"},
                 [("b", "Expected int", "x"), ("a", "Missing required field", None)], False,
                 id="missing-after-present"),
    pytest.param({"a": Int(), "b": Int()}, {}, [("a", "Missing required field", None),
                                                ("b", "Missing required field", None)],
                 False, id="all-missing-in-schema-order"),
    pytest.param({"a": Int()}, {"a": 1, "b": 2}, None, False, id="extra-key-declined"),
    pytest.param({"a": Int(), "b": Int()}, {"a": 1, "c": 2}, None, False,
                 id="unknown-key-declined"),
    pytest.param({"a": Int(), "b": Int()}, {"a": "x", 1: 2}, None, False,
                 id="non-str-key-declined"),
    pytest.param({}, {}, [], True, id="no-fields"),
    pytest.param({"a": Str(), "b": Int()}, {"a": "\ud800"}, UnicodeEncodeError, False,
                 id="size-test-first-in-validate"),
    pytest.param({"a.b": {"c": Int()}}, {"a.b": {"c": "x"}}, [("a.b.c", "Expected int", "x")],
                 False, id="dotted-key-unescaped"),
    pytest.param({"": {"x": Int()}}, {"": {"x": "y"}}, [("x", "Expected int", "y")], False,
                 id="empty-key-gives-bare-children"),
    pytest.param(ListValidator({"id": Int()}), [{"id": "1"}], [("[0].id", "Expected int", "1")],
                 False, id="list-of-records"),
    pytest.param({"a": Int(), "b": Int()}, {"a": 1, SameText("a"): 2},
                 [("b", "Missing required field", None)], False, id="shared-key-text"),
    # Two fields with one name: a key names the first of them, in schema order.
    pytest.param({"a": Int(), SameText("a"): Str()}, {"a": 1, SameText("a"): "s"},
                 [("a", "Expected int", "s"), ("a", "Missing required field", None)], False,
                 id="shared-field-name"),
    pytest.param(ListValidator({"a": Int(), SameText("a"): Str()}),
                 [{"a": 1, SameText("a"): "s"}],
                 [("[0].a", "Expected int", "s"), ("[0].a", "Missing required field", None)],
                 False, id="shared-field-name-in-records"),
]


@pytest.mark.parametrize(("schema", "data", "collected", "accepted"), CASES)
def test_walks(schema, data, collected, accepted):
    validator = compile_schema(schema)
    if isinstance(collected, type):
        with pytest.raises(collected):
            validator.collect(data)
    else:
        result = validator.collect(data)
        assert result == collected
        if collected:  # the offending objects themselves, not equal copies
            assert all(got[2] is want[2] for got, want in zip(result, collected))
    verdict = validator.validate(data)
    assert verdict is (data if accepted else None)


def test_collect_returns_a_new_list_each_time():
    validator = compile_schema({"a": Int()})
    first, second = validator.collect({"a": 1}), validator.collect({"a": 1})
    assert first == second == [] and first is not second


def test_validate_stops_at_first_violation():
    calls = []

    class Watched:
        def __index__(self):
            calls.append(1)
            return 1

    validator = compile_schema(ListValidator(Int()))
    data = [1, "x", Watched()]
    assert validator.validate(data) is None
    assert calls == []
    assert validator.collect(data) == [("[1]", "Expected int", "x")]
    assert calls == [1]


@pytest.mark.parametrize("raised", [KeyboardInterrupt, SystemExit, GeneratorExit])
@pytest.mark.parametrize("method", ["validate", "collect"])
def test_interrupts_in_index_are_not_swallowed(raised, method):
    class Interrupting:
        def __index__(self):
            raise raised()

    validator = compile_schema({"n": Int()})
    with pytest.raises(raised):
        getattr(validator, method)({"n": Interrupting()})


class TestMutationDuringWalk:
    def test_replaced_keys_fault_only_after_an_extra_entry(self, panic_type):
        data = {}

        class Replacer:
            def __init__(self, old, new):
                self.old, self.new = old, new

            def __index__(self):
                if self.old in data:
                    del data[self.old]
                    data[self.new] = 0
                return 1

        data["a"] = Replacer("b", "c")
        data["b"] = 1
        validator = compile_schema(DictValidator(Int()))
        # Same size, and "c" is yielded in the place of "b": two entries in all.
        assert validator.validate(data) is data

        data.clear()
        data["a"] = Replacer("a", "c")  # replaces itself: a slot is freed, one added
        data["b"] = 1
        with pytest.raises(panic_type, match="^dictionary keys changed during iteration$"):
            validator.validate(data)

    @pytest.mark.parametrize("method", ["validate", "collect"])
    @pytest.mark.parametrize("nested", [False, True], ids=["flat", "nested"])
    def test_index_dropping_the_last_references(self, method, nested):
        """The walked value, its container and its siblings lose their last outside
        reference in the middle of the walk."""
        outer = []

        class Clearer:
            def __index__(self):
                outer.clear()
                return 1

        inner = [Clearer(), "x", 2]
        outer.append(inner if nested else None)
        if not nested:
            outer[:] = inner
        del inner
        schema = ListValidator(ListValidator(Int()) if nested else Int())
        validator = compile_schema(schema)
        result = getattr(validator, method)(outer)
        if method == "validate":
            assert result is (None if nested else outer)
        else:
            assert result == ([("[0][1]", "Expected int", "x")] if nested else [])

    @pytest.mark.parametrize("method", ["validate", "collect"])
    def test_records_appended_mid_walk_are_not_visited(self, method):
        """A list is walked up to its length when the walk began, also after its
        records ran Python code."""
        records = []

        class Appends:
            def __index__(self):
                records.append({"n": "bad", "m": 0})
                return 1

        records += [{"n": Appends(), "m": 0}, {"n": 1, "m": 0}]
        validator = compile_schema(ListValidator({"n": Int(), "m": Validator()}))
        result = getattr(validator, method)(records)
        assert result == [] if method == "collect" else result is records

    def test_nested_call_on_same_validator(self):
        validator = compile_schema(ListValidator(Int(min=0)))
        inner = []

        class Reentrant:
            def __index__(self):
                inner.append(validator.collect([-1]))
                inner.append(validator.validate([1]))
                return 5

        assert validator.validate([Reentrant()]) is not None
        assert inner[0] == [("[0]", "Value -1 is less than minimum 0", -1)]
        assert inner[1] == [1]


def test_panic_raised_in_index_resumes_as_fault(panic_type, capfd):
    class Panicking:
        def __index__(self):
            raise panic_type("boom")

    validator = compile_schema(Int())
    for method in (validator.validate, validator.collect):
        with pytest.raises(panic_type) as caught:
            method(Panicking())
        assert str(caught.value) == "boom"
        err = capfd.readouterr().err
        assert "--- Corvane is resuming a panic after fetching a PanicException from Python. ---\n" \
               "Python stack trace below:\n" in err
        assert "boom" in err


def test_lone_surrogate_value_raises_in_both_walks():
    validator = compile_schema(Str(max_len=4))
    for method in (validator.validate, validator.collect):
        with pytest.raises(UnicodeEncodeError):
            method("a\ud800")


def test_render_of_extreme_bounds():
    validator = compile_schema(Float(max=-1.7976931348623157e308))
    [(_, message, _)] = validator.collect(0.0)
    assert message == "Value 0 is greater than maximum -17976931348623157" + "0" * 292
    validator = compile_schema(Float(min=5e-324))
    [(_, message, _)] = validator.collect(-0.0)
    assert message == "Value -0 is less than minimum 0." + "0" * 323 + "5"


@pytest.mark.parametrize("container", ["list", "dict"])
def test_key_freed_by_index_is_not_mistaken_for_a_new_key(container):
    """The records of a list (or the values of a Dict) share a memo of their key
    objects. An __index__ in the second record frees the first record and its key,
    then makes the third record, whose key, another text of the same size, takes the
    freed key's address (texts this long come straight from the system allocator,
    which hands the freed block back). That key names no field: the third record
    must be read by its text, and fail."""
    name = "n" * 600
    record = {name: ListValidator(NumberValidator(int)), "other": NumberValidator(int)}
    wrap = ListValidator if container == "list" else DictValidator
    validator = compile_schema({"records": wrap(record)})
    addresses = []

    class Replace:
        def __index__(self):
            freed = id(next(iter(holder[first])))
            holder[first] = None
            holder[third] = {"".join(["z"] * 600): [], "other": 1}
            addresses.append((freed, id(next(iter(holder[third])))))
            return 1

    for _ in range(5):
        records = [{"".join(["n"] * 600): [], "other": 1}, {"other": 1, name: [Replace()]}, {}]
        if container == "list":
            holder, (first, third) = records, (0, 2)
        else:
            holder, (first, third) = dict(zip("xyz", records)), ("x", "z")
        del records
        assert validator.validate({"records": holder}) is None
    # The case is the one described only where the address was taken over.
    assert all(freed == taken for freed, taken in addresses), addresses
