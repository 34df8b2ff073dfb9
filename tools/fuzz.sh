#!/usr/bin/env bash
# fuzz.sh [--examples N] [--seed S] [--runs N] [--time SECONDS]
# Two fuzzers against one build of brindle_core:
#  1. the differential test (native walks against the Python model on generated
#     schemas and values) with N examples (default 20000) and Hypothesis seed S;
#  2. fuzz/fuzz_walks.py under atheris (libFuzzer) for N runs (default 200000) or
#     SECONDS, seeded with S, keeping its corpus in build/fuzz/corpus and writing
#     any failing input to build/fuzz/.
# Uses the first CPython from 3.9 up that atheris installs on.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

examples=20000
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

venv=""
while read -r version python; do
    echo "=== Building the fuzzing environment for CPython $version"
    if BRINDLE_BUILD_SUFFIX=-fuzz tools/build_venv.sh "$python" ".venv/fuzz-py$version" \
        tests/requirements.txt fuzz/requirements.txt \
        && ".venv/fuzz-py$version/bin/python" -c "import atheris" 2>/dev/null; then
        venv=".venv/fuzz-py$version"
        break
    fi
    echo "atheris is not usable on CPython $version; trying the next one"
done < <(tools/find_pythons.sh)
if [ -z "$venv" ]; then
    echo "error: atheris installs on none of this machine's interpreters" >&2
    exit 1
fi

mkdir -p build/fuzz/corpus
status=0

echo "=== Differential test: $examples examples, seed $seed"
BRINDLE_DIFFERENTIAL_EXAMPLES=$examples "$venv/bin/python" -m pytest -q -p no:cacheprovider \
    "--hypothesis-seed=$seed" tests/python/test_differential.py::test_walks_match_the_python_model \
    || status=1

echo "=== Coverage-guided fuzzing: $runs runs, seed $seed"
limits=(-runs="$runs")
if [ "$seconds" -gt 0 ]; then limits=(-max_total_time="$seconds"); fi
# libFuzzer's seed 0 means "pick one"; keep runs repeatable.
"$venv/bin/python" fuzz/fuzz_walks.py "${limits[@]}" -seed=$((seed + 1)) \
    -artifact_prefix=build/fuzz/ -print_final_stats=1 build/fuzz/corpus 2>&1 \
    | grep -vE '^(#[0-9]+\s+(NEW|REDUCE|pulse)|"|###### )' || status=1
exit $status
