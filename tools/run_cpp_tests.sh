#!/usr/bin/env bash
# Builds and runs the C++ unit tests (no Python module), with the reference vectors
# for render_f64 written first. Run from anywhere; builds into build/cpp, or into
# BRINDLE_CPP_BUILD_DIR with the extra CMake arguments BRINDLE_CPP_CMAKE_ARGS (the
# compiler comes from CXX, as CMake takes it).
#   PYTHON=python3.12 tools/run_cpp_tests.sh
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BRINDLE_CPP_BUILD_DIR:-$root/build/cpp}"
cd "$root"
start=$(date +%s)

have_gtest() {
    local probe
    probe="$(mktemp -d)"
    cat >"$probe/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.21)
project(probe LANGUAGES CXX)
find_package(GTest REQUIRED)
CMAKE
    local status=0
    cmake -S "$probe" -B "$probe/build" >/dev/null 2>&1 || status=$?
    rm -rf "$probe"
    return "$status"
}

if [[ ${BRINDLE_CPP_CMAKE_ARGS:-} != *BRINDLE_GTEST_SOURCE* ]] && ! have_gtest; then
    if [[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null; then
        echo "GoogleTest not found; installing libgtest-dev"
        apt-get update
        DEBIAN_FRONTEND=noninteractive apt-get install -y libgtest-dev
    else
        echo "error: CMake cannot find GoogleTest. Install it (Debian/Ubuntu:" \
             "'apt-get install libgtest-dev') or point CMAKE_PREFIX_PATH at it." >&2
        exit 1
    fi
fi

python="${PYTHON:-$(command -v python3 || true)}"
if [[ -z "$python" ]]; then
    echo "error: no python3 on PATH; set PYTHON to an interpreter" >&2
    exit 1
fi

cmake -S . -B "$build" -DBRINDLE_PYTHON_MODULE=OFF -DBRINDLE_BUILD_TESTS=ON \
    -DBRINDLE_WERROR=ON ${BRINDLE_CPP_CMAKE_ARGS:-}
cmake --build "$build" -j 2
"$python" tests/cpp/make_f64_vectors.py "$build/f64_vectors.txt" --jobs 2

status=0
ctest --test-dir "$build" -j 2 --output-on-failure --no-tests=error || status=$?
elapsed=$(( $(date +%s) - start ))
if [[ $status -eq 0 ]]; then
    echo "run_cpp_tests: PASSED (all C++ tests, ${elapsed}s)"
else
    echo "run_cpp_tests: FAILED (ctest exit $status, ${elapsed}s)"
fi
exit "$status"
