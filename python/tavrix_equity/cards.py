"""Card text: parsing and formatting cards, and naming score categories.

A card is an index 0 to 51, 4 * rank + suit, ranks from 2 (0) to ace (12),
suits c, d, h, s (0 to 3): the numbering of the `tavrix` module.
"""

from __future__ import annotations

import operator
import re
from collections.abc import Iterable
from typing import Any, SupportsIndex, cast, overload

import numpy as np
import numpy.typing as npt

from tavrix_equity._messages import quoted

__all__ = [
    "CARD_RANKS", "CARD_SUITS", "CATEGORY_NAMES",
    "parse_cards", "format_cards", "category", "category_name",
]

CARD_RANKS = "23456789TJQKA"
CARD_SUITS = "cdhs"
CATEGORY_NAMES = (
    "high card", "one pair", "two pair", "three of a kind", "straight",
    "flush", "full house", "four of a kind", "straight flush",
)
DECK_SIZE = 52
SCORE_LIMIT = len(CATEGORY_NAMES) << 12

_SEPARATORS = re.compile(r"[\s,]+")
# A card is a rank (one of CARD_RANKS or "10") and a suit; where that fails to
# match, the two characters from there (fewer at the end) are the unknown card.
# ASCII case folding only: Unicode folding would let the Kelvin sign pass for K
# and the long s for s.
# Compile with re.IGNORECASE | re.ASCII.
RANK_PATTERN = r"(10|[2-9tjqka])"
CARD_PATTERN = rf"{RANK_PATTERN}([cdhs])"
_CARD = re.compile(CARD_PATTERN, re.IGNORECASE | re.ASCII)


def rank_index(rank: str) -> int:
    """The index 0 (2) to 12 (A) of a rank matched by RANK_PATTERN."""
    return 8 if rank == "10" else CARD_RANKS.index(rank.upper())


def _card_index(rank: str, suit: str) -> int:
    return 4 * rank_index(rank) + CARD_SUITS.index(suit.lower())


def parse_cards(text: str) -> tuple[int, ...]:
    """parse_cards(text) -> tuple of card indices.

    Cards are a rank (23456789TJQKA in either case, or 10) then a suit (cdhs in
    either case), separated by nothing or by any mix of whitespace and commas:
    "AsKs", "As Ks" and "as, kd,10c" all parse. Blank text is no cards.
    Raises ValueError for an unknown card or a card given twice.
    """
    if not isinstance(text, str):
        raise TypeError(f"cards must be given as text, not {type(text).__name__}")
    cards: list[int] = []
    for piece in _SEPARATORS.split(text):
        position = 0
        while position < len(piece):
            match = _CARD.match(piece, position)
            if match is None:
                bad = piece[position:position + 2]
                raise ValueError(f"unknown card {bad!r} in {quoted(text)}")
            card = _card_index(match.group(1), match.group(2))
            if card in cards:
                raise ValueError(f"duplicate card {format_cards((card,))}")
            cards.append(card)
            position = match.end()
    return tuple(cards)


def _integer(value: object, what: str) -> int:
    """`value` as an int: TypeError unless it is an integer (bool is refused:
    True is no card and no count)."""
    if isinstance(value, bool) or not hasattr(value, "__index__"):
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}")
    return operator.index(cast(SupportsIndex, value))


def checked_int(value: object, what: str, low: int, high: int) -> int:
    """`value` as an int in [low, high): TypeError unless it is an integer
    (bool is refused: True is no card), ValueError outside the interval."""
    number = _integer(value, what)
    if not low <= number < high:
        raise ValueError(f"{what} {number} is outside {low} to {high - 1}")
    return number


def positive_int(value: object, what: str) -> int:
    """`value` as an int of at least 1 (a count): TypeError unless it is an
    integer, ValueError below 1."""
    number = _integer(value, what)
    if number < 1:
        raise ValueError(f"{what} must be at least 1, not {number}")
    return number


def _checked_card(card: object) -> int:
    return checked_int(card, "card index", 0, DECK_SIZE)


def format_cards(cards: Iterable[int]) -> str:
    """format_cards(cards) -> text such as "AsKs".

    Raises ValueError for an integer outside 0 to 51.
    """
    return "".join(CARD_RANKS[i >> 2] + CARD_SUITS[i & 3] for i in map(_checked_card, cards))


_NAMES = np.array(CATEGORY_NAMES)


def _score_array(scores: object) -> npt.NDArray[np.int64]:
    array = np.asarray(scores)
    if array.dtype == np.bool_ or array.dtype.kind not in "iu":
        if array.size == 0 and array.dtype.kind == "f":
            return array.astype(np.int64)
        raise TypeError(f"scores must be integers, not {array.dtype}")
    bad = (array < 0) | (array >= SCORE_LIMIT)
    if bad.any():
        position = tuple(int(i) for i in np.argwhere(bad)[0])
        where = f"position {position[0]}" if len(position) == 1 else f"position {position}"
        raise ValueError(f"score {int(array[position])} at {where} is outside 0 to {SCORE_LIMIT - 1}")
    return array.astype(np.int64)


def _is_scalar(score: object) -> bool:
    return isinstance(score, (int, np.integer)) or (hasattr(score, "__index__") and not hasattr(score, "__len__"))


@overload
def category(score: int) -> int: ...
@overload
def category(score: npt.ArrayLike) -> npt.NDArray[np.uint8]: ...
def category(score: Any) -> Any:
    """category(score) -> the score's category 0 to 8 (score >> 12).

    A single score gives an int; an array of scores (any integer dtype or a
    nested sequence) gives a uint8 array of the same shape. Raises
    ValueError unless 0 <= score < 36864 (naming the position in an array),
    TypeError for what is not an integer.
    """
    if _is_scalar(score):
        return checked_int(score, "score", 0, SCORE_LIMIT) >> 12
    return (_score_array(score) >> 12).astype(np.uint8)


@overload
def category_name(score: int) -> str: ...
@overload
def category_name(score: npt.ArrayLike) -> npt.NDArray[np.str_]: ...
def category_name(score: Any) -> Any:
    """category_name(score) -> the category's name, e.g. "full house".

    An array of scores gives a numpy array of names of the same shape.
    """
    if _is_scalar(score):
        return CATEGORY_NAMES[category(score)]
    names: npt.NDArray[np.str_] = _NAMES[_score_array(score) >> 12]
    return names
