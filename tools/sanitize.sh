#!/usr/bin/env bash
# sanitize.sh [PYTEST ARGS...]
# Builds brindle_core with AddressSanitizer and UndefinedBehaviorSanitizer into its
# own venv and runs the Python test suite against it (or the pytest arguments given).
#
# The interpreter is not built with the sanitizers, so their runtime is preloaded
# into it, with libstdc++ (which the interpreter does not link) so that ASan can
# intercept C++ throws. PYTHONMALLOC=malloc routes Python's own allocations through
# ASan too: a read past a Python object or a use of a freed one is caught, not only
# faults in native memory.
#
# Leaks: LeakSanitizer reports every allocation still unreachable when a process
# ends, and the interpreter leaves some of its own at exit. A suppression matches
# any frame of a stack, and every stack of the module runs through the interpreter,
# so suppressing the interpreter would hide the module's leaks as well. Instead each
# process writes its report to build/sanitize/, and a leak counts when a frame of its
# allocation stack lies in brindle_core; leaks whose stacks are only in the
# interpreter are its own and are counted, not failed. Python objects whose
# references the module loses are the business of tests/python/test_leaks.py.
#
# Then the C++ unit tests: all of them built with the same sanitizers, and the
# node-tree tests (ownership and release of compiled trees) under valgrind's
# memcheck against the ordinary build, which finds what a sanitizer build cannot
# (uninitialised reads) and needs no instrumentation to be trusted.
#
# Python version: BRINDLE_SANITIZE_PYTHON (default 3.11, else 3.9).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

wanted=${BRINDLE_SANITIZE_PYTHON:-3.11}
python=""
for version in "$wanted" 3.9; do
    python=$(tools/find_pythons.sh | awk -v v="$version" '$1 == v { print $2 }')
    if [ -n "$python" ]; then break; fi
done
if [ -z "$python" ]; then
    echo "error: neither CPython $wanted nor 3.9 was found" >&2
    exit 1
fi
version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
venv=".venv/sanitize-py$version"

echo "=== Building brindle_core with ASan and UBSan for CPython $version"
# GCC's -Wmaybe-uninitialized misfires on sanitizer-instrumented code, and the
# build treats warnings as errors. RelWithDebInfo gives reports source positions.
BRINDLE_BUILD_SUFFIX=-sanitize \
    BRINDLE_CMAKE_DEFINES="-Ccmake.define.BRINDLE_SANITIZE=ON -Ccmake.define.CMAKE_BUILD_TYPE=RelWithDebInfo -Ccmake.define.CMAKE_CXX_FLAGS=-Wno-maybe-uninitialized" \
    tools/build_venv.sh "$python" "$venv" tests/requirements.txt

reports="$top/build/sanitize"
rm -rf "$reports"
mkdir -p "$reports"

libasan=$(g++ -print-file-name=libasan.so)
libstdcxx=$(g++ -print-file-name=libstdc++.so)
for library in "$libasan" "$libstdcxx"; do
    if [ ! -e "$library" ]; then
        echo "error: $library not found (g++ with its sanitizer runtime is needed)" >&2
        exit 1
    fi
done

if [ $# -eq 0 ]; then
    # Instrumented frames are several times larger: a 50-level walk no longer fits
    # the small thread stack of that test (it raises RecursionError instead, as it
    # should), so that one case, which is about frame sizes, is left out here.
    # AddressSanitizer keeps freed blocks in quarantine and never hands one straight
    # back, so the case of a key taking a freed key's address cannot be set up.
    set -- tests/python \
        --deselect "tests/python/test_depth.py::test_deep_tree_on_a_small_stack[shallow]" \
        --deselect "tests/python/test_walks.py::test_key_freed_by_index_is_not_mistaken_for_a_new_key"
fi

echo "=== Running the tests under the sanitizers"
status=0
(
    # Room for deep schemas on the main thread despite the larger frames.
    ulimit -s 65536 2>/dev/null || true
    export LD_PRELOAD="$libasan $libstdcxx"
    export PYTHONMALLOC=malloc
    export ASAN_OPTIONS="detect_leaks=1:log_path=$reports/asan:strict_string_checks=1:check_initialization_order=1:detect_odr_violation=0"
    export LSAN_OPTIONS="exitcode=0"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan"
    # A report that ends the process (UBSan's halt_on_error) is written to standard
    # error when pytest runs tests: under pytest's own capture of file descriptor 2
    # it would be lost with the process. Capturing at the sys level leaves the
    # descriptor alone; it goes to a file for the scan below (with the module's
    # fault messages, which tests provoke by the dozen and are noise here).
    exec "$venv/bin/python" -m pytest -q -p no:cacheprovider --capture=sys "$@" \
        2>"$reports/stderr"
) || status=$?
if [ $status -ne 0 ]; then
    echo "=== The end of the test process's standard error"
    tail -n 40 "$reports/stderr"
fi

echo "=== Sanitizer reports"
"$python" - "$reports" <<'EOF' || status=1
import pathlib
import re
import sys

module_leaks, interpreter_leaks, errors = [], 0, []
for report in sorted(pathlib.Path(sys.argv[1]).iterdir()):
    text = report.read_text(errors="replace")
    for block in re.split(r"\n\s*\n", text):
        block = block.strip()
        if re.match(r"(Direct|Indirect) leak of", block):
            if "brindle_core" in block:
                module_leaks.append(f"{report.name}:\n{block}")
            else:
                interpreter_leaks += 1
        elif re.search(r"ERROR: AddressSanitizer|runtime error:|CHECK failed", block):
            errors.append(f"{report.name}:\n{block}")
for found in errors + module_leaks:
    print(found, end="\n\n")
print(f"{len(errors)} sanitizer errors, {len(module_leaks)} leaks in brindle_core, "
      f"{interpreter_leaks} leak records of the interpreter's own (not counted)")
sys.exit(1 if errors or module_leaks else 0)
EOF

echo "=== The C++ unit tests under AddressSanitizer and UBSan"
# The venv carries CMake from the package index, for machines without one of their own.
export PATH="$PATH:$top/$venv/bin"
cpp_build=build/cpp-sanitize
cmake -S . -B "$cpp_build" -DBRINDLE_PYTHON_MODULE=OFF -DBRINDLE_BUILD_TESTS=ON \
    -DBRINDLE_WERROR=ON -DBRINDLE_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS=-Wno-maybe-uninitialized >/dev/null
cmake --build "$cpp_build" -j 2
# The float renderer's reference vectors, without which its exact test would skip.
"$python" tests/cpp/make_f64_vectors.py "$cpp_build/f64_vectors.txt" --jobs 2
BRINDLE_F64_VECTORS="$cpp_build/f64_vectors.txt" \
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$cpp_build/tests/cpp/brindle_cpp_tests" --gtest_brief=1 || status=1

echo "=== The node-tree C++ tests under valgrind"
if command -v valgrind >/dev/null; then
    plain_build=build/cpp
    cmake -S . -B "$plain_build" -DBRINDLE_PYTHON_MODULE=OFF -DBRINDLE_BUILD_TESTS=ON \
        -DBRINDLE_WERROR=ON >/dev/null
    cmake --build "$plain_build" -j 2
    valgrind --quiet --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=all \
        "$plain_build/tests/cpp/brindle_cpp_tests" --gtest_filter='ValidatorNode.*' \
        --gtest_brief=1 || status=1
else
    echo "error: valgrind not found (Debian/Ubuntu: apt-get install valgrind)" >&2
    status=1
fi
exit $status
