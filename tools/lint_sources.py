#!/usr/bin/env python3
"""Rules of the sources that the compiler cannot check, each kept in one place:

- Dicts and lists are read only by the cursors (python/cursor.h), which own the
  question whether Python code has run, and by the quick checks (walk/quick.h),
  which run none. Anywhere else, reading a container's storage or size directly
  could take an unchecked step after Python code ran.
- Integers are read as 64 bits: PyLong_AsLong is 32 bits where a C long is
  (Windows).
- Outcomes are never made by a cast: every value of an outcome has a name.

Prints each breach as file:line and exits 1 when there is any.

    python tools/lint_sources.py [SOURCE_DIR]
"""

from __future__ import annotations

import re
import sys
from pathlib import Path

# The calls and fields that read a list's or a dict's storage or size.
RAW_CONTAINER_ACCESS = re.compile(
    r"\b(PyList_GET_ITEM|PyList_GetItem|PyList_GET_SIZE|PyList_Size|PyList_GetSlice"
    r"|PySequence_Fast_ITEMS|PySequence_Fast_GET_ITEM|PySequence_Fast_GET_SIZE"
    r"|PyDict_Next|PyDict_GetItem\w*|PyDict_GET_SIZE|PyDict_Size|PyDict_Items"
    r"|PyDict_Keys|PyDict_Values|ob_item)\b")
ALLOWED_RAW_ACCESS = {"python/cursor.h", "walk/quick.h"}

RULES = [
    ("PyLong_AsLong reads 32 bits where a C long has them; use PyLong_AsLongLong",
     re.compile(r"\bPyLong_AsLong\b"), set()),
    ("raw list or dict access outside the cursors and the quick checks",
     RAW_CONTAINER_ACCESS, ALLOWED_RAW_ACCESS),
    ("an outcome made by a cast: name it",
     re.compile(r"static_cast<\s*(WalkOutcome|Quick|IntRead)\s*>"), set()),
]


def code_of(line: str) -> str:
    """The line without its // comment (the rules are about code, not prose)."""
    return line.split("//", 1)[0]


def breaches(root: Path) -> list[str]:
    found = []
    for path in sorted(root.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        relative = path.relative_to(root).as_posix()
        for number, line in enumerate(path.read_text().splitlines(), start=1):
            code = code_of(line)
            for message, pattern, allowed in RULES:
                if relative not in allowed and pattern.search(code):
                    found.append(f"{root.name}/{relative}:{number}: {message}: {line.strip()}")
    return found


def main(arguments: list[str]) -> int:
    root = Path(arguments[0]) if arguments else Path(__file__).resolve().parent.parent / "src"
    found = breaches(root)
    for breach in found:
        print(breach)
    print(f"lint_sources: {len(found)} breach{'es' if len(found) != 1 else ''} in {root}")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
