"""Random deals for simulations, dealt natively: rows of distinct cards."""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

from tavrix_equity import _engine
from tavrix_equity.all_in import CardsLike, _mask, _seed, cards_of, default_threads
from tavrix_equity.cards import DECK_SIZE, _integer

__all__ = ["deal_cards"]

# Rows beyond this would not fit in memory anyway; the bound keeps n * k in range.
_MAX_ROWS = 1 << 40


def _count(value: object, what: str) -> int:
    number = _integer(value, what)
    if number < 0:
        raise ValueError(f"{what} must be at least 0, not {number}")
    return number


def deal_cards(n: int, k: int, *, seed: int | None = None, exclude: CardsLike = "") -> npt.NDArray[np.uint8]:
    """deal_cards(n, k, *, seed=None, exclude="") -> uint8 array of shape (n, k).

    Each row holds k distinct card indices (0 to 51) drawn uniformly at
    random, in random order, from the cards not in `exclude` (card text such
    as "AsKs" or card indices); rows are independent. The rows score directly
    with score_cards. A given seed (0 to 2**64 - 1) gives the same array on
    every machine whatever the number of cores; seed=None draws one.

    Raises ValueError for n below 0, k below 0 or above the cards left, and
    for bad or repeated excluded cards; TypeError for counts that are not
    integers.
    """
    rows, width = _count(n, "n"), _count(k, "k")
    excluded = cards_of(exclude, "exclude")
    left = DECK_SIZE - len(excluded)
    if width > left:
        raise ValueError(f"k is {width}, but only {left} cards are left to deal from")
    if rows >= _MAX_ROWS:
        raise ValueError(f"n {rows:,} is too large")
    return _engine.deal_rows(rows, width, _mask(excluded), _seed(seed), default_threads())
