"""Stopping a long call from another thread: a threading.Event passed as `cancel=`.

Ctrl-C reaches only the main thread; a call running elsewhere stops when its
event is set, within about half a second, with concurrent.futures.CancelledError.
The engine reads the event while it polls for Ctrl-C; Python loops around the
engine (charts, the matrix) check it between steps.
"""

from __future__ import annotations

import concurrent.futures
import threading

__all__ = ["checked_cancel", "raise_if_cancelled", "CANCELLED_MESSAGE"]

CANCELLED_MESSAGE = "cancelled: the cancel event was set"


def checked_cancel(cancel: threading.Event | None) -> threading.Event | None:
    """cancel itself when it is None or an unset event (an object with is_set(),
    such as a threading.Event); TypeError for anything else, and
    CancelledError when the event is already set."""
    if cancel is not None and not callable(getattr(cancel, "is_set", None)):
        raise TypeError(f"cancel must be a threading.Event or None, not {type(cancel).__name__}")
    raise_if_cancelled(cancel)
    return cancel


def raise_if_cancelled(cancel: threading.Event | None) -> None:
    """Raises concurrent.futures.CancelledError when cancel is set."""
    if cancel is not None and cancel.is_set():
        raise concurrent.futures.CancelledError(CANCELLED_MESSAGE)
