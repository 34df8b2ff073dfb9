#!/usr/bin/env bash
# check_dist.sh [PYTHON]
# Builds the distributions as a release would and checks them:
#   1. `python -m build`: the sdist, then the wheel from the unpacked sdist, each in
#      an isolated build environment; `twine check --strict` on both;
#   2. their contents and metadata (tools/dist_contents.py);
#   3. the wheel installed into a fresh virtual environment, and the sdist into
#      another (pip builds it again from scratch), each followed by a smoke test
#      run from outside the source tree: the typed usage example
#      tests/typing/usage.py, and the stubs found where type checkers look.
# PYTHON defaults to the oldest CPython that tools/find_pythons.sh finds. The
# distributions are left in dist/; the environments are under build/dist-check/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
python=${1:-$(tools/find_pythons.sh | sed -n '1s/^[^ ]* //p')}
if [ -z "$python" ]; then
    echo "error: no CPython from 3.9 to 3.13 was found" >&2
    exit 1
fi
# Some machines point pip at extra local indexes that may be absent; that is noise.
exec 2> >(grep -v --line-buffered "is ignored: it is neither a file nor a directory" >&2)
work="$top/build/dist-check"
rm -rf "$work"
mkdir -p "$work" dist
rm -f dist/brindle_core-*
start=$(date +%s)
step() { echo "=== $*"; }

step "build tools ($("$python" --version))"
"$python" -m venv "$work/tools"
tools_python="$work/tools/bin/python"
"$tools_python" -m pip --disable-pip-version-check -q install build twine

step "python -m build"
"$tools_python" -m build --outdir dist . >"$work/build.log" 2>&1 || {
    tail -n 40 "$work/build.log" >&2
    echo "check_dist: FAILED (python -m build; log in $work/build.log)" >&2
    exit 1
}
sdist=$(ls dist/brindle_core-*.tar.gz)
wheel=$(ls dist/brindle_core-*.whl)
echo "$sdist"
echo "$wheel"

step "twine check"
"$tools_python" -m twine check --strict "$sdist" "$wheel"

step "contents and metadata"
"$tools_python" tools/dist_contents.py "$sdist" "$wheel"

smoke() {  # smoke VENV
    local venv=$1 scratch
    scratch=$(mktemp -d)
    (
        cd "$scratch"
        "$venv/bin/python" - <<'PY'
import importlib.util
import pathlib
import sys

import brindle_core

module = pathlib.Path(brindle_core.__file__).resolve()
site = pathlib.Path(sys.prefix).resolve()
assert site in module.parents, f"brindle_core came from {module}, not from {site}"
stub = module.parent / "brindle_core-stubs" / "__init__.pyi"
assert stub.is_file(), f"no stubs at {stub}"
assert "class NativeValidator" in stub.read_text()
print(f"installed: {module.name}, {stub.parent.name}/{stub.name}")
PY
        "$venv/bin/python" "$top/tests/typing/usage.py"
    )
    local status=$?
    rm -rf "$scratch"
    return $status
}

step "install the wheel into a fresh environment"
"$python" -m venv "$work/from-wheel"
"$work/from-wheel/bin/python" -m pip --disable-pip-version-check -q install "$wheel"
smoke "$work/from-wheel"

step "install the sdist into a fresh environment (built from scratch)"
"$python" -m venv "$work/from-sdist"
"$work/from-sdist/bin/python" -m pip --disable-pip-version-check -q install --no-cache-dir "$sdist"
smoke "$work/from-sdist"

echo "check_dist: PASSED ($(basename "$sdist"), $(basename "$wheel"); $(( $(date +%s) - start ))s)"
