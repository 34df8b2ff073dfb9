"""Deep trees: the walks answer at 10,000 levels (or at the deepest tree the compiler
builds where the interpreter bounds C recursion), and trees as deep as the compiling
thread's stack allows stay harmless on threads with far smaller stacks: the walks
raise RecursionError, and the release of the tree does not recurse at all."""

import subprocess
import sys
from pathlib import Path

import pytest

CHILD = r"""
import sys, threading
from validators import ListValidator, NumberValidator
from values import SMALL_STACK
from brindle_core import compile_schema

sys.setrecursionlimit(1_000_000)
depth = {depth}
schema, data = NumberValidator(int), 1
for _ in range(depth):
    schema, data = ListValidator(schema), [data]
validator = compile_schema(schema)
results = []

def walk():
    for method in (validator.validate, validator.collect):
        try:
            results.append(method(data) is not None)
        except RecursionError as error:
            results.append(str(error))

def release():
    global validator
    validator = None
    results.append("released")

threading.stack_size(SMALL_STACK)
for target in (walk, release):
    thread = threading.Thread(target=target)
    thread.start()
    thread.join()
print(results)
"""


@pytest.mark.parametrize(("depth", "expected"), [
    pytest.param(50, [True, True, "released"], id="shallow"),
    # Far too deep for the small stack, and within what 3.12's own recursion guard
    # lets the compiler build.
    pytest.param(1400,
                 ["maximum recursion depth exceeded while validating"] * 2 + ["released"],
                 id="deeper-than-the-thread-allows"),
])
def test_deep_tree_on_a_small_stack(depth, expected):
    child = subprocess.run([sys.executable, "-c", CHILD.format(depth=depth)],
                           cwd=Path(__file__).parent, capture_output=True, text=True, timeout=120)
    assert child.returncode == 0, child.stderr
    assert child.stdout.strip() == repr(expected)


DEEP = r"""
import sys, threading
from validators import DictValidator, ListValidator, NumberValidator
from brindle_core import compile_schema

sys.setrecursionlimit(1_000_000)
kind = {kind!r}
result = []

def deepest():
    # From 3.12 on the interpreter bounds C recursion by a count of its own, which
    # the compiler keeps to: the walks are run at the deepest tree it builds.
    refused = []
    for depth in (10_000, 5_000, 2_500, 1_200, 600):
        schema, data = NumberValidator(int), 1
        for _ in range(depth):
            if kind == "lists":
                schema, data = ListValidator(schema), [data]
            else:
                schema, data = {{"k": DictValidator(schema)}}, {{"k": {{"v": data}}}}
        try:
            validator = compile_schema(schema)
        except RecursionError:
            refused.append(depth)
            continue
        walked = [method(data) is not None for method in (validator.validate, validator.collect)]
        result.append((depth, refused, walked))
        return

# A stack far larger than the trees need: the native stack is not what bounds them.
threading.stack_size(512 * 1024 * 1024)
thread = threading.Thread(target=deepest)
thread.start()
thread.join()
print(result)
"""


@pytest.mark.parametrize("kind", ["lists", "fields"])
def test_deep_schemas(kind):
    child = subprocess.run([sys.executable, "-c", DEEP.format(kind=kind)],
                           cwd=Path(__file__).parent, capture_output=True, text=True, timeout=300)
    assert child.returncode == 0, child.stderr
    [(depth, refused, walked)] = eval(child.stdout)  # noqa: S307 - printed by the child
    assert walked == [True, True]
    # 10,000 levels everywhere but where the interpreter's own count stops the
    # compiler first (3.12 and 3.13), and never below 600.
    assert depth == 10_000 or sys.version_info >= (3, 12), (depth, refused)
    assert depth >= 600


SAME_DEPTH = r"""
import threading
from validators import ListValidator, NumberValidator
from values import SMALL_STACK, levels_beyond
from brindle_core import compile_schema

def outcome(call):
    try:
        return "errors" if call() else "none"
    except RecursionError:
        return "RecursionError"

schema, valid, invalid = NumberValidator(int), 1, "x"
cases = []
for depth in range(1, levels_beyond(400)):
    schema, valid, invalid = ListValidator(schema), [valid], [invalid]
    cases.append((depth, compile_schema(schema), valid, invalid))

differ = []
def walk():
    for depth, validator, valid, invalid in cases:
        seen = outcome(lambda: validator.collect(valid)), outcome(lambda: validator.collect(invalid))
        if (seen[0] == "RecursionError") != (seen[1] == "RecursionError"):
            differ.append((depth, seen))
    differ.append("done")

threading.stack_size(SMALL_STACK)
thread = threading.Thread(target=walk)
thread.start()
thread.join()
print(differ[-4:])
"""


def test_collect_stops_at_the_same_depth_on_valid_and_invalid_data():
    # Valid data is first walked without collecting, in smaller frames: that walk must
    # not answer at a depth where collecting would have run out of stack.
    child = subprocess.run([sys.executable, "-c", SAME_DEPTH], cwd=Path(__file__).parent,
                           capture_output=True, text=True, timeout=120)
    assert child.returncode == 0, child.stderr
    assert child.stdout.strip() == "['done']"
