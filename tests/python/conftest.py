import os
from pathlib import Path

import pytest

import brindle_core
from brindle_core import compile_schema
from validators import growing_schema


@pytest.fixture(scope="session")
def panic_type():
    """The module's fault exception type. It is in no namespace: the only way to it
    is through a fault."""
    try:
        compile_schema(growing_schema())
    except BaseException as error:  # noqa: B036 - the fault exception is a BaseException
        return type(error)
    pytest.fail("a schema dict that grows while compiled did not fault")



def pytest_report_header(config):
    return f"brindle_core: {brindle_core.__file__}"


def pytest_configure(config):
    """With BRINDLE_EXPECT_MODULE_IN set, the run stops unless the module under test
    is the one installed there (a built wheel's, say), not one from a build tree."""
    expected = os.environ.get("BRINDLE_EXPECT_MODULE_IN")
    module = Path(brindle_core.__file__).resolve()
    if expected and not module.is_relative_to(Path(expected).resolve()):
        pytest.exit(f"brindle_core came from {module}, not from {expected}", returncode=4)
