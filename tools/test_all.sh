#!/usr/bin/env bash
# Builds and tests brindle_core on CPython 3.9 (required) and on each newer CPython
# up to 3.15 that this machine has (3.14 and 3.15 otherwise in a Debian sid chroot,
# where this machine can make one: tools/sid_suites.sh), checks the type stubs on the oldest and the
# newest of them, checks the source rules that the compiler cannot (lint_sources.py),
# then runs the C++ unit tests. Ends with one summary line per interpreter, one for
# the stubs, one for the source rules and one for the C++ tests.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

mapfile -t pythons < <(tools/find_pythons.sh)
if ! printf '%s\n' "${pythons[@]}" | grep -q '^3\.9 '; then
    echo "error: CPython 3.9 was not found (looked in pyenv's versions and for python3.9 on PATH)" >&2
    echo "       install it (for example 'pyenv install 3.9') and run make test again" >&2
    exit 1
fi

summary=()
failed=0
built=()
for line in "${pythons[@]}"; do
    version=${line%% *}
    python=${line#* }
    venv=".venv/py$version"
    echo "=== CPython $version ($python)"
    if ! tools/build_venv.sh "$python" "$venv" tests/requirements.txt; then
        summary+=("CPython $version: BUILD FAILED")
        failed=1
        continue
    fi
    built+=("$venv")
    log="build/pytest-py$version.log"
    mkdir -p build
    "$venv/bin/python" -m pytest -q -p no:cacheprovider tests/python 2>&1 | tee "$log"
    status=${PIPESTATUS[0]}
    result=$(tools/pytest_result.sh "$log")
    if [ "$status" -eq 0 ]; then
        summary+=("CPython $version: ok ($result)")
    else
        summary+=("CPython $version: FAILED ($result)")
        failed=1
    fi
done

echo "=== Type stubs"
# The oldest and the newest interpreter: each gets the newest mypy that runs on it.
if [ ${#built[@]} -eq 0 ]; then
    summary+=("Type stubs: not checked (no interpreter built)")
    failed=1
else
    stub_venvs=("${built[0]}")
    [ ${#built[@]} -gt 1 ] && stub_venvs+=("${built[-1]}")
    stub_versions=$(printf '%s\n' "${stub_venvs[@]}" | sed 's|.*/py||' | paste -sd, | sed 's/,/, /g')
    if tools/check_stubs.sh "${stub_venvs[@]}"; then
        summary+=("Type stubs (stubtest, mypy --strict) on CPython $stub_versions: ok")
    else
        summary+=("Type stubs (stubtest, mypy --strict) on CPython $stub_versions: FAILED")
        failed=1
    fi
fi

# CPython 3.14 and 3.15, where this machine has not got them, from Debian sid in a
# chroot (made on first use, kept in a cache folder outside the repository).
missing=()
for version in 3.14 3.15; do
    printf '%s\n' "${pythons[@]}" | grep -q "^$version " || missing+=("$version")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "=== CPython ${missing[*]} from Debian sid (tools/sid_suites.sh)"
    sid_log=build/sid-suites.log
    mkdir -p build
    tools/sid_suites.sh "${missing[@]}" | tee "$sid_log"
    [ "${PIPESTATUS[0]}" -eq 0 ] || failed=1
    mapfile -t sid_lines < <(grep -E '^(CPython|Type stubs)' "$sid_log")
    summary+=("${sid_lines[@]}")
fi

echo "=== Source rules"
if "${pythons[0]#* }" tools/lint_sources.py; then
    summary+=("Source rules (tools/lint_sources.py): ok")
else
    summary+=("Source rules (tools/lint_sources.py): FAILED")
    failed=1
fi

echo "=== C++ unit tests"
first_python=${pythons[0]#* }
# The venvs carry CMake from the package index, for machines without one of their own.
if PATH="$PATH:$top/.venv/py${pythons[0]%% *}/bin" PYTHON="$first_python" tools/run_cpp_tests.sh; then
    summary+=("C++ unit tests: ok")
else
    summary+=("C++ unit tests: FAILED")
    failed=1
fi

echo
echo "=== Summary"
printf '%s\n' "${summary[@]}"
exit $failed
