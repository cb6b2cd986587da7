"""Quoting the user's text in error messages.

A message quotes what the user wrote so that they can find it, but a pasted
file or a generated argument can be megabytes long: beyond a few dozen
characters only the start is quoted, with the length.
"""

from __future__ import annotations

__all__ = ["quoted"]

QUOTE_LIMIT = 40
_SHOWN = 32


def quoted(text: object) -> str:
    """`text` as a Python literal, cut to its start when it is long (any
    other value as its repr, cut the same way)."""
    if not isinstance(text, str):
        shown = repr(text)
        return shown if len(shown) <= QUOTE_LIMIT else shown[:_SHOWN] + "..."
    if len(text) <= QUOTE_LIMIT:
        return repr(text)
    return f"{text[:_SHOWN]!r}... ({len(text):,} characters)"
