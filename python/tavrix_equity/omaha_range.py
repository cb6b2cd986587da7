"""Weighted lists of Omaha hands: OmahaRange."""

from __future__ import annotations

import math
from typing import Any

import numpy as np
import numpy.typing as npt

from tavrix_equity.cards import DECK_SIZE, format_cards, parse_cards

__all__ = ["OmahaRange"]

MIN_HOLE, MAX_HOLE = 4, 6
# Ranges longer than this are named by their size in results, not listed.
_NAMED_HANDS = 4


def _parse_items(text: str) -> tuple[list[tuple[int, ...]], list[float]]:
    hands: list[tuple[int, ...]] = []
    weights: list[float] = []
    for raw in text.split(","):
        item = raw.strip()
        body, colon, weight_text = item.partition(":")
        try:
            cards = parse_cards(body)
            weight = float(weight_text) if colon else 1.0
        except ValueError as error:
            raise ValueError(f"bad Omaha range item {item!r}: {error}") from None
        if not cards:
            raise ValueError(f"bad Omaha range item {item!r}: no cards")
        if not 0.0 <= weight <= 1.0:
            raise ValueError(f"bad Omaha range item {item!r}: the weight must be a number from 0 to 1")
        hands.append(cards)
        weights.append(weight)
    return hands, weights


def _hand_array(hands: object) -> npt.NDArray[np.int64]:
    array = np.asarray(hands)
    if array.dtype.kind not in "iu" and not (array.size == 0 and array.dtype.kind == "f"):
        raise TypeError(f"Omaha hands must be an (m, k) integer array of card indices, not {array.dtype}")
    if array.ndim != 2:
        raise ValueError(f"Omaha hands must be an (m, k) array, not shape {array.shape}")
    return array.astype(np.int64)


class OmahaRange:
    """OmahaRange(hands, weights=None): Omaha hands of one size, each with a weight.

    ``hands`` is an ``(m, k)`` integer array of card indices (k = 4, 5 or 6)
    with ``weights`` an optional array of m non-negative finite numbers
    (default 1), or text: comma-separated items, each a hand's cards with an
    optional weight from 0 to 1, such as ``"AsAhKsKh:0.5, QdQcJdTc"``. A hand
    given twice takes the later weight; hands of weight 0 are left out.

    ``hands`` (uint8, ``(m, k)``, each row's cards from high to low) and
    ``weights`` (float64) list the hands in the order first given;
    ``hole_cards`` is k. Immutable, hashable, equal when hands and weights are.
    Bad input raises ValueError naming the row or the item.
    """

    __slots__ = ("_hands", "_weights", "_hash")
    _hands: npt.NDArray[np.uint8]
    _weights: npt.NDArray[np.float64]
    _hash: int

    def __init__(self, hands: str | npt.ArrayLike, weights: npt.ArrayLike | None = None) -> None:
        if isinstance(hands, str):
            if not hands.strip():
                raise ValueError("an Omaha range given as text lists at least one hand")
            if weights is not None:
                raise TypeError("weights go in the text (AsAhKsKh:0.5), not in the weights argument")
            listed, given = _parse_items(hands)
            sizes = {len(cards) for cards in listed}
            if len(sizes) > 1:
                raise ValueError(f"every hand of an Omaha range holds the same number of cards, not {sorted(sizes)}")
            array = np.array(listed, dtype=np.int64).reshape(len(listed), sizes.pop())
            weight_array = np.array(given, dtype=np.float64)
        else:
            array = _hand_array(hands)
            weight_array = (np.ones(len(array)) if weights is None
                            else np.asarray(weights, dtype=np.float64).reshape(-1))
            if len(weight_array) != len(array):
                raise ValueError(f"{len(array)} hands but {len(weight_array)} weights")
            bad = ~(np.isfinite(weight_array) & (weight_array >= 0))
            if bad.any():
                row = int(np.argmax(bad))
                raise ValueError(f"row {row}: weight {weight_array[row]} is not a non-negative finite number")
        if not MIN_HOLE <= array.shape[1] <= MAX_HOLE:
            raise ValueError(f"an Omaha hand holds 4, 5 or 6 cards, not {array.shape[1]}")
        outside = (array < 0) | (array >= DECK_SIZE)
        if outside.any():
            row = int(np.argmax(outside.any(axis=1)))
            raise ValueError(f"row {row}: card index {int(array[row][outside[row]][0])} is outside 0 to 51")
        masks = np.bitwise_or.reduce(np.left_shift(np.uint64(1), array.astype(np.uint64)), axis=1)
        repeated = (np.diff(np.sort(array, axis=1), axis=1) == 0).any(axis=1)
        if repeated.any():
            row = int(np.argmax(repeated))
            raise ValueError(f"row {row}: a hand holds a card twice ({format_cards(array[row].tolist())})")
        # A hand given again takes the later weight and keeps its first place.
        _, first = np.unique(masks, return_index=True)
        _, last_from_end = np.unique(masks[::-1], return_index=True)
        last = len(masks) - 1 - last_from_end
        order = np.argsort(first, kind="stable")
        kept_rows, kept_weights = first[order], weight_array[last[order]]
        positive = kept_weights > 0
        canonical = -np.sort(-array[kept_rows[positive]], axis=1)
        self._set("_hands", np.ascontiguousarray(canonical, dtype=np.uint8))
        self._set("_weights", np.ascontiguousarray(kept_weights[positive]))
        self._hands.flags.writeable = False
        self._weights.flags.writeable = False
        self._set("_hash", hash((self._hands.tobytes(), self._weights.tobytes())))

    def _set(self, name: str, value: Any) -> None:
        object.__setattr__(self, name, value)

    @property
    def hands(self) -> npt.NDArray[np.uint8]:
        """The hands, ``(m, k)`` uint8, each row's cards from high to low (read-only)."""
        return self._hands

    @property
    def weights(self) -> npt.NDArray[np.float64]:
        """Each hand's weight, float64 (read-only)."""
        return self._weights

    @property
    def hole_cards(self) -> int:
        """The number of cards in each hand."""
        return int(self._hands.shape[1])

    def name(self) -> str:
        """The range as text when it is short, else its size."""
        if len(self) <= _NAMED_HANDS:
            return str(self)
        return f"{len(self)} Omaha hands"

    def __len__(self) -> int:
        return int(self._hands.shape[0])

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, OmahaRange):
            return NotImplemented
        return bool(np.array_equal(self._hands, other._hands) and np.array_equal(self._weights, other._weights))

    def __hash__(self) -> int:
        return self._hash

    def __str__(self) -> str:
        return ", ".join(
            format_cards(hand.tolist()) + ("" if weight == 1.0 else f":{weight!r}")
            for hand, weight in zip(self._hands, self._weights.tolist())
        )

    def __repr__(self) -> str:
        if len(self) <= _NAMED_HANDS:
            return f"OmahaRange({str(self)!r})"
        total = math.fsum(self._weights.tolist())
        return f"OmahaRange({len(self)} hands of {self.hole_cards} cards, total weight {total:g})"

    def __reduce__(self) -> tuple[type[OmahaRange], tuple[npt.NDArray[np.uint8], npt.NDArray[np.float64]]]:
        return (OmahaRange, (self._hands, self._weights))

    def __setattr__(self, name: str, value: object) -> None:
        raise AttributeError("OmahaRange objects are immutable")

    def __delattr__(self, name: str) -> None:
        raise AttributeError("OmahaRange objects are immutable")
