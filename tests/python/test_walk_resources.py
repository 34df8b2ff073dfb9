"""The entries of collect hold the offending objects and nothing else, and validate
on valid data allocates nothing. (Every way out of the walks giving back what it
took is test_leaks.py's.)"""

import gc
import sys
import tracemalloc

from brindle_core import compile_schema
from validators import DictValidator, ListValidator, NumberValidator, StringValidator


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
    "extra": {"k": 1, "é": 2},
    "nested": {"ok": [1, 2, 3]},
}


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
    data = VALID
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
        # The probe's own accounting varies by a few dozen bytes from one probe to
        # the next on some interpreters (3.14): several of them bound it.
        probes = [growth(0) for _ in range(3)]
        loaded = [growth(20000), growth(40000)]
    finally:
        tracemalloc.stop()
        gc.enable()
    # A byte kept per call would show as 20,000 bytes or more, a block per call as
    # thousands; the probes' own noise is a few dozen bytes and a block or two.
    low = min(bytes_ for bytes_, _ in probes)
    high = max(bytes_ for bytes_, _ in probes)
    for bytes_, blocks in loaded:
        assert low - 256 <= bytes_ <= high + 256, (probes, loaded)
        assert min(b for _, b in probes) - 2 <= blocks <= max(b for _, b in probes) + 2, (
            probes, loaded)
