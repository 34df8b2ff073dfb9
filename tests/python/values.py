"""Values that test the edges of how the native core reads data: subclasses of the
built-in types and objects that are integers only through __index__."""


class IntSub(int):
    pass


class FloatSub(float):
    pass


class StrSub(str):
    pass


class ListSub(list):
    pass


class DictSub(dict):
    pass


class Index:
    """An integer only through __index__. Given an exception instance, __index__
    raises it; given an exception class, a fresh instance each time (a reused
    instance piles up tracebacks, which keeps frames and their locals alive)."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        raised = self.value
        if isinstance(raised, BaseException) or (
                isinstance(raised, type) and issubclass(raised, BaseException)):
            raise raised
        return raised

    def __repr__(self):
        return f"Index({self.value!r})"
