"""Range notation: sets of weighted two-card starting hands, and the 13 x 13 chart.

A combo is a pair of card indices ``(c1, c2)`` with ``c1 > c2``. The 1326
combos fall into 169 starting-hand classes: 13 pairs (6 combos each, "QQ"),
78 suited classes (4 combos, "AKs") and 78 offsuit classes (12 combos, "AKo").

``HAND_CLASSES`` lists the classes by their higher rank from A down to 2; for
each higher rank the pair comes first, then for each lower rank from high to
low the suited class before the offsuit one::

    AA, AKs, AKo, AQs, AQo, ..., A2s, A2o, KK, KQs, KQo, ..., 32s, 32o, 22

Every ordered thing in this module follows that order: ``Range.combos`` lists
combos class by class in ``HAND_CLASSES`` order, and within a class by their
cards from high to low (``c1`` descending, then ``c2`` descending), which is
also the order of ``class_combos(name)``.

The chart (``Range.grid``, ``grid_position``) has rows and columns A to 2:
pairs on the diagonal, a suited class above it (row = higher rank, column =
lower rank) and an offsuit class below it (row = lower rank, column = higher
rank).
"""

from __future__ import annotations

import math
import re
from typing import Final

import numpy as np
import numpy.typing as npt

from ._messages import quoted
from .cards import (
    CARD_PATTERN, CARD_RANKS, DECK_SIZE, RANK_PATTERN, checked_int, format_cards, parse_cards, rank_index,
)

__all__ = ["HAND_CLASSES", "Range", "class_combos", "grid_position", "hand_class"]

Combo = tuple[int, int]

_TOP_RANK: Final = len(CARD_RANKS) - 1


def _class_name(high: int, low: int, suited: bool) -> str:
    if high == low:
        return CARD_RANKS[high] * 2
    return CARD_RANKS[high] + CARD_RANKS[low] + ("s" if suited else "o")


def _build_classes() -> dict[str, tuple[Combo, ...]]:
    classes: dict[str, tuple[Combo, ...]] = {}
    for high in range(_TOP_RANK, -1, -1):
        for low in range(high, -1, -1):
            for suited in ((True,) if low == high else (True, False)):
                combos = [
                    (4 * high + s1, 4 * low + s2)
                    for s1 in range(4) for s2 in range(4)
                    if (s1 > s2 if low == high else (s1 == s2) == suited)
                ]
                classes[_class_name(high, low, suited)] = tuple(sorted(combos, reverse=True))
    return classes


_CLASS_COMBOS: Final = _build_classes()

HAND_CLASSES: Final[tuple[str, ...]] = tuple(_CLASS_COMBOS)

_CLASS_INDEX: Final = {name: i for i, name in enumerate(HAND_CLASSES)}
_COMBO_CLASS: Final = {c: name for name, combos in _CLASS_COMBOS.items() for c in combos}
_COMBO_POSITION: Final = {c: i for i, c in enumerate(_COMBO_CLASS)}
_ALL_COMBOS: Final = tuple(_COMBO_CLASS)


def _cell(name: str) -> tuple[int, int]:
    high = _TOP_RANK - CARD_RANKS.index(name[0])
    low = _TOP_RANK - CARD_RANKS.index(name[1])
    # Row and column count from A: the higher rank has the smaller index.
    return (low, high) if name.endswith("o") else (high, low)


_CLASS_CELL: Final = {name: _cell(name) for name in HAND_CLASSES}
_CELL_SIZE: Final = np.zeros((13, 13))
for _name, _combos in _CLASS_COMBOS.items():
    _CELL_SIZE[_CLASS_CELL[_name]] = len(_combos)
del _name, _combos


def _checked_class(name: str) -> str:
    if not isinstance(name, str):
        raise TypeError(f"a hand class must be given as text, not {type(name).__name__}")
    if name not in _CLASS_INDEX:
        raise ValueError(f"unknown hand class {quoted(name)} (expected a name such as 'AA', 'AKs' or 'AKo')")
    return name


def class_combos(name: str) -> tuple[Combo, ...]:
    """class_combos(name) -> the combos of one class of HAND_CLASSES.

    ``class_combos("AKs")`` is ``((51, 47), (50, 46), (49, 45), (48, 44))``:
    pairs of card indices, higher card first, from high to low, the order in
    which ``Range.combos`` lists them. Raises ValueError for a name that is not
    in HAND_CLASSES (exactly as written there, such as "AKs" or "TT").
    """
    return _CLASS_COMBOS[_checked_class(name)]


def grid_position(name: str) -> tuple[int, int]:
    """grid_position(name) -> (row, column) of a class in a 13 x 13 chart.

    Rows and columns run A to 2; ``grid_position("AKs")`` is ``(0, 1)`` and
    ``grid_position("AKo")`` is ``(1, 0)``. Raises ValueError for a name that
    is not in HAND_CLASSES.
    """
    return _CLASS_CELL[_checked_class(name)]


def hand_class(c1: int, c2: int) -> str:
    """hand_class(c1, c2) -> the class name of two card indices, e.g. "AKs".

    The cards may come in either order. Raises ValueError for an index
    outside 0 to 51 or the same card twice.
    """
    first, second = (checked_int(card, "card index", 0, DECK_SIZE) for card in (c1, c2))
    if first == second:
        raise ValueError(f"duplicate card {format_cards((first,))}")
    return _COMBO_CLASS[(max(first, second), min(first, second))]


# --- parsing ---------------------------------------------------------------

_RANK = RANK_PATTERN
# ASCII case folding only: Unicode folding would read the Kelvin sign as K and
# the long s as s (and then an "s" suffix as offsuit).
_CLASS_ITEM = re.compile(rf"{_RANK}{_RANK}([so])?(\+)?", re.IGNORECASE | re.ASCII)
_SPAN_ITEM = re.compile(rf"{_RANK}{_RANK}([so])?(?u:\s*)-(?u:\s*){_RANK}{_RANK}([so])?", re.IGNORECASE | re.ASCII)
_HAND_ITEM = re.compile(rf"(?:{CARD_PATTERN})+", re.IGNORECASE | re.ASCII)
# Plain decimals only: float() would also take "nan", "inf", "+.5" and "1_0".
_WEIGHT = re.compile(r"(?:\d+\.?\d*|\.\d+)(?:e[+-]?\d+)?", re.IGNORECASE | re.ASCII)


_CARD_START = re.compile(rf"{CARD_PATTERN}[^+:-]", re.IGNORECASE | re.ASCII)
_FORMS = ("expected a class (QQ, AKs, AKo, AK), a run (QQ+, ATs+, QQ-99, A5s-A2s, T9s-65s), "
          "a hand (AhKh) or random")


class _BadItem(Exception):
    """A range item that does not parse, with an optional reason."""


def _class_names(high: int, lows: range, suffix: str) -> list[str]:
    kinds = (True, False) if suffix == "" else (suffix == "s",)
    return [_class_name(high, low, suited) for low in lows for suited in kinds]


def _pair_names(ranks: range) -> list[str]:
    return [_class_name(r, r, True) for r in ranks]


def _end(high_text: str, low_text: str, suffix: str | None) -> tuple[int, int, str]:
    high, low, suffix = rank_index(high_text), rank_index(low_text), (suffix or "").lower()
    if high == low and suffix:
        raise _BadItem("a pair has no suited or offsuit form")
    if high < low:
        raise _BadItem("write the higher rank first")
    return high, low, suffix


def _item_classes(body: str) -> list[str]:
    """The class names an item names, or raises _BadItem."""
    if match := _CLASS_ITEM.fullmatch(body):
        high, low, suffix = _end(match[1], match[2], match[3])
        if high == low:
            return _pair_names(range(low, _TOP_RANK + 1) if match[4] else range(low, low + 1))
        return _class_names(high, range(low, high) if match[4] else range(low, low + 1), suffix)
    if match := _SPAN_ITEM.fullmatch(body):
        first, last = _end(match[1], match[2], match[3]), _end(match[4], match[5], match[6])
        first_pair, last_pair = first[0] == first[1], last[0] == last[1]
        if first_pair and last_pair:
            return _pair_names(range(min(first[0], last[0]), max(first[0], last[0]) + 1))
        if first_pair or last_pair:
            raise _BadItem("both ends must be pairs when one is, such as QQ-99")
        if first[2] != last[2]:
            raise _BadItem("both ends must have the same suffix (s, o or none)")
        if first[0] == last[0]:
            return _class_names(first[0], range(min(first[1], last[1]), max(first[1], last[1]) + 1), first[2])
        if first[0] - first[1] != last[0] - last[1]:
            raise _BadItem("both ends must share the first rank (A5s-A2s) "
                           "or have the same gap between their ranks (T9s-65s)")
        # A run of connectors or gappers: every class between the ends with that gap.
        gap, top, bottom = first[0] - first[1], max(first[0], last[0]), min(first[0], last[0])
        return [name for high in range(top, bottom - 1, -1)
                for name in _class_names(high, range(high - gap, high - gap + 1), first[2])]
    if body.count("-") > 1:
        raise _BadItem("a span has exactly two ends, such as QQ-99 or A5s-A2s")
    if _CARD_START.match(body):
        # It starts as a hand: name the card that is not one, as parse_cards does.
        try:
            parse_cards(body)
        except ValueError as error:
            # The item is quoted already: keep "unknown card 'Kx'" without its " in ...".
            raise _BadItem(str(error).split(" in ", 1)[0]) from None
    raise _BadItem(_FORMS)


def _item_combos(body: str) -> list[Combo] | tuple[Combo, ...]:
    if body.lower() == "random":
        return _ALL_COMBOS
    if _HAND_ITEM.fullmatch(body):
        try:
            cards = parse_cards(body)
        except ValueError as error:
            raise _BadItem(str(error)) from None
        if len(cards) != 2:
            raise _BadItem("a hand is exactly two cards")
        c1, c2 = cards
        return [(max(c1, c2), min(c1, c2))]
    return [c for name in _item_classes(body) for c in _CLASS_COMBOS[name]]


def _item_weight(text: str) -> float:
    if not _WEIGHT.fullmatch(text):
        raise _BadItem("the weight must be a number from 0 to 1")
    weight = float(text)
    if not 0.0 <= weight <= 1.0:
        raise _BadItem("the weight must be a number from 0 to 1")
    return weight


def _parse(text: str) -> dict[Combo, float]:
    weights: dict[Combo, float] = {}
    if not text.strip():
        return weights
    for raw in text.split(","):
        item = raw.strip()
        try:
            if not item:
                raise _BadItem("empty item")
            body, colon, weight_text = item.partition(":")
            weight = _item_weight(weight_text.strip()) if colon else 1.0
            for combo in _item_combos(body.strip()):
                weights[combo] = weight
        except _BadItem as error:
            reason = f": {error}" if str(error) else ""
            raise ValueError(f"bad range item {quoted(item)} in {quoted(text)}{reason}") from None
    return weights


# --- canonical text ----------------------------------------------------------

def _weight_suffix(weight: float) -> str:
    # repr gives the shortest text that reads back as the same float.
    return "" if weight == 1.0 else f":{weight!r}"


def _runs(weights: list[tuple[int, float | None]]) -> list[tuple[int, int, float]]:
    """Maximal runs (top, bottom, weight) of consecutive ranks, given from high
    to low, whose whole classes share one weight (None: not a whole class)."""
    runs: list[tuple[int, int, float]] = []
    for rank, weight in weights:
        if weight is None:
            continue
        if runs and runs[-1][1] == rank + 1 and runs[-1][2] == weight:
            runs[-1] = (runs[-1][0], rank, weight)
        else:
            runs.append((rank, rank, weight))
    return runs


def _canonical_text(combos: tuple[tuple[Combo, float], ...]) -> str:
    if len(combos) == len(_ALL_COMBOS) and len({w for _, w in combos}) == 1:
        return "random" + _weight_suffix(combos[0][1])
    by_class: dict[str, list[tuple[Combo, float]]] = {}
    for combo, weight in combos:
        by_class.setdefault(_COMBO_CLASS[combo], []).append((combo, weight))
    whole: dict[str, float] = {}
    # (pairs before other classes, class position, form, combo position) -> item
    items: list[tuple[tuple[int, int, int, int], str]] = []
    for name, members in by_class.items():
        if len(members) == len(_CLASS_COMBOS[name]) and len({w for _, w in members}) == 1:
            whole[name] = members[0][1]
        else:
            group = 0 if name[0] == name[1] else 1
            items.extend(
                ((group, _CLASS_INDEX[name], 3, _COMBO_POSITION[c]), format_cards(c) + _weight_suffix(w))
                for c, w in members
            )

    pair_ranks = range(_TOP_RANK, -1, -1)
    for top, bottom, weight in _runs([(r, whole.get(CARD_RANKS[r] * 2)) for r in pair_ranks]):
        pair, last = CARD_RANKS[top] * 2, CARD_RANKS[bottom] * 2
        if top == bottom:
            text = pair
        elif top == _TOP_RANK:
            text = last + "+"
        else:
            text = f"{pair}-{last}"
        items.append(((0, _CLASS_INDEX[pair], 0, 0), text + _weight_suffix(weight)))

    for high in range(_TOP_RANK, 0, -1):
        lows = range(high - 1, -1, -1)
        suited = _runs([(low, whole.get(_class_name(high, low, True))) for low in lows])
        offsuit = _runs([(low, whole.get(_class_name(high, low, False))) for low in lows])
        # A run the suited and the offsuit classes share is written once, without a suffix.
        both = set(suited) & set(offsuit)
        for form, suffix, runs in ((0, "", both), (1, "s", set(suited) - both), (2, "o", set(offsuit) - both)):
            for top, bottom, weight in runs:
                first = CARD_RANKS[high] + CARD_RANKS[top] + suffix
                if top == bottom:
                    text = first
                elif top == high - 1:
                    text = CARD_RANKS[high] + CARD_RANKS[bottom] + suffix + "+"
                else:
                    text = f"{first}-{CARD_RANKS[high]}{CARD_RANKS[bottom]}{suffix}"
                position = _CLASS_INDEX[_class_name(high, top, suffix != "o")]
                items.append(((1, position, form, 0), text + _weight_suffix(weight)))

    return ",".join(text for _, text in sorted(items))


# --- the range ---------------------------------------------------------------

def _as_range(value: object, operator: str) -> Range:
    if isinstance(value, Range):
        return value
    if isinstance(value, str):
        return Range(value)
    raise TypeError(f"a range combines with a Range or range text, not {type(value).__name__} (operator {operator})")


class Range:
    """Range(text): a set of starting hands, each with a weight in (0, 1].

    ``text`` is comma-separated items; whitespace around items is ignored and
    blank text is the empty range. An item is:

    - a pair ``QQ``, ``QQ+`` (QQ, KK, AA) or ``QQ-99`` (either order);
    - a non-pair class ``AKs`` (4 suited combos), ``AKo`` (12 offsuit) or
      ``AK`` (all 16), ``ATs+`` (ATs up to AKs), ``A5s-A2s`` (either order;
      both ends share the first rank and the suffix), likewise with ``o`` or
      no suffix; the higher rank comes first;
    - a run of connectors or gappers ``T9s-65s`` (T9s, 98s, 87s, 76s, 65s)
      or ``KQo-87o``: both ends have the same gap between their ranks and the
      same suffix, both are included, in either order;
    - a specific hand ``AhKh``;
    - ``random``: all 1326 combos.

    Ranks may be written in either case and ten as ``T`` or ``10``. Any item
    may end in a weight ``:w`` with 0 <= w <= 1 (``AA:0.5``); without one the
    weight is 1. A combo named again takes the later weight, and weight 0
    removes it. Bad text raises ValueError quoting the item and the text (the
    start of either when it is long) and saying what is wrong.

    Ranges combine with ``|``, ``&`` and ``-`` (the other side a Range or
    range text), giving a new Range:

    - ``a | b``: the combos of either; a combo in both takes the larger weight;
    - ``a & b``: the combos in both, each with the smaller weight;
    - ``a - b``: the combos of ``a`` that are not in ``b``, whatever their
      weight in ``b`` (``a`` keeps its own weights for the rest).

    ``class_counts()`` gives the number of combos of each class in the range.

    Only combos of positive weight belong to the range: ``len(r)`` counts
    them and ``r.combos`` lists them (see the module's documentation for the
    order). ``str(r)`` is a canonical text: equal ranges give the same text,
    and it parses back to an equal range. Ranges are immutable and hashable,
    and compare equal when their combos and weights are equal.
    """

    __slots__ = ("_combos", "_hash", "_text")
    _combos: tuple[tuple[Combo, float], ...]
    _hash: int
    _text: str

    def __init__(self, text: str) -> None:
        if not isinstance(text, str):
            raise TypeError(f"a range must be given as text, not {type(text).__name__}")
        self._fill(_parse(text))

    def _fill(self, weights: dict[Combo, float]) -> None:
        combos = tuple(
            (combo, weights[combo]) for combo in sorted(weights, key=_COMBO_POSITION.__getitem__)
            if weights[combo] > 0.0
        )
        object.__setattr__(self, "_combos", combos)
        object.__setattr__(self, "_hash", hash(combos))
        object.__setattr__(self, "_text", _canonical_text(combos))

    @classmethod
    def _of(cls, weights: dict[Combo, float]) -> Range:
        result = cls.__new__(cls)
        result._fill(weights)
        return result

    def _weights(self) -> dict[Combo, float]:
        return dict(self._combos)

    # --- set operations: the other side may be a Range or range text ---

    def __or__(self, other: Range | str) -> Range:
        """Combos in either range; a combo in both keeps the larger weight."""
        weights = self._weights()
        for combo, weight in _as_range(other, "|")._combos:
            weights[combo] = max(weights.get(combo, 0.0), weight)
        return Range._of(weights)

    def __and__(self, other: Range | str) -> Range:
        """Combos in both ranges, each with the smaller of its two weights."""
        theirs = _as_range(other, "&")._weights()
        return Range._of({c: min(w, theirs[c]) for c, w in self._combos if c in theirs})

    def __sub__(self, other: Range | str) -> Range:
        """The combos of this range that are not in `other`, whatever their weight there."""
        theirs = _as_range(other, "-")._weights()
        return Range._of({c: w for c, w in self._combos if c not in theirs})

    def __ror__(self, other: str) -> Range:
        return _as_range(other, "|") | self

    def __rand__(self, other: str) -> Range:
        return _as_range(other, "&") & self

    def __rsub__(self, other: str) -> Range:
        return _as_range(other, "-") - self

    def class_counts(self, weighted: bool = False) -> dict[str, float]:
        """{class name: number of its combos in the range}, classes in HAND_CLASSES order.

        Only classes with at least one combo appear. With weighted=True each
        combo counts its weight instead of 1 (so "AA:0.5" gives {"AA": 3.0}).
        """
        counts: dict[str, float] = {}
        for combo, weight in self._combos:
            name = _COMBO_CLASS[combo]
            counts[name] = counts.get(name, 0) + (weight if weighted else 1)
        return {name: counts[name] for name in sorted(counts, key=_CLASS_INDEX.__getitem__)}

    @property
    def combos(self) -> tuple[tuple[Combo, float], ...]:
        """The combos ``((c1, c2), weight)``, c1 > c2, weight in (0, 1]."""
        return self._combos

    def grid(self) -> npt.NDArray[np.float64]:
        """The 13 x 13 chart: each cell the weighted share of its class's combos.

        Rows and columns run A to 2; pairs on the diagonal, suited classes
        above it, offsuit classes below it (see grid_position). A cell is the
        sum of the weights of the class's combos in the range divided by the
        class's number of combos (6, 4 or 12).
        """
        totals = np.zeros((13, 13))
        for combo, weight in self._combos:
            totals[_CLASS_CELL[_COMBO_CLASS[combo]]] += weight
        from tavrix_equity.notebook_views import as_hand_grid

        # A plain array that a notebook shows as a coloured chart.
        result: npt.NDArray[np.float64] = as_hand_grid(totals / _CELL_SIZE)
        return result

    @staticmethod
    def top(fraction: float, *, opponents: int = 1) -> Range:
        """Range.top(fraction, *, opponents=1) -> the strongest `fraction` of all starting hands.

        Classes are taken in starting_hand_ranking(opponents) order until at
        least `fraction` (0 < fraction <= 1) of the 1326 combos are in; the
        last class taken gets the weight that makes the share exact.
        """
        from tavrix_equity.starting_hands import top_range

        return top_range(fraction, opponents=opponents)

    def _repr_html_(self) -> str:
        from tavrix_equity.notebook_views import grid_html

        return grid_html(self.grid(), f"{self._text or '(empty range)'}: {len(self)} combos", blank_zero=True)

    def __len__(self) -> int:
        return len(self._combos)

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Range):
            return NotImplemented
        return self._combos == other._combos

    def __hash__(self) -> int:
        return self._hash

    def __str__(self) -> str:
        return self._text

    def __repr__(self) -> str:
        return f"Range({self._text!r})"

    def __reduce__(self) -> tuple[type[Range], tuple[str]]:
        # The canonical text carries every combo and weight exactly.
        return (Range, (self._text,))

    def __setattr__(self, name: str, value: object) -> None:
        raise AttributeError("Range objects are immutable")

    def __delattr__(self, name: str) -> None:
        raise AttributeError("Range objects are immutable")
