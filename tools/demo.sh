#!/usr/bin/env bash
# Builds brindle_core into .venv/demo (CPython 3.9, or the oldest newer one found)
# and runs the example.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
found=$(tools/find_pythons.sh)
python=$(sed -n '1s/^[^ ]* //p' <<<"$found")
if [ -z "$python" ]; then
    echo "error: no CPython from 3.9 to 3.13 was found" >&2
    exit 1
fi
echo "building brindle_core into .venv/demo with $python"
tools/build_venv.sh "$python" .venv/demo >/dev/null
.venv/demo/bin/python examples/demo.py
