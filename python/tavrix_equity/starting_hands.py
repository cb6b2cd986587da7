"""Starting hands ranked by preflop all-in equity, and the top fraction of them as a range.

The equities come from a committed table (_starting_hand_table.py): exact
against one random hand, Monte Carlo with a fixed seed against 2 to 9.
"""

from __future__ import annotations

from functools import lru_cache
from typing import Final

from tavrix_equity._starting_hand_table import EQUITY
from tavrix_equity.cards import checked_int
from tavrix_equity.ranges import HAND_CLASSES, Range, class_combos

__all__ = ["starting_hand_ranking", "top_range"]

MAX_OPPONENTS: Final = 9
ALL_COMBOS: Final = 1326


def _opponents(value: object) -> int:
    return checked_int(value, "opponents", 1, MAX_OPPONENTS + 1)


@lru_cache(maxsize=None)
def _ranking(opponents: int) -> tuple[str, ...]:
    position = {name: i for i, name in enumerate(HAND_CLASSES)}
    # Equal equities keep the HAND_CLASSES order.
    return tuple(sorted(HAND_CLASSES, key=lambda name: (-EQUITY[name][opponents - 1], position[name])))


def starting_hand_ranking(opponents: int = 1) -> tuple[str, ...]:
    """starting_hand_ranking(opponents=1) -> the 169 classes of HAND_CLASSES, best first.

    Ranked by preflop all-in equity against `opponents` (1 to 9) random
    hands: exact against one (every board, card removal included), Monte
    Carlo with a fixed seed (half a million deals per class) against more;
    equal equities keep the HAND_CLASSES order. Raises ValueError outside 1
    to 9.
    """
    return _ranking(_opponents(opponents))


@lru_cache(maxsize=1024)
def _top(fraction: float, opponents: int) -> Range:
    # Rounded so that a fraction meant as a whole number of combos (6 / 1326)
    # does not leave a last class of weight 1e-16.
    wanted = round(fraction * ALL_COMBOS, 9)
    items: list[str] = []
    taken = 0
    for name in _ranking(opponents):
        size = len(class_combos(name))
        if taken + size >= wanted:
            # Twelve significant digits keep the range text readable; the
            # share stays exact to about 1e-12.
            weight = float(f"{(wanted - taken) / size:.12g}")
            items.append(name if weight >= 1.0 else f"{name}:{weight!r}")
            break
        items.append(name)
        taken += size
    return Range(",".join(items))


def top_range(fraction: float, *, opponents: int = 1) -> Range:
    """The best classes in starting_hand_ranking(opponents) order until at least
    `fraction` (0 < fraction <= 1) of the 1,326 combos are in; the last class
    taken has the weight that makes the share exact."""
    if isinstance(fraction, bool) or not isinstance(fraction, (int, float)):
        raise TypeError(f"fraction must be a number, not {type(fraction).__name__}")
    value = float(fraction)
    if not 0.0 < value <= 1.0:
        raise ValueError(f"fraction must be above 0 and at most 1, not {fraction!r}")
    return _top(value, _opponents(opponents))
