#!/usr/bin/env bash
# compilers.sh [NAME...]
# make compilers: builds with each supported compiler, warnings as errors, and runs
# the C++ unit tests and the Python suite on CPython 3.9 against that build:
#   gcc-12    Debian's default GCC (g++), libstdc++
#   gcc-11    Debian's g++-11, libstdc++
#   clang-16  Debian's clang++-16, libstdc++
#   zig       zig's clang (from the `ziglang` package) with its libc++, for glibc 2.17
#   gcc-16    Debian sid's GCC 16, in the sid chroot (tools/in_sid.sh): the C++ unit
#             tests, and the Python suite on sid's CPython 3.14 instead of 3.9
# Installs the Debian compilers and GoogleTest when they are missing (as root with
# apt-get); zig's build of the C++ tests builds GoogleTest from Debian's sources,
# because the installed one is built for libstdc++. Each compiler gets its own
# build directories (build/compilers/NAME) and venv (.venv/compilers-NAME).
# Ends with one line per compiler.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(gcc-12 gcc-11 clang-16 zig gcc-16)

python=$(tools/find_pythons.sh | awk '$1 == "3.9" { print $2 }')
if [ -z "$python" ]; then
    echo "error: CPython 3.9 was not found" >&2
    exit 1
fi

missing=()
for name in "${names[@]}"; do
    case "$name" in
        gcc-12) command -v g++ >/dev/null || missing+=(g++) ;;
        gcc-11) command -v g++-11 >/dev/null || missing+=(g++-11) ;;
        clang-16) command -v clang++-16 >/dev/null || missing+=(clang-16) ;;
    esac
done
# libgtest-dev brings the sources (Debian's googletest) with it.
[ -d /usr/src/googletest/googletest ] || missing+=(libgtest-dev)
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
        echo "error: missing ${missing[*]}: install them (Debian: apt-get install ${missing[*]})" >&2
        exit 1
    fi
    echo "=== installing ${missing[*]}"
    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" || exit 1
fi

# GCC 16 is sid's own compiler: everything runs in the chroot, whose logs come back.
sid_gcc16() {
    local script root logs
    script='mkdir -p build/compilers
g++ --version | head -n 1 >build/compilers/gcc-16-version
PYTHON=python3.14 BRINDLE_CPP_BUILD_DIR=$PWD/build/compilers/gcc-16/cpp tools/run_cpp_tests.sh \
    >build/compilers/gcc-16-cpp.log 2>&1; echo $? >build/compilers/gcc-16-cpp.status
if BRINDLE_BUILD_SUFFIX=-gcc-16 tools/build_venv.sh /usr/bin/python3.14 .venv/compilers-gcc-16 \
        tests/requirements.txt >build/compilers/gcc-16-build.log 2>&1; then
    .venv/compilers-gcc-16/bin/python -m pytest -q -p no:cacheprovider tests/python \
        >build/compilers/gcc-16-pytest.log 2>&1; echo $? >build/compilers/gcc-16-pytest.status
else
    echo build >build/compilers/gcc-16-pytest.status
fi
true'
    if ! tools/in_sid.sh amd64 "$script"; then
        summary+=("gcc-16: not run (no Debian sid chroot here)")
        return
    fi
    root=$(tools/sid_chroot.sh amd64)
    logs="$root/work/brindle_core/build/compilers"
    local version cpp py result
    version=$(cat "$logs/gcc-16-version")
    cpp="failed"
    if [ "$(cat "$logs/gcc-16-cpp.status")" = 0 ]; then
        cpp="ok ($(grep -oE 'out of [0-9]+' "$logs/gcc-16-cpp.log" | tail -n 1 | sed 's/out of //') passed)"
    else
        tail -n 30 "$logs/gcc-16-cpp.log"
        failed=1
    fi
    result=$(tools/pytest_result.sh "$logs/gcc-16-pytest.log")
    case "$(cat "$logs/gcc-16-pytest.status")" in
        0) py="ok ($result)" ;;
        build) py="BUILD FAILED"; tail -n 30 "$logs/gcc-16-build.log"; failed=1 ;;
        *) py="FAILED ($result)"; grep -E '^(FAILED|ERROR) ' "$logs/gcc-16-pytest.log" | head; failed=1 ;;
    esac
    summary+=("gcc-16 ($version): C++ unit tests $cpp; Python suite on 3.14 $py")
}

summary=()
failed=0
for name in "${names[@]}"; do
    if [ "$name" = gcc-16 ]; then
        echo "=== gcc-16 (Debian sid, in its chroot): C++ unit tests and the Python suite on 3.14"
        sid_gcc16
        continue
    fi
    cmake_args=""
    case "$name" in
        gcc-12) cc=gcc; cxx=g++ ;;
        gcc-11) cc=gcc-11; cxx=g++-11 ;;
        clang-16) cc=clang-16; cxx=clang++-16 ;;
        zig)
            bin=$(tools/zig_toolchain.sh x86_64-linux-gnu.2.17 x86_64) || exit 1
            cc="$bin/cc"; cxx="$bin/c++"
            cmake_args="-DCMAKE_AR=$bin/ar -DCMAKE_RANLIB=$bin/ranlib"
            ;;
        *) echo "error: unknown compiler $name (gcc-12, gcc-11, clang-16, zig, gcc-16)" >&2; exit 2 ;;
    esac
    version=$("$cxx" --version | head -n 1)
    echo "=== $name ($version): C++ unit tests"
    venv=".venv/compilers-$name"
    cpp="failed"
    gtest=""
    [ "$name" = zig ] && gtest="-DBRINDLE_GTEST_SOURCE=/usr/src/googletest"
    # CMake from the venv's package index copy where the machine has none.
    if [ ! -x "$venv/bin/cmake" ]; then
        "$python" -m venv "$venv" && "$venv/bin/python" -m pip --disable-pip-version-check -q \
            install "cmake>=3.21" ninja 2> >(grep -v "is ignored: it is neither" >&2)
    fi
    log="build/compilers/$name-cpp.log"
    mkdir -p build/compilers
    if PATH="$top/$venv/bin:$PATH" CC="$cc" CXX="$cxx" PYTHON="$python" \
        BRINDLE_CPP_BUILD_DIR="$top/build/compilers/$name/cpp" \
        BRINDLE_CPP_CMAKE_ARGS="$cmake_args $gtest" tools/run_cpp_tests.sh >"$log" 2>&1; then
        cpp="ok ($(grep -oE 'out of [0-9]+' "$log" | tail -n 1 | sed 's/out of //') passed)"
    else
        tail -n 30 "$log"
        failed=1
    fi
    echo "C++ unit tests: $cpp"

    echo "=== $name: the module for CPython 3.9 and the Python suite"
    py="BUILD FAILED"
    if CC="$cc" CXX="$cxx" CMAKE_ARGS="$cmake_args" BRINDLE_BUILD_SUFFIX="-$name" \
        tools/build_venv.sh "$python" "$venv" tests/requirements.txt; then
        log="build/compilers/$name-pytest.log"
        "$venv/bin/python" -m pytest -q -p no:cacheprovider tests/python 2>&1 | tee "$log"
        status=${PIPESTATUS[0]}
        result=$(tools/pytest_result.sh "$log")
        if [ "$status" -eq 0 ]; then py="ok ($result)"; else py="FAILED ($result)"; failed=1; fi
    else
        failed=1
    fi
    summary+=("$name ($version): C++ unit tests $cpp; Python suite on 3.9 $py")
done
echo
echo "=== Summary"
printf '%s\n' "${summary[@]}"
exit $failed
