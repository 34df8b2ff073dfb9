"""Values that test the edges of how the native core reads data: subclasses of the
built-in types and objects that are integers only through __index__."""


import os


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


# The small thread stack of the tests that exhaust one: 128 KiB, or the platform's
# minimum where that is larger. Less is no use: glibc on aarch64 allows no less, and
# from 3.14 on the interpreter itself loses memory at each RecursionError on a
# 64 KiB thread.
SMALL_STACK = max(128 * 1024, os.sysconf("SC_THREAD_STACK_MIN") if hasattr(os, "sysconf") else 0)


def levels_beyond(levels_at_64k):
    """Tree levels that exhaust SMALL_STACK as `levels_at_64k` exhaust 64 KiB."""
    return levels_at_64k * SMALL_STACK // (64 * 1024)
