"""Several threads using the same validators at once, switching as often as the
interpreter allows and inside the walks themselves (an __index__ that lets other
threads run): every call still gets the answer the Python model gives alone."""

import random
import sys
import threading
import time

import pytest

from brindle_core import compile_schema
from schemalib import DECLINED, python_collect, python_validate
from validators import (
    BoolValidator, DictValidator, ListValidator, NumberValidator, StringValidator, Validator,
    with_property,
)

THREADS = 4
ROUNDS = 30


class Yielding:
    """An integer through an __index__ that lets the other threads run first."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        time.sleep(0)
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


SCHEMA = {
    "id": NumberValidator(int, min=0),
    "name": StringValidator(min_len=1, max_len=5),
    "ok": BoolValidator(),
    "tags": ListValidator(NumberValidator(int, max=9), max_len=4),
    "meta": DictValidator(NumberValidator(float, min=0.0, exclusive_min=True)),
    "any": Validator(),
}


def make_data(rng):
    """A record of SCHEMA's shape with random faults, yielding in every integer."""
    data = {
        "id": Yielding(rng.choice([1, -1, 2 ** 64, ValueError("no")])),
        "name": rng.choice(["", "ok", "toolong", "名前", 5]),
        "ok": rng.choice([True, 1]),
        "tags": [Yielding(rng.randrange(-2, 12)) for _ in range(rng.randrange(6))],
        "meta": {rng.choice("abc"): rng.choice([1.5, 0.0, 1]) for _ in range(rng.randrange(3))},
        "any": object(),
    }
    for key in rng.sample(sorted(data), rng.randrange(2)):
        del data[key]
    if rng.randrange(8) == 0:
        data["tags"] = tuple(data.get("tags", ()))  # declined by collect
    return data


def expected_answers(schema, values):
    answers = []
    for value in values:
        collected = python_collect(schema, value, native=True)
        answers.append((None if collected is DECLINED else collected,
                        value if python_validate(schema, value, native=True) else None))
    return answers


def run_threads(work):
    errors = []
    start = threading.Barrier(THREADS)

    def target(index):
        try:
            start.wait()
            work(index)
        except BaseException as error:  # reported below, with the thread's index
            errors.append((index, repr(error)))

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        threads = [threading.Thread(target=target, args=(i,)) for i in range(THREADS)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        sys.setswitchinterval(interval)
    return errors


@pytest.mark.parametrize("schema", [
    pytest.param(SCHEMA, id="record"),
    pytest.param(ListValidator(SCHEMA), id="list-of-records"),
    pytest.param(DictValidator(ListValidator(NumberValidator(int, min=0))), id="dict-of-lists"),
])
def test_shared_validator(schema):
    rng = random.Random(7)
    if isinstance(schema, dict):
        values = [make_data(rng) for _ in range(40)]
    elif type(schema).__name__ == "ListValidator":
        values = [[make_data(rng) for _ in range(rng.randrange(3))] for _ in range(20)]
    else:
        values = [{k: [Yielding(rng.randrange(-1, 3)) for _ in range(3)] for k in "ab"}
                  for _ in range(40)]
    expected = expected_answers(schema, values)
    validator = compile_schema(schema)
    wrong = []

    def work(index):
        order = list(range(len(values)))
        random.Random(index).shuffle(order)
        for _ in range(ROUNDS):
            for i in order:
                answer = (validator.collect(values[i]), validator.validate(values[i]))
                if answer != expected[i]:
                    wrong.append((index, i, answer, expected[i]))

    assert run_threads(work) == []
    assert wrong == []


def test_compiling_while_others_walk():
    """Threads compile schemas whose settings let other threads run while they are
    read, and drop their validators, while the others walk shared ones."""
    slow_length = with_property(StringValidator(), "_max_len", lambda self: time.sleep(0) or 5)
    schema = {"name": slow_length, "tags": ListValidator(NumberValidator(int, max=9))}
    values = [{"name": "x" * n, "tags": [Yielding(n), Yielding(2 * n)]} for n in range(8)]
    expected = expected_answers({"name": StringValidator(max_len=5),
                                 "tags": ListValidator(NumberValidator(int, max=9))}, values)
    shared = compile_schema(schema)
    wrong = []

    def work(index):
        for _ in range(ROUNDS):
            validator = compile_schema(schema) if index % 2 else shared
            for value, answer in zip(values, expected):
                if (validator.collect(value), validator.validate(value)) != answer:
                    wrong.append((index, value))
            del validator

    assert run_threads(work) == []
    assert wrong == []
