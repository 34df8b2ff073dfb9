"""Compiles a sample schema, validates sample data natively, prints the verdicts, the
violations and the speed next to the library's own Python path."""

import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import brindle_core  # noqa: E402
from schemalib import (  # noqa: E402
    BoolValidator, DictValidator, ListValidator, NumberValidator, Schema, StringValidator,
    Validator, python_collect, python_validate,
)

SCHEMA = {
    "id": NumberValidator(int, min=1),
    "name": StringValidator(min_len=1, max_len=40),
    "email": StringValidator(min_len=3, max_len=254),
    "score": NumberValidator(float, min=0.0, max=1.0),
    "active": BoolValidator(),
    "tags": ListValidator(StringValidator(min_len=1, max_len=16), max_len=5),
    "address": {
        "street": StringValidator(min_len=1),
        "zip": StringValidator(min_len=5, max_len=5),
        "geo": ListValidator(NumberValidator(float, min=-180.0, max=180.0), min_len=2, max_len=2),
    },
    "orders": ListValidator({
        "sku": StringValidator(min_len=1),
        "quantity": NumberValidator(int, min=1, max=1000),
        "price": NumberValidator(float, min=0.0, exclusive_min=True),
    }),
    "metadata": DictValidator(Validator()),
}

VALID = {
    "id": 42,
    "name": "Ada Lovelace",
    "email": "ada@example.org",
    "score": 0.97,
    "active": True,
    "tags": ["math", "engines"],
    "address": {"street": "12 St James's Square", "zip": "10001", "geo": [51.5, -0.13]},
    "orders": [
        {"sku": "NOTE-G", "quantity": 2, "price": 19.5},
        {"sku": "LOOM-1", "quantity": 1, "price": 250.0},
    ],
    "metadata": {"source": "import", "version": 3},
}

INVALID = {
    "id": 0,
    "name": "",
    "email": "ada@example.org",
    "score": 1.5,
    "active": 1,
    "tags": ["math", "", 7],
    "address": {"street": "12 St James's Square", "geo": [51.5]},
    "orders": [
        {"sku": "NOTE-G", "quantity": 0, "price": 0.0},
        {"sku": "LOOM-1", "quantity": "one", "price": 250.0},
    ],
    "metadata": {"source": "import"},
}


def rate(call, seconds=0.4):
    """Calls per second of call(), over about `seconds`."""
    count, batch = 0, 64
    start = time.perf_counter()
    while True:
        for _ in range(batch):
            call()
        count += batch
        elapsed = time.perf_counter() - start
        if elapsed >= seconds:
            return count / elapsed
        batch *= 2


def main():
    print(f"brindle_core on Python {sys.version.split()[0]}")
    schema = Schema(SCHEMA)
    native = schema.native
    print(f"compile_schema: {type(native).__name__}  (None would mean: Python fallback)\n")

    for label, data in (("valid record", VALID), ("invalid record", INVALID)):
        verdict = native.validate(data)
        print(f"{label}: validate -> {'the data itself' if verdict is data else verdict}")
        entries = native.collect(data)
        print(f"{label}: collect -> {len(entries)} violation(s)")
        for path, message, value in entries:
            print(f"    {path or '<root>':<22} {message:<52} got {value!r}")
        assert entries == python_collect(SCHEMA, data)
        print()

    declined = {**VALID, "tags": ("math",)}
    print(f"a tuple where a list belongs: collect -> {native.collect(declined)!r}, "
          f"so the library answers in Python: {schema.errors(declined)!r}\n")

    print("speed (calls per second, higher is better)")
    rows = [
        ("validate, valid record", lambda: native.validate(VALID), lambda: python_validate(SCHEMA, VALID)),
        ("validate, invalid record", lambda: native.validate(INVALID), lambda: python_validate(SCHEMA, INVALID)),
        ("collect, valid record", lambda: native.collect(VALID), lambda: python_collect(SCHEMA, VALID)),
        ("collect, invalid record", lambda: native.collect(INVALID), lambda: python_collect(SCHEMA, INVALID)),
        ("compile_schema", lambda: brindle_core.compile_schema(SCHEMA), None),
    ]
    print(f"    {'':<26} {'native':>12} {'python path':>12} {'ratio':>8}")
    for label, fast, slow in rows:
        native_rate = rate(fast)
        if slow is None:
            print(f"    {label:<26} {native_rate:>12,.0f}")
            continue
        python_rate = rate(slow)
        print(f"    {label:<26} {native_rate:>12,.0f} {python_rate:>12,.0f} {native_rate / python_rate:>7.0f}x")


if __name__ == "__main__":
    main()
