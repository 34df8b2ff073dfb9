"""Times builds of brindle_core against each other on make bench's record workloads,
all loaded into this one interpreter and timed in turns (as bench/suite.py times
implementations side by side), so that whatever else the machine does falls on
every build alike. Prints the time per call of each build and its ratio to the
first build's.

    python bench/compare_builds.py gcc=path/to/brindle_core.so zig=other/brindle_core.so
    python bench/compare_builds.py --all main=old/brindle_core.so change=new/brindle_core.so

With --all, every make bench workload is timed, not only the record ones. With
--rounds, each row is 300 rounds of about 1 ms per build, in turns, on the thread's
CPU clock, and the ratio printed is the median of the rounds' ratios (with its
quartiles): on a shared host whose speed drifts from second to second, that is what
resolves a few per cent.
"""

from __future__ import annotations

import importlib.machinery
import importlib.util
import statistics
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path[:0] = [str(ROOT / "bench"), str(ROOT / "examples")]

import workloads as wl  # noqa: E402
from timing import REPEATS, calibrated, per_call_ns_side_by_side  # noqa: E402

RECORD_WORKLOADS = ("record", "1,000 records")


def load(path: str):
    """The extension module in `path` under its own name; each file is a separate
    module with its own state, whatever else was loaded under that name."""
    loader = importlib.machinery.ExtensionFileLoader("brindle_core", path)
    spec = importlib.util.spec_from_file_location("brindle_core", path, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def side_by_side(calls: dict, data) -> dict:
    """Median ns per call of each, the samples taken in turns."""
    return per_call_ns_side_by_side([(name, "f(d)", {"f": call}) for name, call in calls.items()],
                                    data)


ROUNDS = 300
ROUND_NS = 1_000_000


def paired_rounds(calls: dict, data) -> tuple:
    """The best time per call of each, and the quartiles of each one's ratio to the
    first's, over ROUNDS rounds taken in turns (alternating the order)."""
    timers = {name: calibrated("f(d)", {"f": call}, data, ROUND_NS, clock=time.thread_time_ns)
              for name, call in calls.items()}
    names = list(timers)
    best = {name: float("inf") for name in names}
    ratios = {name: [] for name in names[1:]}
    for round_ in range(ROUNDS):
        times = {}
        for name in names if round_ % 2 == 0 else names[::-1]:
            timer, number = timers[name]
            times[name] = timer.timeit(number) / number
            best[name] = min(best[name], times[name])
        for name in names[1:]:
            ratios[name].append(times[name] / times[names[0]])
    return best, {name: statistics.quantiles(r, n=4) for name, r in ratios.items()}


def main(arguments):
    every_workload = "--all" in arguments
    rounds = "--rounds" in arguments
    arguments = [a for a in arguments if a not in ("--all", "--rounds")]
    if len(arguments) < 2 or any("=" not in a for a in arguments):
        sys.exit(__doc__)
    builds = {name: load(path) for name, path in (a.split("=", 1) for a in arguments)}
    first = next(iter(builds))
    if rounds:
        print(f"CPython {sys.version.split()[0]}; best time per call over {ROUNDS} rounds taken "
              f"in turns; ratio = median [quartiles] of each round's time / {first}'s")
    else:
        print(f"CPython {sys.version.split()[0]}; times per call (median of {REPEATS} samples "
              f"taken in turns); ratio = time / {first}'s time")
    header = f"{'workload':<40}" + "".join(f"{name:>12}" for name in builds) + "".join(
        f"{name + '/' + first:>14}" for name in list(builds)[1:])
    print(header)
    for workload in wl.workloads():
        if workload.name not in RECORD_WORKLOADS and not every_workload:
            continue
        for case, data in (("valid", workload.valid), ("invalid", workload.invalid())):
            for method in ("validate", "collect"):
                calls = {name: getattr(module.compile_schema(workload.schema), method)
                         for name, module in builds.items()}
                answers = {repr(call(data)) for call in calls.values()}
                if len(answers) != 1:
                    sys.exit(f"WRONG ANSWER: the builds disagree on {workload.name} {case}")
                row = f"{workload.name + ', ' + case + ', ' + method:<40}"
                if rounds:
                    best, spread = paired_rounds(calls, data)
                    row += "".join(f"{best[name]:>10.0f}ns" for name in builds)
                    row += "".join(f"{q[1]:>9.3f}x [{q[0]:.3f}, {q[2]:.3f}]"
                                   for q in spread.values())
                    print(row, flush=True)
                    continue
                times = side_by_side(calls, data)
                row += "".join(f"{times[name]:>10.0f}ns" for name in builds)
                row += "".join(f"{times[name] / times[first]:>13.2f}x" for name in list(builds)[1:])
                print(row)


if __name__ == "__main__":
    main(sys.argv[1:])
