"""Progress of long calls: a one-line bar on stderr, or the caller's own progress(done, total)."""

from __future__ import annotations

import sys
import time
from collections.abc import Callable
from typing import TextIO, Union

__all__ = ["Progress", "ProgressArg", "ProgressBar", "progress_reporter"]

Progress = Callable[[int, int], object]
ProgressArg = Union[bool, Progress, None]


class ProgressBar:
    """A one-line bar on stderr: units done, the rate of this run, the time left."""

    def __init__(self, label: str, unit: str, stream: TextIO | None = None) -> None:
        self._label = label
        self._unit = unit
        self._stream = sys.stderr if stream is None else stream
        self._start: tuple[float, int] | None = None

    def __call__(self, done: int, total: int) -> None:
        now = time.monotonic()
        if self._start is None:
            self._start = (now, done)
        started, recovered = self._start
        rate = (done - recovered) / (now - started) if now > started else 0.0
        left = f"{(total - done) / rate:6.0f} s left" if rate > 0 else " " * 13
        filled = 30 * done // total if total else 30
        self._stream.write(
            f"\r{self._label} [{'#' * filled}{'.' * (30 - filled)}] {done}/{total} {self._unit}  "
            f"{rate:5.2f} {self._unit}/s {left}"
        )
        self._stream.flush()

    def close(self) -> None:
        if self._start is not None:
            self._stream.write("\n")
            self._stream.flush()


def progress_reporter(progress: object, label: str, unit: str) -> tuple[Progress | None, ProgressBar | None]:
    """The callable to report to, and the bar to close at the end (when progress is True)."""
    if progress is None or progress is False:
        return None, None
    if progress is True:
        bar = ProgressBar(label, unit)
        return bar, bar
    if callable(progress):
        return progress, None
    raise TypeError("progress must be True, None or a callable progress(done, total)")
