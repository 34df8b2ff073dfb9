#!/usr/bin/env bash
# build_venv.sh PYTHON VENV [REQUIREMENTS...]
# Creates (or reuses) a virtual environment for PYTHON, installs the requirements
# files given and builds and installs brindle_core into it with pip. The CMake build
# directory is kept under build/ so that a rebuild only compiles what changed.
set -euo pipefail
python=$1
venv=$2
shift 2
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
if [ ! -x "$venv/bin/python" ]; then
    "$python" -m venv "$venv"
fi
pip=("$venv/bin/python" -m pip --disable-pip-version-check -q)
# Some machines point pip at extra local indexes that may be absent; that is noise.
exec 2> >(grep -v --line-buffered "is ignored: it is neither a file nor a directory" >&2)
stamp="$venv/.requirements"
wanted=$(cat pyproject.toml "$@" 2>/dev/null | sha1sum | cut -c1-16)
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$wanted" ]; then
    "${pip[@]}" install --upgrade pip >/dev/null
    "${pip[@]}" install "scikit-build-core>=0.10" "cmake>=3.21" ninja
    for requirements in "$@"; do "${pip[@]}" install -r "$requirements"; done
    echo "$wanted" >"$stamp"
fi
tag=$("$venv/bin/python" -c 'import sys; print("py%d.%d" % sys.version_info[:2])')
"${pip[@]}" install --no-build-isolation --no-deps --force-reinstall \
    -Cbuild-dir="build/$tag${BRINDLE_BUILD_SUFFIX:-}" \
    -Ccmake.define.BRINDLE_WERROR=ON \
    ${BRINDLE_CMAKE_DEFINES:-} \
    .
