#!/usr/bin/env bash
# sid_suites.sh VERSION...
# The Python suite (the out-of-memory sweep included) and the type stub checks on
# each CPython VERSION (3.14, 3.15) from Debian sid, in its chroot (tools/in_sid.sh),
# built there with sid's compiler (GCC 16) and warnings as errors. Prints one summary
# line per interpreter and one for the stubs, as make test's own lines; where no
# chroot can be had here, one line saying what was skipped and why. Exits 1 when a
# suite or a stub check failed, 0 otherwise (a skip is not a failure, unless
# BRINDLE_REQUIRE_SID=1, as CI sets it).
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
versions=("$@")
[ ${#versions[@]} -gt 0 ] || versions=(3.14 3.15)

reason=$(tools/sid_chroot.sh amd64 2>&1 >/dev/null)
status=$?
if [ $status -eq 3 ]; then
    echo "CPython ${versions[*]}: skipped: ${reason##*$'\n'}"
    [ "${BRINDLE_REQUIRE_SID:-0}" = 1 ] && exit 1
    exit 0
elif [ $status -ne 0 ]; then
    echo "$reason" | tail -n 20
    echo "CPython ${versions[*]}: FAILED (the sid chroot could not be made)"
    exit 1
fi
root=$(tools/sid_chroot.sh amd64)

# One command line for the chroot: each interpreter's venv, build and suite, then the
# stubs; each writes its log and a result file under build/sid/.
script='rm -rf build/sid && mkdir -p build/sid
for version in '"${versions[*]}"'; do
    venv=.venv/py$version
    if ! tools/build_venv.sh /usr/bin/python$version $venv tests/requirements.txt \
            >build/sid/build-$version.log 2>&1; then
        echo "BUILD FAILED" >build/sid/result-$version; continue
    fi
    $venv/bin/python -m pytest -q -p no:cacheprovider tests/python >build/sid/pytest-$version.log 2>&1
    echo $? >build/sid/status-$version
done
venvs=""
for version in '"${versions[*]}"'; do [ -f build/sid/status-$version ] && venvs="$venvs .venv/py$version"; done
if [ -n "$venvs" ]; then tools/check_stubs.sh $venvs >build/sid/stubs.log 2>&1; echo $? >build/sid/stubs-status; fi
true'
tools/in_sid.sh amd64 "$script"
logs="$root/work/brindle_core/build/sid"

failed=0
for version in "${versions[@]}"; do
    if [ -f "$logs/result-$version" ]; then
        tail -n 30 "$logs/build-$version.log"
        echo "CPython $version (Debian sid, GCC 16): BUILD FAILED"
        failed=1
        continue
    fi
    result=$(tools/pytest_result.sh "$logs/pytest-$version.log")
    if [ "$(cat "$logs/status-$version" 2>/dev/null)" = 0 ]; then
        echo "CPython $version (Debian sid, GCC 16): ok ($result)"
    else
        grep -E '^(FAILED|ERROR) ' "$logs/pytest-$version.log" | head -n 20
        echo "CPython $version (Debian sid, GCC 16): FAILED ($result)"
        failed=1
    fi
done
if [ -f "$logs/stubs-status" ]; then
    if [ "$(cat "$logs/stubs-status")" = 0 ]; then
        echo "Type stubs (stubtest, mypy --strict) on CPython ${versions[*]}: ok"
    else
        tail -n 30 "$logs/stubs.log"
        echo "Type stubs (stubtest, mypy --strict) on CPython ${versions[*]}: FAILED"
        failed=1
    fi
fi
exit $failed
