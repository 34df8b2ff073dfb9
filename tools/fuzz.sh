#!/usr/bin/env bash
# fuzz.sh [--examples N] [--seed S] [--runs N] [--time SECONDS]
# Two fuzzers against builds of brindle_core:
#  1. the differential tests (the native walks against the Python model), N examples
#     in all (default 1,000,000) with Hypothesis seed S, split evenly between
#     CPython 3.9 and 3.13 (run side by side, one per core) and, on each, between
#     the generated schemas and values of test_differential.py and the routes of
#     test_routes.py (integers at every width edge, every placement, data changed
#     mid-walk). Where one of the two interpreters is missing, the other runs all.
#  2. fuzz/fuzz_walks.py under atheris (libFuzzer) for N runs (default 200000) or
#     SECONDS, seeded with S, keeping its corpus in build/fuzz/corpus and writing
#     any failing input to build/fuzz/.
# The differential logs are build/fuzz/differential-<version>.log; each ends with
# pytest's count and Hypothesis's statistics (examples run, mismatches found).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

examples=1000000
seed=0
runs=200000
seconds=0
while [ $# -gt 0 ]; do
    case $1 in
        --examples) examples=$2; shift 2 ;;
        --seed) seed=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --time) seconds=$2; shift 2 ;;
        *) echo "usage: $0 [--examples N] [--seed S] [--runs N] [--time SECONDS]" >&2; exit 2 ;;
    esac
done

found=$(tools/find_pythons.sh)
versions=()
for version in 3.9 3.13; do
    if echo "$found" | grep -q "^$version "; then versions+=("$version"); fi
done
if [ ${#versions[@]} -eq 0 ]; then
    echo "error: neither CPython 3.9 nor 3.13 was found" >&2
    exit 1
fi

# A fuzzing venv per interpreter; atheris where it installs.
venvs=()
for version in "${versions[@]}"; do
    python=$(echo "$found" | awk -v v="$version" '$1 == v { print $2 }')
    echo "=== Building the fuzzing environment for CPython $version"
    BRINDLE_BUILD_SUFFIX=-fuzz tools/build_venv.sh "$python" ".venv/fuzz-py$version" \
        tests/requirements.txt
    ".venv/fuzz-py$version/bin/python" -m pip --disable-pip-version-check -q install \
        -r fuzz/requirements.txt 2>/dev/null || echo "atheris is not usable on CPython $version"
    venvs+=(".venv/fuzz-py$version")
done

mkdir -p build/fuzz/corpus
status=0

# Each interpreter's share, half for each test.
share=$(( examples / ${#versions[@]} / 2 ))
echo "=== Differential tests: $examples examples in all, seed $seed," \
     "$share per test on each of CPython ${versions[*]}"
pids=()
for i in "${!versions[@]}"; do
    version=${versions[$i]}
    log="build/fuzz/differential-$version.log"
    BRINDLE_DIFFERENTIAL_EXAMPLES=$share BRINDLE_ROUTES_EXAMPLES=$share \
        "${venvs[$i]}/bin/python" -m pytest -q -p no:cacheprovider "--hypothesis-seed=$seed" \
        --hypothesis-show-statistics \
        tests/python/test_differential.py::test_walks_match_the_python_model \
        tests/python/test_routes.py::test_every_route_gives_the_models_answer \
        >"$log" 2>&1 &
    pids+=($!)
done
for i in "${!pids[@]}"; do
    version=${versions[$i]}
    log="build/fuzz/differential-$version.log"
    if wait "${pids[$i]}"; then
        echo "CPython $version: $(grep -E '[0-9]+ passed' "$log" | tail -n 1)"
    else
        echo "CPython $version: FAILED (see $log)"
        tail -n 40 "$log"
        status=1
    fi
    grep -E "passing examples|Stopped because" "$log" | sed "s/^/  $version: /" || true
done

atheris_venv=""
for venv in "${venvs[@]}"; do
    if "$venv/bin/python" -c "import atheris" 2>/dev/null; then atheris_venv=$venv; break; fi
done
if [ -z "$atheris_venv" ]; then
    echo "error: atheris installs on none of ${versions[*]}" >&2
    exit 1
fi
echo "=== Coverage-guided fuzzing: $runs runs, seed $seed ($atheris_venv)"
limits=(-runs="$runs")
if [ "$seconds" -gt 0 ]; then limits=(-max_total_time="$seconds"); fi
# libFuzzer's seed 0 means "pick one"; keep runs repeatable.
"$atheris_venv/bin/python" fuzz/fuzz_walks.py "${limits[@]}" -seed=$((seed + 1)) \
    -artifact_prefix=build/fuzz/ -print_final_stats=1 build/fuzz/corpus 2>&1 \
    | grep -vE '^(#[0-9]+\s+(NEW|REDUCE|pulse)|"|###### )' || status=1
exit $status
