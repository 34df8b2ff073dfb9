"""Times brindle_core next to peer validators on the same workloads in one run: checks
every answer first, then prints the table and writes docs/benchmarks.md and .png."""

from __future__ import annotations

import argparse
import ctypes
import gc
import json
import os
import platform
import subprocess
import sys
import time
from importlib.metadata import version
from pathlib import Path
from typing import NamedTuple

ROOT = Path(__file__).resolve().parent.parent
sys.path[:0] = [str(ROOT / "bench"), str(ROOT / "examples")]

import brindle_core  # noqa: E402
import brindle_floor  # noqa: E402
import fastjsonschema  # noqa: E402
import msgspec  # noqa: E402
from pydantic_core import SchemaValidator  # noqa: E402
from pydantic_core import core_schema as cs  # noqa: E402

import workloads as wl  # noqa: E402
from timing import REPEATS, SAMPLE_NS, per_call_ns, per_call_ns_side_by_side  # noqa: E402
from peers import IMPLS, Impl, to_json_schema, to_msgspec, to_pydantic  # noqa: E402
from schemalib import (  # noqa: E402
    BoolValidator, DictValidator, ListValidator, NumberValidator, StringValidator,
)

VERSIONED = ["msgspec", "pydantic-core", "fastjsonschema", "jsonschema", "matplotlib"]
PYTHON = "pure Python"
FLOOR = "C++ floor"
# The hand-written validator of each workload's schema (bench/floor/floor.cpp).
FLOORS = {
    "record": brindle_floor.record,
    "1,000 records": brindle_floor.records,
    "nested document": brindle_floor.document,
    "100,000 ints": brindle_floor.ints,
    "10,000 floats": brindle_floor.floats,
    "1,000 fields": brindle_floor.wide,
    "small containers": brindle_floor.small,
    "1,000 users, 10 bad": brindle_floor.users,
}
COLLECT_FLOOR = "C++ collect floor"
# Hand-written collects: the boolean check per record, entries only for the bad ones.
COLLECT_FLOORS = {
    "1,000 users, 10 bad": brindle_floor.users_collect,
}


def python_impl(workload):
    f = workload.python
    return Impl(PYTHON, lambda schema: ((lambda d: (bool(f(d)), None)), "f(d)", {"f": f}))


# ---------------------------------------------------------------------------
# Answers first: every implementation on every case, before anything is timed.


def cases(workload):
    yield "valid", workload.valid, []
    if workload.violations:
        expected = sorted((path for path, _ in workload.violations), key=repr)
        n = len(workload.violations)
        yield f"invalid, {n} error{'s' * (n != 1)}", workload.invalid(), expected


def wrong_answer(accepted, errors, expected) -> str:
    """Why (accepted, errors) is not the right answer for a case, or ''."""
    if accepted != (not expected):
        return "accepted" if accepted else "rejected"
    if isinstance(errors, int) and errors != len(expected):
        return f"{errors} errors, expected {len(expected)}"
    if isinstance(errors, list) and errors != expected:
        return f"errors at {errors}, expected at {expected}"
    return ""


def build_rows(workloads):
    """[(workload, case label, data, [(impl name, stmt, namespace)])], the C++ floor
    last, failing loudly on any wrong answer."""
    rows, wrong = [], []
    for workload in workloads:
        built = [(impl.name, impl.build(workload.schema)) for impl in IMPLS + [python_impl(workload)]]
        floor = FLOORS[workload.name]
        for label, data, expected in cases(workload):
            timed = []
            for name, (check, stmt, namespace) in built:
                why = wrong_answer(*check(data), expected)
                if why:
                    wrong.append(f"{name} on {workload.name} ({label}): {why}")
                timed.append((name, stmt, namespace))
            if floor(data) is not (not expected):
                wrong.append(f"{FLOOR} on {workload.name} ({label}): "
                             f"{'accepted' if expected else 'rejected'}")
            timed.append((FLOOR, "f(d)", {"f": floor}))
            collect_floor = COLLECT_FLOORS.get(workload.name)
            if collect_floor is not None and expected:
                entries = collect_floor(data)
                if entries != brindle_core.compile_schema(workload.schema).collect(data):
                    wrong.append(f"{COLLECT_FLOOR} on {workload.name} ({label}): {entries}")
                timed.append((COLLECT_FLOOR, "f(d)", {"f": collect_floor}))
            rows.append((workload, label, data, timed))
    if wrong:
        sys.exit("WRONG ANSWERS, nothing timed:\n  " + "\n  ".join(wrong))
    return rows


# Small values on which the peers' rules may differ from brindle_core's, each with
# brindle_core's rule; every probe where some answer differs is listed under the table.
PROBES = [
    ("int field, True", "a bool is an int", NumberValidator(int), True),
    ("int field, 1.0", "a float is never an int", NumberValidator(int), 1.0),
    ("int field, 2**63", "ints are signed 64-bit", NumberValidator(int), 2 ** 63),
    ("float field, 1", "an int is not a float", NumberValidator(float), 1),
    ("float field, True", "a bool is not a float", NumberValidator(float), True),
    ("float in [0, 1], NaN", "NaN fails no bound", NumberValidator(float, min=0.0, max=1.0), float("nan")),
    ("str of at most 4, 'héllo'", "lengths in code points", StringValidator(max_len=4), "héllo"),
    ("bool field, 1", "only True and False", BoolValidator(), 1),
    ("list of int, (1, 2)", "a tuple is declined by collect", ListValidator(NumberValidator(int)), (1, 2)),
    ("list of int, [1, 'x', 2.5]", "one error per bad item", ListValidator(NumberValidator(int)), [1, "x", 2.5]),
    ("list of at most 2 non-empty str, ['', '', '']", "a list of the wrong length is one error, "
     "its items unchecked", ListValidator(StringValidator(min_len=1), max_len=2), ["", "", ""]),
    ("record {a, b}, {}", "one error per missing field",
     {"a": NumberValidator(int), "b": NumberValidator(int)}, {}),
    ("record {a, b}, extra key c", "an unknown key is declined by collect",
     {"a": NumberValidator(int), "b": NumberValidator(int)}, {"a": 1, "b": 2, "c": 3}),
    ("dict of float, key 1", "keys must be str; collect declines others",
     DictValidator(NumberValidator(float)), {1: 1.0}),
]


def describe(accepted, errors) -> str:
    if accepted is None:
        return "decline (None)"
    if accepted:
        return "accept"
    if errors is None:
        return "reject"
    count = errors if isinstance(errors, int) else len(errors)
    return f"reject with {count} error{'s' * (count != 1)}"


def semantic_differences():
    """One line per probe on which some implementation's verdict differs from brindle
    validate's, or its error count from brindle collect's, or collect declines; and the
    labels of the probes on which all agree."""
    lines, agreed = [], []
    for label, rule, schema, value in PROBES:
        answers = {impl.name: impl.build(schema)[0](value) for impl in IMPLS}
        verdict = answers.pop("brindle validate")[0]
        collected = answers.pop("brindle collect")
        if answers.pop("jsonschema is_valid")[0] != answers["jsonschema iter_errors"][0]:
            sys.exit(f"WRONG ANSWER: jsonschema is_valid and iter_errors disagree on {label}")
        count = None if collected[0] is None else len(collected[1])

        def differs(accepted, errors):
            n = len(errors) if isinstance(errors, list) else errors
            return accepted != verdict or (isinstance(n, int) and count is not None and n != count)

        if collected[0] is not None and not any(differs(*a) for a in answers.values()):
            agreed.append(label)
            continue
        groups = {}
        for name, answer in answers.items():
            groups.setdefault(describe(*answer), []).append(name.replace(" iter_errors", ""))
        peers = "; ".join(f"{text}: {', '.join(names)}" for text, names in groups.items())
        lines.append(f"{label} ({rule}). brindle_core validate: {describe(verdict, None)}, "
                     f"collect: {describe(*collected)}. Peers: {peers}")
    return lines, agreed


# ---------------------------------------------------------------------------
# Compile time and memory against the number of fields.


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
        "fordblks", "keepcost")]


def heap_bytes() -> int:
    """Bytes in use on the C heap (glibc mallinfo2): where native trees live, and
    which neither tracemalloc nor a resident-set delta (freed pages are reused) sees."""
    mallinfo2 = ctypes.CDLL(None).mallinfo2
    mallinfo2.restype = _MallInfo2
    info = mallinfo2()
    return info.uordblks + info.hblkhd


def heap_per_copy(make, copies: int) -> float:
    gc.collect()
    before = heap_bytes()
    kept = [make() for _ in range(copies)]
    used = heap_bytes() - before
    del kept
    return used / copies


def python_reads(schema):
    """The attribute reads compile_schema makes of a record schema of int, float, str and
    bool fields, in its order, written as a Python loop that builds nothing."""
    for _key, v in schema.items():
        v._coerce
        len(v._custom_checks)
        v._when_condition
        v._env_key
        name = type(v).__name__
        if name == "NumberValidator":
            v._type_cls.__name__
            v._min
            v._max
            v._exclusive_min
            v._exclusive_max
        elif name == "StringValidator":
            v._regex
            v._min_len
            v._max_len


def compile_costs(sizes=(10, 100, 1000, 10000)):
    rows = []
    for n in sizes:
        schema, record = wl.wide_schema(n), wl.wide_record(n)
        core, config = to_pydantic(schema), cs.CoreConfig(strict=True)
        copies = max(3, 20_000 // n)
        once = 50_000_000  # peers' builds are slow: shorter samples
        if brindle_floor.compile_reads(schema) is not True:
            sys.exit("WRONG ANSWER: the floor's compile reads declined the wide schema")
        compiled = per_call_ns_side_by_side([
            ("brindle", "f(d)", {"f": brindle_core.compile_schema}),
            ("reads C", "f(d)", {"f": brindle_floor.compile_reads}),
            ("reads Python", "f(d)", {"f": python_reads}),
        ], schema)
        rows.append({
            "fields": n,
            **compiled,
            "brindle heap": heap_per_copy(lambda: brindle_core.compile_schema(schema), copies),
            "validate": per_call_ns("f(d)", {"f": brindle_core.compile_schema(schema).validate}, record),
            "pydantic-core": per_call_ns("f(d, c)", {"f": SchemaValidator, "c": config}, core, once),
            "pydantic-core heap": heap_per_copy(lambda: SchemaValidator(core, config), copies),
            "msgspec": per_call_ns("t = f(d)\ntry:\n    convert({}, type=t)\nexcept E:\n    pass",
                                   {"f": to_msgspec, "convert": msgspec.convert,
                                    "E": msgspec.ValidationError}, schema, once),
            "fastjsonschema": per_call_ns("f(d)", {"f": fastjsonschema.compile},
                                          to_json_schema(schema), once),
        })
    return rows


# ---------------------------------------------------------------------------
# Report.


def fmt_ns(ns: float) -> str:
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("µs", 1e3), ("ns", 1)):
        if ns >= scale * 0.9995 or unit == "ns":
            return f"{ns / scale:.3g} {unit}"


def fmt_ratio(r: float) -> str:
    return f"{r:.2g}×" if r < 1 else f"{r:.1f}×" if r < 10 else f"{r:,.0f}×"


def fmt_bytes(b: float) -> str:
    return f"{b / 1024:,.1f} KiB" if b >= 1024 else f"{b:.0f} B"


def source_state() -> str:
    """The commit brindle_core's sources are at, and whether they differ from it."""
    def git(*args):
        return subprocess.run(["git", *args], cwd=ROOT, capture_output=True, text=True).stdout.strip()
    try:
        commit = git("rev-parse", "--short", "HEAD")
        changed = git("status", "--porcelain", "--", "src", "CMakeLists.txt", "pyproject.toml")
    except OSError:  # no git
        commit = ""
    if not commit:
        return "sources outside git"
    return f"commit {commit}" + (" with uncommitted changes" if changed else "")


def machine(source: str) -> list:
    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                if line.startswith("model name")), platform.processor() or "unknown")
    peers = ", ".join(f"{name} {version(name)}" for name in VERSIONED)
    return [f"- CPU: {cpu}, {os.cpu_count()} cores",
            f"- Python: CPython {platform.python_version()} on {platform.system()} {platform.machine()}",
            f"- brindle_core {version('brindle_core')}, built from {source}",
            f"- peers: {peers}"]


def results_table(results, names) -> list:
    lines = ["| workload | " + " | ".join(names) + " |", "|---" * (len(names) + 1) + "|"]
    for (workload, label), times in results.items():
        base = times["brindle validate"]
        cells = [fmt_ns(times[n]) + ("" if n == "brindle validate" else f" ({fmt_ratio(times[n] / base)})")
                 for n in names]
        lines.append(f"| {workload.name}, {label} | " + " | ".join(cells) + " |")
    return lines


PEERS = ["msgspec", "pydantic-core", "fastjsonschema", "jsonschema is_valid"]


def floor_table(results) -> list:
    """validate and collect against the C++ floor, and the fastest peer against
    validate, on every valid workload; per item where the workload counts its items."""
    lines = ["| workload | C++ floor | brindle validate | validate / floor | brindle collect |"
             " collect / floor | collect / validate | fastest peer / validate | per item: floor,"
             " validate, collect |", "|---" * 9 + "|"]
    for (workload, label), times in results.items():
        if COLLECT_FLOOR in times:
            # collect on data with a few errors, against a collect written by hand.
            floor, collect = times[COLLECT_FLOOR], times["brindle collect"]
            lines.append(f"| {workload.name}, {label}: collect | {fmt_ns(floor)} (collect floor) | "
                         f" |  | {fmt_ns(collect)} | {collect / floor:.2f}× |  |  |  |")
            continue
        if label != "valid":
            continue
        floor, validate, collect = (times[n] for n in (FLOOR, "brindle validate", "brindle collect"))
        peer = min(PEERS, key=lambda n: times[n])
        per_item = (f"{floor / workload.items:.2f} ns, {validate / workload.items:.2f} ns, "
                    f"{collect / workload.items:.2f} ns" if workload.items else "")
        lines.append(f"| {workload.name} | {fmt_ns(floor)} | {fmt_ns(validate)} | "
                     f"{validate / floor:.2f}× | {fmt_ns(collect)} | {collect / floor:.2f}× | "
                     f"{collect / validate:.2f}× | {times[peer] / validate:.1f}× ({peer}) | "
                     f"{per_item} |")
    return lines


def faster_peers(results) -> list:
    """Where an implementation beats brindle_core validate."""
    lines = []
    for (workload, label), times in results.items():
        base = times["brindle validate"]
        faster = [f"{n} {fmt_ratio(t / base)}" for n, t in times.items()
                  if n not in ("brindle validate", FLOOR) and t < base]
        if faster:
            lines.append(f"{workload.name}, {label}: " + ", ".join(faster))
    return lines


def compile_table(rows) -> list:
    lines = ["| fields | brindle compile_schema | per field | brindle heap | per field |"
             " pydantic-core SchemaValidator | its heap | msgspec Struct + first convert |"
             " fastjsonschema.compile | brindle validate, per field |", "|---:" * 10 + "|"]
    for r in rows:
        n = r["fields"]
        lines.append(f"| {n:,} | {fmt_ns(r['brindle'])} | {r['brindle'] / n:.0f} ns | "
                     f"{fmt_bytes(r['brindle heap'])} | {r['brindle heap'] / n:.0f} B | "
                     f"{fmt_ns(r['pydantic-core'])} | {fmt_bytes(r['pydantic-core heap'])} | "
                     f"{fmt_ns(r['msgspec'])} | {fmt_ns(r['fastjsonschema'])} | "
                     f"{r['validate'] / n:,.0f} ns |")
    return lines


def compile_field_table(rows) -> list:
    lines = ["| fields | brindle compile_schema | pydantic-core SchemaValidator |"
             " brindle / pydantic-core | attribute reads alone, C | attribute reads alone, Python |"
             " compile_schema - C reads |", "|---:" * 7 + "|"]
    for r in rows:
        n = r["fields"]
        per = {k: r[k] / n for k in ("brindle", "pydantic-core", "reads C", "reads Python")}
        lines.append(f"| {n:,} | {per['brindle']:.0f} ns | {per['pydantic-core']:.0f} ns | "
                     f"{per['brindle'] / per['pydantic-core']:.2f}× | {per['reads C']:.0f} ns | "
                     f"{per['reads Python']:.0f} ns | {per['brindle'] - per['reads C']:+.0f} ns |")
    return lines


def make_tables(results, names, costs) -> dict:
    return {"main": results_table(results, names), "floor": floor_table(results),
            "compile": compile_table(costs), "compile per field": compile_field_table(costs)}


def chart(results, names, path: Path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    peers = [n for n in names if n != "brindle validate"]
    labels = [f"{w.name}\n{label}" for (w, label) in results]
    fig, ax = plt.subplots(figsize=(13, 7))
    width = 0.8 / len(peers)
    for i, name in enumerate(peers):
        ratios = [times[name] / times["brindle validate"] for times in results.values()]
        # Bars grow from 1: up when slower than brindle_core validate, down when faster.
        ax.bar([x + (i - (len(peers) - 1) / 2) * width for x in range(len(labels))],
               [r - 1 for r in ratios], width, bottom=1, label=name)
    ax.axhline(1, color="black", linewidth=1)
    ax.set_yscale("log")
    ax.set_xticks(range(len(labels)))
    ax.set_xticklabels(labels, fontsize=8)
    ax.set_ylabel("time / brindle_core validate time (log scale)")
    ax.set_title("Time per call relative to brindle_core validate: above the line slower, below faster")
    ax.grid(axis="y", which="both", alpha=0.3)
    ax.legend(fontsize=8, ncol=len(peers), loc="upper center", bbox_to_anchor=(0.5, -0.1))
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def run(source):
    """Times everything on this interpreter: (results, names, costs, differences, agreed)."""
    workloads = wl.workloads()
    rows = build_rows(workloads)
    differences, agreed = semantic_differences()

    results = {}
    names = [name for name, _, _ in rows[0][3] if name not in (FLOOR, COLLECT_FLOOR)]
    for workload, label, data, timed in rows:
        print(f"timing {workload.name}, {label}", file=sys.stderr, flush=True)
        results[(workload, label)] = per_call_ns_side_by_side(timed, data)
    print("timing compile costs", file=sys.stderr, flush=True)
    return results, names, compile_costs(), differences, agreed


def save(path: Path, source, results, names, costs):
    """The results of this interpreter's run, for the report of another."""
    path.write_text(json.dumps({
        "machine": machine(source), "python": platform.python_version(), "names": names,
        "results": [{"workload": w.name, "items": w.items, "label": label, "times": times}
                    for (w, label), times in results.items()],
        "costs": costs,
    }), encoding="utf-8")


class SavedWorkload(NamedTuple):
    """What the tables read of a workload whose run was saved."""
    name: str
    items: int


def load(path: Path) -> dict:
    saved = json.loads(path.read_text(encoding="utf-8"))
    results = {(SavedWorkload(r["workload"], r["items"]), r["label"]): r["times"]
               for r in saved["results"]}
    return {"python": saved["python"], "machine": saved["machine"],
            "tables": make_tables(results, saved["names"], saved["costs"])}


def print_tables(python, tables):
    print(f"\n## CPython {python}\n")
    print("\n".join(tables["main"] + [""] + tables["floor"] + [""] + tables["compile"] + [""]
                    + tables["compile per field"]))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--save", type=Path, help="write the results here, not the report")
    parser.add_argument("--also", type=Path, nargs="*", default=[],
                        help="results saved by runs on other interpreters, for the report")
    args = parser.parse_args()
    started, source = time.perf_counter(), source_state()  # as built, just before this run
    results, names, costs, differences, agreed = run(source)
    tables = make_tables(results, names, costs)
    print_tables(platform.python_version(), tables)
    if args.save:
        save(args.save, source, results, names, costs)
        print(f"\nwrote {args.save} in {time.perf_counter() - started:.0f} s", file=sys.stderr)
        return
    others = [load(path) for path in args.also]
    for other in others:
        print_tables(other["python"], other["tables"])
    faster = faster_peers(results)
    print("\nFaster than brindle_core validate:")
    print("\n".join(f"- {line}" for line in faster) or "- nowhere")
    print("\nSemantic differences (brindle_core's answer first):")
    print("\n".join(f"- {line}" for line in differences) or "- none")
    print("All agree on: " + "; ".join(agreed))
    write_report(tables, faster, differences, agreed, source, others)
    chart(results, names, ROOT / "docs" / "benchmarks.png")
    print(f"\nwrote docs/benchmarks.md and docs/benchmarks.png in {time.perf_counter() - started:.0f} s",
          file=sys.stderr)


def write_report(tables, faster, differences, agreed, source, others):
    md = [
        "# Benchmarks", "",
        "Written by `make bench` (`bench/run.sh`, `bench/suite.py`); every number below comes "
        "from one run, on a machine that may have been running other work at the time.",
        "", "## Machine", "", *machine(source), "",
        "## Time per call", "",
        f"Median of {REPEATS} repeats of a `perf_counter_ns` loop whose call count is calibrated "
        f"so that a repeat lasts at least {SAMPLE_NS // 1_000_000} ms, given per call; the "
        "implementations of a row take their repeats in turns, so that other work on the "
        "machine falls on all of them alike. In "
        "brackets, the time relative to brindle_core `validate` on the same data (above 1 is "
        "slower). Before timing, every answer is checked: valid data accepted, invalid data "
        "rejected, and where an implementation reports every violation (brindle `collect`, "
        "pydantic-core `errors()`, jsonschema `iter_errors`) the number of errors, and for the "
        "first two also their locations. msgspec converts with `strict=True` into Structs with "
        "`forbid_unknown_fields=True` and stops at the first error, as fastjsonschema does; "
        "pydantic-core validates in strict mode and its invalid times include `.errors()`. "
        "jsonschema reads the JSON Schema document as draft 2020-12, fastjsonschema as draft-07 "
        "(the keywords used mean the same in both). The pure-Python column is a function "
        "written out by hand for each workload, the floor for the library's own Python path.", "",
        *tables["main"], "", "![time relative to brindle_core validate](benchmarks.png)", "",
        "Where an implementation is faster than brindle_core `validate`:", "",
        *([f"- {line}" for line in faster] or ["- nowhere"]), "",
        "## Against a C++ floor", "",
        FLOOR_TEXT, "",
        *tables["floor"], "",
        "## Compile time and memory against schema size", "",
        "A record schema of n fields (int, float, str and bool fields in turn). The heap "
        "columns are the C heap in use (glibc `mallinfo2`) per validator, over many copies; "
        "peers' build times for the same schema are shown for scale (jsonschema builds lazily "
        "and has nothing to time). The last column is brindle_core `validate` of a valid "
        "record of that size, per field.", "",
        *tables["compile"], "",
        COMPILE_FIELD_TEXT, "",
        *tables["compile per field"], "",
        *[line for other in others for line in other_section(other)],
        "## Semantic differences", "",
        "Small values on which some implementation answers unlike brindle_core, with "
        "brindle_core's rule in brackets; an error count is given where the implementation "
        "reports every error.", "",
        *([f"- {line}" for line in differences] or ["- none"]), "",
        "All implementations agree on: " + "; ".join(agreed) + ".", "",
        "## Reproduce", "", "```", "make bench", "make bench BENCH_ALSO=3.13", "```", "",
        "It creates `.venv/bench` (CPython 3.9 when found), installs `bench/requirements.txt`, "
        "builds brindle_core and the floor module into it, runs `bench/suite.py`, prints the "
        "tables and rewrites this page and `docs/benchmarks.png`. `BENCH_ALSO` names further "
        "CPython versions (`PYTHONS=\"3.9 3.13\"` names them all, the first one reported in "
        "full): each gets its own `.venv/bench-3.X` and its own run, whose tables are added "
        "to this page. Speed is only measured here, never asserted in tests.",
    ]
    (ROOT / "docs" / "benchmarks.md").write_text("\n".join(md) + "\n", encoding="utf-8")


FLOOR_TEXT = (
    "`bench/floor/floor.cpp` holds a validator written by hand for each workload's schema: "
    "the least work any validator of that schema must do, answering as `validate` does "
    "(checked on every case before timing). Bounds and lengths are constants; exact types "
    "are tested before subclasses; ints are read in place (`PyUnstable_Long_IsCompact` and "
    "`PyUnstable_Long_CompactValue` from 3.12 on, the digits the interpreter's headers "
    "expose before); each dict key is compared by pointer with the interned name of the "
    "field expected at its position, then by text; there is no dispatch on node kinds. "
    "Times per call on the valid data, side by side with the other implementations; a "
    "workload that counts its items also gets times per item.")

COMPILE_FIELD_TEXT = (
    "Per field. The attribute reads alone are the reads and conversions `compile_schema` "
    "must make of such a schema, in its order, building nothing: in C with interned names "
    "(`brindle_floor.compile_reads`) and as a Python loop.")


def other_section(other) -> list:
    t = other["tables"]
    return [f"## On CPython {other['python']}", "",
            "The same tables from a run on another interpreter, in the same `make bench`.", "",
            *other["machine"], "", *t["main"], "", *t["floor"], "", *t["compile"], "",
            *t["compile per field"], ""]


if __name__ == "__main__":
    main()
