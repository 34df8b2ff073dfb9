#!/usr/bin/env bash
# make bench: builds brindle_core, its peers and the C++ floor module into a virtual
# environment per interpreter, then runs bench/suite.py in each, which prints the tables;
# the first interpreter's run rewrites docs/benchmarks.md (with the other runs' tables)
# and docs/benchmarks.png.
#
# PYTHONS="3.9 3.13" names the CPython versions, the first one reported in full (by
# default: 3.9, or the first CPython found); BENCH_ALSO="3.13" adds versions to the default.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
found=$(tools/find_pythons.sh)
versions=${PYTHONS:-$(echo "$found" | sed -n '1s/ .*//p') ${BENCH_ALSO:-}}
read -r -a versions <<<"$versions"
if [ ${#versions[@]} -eq 0 ]; then
    echo "error: no CPython from 3.9 to 3.13 was found" >&2
    exit 1
fi

# Builds the environment for one version; prints its interpreter.
prepare() {
    local version=$1 python venv
    python=$(echo "$found" | awk -v v="$version" '$1 == v { print $2 }')
    if [ -z "$python" ]; then
        echo "error: CPython $version was not found" >&2
        return 1
    fi
    venv=.venv/bench
    [ "$version" = "${versions[0]}" ] || venv=.venv/bench-$version
    echo "building brindle_core and the peers into $venv with $python" >&2
    BRINDLE_BUILD_SUFFIX=-bench tools/build_venv.sh "$python" "$venv" bench/requirements.txt >/dev/null

    # The floor module: one file, compiled like brindle_core (C++20, -O3) against the
    # venv's interpreter and installed into its site-packages. Not with brindle_core's
    # -fno-plt: it cuts an instruction per call here too, yet made the floor's record
    # loops slower in time (43 to 51 us on 1,000 records), and the floor is the
    # fastest build of it we have.
    local py="$venv/bin/python"
    config() { "$py" -c "import sysconfig; print(sysconfig.$1)"; }
    "${CXX:-g++}" -std=c++20 -O3 -DNDEBUG -Wall -Wextra -Werror -shared -fPIC \
        -I"$(config 'get_paths()["include"]')" bench/floor/floor.cpp \
        -o "$(config 'get_paths()["platlib"]')/brindle_floor$(config 'get_config_var("EXT_SUFFIX")')"
    echo "$py"
}

primary=$(prepare "${versions[0]}")
saved=()
for version in "${versions[@]:1}"; do
    py=$(prepare "$version")
    mkdir -p build
    "$py" bench/suite.py --save "build/bench-$version.json"
    saved+=("build/bench-$version.json")
done
"$primary" bench/suite.py --also "${saved[@]}"
