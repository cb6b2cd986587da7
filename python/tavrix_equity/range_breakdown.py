"""What a range holds on a board: made-hand classes and draws, with their shares and equities.

The classes are computed natively for every live combo at once; the equity of
each class against an opponent range comes from the per-combo equities.
"""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Final

import numpy as np
import numpy.typing as npt

from tavrix_equity import _engine
from tavrix_equity._board_checks import checked_board
from tavrix_equity._live_combos import as_range, card_mask_of, live_combos
from tavrix_equity.all_in import CardsLike, NoDealError
from tavrix_equity.cards import format_cards
from tavrix_equity.combo_tables import combo_equity
from tavrix_equity.ranges import Range

__all__ = ["BREAKDOWN_CLASSES", "MADE_HAND_CLASSES", "DRAW_CLASSES", "Breakdown", "breakdown"]

MADE_HAND_CLASSES: Final[tuple[str, ...]] = (
    "straight flush", "four of a kind", "full house", "flush", "straight",
    "set", "trips", "board trips", "two pair",
    "overpair", "top pair", "underpair", "second pair", "weak pair", "board pair",
    "high card",
)
DRAW_CLASSES: Final[tuple[str, ...]] = ("flush draw", "backdoor flush draw", "open-ended", "gutshot", "overcards")
BREAKDOWN_CLASSES: Final[tuple[str, ...]] = MADE_HAND_CLASSES + DRAW_CLASSES

assert len(MADE_HAND_CLASSES) == _engine.MADE_CLASSES and len(DRAW_CLASSES) == _engine.DRAW_CLASSES


def class_members(made: npt.NDArray[np.uint8], draws: npt.NDArray[np.uint8]) -> dict[str, npt.NDArray[np.bool_]]:
    """For each class name, which rows (combos) are in it."""
    members = {name: made == i for i, name in enumerate(MADE_HAND_CLASSES)}
    members.update({name: (draws & (1 << i)) != 0 for i, name in enumerate(DRAW_CLASSES)})
    return members


@dataclass(frozen=True, eq=False)
class Breakdown:
    """A range on a board, class by class (see BREAKDOWN_CLASSES).

    shares: class name -> the weighted share (0 to 1) of the range's live
        combos in that class. Every combo is in one made-hand class, so those
        shares sum to 1; draw classes overlap.
    equity: class name -> the class's mean equity against `vs`, weighted by
        the combos' own weights (NaN for an empty class); None without `vs`.
    combos(name): the (m, 2) uint8 array of the class's combos.
    """

    range: str
    board: str
    dead: str
    vs: str | None
    shares: dict[str, float]
    equity: dict[str, float] | None
    _combos: npt.NDArray[np.uint8] = field(repr=False)
    _members: dict[str, npt.NDArray[np.bool_]] = field(repr=False)

    def combos(self, name: str) -> npt.NDArray[np.uint8]:
        """The (m, 2) uint8 array of the live combos in class `name`, in Range.combos order."""
        if name not in self._members:
            raise ValueError(f"unknown breakdown class {name!r} (one of BREAKDOWN_CLASSES)")
        chosen: npt.NDArray[np.uint8] = self._combos[self._members[name]]
        return chosen

    def __repr__(self) -> str:
        shown = ", ".join(f"{name}: {100 * share:.1f}%" for name, share in self.shares.items() if share > 0)
        against = f" vs {self.vs!r}" if self.vs is not None else ""
        return f"Breakdown({self.range!r} on {self.board}{against}: {shown})"

    def _repr_html_(self) -> str:
        from tavrix_equity.notebook_views import breakdown_html

        return breakdown_html(self)


def breakdown(
    range: Range | str, board: CardsLike, dead: CardsLike = "", *, vs: Range | str | None = None,
) -> Breakdown:
    """breakdown(range, board, dead="", *, vs=None) -> Breakdown

    Classifies every live combo of `range` (a Range or range text; combos
    that share a card with the board or the dead cards are left out) on a
    board of 3, 4 or 5 cards: one made-hand class each, and every draw class
    that applies (draws only on the flop and turn, for hands below a
    straight). With `vs`, an opponent range, each class also gets its mean
    equity against it. Raises ValueError for a board of another size or a
    card given twice, and NoDealError when no combo of the range is live.
    """
    r = as_range(range, "range")
    board_cards, dead_cards = checked_board(board, dead, (3, 4, 5))
    known = card_mask_of(board_cards) | card_mask_of(dead_cards)
    combos, weights = live_combos(r, known)
    if len(combos) == 0:
        why = "is empty" if len(r) == 0 else "has no combo left beside the board and dead cards"
        raise NoDealError(f"the range {str(r)!r} {why}")
    made, draws = _engine.classify_combos(np.array(board_cards, dtype=np.uint8), combos)
    members = class_members(made, draws)
    total = float(weights.sum())
    shares = {name: float(weights[rows].sum()) / total for name, rows in members.items()}

    class_equity: dict[str, float] | None = None
    vs_text: str | None = None
    if vs is not None:
        opponent = as_range(vs, "vs")
        vs_text = str(opponent)
        hero = combo_equity(r, opponent, board_cards, dead_cards).hero
        # Both list the range's live combos in Range.combos order.
        assert np.array_equal(hero.combos, combos)
        # Combos that never meet the opponent's range carry no equity.
        met = np.isfinite(hero.equity)
        class_equity = {}
        for name, rows in members.items():
            chosen = rows & met
            w = weights[chosen]
            class_equity[name] = float((w * hero.equity[chosen]).sum() / w.sum()) if w.sum() > 0 else math.nan
    return Breakdown(
        range=str(r), board=format_cards(board_cards), dead=format_cards(dead_cards), vs=vs_text,
        shares=shares, equity=class_equity, _combos=combos, _members=members,
    )
