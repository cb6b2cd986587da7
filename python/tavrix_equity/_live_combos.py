"""A range's combos as arrays, and the ones still live beside known cards."""

from __future__ import annotations

from functools import lru_cache

import numpy as np
import numpy.typing as npt

from tavrix_equity.ranges import Range

__all__ = ["as_range", "combo_arrays", "live_combos", "card_mask_of"]


def as_range(value: Range | str, what: str) -> Range:
    """A Range from a Range or range text ("QQ+,AKs", "AsKs", "random")."""
    if isinstance(value, Range):
        return value
    if isinstance(value, str):
        return Range(value)
    raise TypeError(f"{what} must be a Range or range text, not {type(value).__name__}")


@lru_cache(maxsize=64)
def combo_arrays(r: Range) -> tuple[npt.NDArray[np.uint8], npt.NDArray[np.float64], npt.NDArray[np.uint64]]:
    """The range's combos ((n, 2) uint8, in Range.combos order), weights and card bit masks."""
    combos = np.array([c for c, _ in r.combos], dtype=np.uint8).reshape(-1, 2)
    weights = np.array([w for _, w in r.combos], dtype=np.float64)
    masks = (np.uint64(1) << combos[:, 0].astype(np.uint64)) | (np.uint64(1) << combos[:, 1].astype(np.uint64))
    for array in (combos, weights, masks):
        array.flags.writeable = False
    return combos, weights, masks


def card_mask_of(cards: tuple[int, ...]) -> int:
    return sum(1 << c for c in cards)


def live_combos(r: Range, known: int) -> tuple[npt.NDArray[np.uint8], npt.NDArray[np.float64]]:
    """The combos (and weights) that share no card with the bit mask `known`."""
    combos, weights, masks = combo_arrays(r)
    live = (masks & np.uint64(known)) == 0
    return combos[live], weights[live]
