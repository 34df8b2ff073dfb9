import pytest

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

