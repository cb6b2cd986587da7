"""Hand strength of poker states against one uniformly random opponent.

A state is the hole cards and the board so far (2, 5, 6 or 7 cards). On a
complete board the river hand strength HS is the share of the 990 opponent
combos the hand beats, ties counting one half: the engine keeps it as the
integer 2 * beaten + tied over 1980, so every statistic below is a ratio of
exact integer sums, and a histogram bin is decided on those integers, not on
a rounded float. Over every completion of the board:

- "ehs": the mean HS (on the river, HS itself; earlier, the all-in equity
  against a random hand);
- "ehs2": the mean of HS squared;
- "hist": the share of completions whose HS falls in each of `bins` equal
  bins of [0, 1] (bin j from j/bins up to, not including, (j+1)/bins; HS = 1
  in the last bin).
"""

from __future__ import annotations

from collections.abc import Iterable
from typing import Any

import numpy as np
import numpy.typing as npt

from tavrix_equity import _engine
from tavrix_equity.all_in import default_threads
from tavrix_equity.cards import positive_int

__all__ = ["hand_strength", "STRENGTH_STATS"]

STRENGTH_STATS = ("ehs", "ehs2", "hist")
STATE_WIDTHS = (2, 5, 6, 7)
DECK_SIZE = 52

Sums = tuple[
    npt.NDArray[np.uint64], npt.NDArray[np.uint64] | None, npt.NDArray[np.uint64] | None, npt.NDArray[np.uint64]
]


def checked_stats(stats: str | Iterable[str]) -> tuple[str, ...]:
    """The statistics asked for, in the order given; ValueError names an unknown or repeated one."""
    names = (stats,) if isinstance(stats, str) else tuple(stats)
    if not names:
        raise ValueError(f"stats is empty: ask for one or more of {', '.join(STRENGTH_STATS)}")
    for name in names:
        if not isinstance(name, str) or name not in STRENGTH_STATS:
            raise ValueError(f"unknown statistic {name!r}: the statistics are {', '.join(STRENGTH_STATS)}")
        if names.count(name) > 1:
            raise ValueError(f"statistic {name!r} is asked for twice")
    return names


def state_array(cards: npt.ArrayLike, widths: tuple[int, ...] = STATE_WIDTHS) -> npt.NDArray[np.uint8]:
    """cards as a C-contiguous (n, k) uint8 array, k in widths, every row distinct cards 0 to 51.

    ValueError for the wrong shape or width, and for the first row holding a
    card outside 0 to 51 or a card twice; TypeError for values that are not integers.
    """
    try:
        array = np.asarray(cards)
    except (ValueError, OverflowError) as error:
        raise ValueError(f"cards must be a rectangular array of card indices: {error}") from None
    if array.dtype.kind not in "iu" and not (array.size == 0 and array.dtype.kind == "f"):
        if array.dtype.kind == "O":
            raise ValueError("cards must be a rectangular array of card indices")
        raise TypeError(f"cards must be integer card indices, not {array.dtype}")
    if array.ndim != 2:
        raise ValueError(f"cards must be a 2-D array of states, one per row, not shape {array.shape}")
    if array.shape[1] not in widths:
        allowed = ", ".join(map(str, widths))
        raise ValueError(f"states of a round have {allowed} cards (hole cards first, then the board), "
                         f"not {array.shape[1]}")
    if array.size == 0:
        return np.zeros(array.shape, dtype=np.uint8)
    wide = array.astype(np.int64) if array.dtype != np.uint64 else array
    outside = (wide < 0) | (wide >= DECK_SIZE) if array.dtype.kind == "i" else wide >= DECK_SIZE
    bad_rows = outside.any(axis=1)
    ordered = np.sort(np.where(outside, -1, wide), axis=1)
    repeated = ((ordered[:, 1:] == ordered[:, :-1]) & (ordered[:, 1:] >= 0)).any(axis=1)
    problem = bad_rows | repeated
    if problem.any():
        row = int(np.argmax(problem))
        if bad_rows[row]:
            card = int(array[row][outside[row]][0])
            raise ValueError(f"row {row}: card index {card} is outside 0 to 51")
        same = ordered[row][1:][ordered[row][1:] == ordered[row][:-1]][0]
        raise ValueError(f"row {row}: card index {int(same)} appears twice")
    return np.ascontiguousarray(array, dtype=np.uint8)


def strength_statistics(sums: Sums, stats: tuple[str, ...], dtype: Any = np.float64) -> dict[str, npt.NDArray[Any]]:
    """The statistics of the engine's integer sums, each one correctly rounded division."""
    total, square_total, counts, completions = sums
    units = float(_engine.STRENGTH_UNITS)
    whole = completions.astype(np.float64)
    result: dict[str, npt.NDArray[Any]] = {}
    for name in stats:
        if name == "ehs":
            result[name] = (total.astype(np.float64) / (units * whole)).astype(dtype, copy=False)
        elif name == "ehs2":
            assert square_total is not None
            result[name] = (square_total.astype(np.float64) / (units * units * whole)).astype(dtype, copy=False)
        else:
            assert counts is not None
            result[name] = (counts.astype(np.float64) / whole[:, None]).astype(dtype, copy=False)
    return result


def hand_strength(
    cards: npt.ArrayLike, *, stats: str | Iterable[str] = ("ehs",), bins: int = 50, threads: int | None = None,
) -> dict[str, npt.NDArray[np.float64]]:
    """hand_strength(cards, *, stats=("ehs",), bins=50, threads=None) -> dict of arrays.

    cards: an (n, k) integer array of states of one round, k = 2 (preflop), 5
    (flop), 6 (turn) or 7 (river): hole cards first, then the board. Every
    statistic is exact, over every completion of the board against one
    opponent holding any two of the cards left:

    - "ehs": float64 (n,), the mean river hand strength (HS: the share of
      opponent combos beaten, ties counting one half); on the river HS itself,
      earlier the all-in equity against a random hand;
    - "ehs2": float64 (n,), the mean of HS squared;
    - "hist": float64 (n, bins), the share of completions whose HS falls in
      each of `bins` equal-width bins of [0, 1] (bin j holds j/bins <= HS <
      (j+1)/bins, decided on the exact rational value; HS = 1 is in the last bin).

    Runs natively on `threads` threads (default: the cores) with the lock
    released; Ctrl-C stops it. Preflop states read their starting-hand class's
    counts over every board, computed once per process (about a second).
    A bad row (a card outside 0 to 51 or a card twice), a wrong width or an
    unknown statistic is a ValueError that names it.
    """
    names = checked_stats(stats)
    bin_count = positive_int(bins, "bins")
    thread_count = default_threads() if threads is None else positive_int(threads, "threads")
    states = state_array(cards)
    sums = _engine.state_strength(states, bin_count, "ehs2" in names, "hist" in names, thread_count)
    return strength_statistics(sums, names)
