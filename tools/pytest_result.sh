#!/usr/bin/env bash
# pytest_result.sh LOG
# Prints pytest's closing count in LOG ("693 passed in 56.26s"), or nothing.
grep -E '^(=+ )?[0-9]+ (passed|failed|error)' "$1" 2>/dev/null | tail -n 1 | sed 's/=//g; s/^ *//; s/ *$//'
