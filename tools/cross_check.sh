#!/usr/bin/env bash
# cross_check.sh [TARGET...]
# make cross-check: compiles every source of the module with zig's clang and libc++
# for platforms this machine does not run, with the project's warnings as errors:
# x86_64-macos, aarch64-macos, x86_64-windows-gnu and aarch64-linux-gnu (or the
# zig targets given). The Python headers are this machine's, of the oldest and the
# newest CPython found: the C API is the same on every platform, and pyconfig.h,
# the one platform-specific header, is Linux's (a real Windows or macOS build uses
# its own). On Linux, where linking needs no interpreter library, the module is
# linked too, with its export list (a macOS link would build zig's libc++ for it
# once more and prove little beyond). Then, in the Debian sid chroot where one can be
# had (tools/in_sid.sh), the module's sources once more with sid's GCC 16 against
# CPython 3.14's and 3.15's headers with Py_GIL_DISABLED defined, as a free-threaded
# (3.14t) build compiles them: no such interpreter can be installed here, so this
# shows only that the code builds for that ABI. Ends with one line per target.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(x86_64-macos aarch64-macos x86_64-windows-gnu aarch64-linux-gnu)
mapfile -t pythons < <(tools/find_pythons.sh)
if [ ${#pythons[@]} -eq 0 ]; then
    echo "error: no CPython from 3.9 to 3.13 was found" >&2
    exit 1
fi
headers=()
for line in "${pythons[0]}" "${pythons[-1]}"; do
    include=$("${line#* }" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')
    [[ " ${headers[*]} " == *" $include "* ]] || headers+=("$include")
done
# The flags of CMakeLists.txt's warning list and release build, and one more that
# only this check can use: on targets whose long is 32 bits (Windows), a 64-bit
# value that silently loses its top half is an error here.
flags=(-std=c++20 -O3 -DNDEBUG -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
       -Wcast-align -Wunused -Woverloaded-virtual -Wformat=2 -Werror -Isrc
       -Wshorten-64-to-32
       -fvisibility=hidden -fvisibility-inlines-hidden "-fmacro-prefix-map=$top/=")
# The pieces without Python.h (CMakeLists.txt's brindle_pure) compile once per
# target; the module's own sources once per header set.
mapfile -t pure < <(sed -n '/add_library(brindle_pure/,/)/p' CMakeLists.txt | grep -o 'src/[^ )]*\.cpp' | sort)
mapfile -t module < <(comm -23 <(find src -name '*.cpp' | sort) <(printf '%s\n' "${pure[@]}"))

summary=()
failed=0
for target in "${targets[@]}"; do
    bin=$(tools/zig_toolchain.sh "$target") || exit 1
    out="$top/build/cross/$target"
    rm -rf "$out"
    mkdir -p "$out"
    echo "=== $target: ${#pure[@]} pure sources, ${#module[@]} module sources x ${#headers[@]} header sets"
    jobs_file="$out/jobs"
    : >"$jobs_file"
    for source in "${pure[@]}"; do
        echo "$source pure -" >>"$jobs_file"
    done
    n=0
    for include in "${headers[@]}"; do
        n=$((n + 1))
        for source in "${module[@]}"; do echo "$source h$n $include" >>"$jobs_file"; done
    done
    # The headers' pyconfig.h is Linux's: on Windows, 3.9's pyport.h would include
    # <sys/select.h>, which MinGW lacks, and the sizes it states are not Windows's
    # (a long and a wchar_t are half as wide there). pyconfig.h is read first, with
    # that one POSIX header switched off and the sizes set as Windows has them (its
    # include guard makes Python.h's read a no-op).
    shim=""
    if [[ $target == *-windows-* ]]; then
        shim="$out/pyconfig-windows.h"
        printf '%s\n' '#include <pyconfig.h>' '#undef HAVE_SYS_SELECT_H' \
            '#undef SIZEOF_LONG' '#define SIZEOF_LONG 4' \
            '#undef SIZEOF_WCHAR_T' '#define SIZEOF_WCHAR_T 2' >"$shim"
    fi
    export bin out shim
    export flags_text="${flags[*]}"
    status=0
    # Two at a time: the machine is shared.
    xargs -P 2 -L 1 bash -c '
        source=$0 set=$1 include=$2
        object="$out/$set/${source//\//_}.o"
        mkdir -p "$out/$set"
        extra=()
        [ "$include" != - ] && extra=(-isystem "$include")
        [ -n "$shim" ] && [ "$include" != - ] && extra+=(-include "$shim")
        if ! "$bin/c++" $flags_text "${extra[@]}" -c "$source" -o "$object" >"$object.log" 2>&1; then
            echo "FAILED: $source ($set)"; cat "$object.log"; exit 255
        fi
        echo "ok: $source ($set)"' <"$jobs_file" || status=1
    linked="compiled"
    if [ $status -eq 0 ]; then
        case "$target" in
            *-linux-*) link=(-shared "-Wl,--version-script=$top/src/module.map") ;;
            *) link=() ;;
        esac
        if [ ${#link[@]} -gt 0 ]; then
            for set_dir in "$out"/h*; do
                if "$bin/c++" "${link[@]}" "$set_dir"/*.o "$out"/pure/*.o \
                        -o "$set_dir/brindle_core.so" >"$set_dir/link.log" 2>&1; then
                    linked="compiled and linked"
                else
                    cat "$set_dir/link.log"
                    status=1
                fi
            done
        fi
    fi
    if [ $status -eq 0 ]; then
        summary+=("$target: ok ($linked; -Werror; Python headers $(printf '%s\n' "${headers[@]}" | sed 's|.*/python||' | paste -sd, | sed 's/,/, /g'))")
    else
        summary+=("$target: FAILED")
        failed=1
    fi
done
echo "=== free-threaded ABI (Py_GIL_DISABLED), GCC 16 in the sid chroot"
script='status=0
for version in 3.14 3.15; do
    for source in '"${module[*]}"'; do
        g++ ${flags_text} -isystem /usr/include/python$version -DPy_GIL_DISABLED=1 \
            -c $source -o /dev/null || { echo "FAILED: $source ($version)"; status=1; }
    done
done
exit $status'
flags_text="${flags[*]}"
flags_text=${flags_text//-Wshorten-64-to-32/}  # clang's only
tools/in_sid.sh amd64 "flags_text='$flags_text'; $script"
case $? in
    0) summary+=("free-threaded ABI (Py_GIL_DISABLED, CPython 3.14 and 3.15 headers, GCC 16): ok (compiled; -Werror)") ;;
    3) summary+=("free-threaded ABI: not checked (no Debian sid chroot here)") ;;
    *) summary+=("free-threaded ABI (Py_GIL_DISABLED): FAILED"); failed=1 ;;
esac
echo
echo "=== Summary"
printf '%s\n' "${summary[@]}"
exit $failed
