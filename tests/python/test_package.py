"""The installed package as its users meet it: the stubs beside the module, metadata
that admits this interpreter, and documentation whose examples still hold."""

import doctest
import sys
from importlib import metadata
from pathlib import Path

import pytest

import brindle_core
import schemalib

ROOT = Path(__file__).resolve().parents[2]


def test_stubs_are_installed_beside_the_module():
    """Type checkers find a stub-only package only as a sibling of the module in the
    same site-packages directory, and only when the distribution installed it."""
    recorded = {str(path) for path in metadata.files("brindle_core")}
    assert "brindle_core-stubs/__init__.pyi" in recorded
    stub = Path(brindle_core.__file__).parent / "brindle_core-stubs" / "__init__.pyi"
    assert stub.is_file()


def test_metadata_admits_this_interpreter():
    meta = metadata.metadata("brindle_core")
    assert meta["Requires-Python"] == ">=3.9"
    version = "%d.%d" % sys.version_info[:2]
    assert f"Programming Language :: Python :: {version}" in meta.get_all("Classifier")


@pytest.mark.parametrize("page", ["README.md", "docs/reference.md"])
def test_documented_examples(page):
    """Every >>> example in the page gives the output the page shows."""
    names = {name: getattr(schemalib, name) for name in schemalib.__all__}
    names.update(brindle_core=brindle_core, compile_schema=brindle_core.compile_schema,
                 NativeValidator=brindle_core.NativeValidator)
    text = (ROOT / page).read_text(encoding="utf-8")
    test = doctest.DocTestParser().get_doctest(text, names, page, str(ROOT / page), 0)
    assert test.examples, f"{page} has no examples"
    report = []
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(test, out=report.append)
    assert runner.failures == 0, "".join(report)
