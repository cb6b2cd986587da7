"""Old call forms that keep working for one release, with a DeprecationWarning."""

from __future__ import annotations

import functools
import warnings
from collections.abc import Callable
from typing import ParamSpec, TypeVar

__all__ = ["keyword_renamed", "options_by_keyword"]

P = ParamSpec("P")
R = TypeVar("R")


def keyword_renamed(old: str, new: str) -> Callable[[Callable[P, R]], Callable[P, R]]:
    """Accepts the keyword `old` as the parameter `new`, with a DeprecationWarning."""

    def wrap(function: Callable[P, R]) -> Callable[P, R]:
        @functools.wraps(function)
        def call(*args: P.args, **kwargs: P.kwargs) -> R:
            if old in kwargs:
                if new in kwargs or args:
                    raise TypeError(f"{function.__name__}() got {old}= and {new} together: give {new} only")
                warnings.warn(f"{function.__name__}(): {old}= is deprecated, name it {new}=",
                              DeprecationWarning, stacklevel=2)
                kwargs[new] = kwargs.pop(old)
            return function(*args, **kwargs)

        return call

    return wrap


def options_by_keyword(positional: int, names: tuple[str, ...]) -> Callable[[Callable[P, R]], Callable[P, R]]:
    """Accepts `names` given positionally after the first `positional` arguments,
    as they used to be, with a DeprecationWarning."""

    def wrap(function: Callable[P, R]) -> Callable[P, R]:
        @functools.wraps(function)
        def call(*args: P.args, **kwargs: P.kwargs) -> R:
            extra = args[positional:]
            if extra:
                if len(extra) > len(names):
                    raise TypeError(f"{function.__name__}() takes at most {positional + len(names)} "
                                    f"positional arguments ({len(args)} given)")
                given = dict(zip(names, extra))
                repeated = sorted(set(given) & set(kwargs))
                if repeated:
                    raise TypeError(f"{function.__name__}() got multiple values for {', '.join(repeated)}")
                warnings.warn(f"{function.__name__}(): give {', '.join(given)} by keyword; the positional "
                              "form is deprecated", DeprecationWarning, stacklevel=2)
                kwargs.update(given)
                args = args[:positional]  # type: ignore[assignment]
            return function(*args, **kwargs)

        return call

    return wrap
