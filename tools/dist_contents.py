"""dist_contents.py SDIST WHEEL: checks what brindle_core's two distributions hold
and what their metadata declare. Prints each problem; exits 1 when there is any."""

import email.parser
import re
import sys
import tarfile
import zipfile

VERSIONS = ["3.9", "3.10", "3.11", "3.12", "3.13"]
REQUIRED_METADATA = {
    "Metadata-Version": None,
    "Name": "brindle_core",
    "Summary": None,
    "Requires-Python": ">=3.9",
    "License-Expression": "MIT",
    "License-File": "LICENSE",
    "Keywords": None,
    "Description-Content-Type": "text/markdown",
}
SDIST_REQUIRED = [
    "PKG-INFO", "pyproject.toml", "CMakeLists.txt", "README.md", "LICENSE",
    "brindle_core-stubs/__init__.pyi", "src/lib.cpp", "tests/python/conftest.py",
    "tests/typing/usage.py", "examples/schemalib.py", "examples/demo.py",
    "docs/reference.md",
]
SDIST_FORBIDDEN = re.compile(
    r"(^|/)(\.venv|build|dist|\.git|bench|\.ci|\.hypothesis|\.pytest_cache|__pycache__)/"
    r"|\.so$|\.pyc$")

problems = []


def check_metadata(where, text):
    metadata = email.parser.Parser().parsestr(text)
    for field, wanted in REQUIRED_METADATA.items():
        value = metadata.get(field)
        if not value:
            problems.append(f"{where}: no {field}")
        elif wanted is not None and value != wanted:
            problems.append(f"{where}: {field} is {value!r}, not {wanted!r}")
    classifiers = set(metadata.get_all("Classifier") or [])
    for version in VERSIONS:
        if f"Programming Language :: Python :: {version}" not in classifiers:
            problems.append(f"{where}: no classifier for Python {version}")
    if "Typing :: Typed" not in classifiers:
        problems.append(f"{where}: no 'Typing :: Typed' classifier")
    if not metadata.get_payload().lstrip().startswith("# brindle_core"):
        problems.append(f"{where}: the long description is not the README")
    return metadata


def check_wheel(path):
    with zipfile.ZipFile(path) as archive:
        names = set(archive.namelist())
        info = next((name.split("/")[0] for name in names
                     if re.fullmatch(r"[^/]+\.dist-info/METADATA", name)), None)
        if info is None:
            problems.append(f"{path}: no .dist-info/METADATA")
            return
        modules = [name for name in names
                   if re.fullmatch(r"brindle_core\.cpython-\d+-[^/]+\.so", name)]
        if len(modules) != 1:
            problems.append(f"{path}: {len(modules)} extension modules at the top level")
        expected = set(modules) | {
            "brindle_core-stubs/__init__.pyi",
            f"{info}/METADATA", f"{info}/WHEEL", f"{info}/RECORD", f"{info}/licenses/LICENSE",
        }
        for name in sorted(expected - names):
            problems.append(f"{path}: missing {name}")
        for name in sorted(names - expected):
            problems.append(f"{path}: unexpected {name}")
        check_metadata(path, archive.read(f"{info}/METADATA").decode("utf-8"))
        wheel = email.parser.Parser().parsestr(archive.read(f"{info}/WHEEL").decode("utf-8"))
        if wheel.get("Root-Is-Purelib") != "false":
            problems.append(f"{path}: Root-Is-Purelib is not false")
        for tag in wheel.get_all("Tag") or []:
            if not re.fullmatch(r"cp3\d+-cp3\d+-linux_x86_64", tag):
                problems.append(f"{path}: unexpected tag {tag}")


def check_sdist(path):
    with tarfile.open(path) as archive:
        members = [member.name for member in archive.getmembers() if member.isfile()]
        tops = {name.split("/")[0] for name in members}
        if len(tops) != 1:
            problems.append(f"{path}: more than one top-level directory: {sorted(tops)}")
            return
        top = tops.pop()
        names = {name[len(top) + 1:] for name in members}
        for name in SDIST_REQUIRED:
            if name not in names:
                problems.append(f"{path}: missing {name}")
        for name in sorted(names):
            if SDIST_FORBIDDEN.search(name):
                problems.append(f"{path}: should not hold {name}")
        check_metadata(f"{path} PKG-INFO",
                       archive.extractfile(f"{top}/PKG-INFO").read().decode("utf-8"))
    print(f"{path}: {len(names)} files")


sdist_path, wheel_path = sys.argv[1:]
check_sdist(sdist_path)
check_wheel(wheel_path)
for problem in problems:
    print(problem)
if problems:
    sys.exit(1)
print("contents and metadata: ok")
