"""Timing shared by the benchmark scripts: perf_counter_ns loops whose call count is
calibrated so that one sample lasts SAMPLE_NS, and medians of REPEATS samples."""

from __future__ import annotations

import math
import statistics
import time
import timeit

REPEATS = 7
SAMPLE_NS = 20_000_000  # each sample runs for at least this long


def calibrated(stmt: str, namespace: dict, data, sample_ns: int = SAMPLE_NS,
               clock=time.perf_counter_ns):
    """A timer for stmt on `clock` and the call count that makes one sample last
    sample_ns."""
    timer = timeit.Timer(stmt, globals={**namespace, "d": data}, timer=clock)
    number = 1
    while True:
        elapsed = timer.timeit(number)
        if elapsed >= sample_ns:
            return timer, number
        number = max(number * 2, math.ceil(number * 1.1 * sample_ns / max(elapsed, 1)))


def per_call_ns(stmt: str, namespace: dict, data, sample_ns: int = SAMPLE_NS) -> float:
    """Median over REPEATS samples of the time of one call."""
    timer, number = calibrated(stmt, namespace, data, sample_ns)
    return statistics.median(timer.repeat(REPEATS, number)) / number


def per_call_ns_side_by_side(timed, data) -> dict:
    """per_call_ns for each (name, stmt, namespace), the samples taken in turns so that
    whatever else the machine does falls on all of them alike."""
    timers = [(name, *calibrated(stmt, namespace, data)) for name, stmt, namespace in timed]
    samples = {name: [] for name, _, _ in timers}
    for _ in range(REPEATS):
        for name, timer, number in timers:
            samples[name].append(timer.timeit(number) / number)
    return {name: statistics.median(times) for name, times in samples.items()}
