"""Every way out of compile_schema, validate and collect, taken thousands of times,
gives back all it took: the reference counts of the objects involved, Python's
allocated blocks and traced memory, the native heap and the process's resident
memory end where they started.

The payloads are large on purpose (field names of 4 KiB, so paths, keys and trees
are large too): a native text or tree lost once per call then shows in the resident
memory as megabytes, far above its noise."""

import ctypes
import ctypes.util
import gc
import os
import sys
import threading
import tracemalloc

import pytest

from brindle_core import NativeValidator, compile_schema
from validators import (
    BoolValidator, DictValidator, ListValidator, NumberValidator, StringValidator, Validator,
    gates, raise_, with_property,
)
from values import SMALL_STACK, Index, levels_beyond

TIMES = 1000
BIG = "k" * 4096  # a field name, and so a path, of 4 KiB
PAGE = os.sysconf("SC_PAGE_SIZE")


def _native_heap():
    """Bytes in use in the C heap (glibc's mallinfo2), or None where not available."""
    try:
        libc = ctypes.CDLL(ctypes.util.find_library("c"))
        mallinfo2 = libc.mallinfo2
    except (OSError, AttributeError, TypeError):
        return None

    class MallInfo2(ctypes.Structure):
        _fields_ = [(name, ctypes.c_size_t) for name in (
            "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks",
            "uordblks", "fordblks", "keepcost")]

    mallinfo2.restype = MallInfo2

    def in_use():
        info = mallinfo2()
        return info.uordblks + info.hblkhd

    return in_use


native_heap = _native_heap()
# AddressSanitizer keeps freed memory in quarantine, so the heap and the resident
# memory grow under it whatever is freed; LeakSanitizer watches native memory there.
UNDER_ASAN = hasattr(ctypes.CDLL(None), "__asan_init")


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE


def unshared(objects):
    """Leaves out the interpreter's shared constants, whose counts others change too."""
    return [o for o in objects if not (o is None or isinstance(o, bool)
                                       or type(o) is int and -5 <= o <= 256)]


def call_swallowing(call):
    try:
        call()
    except BaseException:  # the exits under test include every kind of exception
        pass


def outcome_of(call):
    """("ok", result) or ("raised", the exception's type, its text)."""
    try:
        return "ok", call()
    except BaseException as error:  # the exits under test include every kind
        return "raised", type(error), str(error)


def measure(call, watched, expected, times=TIMES):
    """Runs `call` once, which must end the way its case is named for
    (`expected(outcome)`), then `times` times after a warm-up as long; what grew
    meanwhile."""
    first = outcome_of(call)
    assert expected(first), first
    tracemalloc.start()
    try:
        # The interpreter's caches and free lists settle in a warm-up as long.
        for _ in range(times):
            call_swallowing(call)
        gc.collect()
        refs = [sys.getrefcount(o) for o in watched]
        none_refs = sys.getrefcount(None)
        blocks = sys.getallocatedblocks()
        traced = tracemalloc.get_traced_memory()[0]
        heap = native_heap() if native_heap else 0
        rss = resident_bytes()
        for _ in range(times):
            call_swallowing(call)
        # An exception raised by Python code can hold itself through its traceback
        # (raise_'s frame holds it): such cycles are the collector's to free.
        gc.collect()
        refs_after = [sys.getrefcount(o) for o in watched]
        grown = {
            "refs": [after - before for after, before in zip(refs_after, refs)],
            "none_refs": sys.getrefcount(None) - none_refs,
            "blocks": sys.getallocatedblocks() - blocks,
            "traced": tracemalloc.get_traced_memory()[0] - traced,
            "heap": (native_heap() if native_heap else 0) - heap,
            "rss": resident_bytes() - rss,
        }
    finally:
        tracemalloc.stop()
    return grown


def assert_nothing_kept(grown, times=TIMES):
    # References exactly. The rest with room for the interpreter's caches, free lists
    # and tracemalloc's own records, which settle however many calls follow: one
    # Python object lost per call shows in the blocks, a lost native text of 4
    # KiB in the heap and the resident memory.
    assert grown["refs"] == [0] * len(grown["refs"])
    assert abs(grown["none_refs"]) < times // 10
    assert grown["blocks"] < max(100, times // 4), grown
    assert grown["traced"] < max(32768, 64 * times), grown
    if not UNDER_ASAN:
        assert grown["heap"] < max(65536, 1024 * times), grown
        assert grown["rss"] < 1024 * times, grown


# ---------------------------------------------------------------------------
# compile_schema

def cyclic_list():
    validator = ListValidator(None)
    validator._item_validator = validator
    return validator


def panicking_property(panic_type):
    return with_property(StringValidator(), "_regex", lambda self: raise_(panic_type("boom")))


class Growing:
    """A validator (named so, and compiled) that adds a field to the schema dict
    being compiled when its `_env_key` is read: the dict's next step is a fault."""

    _coerce, _custom_checks, _when_condition = False, (), None

    def __init__(self, schema):
        self.schema = schema

    @property
    def _env_key(self):
        self.schema[BIG] = Validator()

    @staticmethod
    def schema():
        schema = {f"{i}{BIG}": StringValidator() for i in range(4)}
        schema["grows"] = Growing(schema)
        return schema


Growing.__name__ = "Validator"


def big_fields(last):
    """A schema dict of large field names whose last value decides the outcome."""
    schema = {f"{i}{BIG}": StringValidator(min_len=1) for i in range(8)}
    schema[f"nested{BIG}"] = {BIG: ListValidator(NumberValidator(float, min=0.5))}
    schema["last"] = last
    return schema


COMPILE_EXITS = [
    pytest.param(lambda p: big_fields(Validator()), NativeValidator, id="compiled"),
    pytest.param(lambda p: big_fields(StringValidator(regex="x")), None, id="unsupported-regex"),
    pytest.param(lambda p: big_fields(NumberValidator(complex)), None, id="unsupported-type"),
    pytest.param(lambda p: big_fields({1: Validator()}), None, id="unsupported-key"),
    pytest.param(lambda p: big_fields({"\ud800": Validator()}), None,
                 id="unsupported-surrogate-key"),
    pytest.param(lambda p: big_fields(None), AttributeError, id="attribute-error"),
    pytest.param(lambda p: big_fields(gates(Validator(), coerce=1)), TypeError, id="conversion-error"),
    pytest.param(lambda p: big_fields(StringValidator(min_len=-1)), OverflowError,
                 id="overflow-error"),
    pytest.param(lambda p: big_fields(gates(Validator(), custom_checks=None)), TypeError, id="len-error"),
    pytest.param(lambda p: big_fields(NumberValidator(float, min="x")), TypeError,
                 id="float-error"),
    pytest.param(lambda p: big_fields(with_property(Validator(), "_env_key",
                                                    lambda self: raise_(KeyboardInterrupt()))),
                 KeyboardInterrupt, id="interrupt"),
    pytest.param(lambda p: big_fields(with_property(Validator(), "_env_key",
                                                    lambda self: raise_(MemoryError()))),
                 MemoryError, id="memory-error"),
    pytest.param(lambda p: big_fields(panicking_property(p)), "boom", id="panic-from-python"),
    pytest.param(lambda p: Growing.schema(), "dictionary changed size during iteration",
                 id="panic-dict-changed"),
]


def compiled_as(expected, panic_type):
    """What compile_schema must give: a NativeValidator, None, an exception type, or
    the fault exception with this text."""
    def check(outcome):
        if expected is NativeValidator:
            return outcome[0] == "ok" and type(outcome[1]) is NativeValidator
        if expected is None:
            return outcome == ("ok", None)
        if isinstance(expected, str):
            return outcome[0] == "raised" and outcome[1:] == (panic_type, expected)
        return outcome[0] == "raised" and outcome[1] is expected
    return check


@pytest.mark.parametrize(("make", "expected"), COMPILE_EXITS)
def test_compile_exits(make, expected, panic_type, capfd):
    # A fresh schema per call where compiling it changes it; the same one otherwise.
    fresh = make is COMPILE_EXITS[-1].values[0]
    schema = make(panic_type)
    watched = unshared([schema, NativeValidator, *schema.values()])
    grown = measure(lambda: compile_schema(make(panic_type) if fresh else schema), watched,
                    compiled_as(expected, panic_type))
    capfd.readouterr()
    assert_nothing_kept(grown)


def raised(exception_type):
    return lambda outcome: outcome[0] == "raised" and outcome[1] is exception_type


def test_compile_recursion_error():
    schema = {BIG: cyclic_list()}
    watched = [schema, schema[BIG]]
    grown = measure(lambda: compile_schema(schema), watched, raised(RecursionError), times=20)
    assert_nothing_kept(grown, times=20)


@pytest.mark.parametrize(("call", "message"), [
    pytest.param(lambda: compile_schema(), "missing 1 required", id="missing"),
    pytest.param(lambda: compile_schema({}, {}), "takes 1 positional", id="too-many"),
    pytest.param(lambda: compile_schema({}, schema={}), "multiple values", id="twice"),
    pytest.param(lambda: compile_schema(**{BIG: {}}), "unexpected keyword",
                 id="unexpected-keyword"),
    pytest.param(lambda: compile_schema(**{"\ud800": {}}), "unexpected keyword",
                 id="surrogate-keyword"),
    # The method descriptor refuses a self of another type before the module is called.
    pytest.param(lambda: NativeValidator.validate(BIG, 1), "doesn't apply to a 'str' object",
                 id="wrong-self"),
    pytest.param(lambda: NativeValidator(BIG), "No constructor defined", id="constructor"),
])
def test_argument_errors(call, message):
    assert_nothing_kept(measure(call, [BIG], lambda outcome: raised(TypeError)(outcome)
                                and message in outcome[2]))


# ---------------------------------------------------------------------------
# validate and collect

SCHEMA = {
    "flag": BoolValidator(),
    "count": NumberValidator(int, min=0, max=10),
    "ratio": NumberValidator(float, min=0.0, max=1.0, exclusive_max=True),
    "name": StringValidator(min_len=1, max_len=8),
    "tags": ListValidator(StringValidator(), min_len=1, max_len=3),
    "by_key": DictValidator(NumberValidator(int, min=0, exclusive_min=True)),
    BIG: {"inner": NumberValidator(int), "list": ListValidator(NumberValidator(int))},
}


def valid():
    return {"flag": True, "count": Index(5), "ratio": 0.5, "name": "Zoë",
            "tags": ["a", "名前"], "by_key": {BIG: 1001, "é": Index(2)},
            BIG: {"inner": 1007, "list": [1001, Index(2), 1003]}}


def with_(**fields):
    data = valid()
    data.update({BIG if name == "big" else name: value for name, value in fields.items()})
    return data


def without(name):
    data = valid()
    del data[name]
    return data


# (data, what validate gives, what collect gives): validate "data" or None,
# collect the messages of its entries or None, or the exception either raises.
WALK_EXITS = [
    pytest.param(valid(), "data", [], id="valid"),
    pytest.param(with_(flag=1), None, ["Expected bool"], id="expected-bool"),
    pytest.param(with_(count="x"), None, ["Expected int"], id="expected-int"),
    pytest.param(with_(count=Index(ValueError)), None, ["Expected int"], id="index-raises"),
    pytest.param(with_(count=Index(2 ** 70)), None, ["Expected int"], id="index-too-large"),
    pytest.param(with_(count=-1), None, ["Value -1 is less than minimum 0"], id="below-minimum"),
    pytest.param(with_(count=11), None, ["Value 11 is greater than maximum 10"],
                 id="above-maximum"),
    pytest.param(with_(ratio=1), None, ["Expected float"], id="expected-float"),
    pytest.param(with_(ratio=1.0), None, ["Value 1 must be less than 1"],
                 id="not-below-maximum"),
    pytest.param(with_(name=2 ** 40), None, ["Expected str"], id="expected-str"),
    pytest.param(with_(name=""), None, ["String length 0 is shorter than minimum length 1"],
                 id="str-too-short"),
    pytest.param(with_(name="x" * 9), None, ["String length 9 is longer than maximum length 8"],
                 id="str-too-long"),
    pytest.param(with_(tags="x"), None, ["Expected list"], id="expected-list"),
    pytest.param(with_(tags=[]), None, ["List length 0 is shorter than minimum length 1"],
                 id="list-too-short"),
    pytest.param(with_(tags=["a"] * 4), None, ["List length 4 is longer than maximum length 3"],
                 id="list-too-long"),
    pytest.param(with_(by_key=[]), None, ["Expected dict"], id="expected-dict"),
    pytest.param(with_(by_key={BIG: 0}), None, ["Value 0 must be greater than 0"],
                 id="not-above-minimum"),
    pytest.param(with_(big={"inner": "x"}), None, ["Expected int", "Missing required field"],
                 id="missing-field"),
    pytest.param(without("flag"), None, ["Missing required field"], id="missing-root-field"),
    pytest.param(with_(big={"inner": 1, "list": ["x", 2 ** 64, 3.0]}), None,
                 ["Expected int"] * 3, id="several-items"),
    pytest.param(with_(tags=("a",)), None, None, id="declined-tuple"),
    pytest.param(with_(by_key={1: 1}), None, None, id="declined-key"),
    pytest.param(with_(big={"inner": 1, "other": 2}), None, None, id="declined-unknown-field"),
    pytest.param(with_(extra=1), None, None, id="declined-extra-key"),
    pytest.param(with_(name="\ud800"), UnicodeEncodeError, UnicodeEncodeError,
                 id="surrogate-value"),
    pytest.param({"name": "\ud800"}, None, UnicodeEncodeError,
                 id="surrogate-with-missing-fields"),
    pytest.param(with_(by_key={"\ud800": 1}), "data", UnicodeEncodeError, id="surrogate-key"),
    pytest.param(with_(count=Index(KeyboardInterrupt)), KeyboardInterrupt, KeyboardInterrupt,
                 id="interrupt"),
    pytest.param(with_(count=Index(SystemExit)), SystemExit, SystemExit, id="system-exit"),
    # An Exception from __index__ makes the int unreadable, a violation: so MemoryError.
    pytest.param(with_(count=Index(MemoryError)), None, ["Expected int"], id="memory-error"),
    pytest.param([valid()], None, ["Expected dict"], id="wrong-root"),
]


def walked_as(expected, data):
    def check(outcome):
        if isinstance(expected, type):
            return outcome[0] == "raised" and outcome[1] is expected
        if outcome[0] != "ok":
            return False
        if expected == "data":
            return outcome[1] is data
        if expected is None:
            return outcome[1] is None
        return [message for _, message, _ in outcome[1]] == expected
    return check


def watched_of(data):
    values = list(data.values()) if isinstance(data, dict) else list(data)
    nested = [v for x in values if isinstance(x, (dict, list)) for v in
              (x.values() if isinstance(x, dict) else x)]
    return unshared([data, *values, *nested])


@pytest.mark.parametrize(("data", "validated", "collected"), WALK_EXITS)
@pytest.mark.parametrize("method", ["validate", "collect"])
def test_walk_exits(method, data, validated, collected):
    validator = compile_schema(SCHEMA)
    call = getattr(validator, method)
    expected = walked_as(validated if method == "validate" else collected, data)
    assert_nothing_kept(measure(lambda: call(data), [validator, *watched_of(data)], expected))


class Panicking:
    def __init__(self, panic_type):
        self.panic_type = panic_type

    def __index__(self):
        raise self.panic_type(BIG)


class Deleting:
    """Deletes a key of the dict being walked: the walk faults at the next step."""

    def __init__(self, data, key):
        self.data, self.key = data, key

    def __index__(self):
        self.data.pop(self.key, None)
        return 1


@pytest.mark.parametrize("fault", ["from-python", "dict-changed"])
@pytest.mark.parametrize("method", ["validate", "collect"])
def test_walk_panics(method, fault, panic_type, capfd):
    validator = compile_schema(DictValidator(NumberValidator(int)))
    data = {}

    def call():
        data.clear()
        data[BIG] = Panicking(panic_type) if fault == "from-python" else Deleting(data, "b")
        data["b"] = 2
        getattr(validator, method)(data)

    message = BIG if fault == "from-python" else "dictionary changed size during iteration"
    grown = measure(call, [validator, data], lambda outcome: outcome == (
        "raised", panic_type, message), times=500)
    capfd.readouterr()
    data.clear()
    assert_nothing_kept(grown, times=500)


@pytest.mark.parametrize("method", ["validate", "collect"])
def test_walk_recursion_error(method):
    """On a thread whose stack is too small for the tree, every call raises
    RecursionError and gives everything back."""
    schema, data = NumberValidator(int), 1
    for _ in range(levels_beyond(300)):
        schema, data = {BIG: schema}, {BIG: data}
    validator = compile_schema(ListValidator(schema))
    data = [data]
    call = getattr(validator, method)
    outcomes = []

    def run():
        try:
            call(data)
        except RecursionError:
            outcomes.append("RecursionError")
        outcomes.append(measure(lambda: call(data), [validator, data], raised(RecursionError)))

    size = threading.stack_size(SMALL_STACK)
    try:
        thread = threading.Thread(target=run)
        thread.start()
        thread.join()
    finally:
        threading.stack_size(size)
    assert outcomes[0] == "RecursionError"
    assert_nothing_kept(outcomes[1])
