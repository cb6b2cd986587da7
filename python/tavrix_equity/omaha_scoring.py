"""Scoring arrays of Omaha hands: the best high (and eight-or-better low) of
each row of hole cards on its board."""

from __future__ import annotations

from typing import Any

import numpy as np
import numpy.typing as npt

from tavrix_equity import _engine
from tavrix_equity.all_in import default_threads
from tavrix_equity.cards import positive_int
from tavrix_equity.scoring import _integer_array, _ragged_row

__all__ = ["score_omaha"]

MIN_HOLE, MAX_HOLE = 4, 6
BOARD_CARDS = 5
_INT64_MAX = np.iinfo(np.int64).max


def _holes(holes: npt.ArrayLike) -> npt.NDArray[np.integer[Any]]:
    try:
        array = _integer_array(holes, "holes")
    except ValueError:
        row = _ragged_row(holes)
        if row is not None:
            raise ValueError(f"row {row}: it holds a different number of hole cards from row 0") from None
        raise
    if array.ndim != 2:
        raise ValueError(f"holes must be a 2-D array of shape (n, 4|5|6), not shape {array.shape}")
    if not MIN_HOLE <= array.shape[1] <= MAX_HOLE:
        raise ValueError(f"an Omaha hand holds 4, 5 or 6 hole cards, not {array.shape[1]}")
    return array


def _boards(boards: npt.ArrayLike, rows: int) -> npt.NDArray[np.integer[Any]]:
    array = _integer_array(boards, "boards")
    if array.ndim == 1 and array.shape[0] == BOARD_CARDS:
        return array
    if array.ndim != 2 or array.shape[1] != BOARD_CARDS:
        raise ValueError(f"boards must have shape (n, 5) or be one board of 5 cards, not shape {array.shape}")
    if array.shape[0] != rows:
        raise ValueError(f"{rows} rows of hole cards but {array.shape[0]} boards")
    return array


def _first_huge_row(array: npt.NDArray[np.integer[Any]]) -> int | None:
    """The first row holding a uint64 too large for int64 (outside the deck either way)."""
    if array.dtype != np.uint64 or not array.size:
        return None
    huge = (array > _INT64_MAX).reshape(array.shape[0] if array.ndim == 2 else 1, -1).any(axis=1)
    return int(np.argmax(huge)) if huge.any() else None


def score_omaha(
    holes: npt.ArrayLike, boards: npt.ArrayLike, *, low: bool = False, threads: int | None = None
) -> npt.NDArray[np.uint16] | tuple[npt.NDArray[np.uint16], npt.NDArray[np.uint16]]:
    """score_omaha(holes, boards, *, low=False, threads=None) -> uint16 array, or (high, low).

    `holes` is an (n, 4|5|6) integer array of hole cards, `boards` an (n, 5)
    array or one board of 5 cards for every row. A row's high score is the
    best five-card tavrix score made of exactly two of its hole cards and
    exactly three board cards (larger is better; category and category_name
    apply). With low=True the result is (high, low): low is the best eight-or-
    better low made the same way, larger is better, and 0 means no qualifying
    low. A row whose cards repeat, whose hole cards and board share a card, or
    which holds a card outside 0 to 51, and a wrong shape, are a ValueError
    naming the first bad row. threads=None uses every core.
    """
    hole_array = _holes(holes)
    board_array = _boards(boards, hole_array.shape[0])
    thread_count = default_threads() if threads is None else positive_int(threads, "threads")
    for array in (hole_array, board_array):
        row = _first_huge_row(array)
        if row is not None:
            card = int(array.reshape(-1, array.shape[-1])[row].max())
            raise ValueError(f"row {row}: card index {card} is outside 0 to 51")
    # uint8 is read as it is (the compact form); everything else as int64.
    threads_used = min(thread_count, 1024)
    if hole_array.dtype == np.uint8 and board_array.dtype == np.uint8:
        return _engine.score_omaha_rows(
            np.ascontiguousarray(hole_array, dtype=np.uint8), np.ascontiguousarray(board_array, dtype=np.uint8),
            bool(low), threads_used)
    return _engine.score_omaha_rows(
        np.ascontiguousarray(hole_array, dtype=np.int64), np.ascontiguousarray(board_array, dtype=np.int64),
        bool(low), threads_used)
