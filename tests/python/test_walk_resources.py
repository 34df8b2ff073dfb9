"""Every way out of both walks gives back every reference it took, and validate on
valid data allocates nothing."""

import gc
import sys
import tracemalloc

import pytest

from brindle_core import compile_schema
from validators import DictValidator, ListValidator, NumberValidator, StringValidator
from values import Index


SCHEMA = {
    "name": StringValidator(min_len=1, max_len=20),
    "age": NumberValidator(int, min=0, max=150),
    "score": NumberValidator(float, min=0.0, exclusive_max=True, max=1.0),
    "tags": ListValidator(StringValidator(), max_len=4),
    "extra": DictValidator(NumberValidator(int)),
    "nested": {"ok": ListValidator(NumberValidator(int))},
}

VALID = {
    "name": "Zoë 名前",
    "age": 30,
    "score": 0.5,
    "tags": ["a", "b"],
    "extra": {"k": 1, "é": Index(2)},
    "nested": {"ok": [1, 2, 3]},
}

# Values for the "age" field that leave each walk by a different way.
EXITS = [
    pytest.param(30, id="valid"),
    pytest.param(-1, id="below-min"),
    pytest.param("x", id="not-int"),
    pytest.param(Index(ValueError), id="index-raises"),
    pytest.param(Index(2 ** 80), id="index-overflows"),
    pytest.param(2 ** 64, id="huge-int"),
]


def counts(*objects):
    # Computed outside assert statements: pytest's assertion rewriting keeps
    # references to the subexpressions of an assert. Garbage left by earlier tests
    # is collected first, so that it can't be collected between two counts.
    gc.collect()
    return [sys.getrefcount(o) for o in objects]


def watched(validator, data):
    values = list(data.values()) if isinstance(data, dict) else list(data)
    return [validator, data, *values, *(v for x in values if isinstance(x, dict) for v in x.values())]


def run_many(call, times=3000):
    for _ in range(times):
        try:
            call()
        except BaseException:  # the exits under test include exceptions
            pass


@pytest.mark.parametrize("age", EXITS)
@pytest.mark.parametrize("method", ["validate", "collect"])
def test_each_exit_keeps_refcounts(method, age):
    validator = compile_schema(SCHEMA)
    data = dict(VALID, age=age)
    call = getattr(validator, method)
    objects = watched(validator, data)
    run_many(lambda: call(data), 10)
    before = counts(*objects)
    blocks = sys.getallocatedblocks()
    run_many(lambda: call(data))
    gc.collect()
    after = counts(*objects)
    assert after == before
    assert sys.getallocatedblocks() - blocks < 50


@pytest.mark.parametrize("data", [
    pytest.param(dict(VALID, tags=("a",)), id="declined-tuple"),
    pytest.param(dict(VALID, extra={1: 1}), id="declined-key"),
    pytest.param(dict(VALID, unknown=1), id="declined-extra-field"),
    pytest.param({"name": "\ud800"}, id="surrogate-with-missing"),
    pytest.param(dict(VALID, name="\udc00"), id="surrogate-raises"),
    pytest.param(dict(VALID, age=Index(KeyboardInterrupt)), id="interrupt"),
    pytest.param([VALID], id="wrong-root"),
])
@pytest.mark.parametrize("method", ["validate", "collect"])
def test_declines_and_exceptions_keep_refcounts(method, data):
    validator = compile_schema(SCHEMA)
    call = getattr(validator, method)
    objects = watched(validator, data)
    run_many(lambda: call(data), 10)
    before = counts(*objects)
    run_many(lambda: call(data))
    after = counts(*objects)
    assert after == before


def test_panic_exit_keeps_refcounts(panic_type):
    data = {}

    class Grower:
        def __index__(self):
            data[len(data)] = 0
            return 1

    grower = Grower()
    validator = compile_schema(DictValidator(NumberValidator(int)))
    before = counts(validator, grower)
    for _ in range(500):
        data.clear()
        data["a"] = grower
        data["b"] = 1
        with pytest.raises(panic_type):
            validator.validate(data)
    data.clear()
    after = counts(validator, grower)
    assert after == before


def test_entries_hold_the_offending_objects_only():
    validator = compile_schema(ListValidator(NumberValidator(int)))
    bad = "not an int"
    data = [bad] * 3
    before = sys.getrefcount(bad)
    entries = validator.collect(data)
    held = sys.getrefcount(bad)
    del entries
    released = sys.getrefcount(bad)
    assert (held, released) == (before + 3, before)


def test_validate_on_valid_data_allocates_nothing():
    validator = compile_schema(SCHEMA)
    data = dict(VALID, extra={"k": 1, "é": 2})
    assert validator.validate(data) is data  # warms the str caches of the interpreter

    def repeat(times):
        for _ in range(times):
            validator.validate(data)

    def growth(times):
        """Bytes traced and blocks allocated by `times` calls, plus this probe's own."""
        blocks = sys.getallocatedblocks()
        before = tracemalloc.get_traced_memory()[0]
        repeat(times)
        after = tracemalloc.get_traced_memory()[0]
        return after - before, sys.getallocatedblocks() - blocks

    gc.collect()
    gc.disable()  # a collection in between would free unrelated garbage
    tracemalloc.start()
    try:
        repeat(10)
        probe = growth(0)
        loaded = growth(20000)
    finally:
        tracemalloc.stop()
        gc.enable()
    # Bytes exactly; blocks up to one either way: the interpreter's free lists can
    # shift one block between two probes, where an allocation per call would show
    # as thousands.
    assert loaded[0] == probe[0]
    assert abs(loaded[1] - probe[1]) <= 1
