import pytest

from brindle_core import NativeValidator, compile_schema

VALIDATOR = compile_schema({})

CALLABLES = [
    pytest.param(compile_schema, "compile_schema()", "schema", id="compile_schema"),
    pytest.param(VALIDATOR.validate, "NativeValidator.validate()", "data", id="validate"),
    pytest.param(VALIDATOR.collect, "NativeValidator.collect()", "data", id="collect"),
]

TOO_MANY = "{name} takes 1 positional arguments but {given} were given"
UNEXPECTED = "{name} got an unexpected keyword argument '{keyword}'"
MULTIPLE = "{name} got multiple values for argument '{parameter}'"
MISSING = "{name} missing 1 required positional argument: '{parameter}'"


def joined(*parts):
    """A str built at run time, so it is not the interned constant of the same text."""
    return "".join(parts)


class OddStr(str):
    """A keyword name that claims to equal nothing: matching must compare the text."""

    __hash__ = str.__hash__

    def __eq__(self, other):
        return False


# Each case: how to call (given the callable and its parameter name), the template of
# the message and, given the parameter name, what fills the template.
@pytest.mark.parametrize(("call", "template", "fill"), [
    pytest.param(lambda f, p: f(), MISSING, {}, id="nothing"),
    pytest.param(lambda f, p: f(1, 2), TOO_MANY, {"given": 2}, id="two-positional"),
    pytest.param(lambda f, p: f(1, 2, 3), TOO_MANY, {"given": 3}, id="three-positional"),
    pytest.param(lambda f, p: f(1, 2, **{p: 3}), TOO_MANY, {"given": 2},
                 id="too-many-before-multiple"),
    pytest.param(lambda f, p: f(1, 2, bogus=3), TOO_MANY, {"given": 2},
                 id="too-many-before-unexpected"),
    pytest.param(lambda f, p: f(bogus=1), UNEXPECTED, {"keyword": "bogus"}, id="unknown"),
    pytest.param(lambda f, p: f(1, bogus=1), UNEXPECTED, {"keyword": "bogus"},
                 id="positional-and-unknown"),
    pytest.param(lambda f, p: f(**{p: 1, "bogus": 2}), UNEXPECTED, {"keyword": "bogus"},
                 id="unknown-after-parameter"),
    pytest.param(lambda f, p: f(**{p.upper(): 1}), UNEXPECTED, {"keyword": str.upper},
                 id="case-differs"),
    pytest.param(lambda f, p: f(**{p[:-1]: 1}), UNEXPECTED, {"keyword": lambda p: p[:-1]},
                 id="prefix"),
    pytest.param(lambda f, p: f(**{p + "\0": 1}), UNEXPECTED, {"keyword": lambda p: p + "\0"},
                 id="embedded-nul"),
    # A name without a UTF-8 form is shown with U+FFFD for each byte of the surrogate.
    pytest.param(lambda f, p: f(**{"\ud800" + p: 1}), UNEXPECTED,
                 {"keyword": lambda p: "\ufffd\ufffd\ufffd" + p}, id="lone-surrogate"),
    pytest.param(lambda f, p: f(**{joined("bo", "gus"): 1}), UNEXPECTED, {"keyword": "bogus"},
                 id="unknown-built-at-run-time"),
    pytest.param(lambda f, p: f(1, **{p: 2}), MULTIPLE, {}, id="positional-and-keyword"),
    pytest.param(lambda f, p: f(1, **{joined(*p): 2}), MULTIPLE, {},
                 id="keyword-built-at-run-time"),
    pytest.param(lambda f, p: f(1, **{OddStr(p): 2}), MULTIPLE, {}, id="str-subclass-keyword"),
])
@pytest.mark.parametrize(("function", "name", "parameter"), CALLABLES)
def test_argument_errors(function, name, parameter, call, template, fill):
    slots = {key: value(parameter) if callable(value) else value for key, value in fill.items()}
    expected = template.format(name=name, parameter=parameter, **slots)
    with pytest.raises(TypeError) as info:
        call(function, parameter)
    assert type(info.value) is TypeError
    assert info.value.args == (expected,)


@pytest.mark.parametrize("call", [
    pytest.param(lambda s: compile_schema(s), id="positional"),
    pytest.param(lambda s: compile_schema(schema=s), id="keyword"),
    pytest.param(lambda s: compile_schema(**{joined("sch", "ema"): s}), id="keyword-built"),
    pytest.param(lambda s: compile_schema(**{OddStr("schema"): s}), id="str-subclass-keyword"),
])
def test_schema_binds_by_position_or_keyword(call):
    assert type(call({})) is NativeValidator
    assert call({1: None}) is None
    with pytest.raises(AttributeError, match="^'int' object has no attribute '_coerce'$"):
        call(5)
