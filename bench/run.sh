#!/usr/bin/env bash
# make bench: builds brindle_core, its peers and the C++ floor module into .venv/bench
# (CPython 3.9, or the first CPython found), then runs bench/suite.py, which prints the
# tables and rewrites docs/benchmarks.md and docs/benchmarks.png.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
python=$(tools/find_pythons.sh | sed -n '1s/^[^ ]* //p')
if [ -z "$python" ]; then
    echo "error: no CPython from 3.9 to 3.13 was found" >&2
    exit 1
fi
venv=.venv/bench
echo "building brindle_core and the peers into $venv with $python" >&2
BRINDLE_BUILD_SUFFIX=-bench tools/build_venv.sh "$python" "$venv" bench/requirements.txt >/dev/null

# The floor module: one file, compiled like brindle_core (C++20, -O3) against the
# venv's interpreter and installed into its site-packages.
py="$venv/bin/python"
config() { "$py" -c "import sysconfig; print(sysconfig.$1)"; }
"${CXX:-g++}" -std=c++20 -O3 -DNDEBUG -Wall -Wextra -shared -fPIC \
    -I"$(config 'get_paths()["include"]')" bench/floor/floor.cpp \
    -o "$(config 'get_paths()["platlib"]')/brindle_floor$(config 'get_config_var("EXT_SUFFIX")')"

"$py" bench/suite.py
