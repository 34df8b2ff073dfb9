#!/usr/bin/env bash
# check_stubs.sh VENV...
# Checks the type stubs installed with brindle_core in each VENV (a virtual
# environment that tools/build_venv.sh made): mypy's stubtest compares them with the
# built module, mypy --strict checks the stubs themselves and the typed usage example
# tests/typing/usage.py (with no Any allowed), and the example then runs. Installs
# mypy into each VENV first. Ends with one line per VENV.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
if [ $# -eq 0 ]; then
    echo "usage: tools/check_stubs.sh VENV..." >&2
    exit 2
fi

check() {
    local venv python
    venv=$(cd "$1" && pwd) || return 1
    python=$venv/bin/python
    local stamp="$venv/.typing-requirements"
    local wanted
    wanted=$(sha1sum tests/typing/requirements.txt | cut -c1-16)
    if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$wanted" ]; then
        "$python" -m pip --disable-pip-version-check -q install -r tests/typing/requirements.txt \
            2> >(grep -v "is ignored: it is neither a file nor a directory" >&2) || return 1
        echo "$wanted" >"$stamp"
    fi
    local mypy=("$python" -m mypy --no-incremental --cache-dir=/dev/null)
    # From an empty directory, so that only the installed distribution can answer
    # for brindle_core: the stub package beside the module, as a user gets them.
    local scratch status=0
    scratch=$(mktemp -d)
    (cd "$scratch" && "$python" -m mypy.stubtest brindle_core) || status=1
    "${mypy[@]}" --strict brindle_core-stubs/__init__.pyi || status=1
    (cd "$scratch" && "${mypy[@]}" --strict --disallow-any-expr --warn-unreachable \
        "$top/tests/typing/usage.py") || status=1
    (cd "$scratch" && "$python" "$top/tests/typing/usage.py") || status=1
    rm -rf "$scratch"
    return $status
}

failed=0
lines=()
for venv in "$@"; do
    version=$("$venv/bin/python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
    echo "--- type stubs on CPython $version ($venv)"
    if check "$venv"; then
        lines+=("type stubs on CPython $version: ok")
    else
        lines+=("type stubs on CPython $version: FAILED")
        failed=1
    fi
done
printf '%s\n' "${lines[@]}"
exit $failed
