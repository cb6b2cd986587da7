"""Canonical states of a hand and their indices, round by round.

A state of a round holds the hole cards and the board dealt so far; the cards
of a round form a set and rounds are kept apart. States that one permutation
of the suits maps onto each other are one canonical state. HandIndexer numbers
the canonical states of a round 0 .. size-1 (the numbering is described in the
README) and turns an index back into one representative state.
"""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any, Final

import numpy as np
import numpy.typing as npt

from tavrix_equity import _engine
from tavrix_equity.all_in import default_threads
from tavrix_equity.scoring import _integer_array

__all__ = ["HandIndexer", "ROUNDS"]

ROUNDS: Final = ("preflop", "flop", "turn", "river")
_ROUND_CARDS: Final = {"preflop": 2, "flop": 5, "turn": 6, "river": 7}
_ROUND_LAYOUT: Final = {
    "preflop": "2 hole cards",
    "flop": "2 hole cards and 3 flop cards",
    "turn": "2 hole cards, 3 flop cards and the turn",
    "river": "2 hole cards, 3 flop cards, the turn and the river",
}
# Below this many rows one thread is quicker than starting workers.
_ROWS_PER_THREAD: Final = 1 << 16


def _threads_for(rows: int) -> int:
    return max(1, min(default_threads(), rows // _ROWS_PER_THREAD))


class HandIndexer:
    """HandIndexer(round): canonical state indices of one round.

    `round` is "preflop", "flop", "turn" or "river"; states hold 2, 5, 6 or 7
    cards (hole cards first, then flop, turn and river). `size` is the number
    of canonical states: 169; 1,286,792; 55,190,538; 2,428,287,420.
    """

    __slots__ = ("_round", "_cards", "_size")

    def __init__(self, round: str) -> None:
        if not isinstance(round, str) or round not in _ROUND_CARDS:
            raise ValueError(f"unknown round {round!r}: use one of {', '.join(ROUNDS)}")
        self._round: str = round
        self._cards: int = _ROUND_CARDS[round]
        self._size: int = _engine.indexer_size(round)

    @property
    def round(self) -> str:
        """The round: "preflop", "flop", "turn" or "river"."""
        return self._round

    @property
    def cards(self) -> int:
        """Cards in a state of this round: 2, 5, 6 or 7."""
        return self._cards

    @property
    def size(self) -> int:
        """The number of canonical states of the round."""
        return self._size

    def __repr__(self) -> str:
        return f"HandIndexer({self._round!r}, size={self._size:,})"

    def __eq__(self, other: object) -> bool:
        return isinstance(other, HandIndexer) and other._round == self._round

    def __hash__(self) -> int:
        return hash((HandIndexer, self._round))

    def __setattr__(self, name: str, value: object) -> None:
        if hasattr(self, "_size"):
            raise AttributeError(f"HandIndexer is immutable: cannot set {name!r}")
        object.__setattr__(self, name, value)

    def index(self, cards: npt.ArrayLike) -> Any:
        """index(cards) -> uint64 array of shape (n,).

        `cards` is an (n, k) integer array of card indices 0 to 51, k the
        cards of a state of this round, hole cards first; the order of cards
        within a round does not matter. A single state of shape (k,) gives a
        uint64 scalar. A row with a card outside 0 to 51, a repeated card or
        the wrong number of cards is a ValueError naming the first such row.
        """
        try:
            array = _integer_array(cards, "cards")
        except ValueError:
            wrong = _first_wrong_width(cards, self._cards)
            if wrong is not None:
                raise ValueError(self._width_error(*wrong)) from None
            raise
        single = array.ndim == 1 and array.size > 0
        if single:
            array = array.reshape(1, -1)
        elif array.size == 0 and array.ndim < 2:
            array = array.reshape(0, self._cards)
        if array.ndim != 2:
            raise ValueError(f"cards must be a 2-D array of shape (n, {self._cards}), not shape {array.shape}")
        if array.shape[1] != self._cards:
            raise ValueError(self._width_error(0, array.shape[1]))
        if array.dtype == np.uint64 and array.size and int(array.max()) > np.iinfo(np.int64).max:
            row = int(np.argmax((array > np.iinfo(np.int64).max).any(axis=1)))
            raise ValueError(f"row {row}: card index {int(array[row].max())} is outside 0 to 51")
        threads = _threads_for(array.shape[0])
        if array.dtype == np.uint8:
            result = _engine.index_states(self._round, np.ascontiguousarray(array), threads)
        else:
            result = _engine.index_states(self._round, np.ascontiguousarray(array, dtype=np.int64), threads)
        return result[0] if single else result

    def unindex(self, indices: npt.ArrayLike) -> npt.NDArray[np.uint8]:
        """unindex(indices) -> uint8 array of shape (n, k).

        One representative state per index, hole cards first, each round's
        cards in increasing card index; index(unindex(i)) == i. A single
        index gives shape (k,). An index outside [0, size) is a ValueError.
        """
        array = _integer_array(indices, "indices")
        single = array.ndim == 0
        if single:
            array = array.reshape(1)
        if array.ndim != 1:
            raise ValueError(f"indices must be a 1-D array, not shape {array.shape}")
        if array.dtype.kind == "i" and array.size and int(array.min()) < 0:
            position = int(np.argmax(array < 0))
            raise ValueError(
                f"index {int(array[position])} at position {position} is outside [0, {self._size})"
            )
        result = _engine.unindex_states(
            self._round, np.ascontiguousarray(array, dtype=np.uint64), _threads_for(array.shape[0])
        )
        return result[0] if single else result

    def _width_error(self, row: int, width: int) -> str:
        return (
            f"row {row}: it holds {width} cards; a {self._round} state holds {self._cards} "
            f"({_ROUND_LAYOUT[self._round]})"
        )


def _first_wrong_width(cards: object, width: int) -> tuple[int, int] | None:
    """The first row of a nested sequence, and its length, that does not hold `width` cards."""
    if not isinstance(cards, Sequence):
        return None
    for row, cards_of_row in enumerate(cards):
        length = len(cards_of_row) if isinstance(cards_of_row, Sequence) else 1
        if length != width:
            return row, length
    return None
