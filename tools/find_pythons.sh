#!/usr/bin/env bash
# Prints "<version> <path>" for each CPython from 3.9 to 3.15 found on this machine:
# pyenv's versions first (highest patch release), then pythonX.Y on PATH.
set -u
roots=()
if command -v pyenv >/dev/null 2>&1; then roots+=("$(pyenv root)"); fi
roots+=("${PYENV_ROOT:-$HOME/.pyenv}")
for minor in 9 10 11 12 13 14 15; do
    version="3.$minor"
    found=""
    for root in "${roots[@]}"; do
        [ -d "$root/versions" ] || continue
        candidate=$(ls -d "$root"/versions/"$version".*/bin/python"$version" 2>/dev/null \
            | grep -E "/versions/$version\.[0-9]+/" | sort -V | tail -n 1)
        if [ -n "$candidate" ] && [ -x "$candidate" ]; then found="$candidate"; break; fi
    done
    if [ -z "$found" ] && command -v "python$version" >/dev/null 2>&1; then
        found=$(command -v "python$version")
        # pyenv shims answer for versions they don't have; ask the interpreter itself.
        "$found" -c 'import sys' >/dev/null 2>&1 || found=""
    fi
    [ -n "$found" ] && echo "$version $found"
done
exit 0
