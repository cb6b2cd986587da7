"""How equity is spread over a range: every combo's equity against the other range, sorted."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Final

import numpy as np
import numpy.typing as npt

from tavrix_equity._live_combos import as_range
from tavrix_equity.all_in import CardsLike, cards_of
from tavrix_equity.cards import format_cards
from tavrix_equity.combo_tables import ComboTable, combo_equity
from tavrix_equity.ranges import Range

__all__ = ["EQUITY_BUCKETS", "EquityDistribution", "RangeEquity", "equity_distribution"]

# Bucket name -> lower bound; a bucket holds its lower bound, not its upper one.
EQUITY_BUCKETS: Final[dict[str, float]] = {"75-100": 3 / 4, "50-75": 1 / 2, "33-50": 1 / 3, "0-33": 0.0}


def bucket_shares(equity: npt.NDArray[np.float64], weights: npt.NDArray[np.float64]) -> dict[str, float]:
    """The weighted share of the combos in each bucket of EQUITY_BUCKETS."""
    total = float(weights.sum())
    shares: dict[str, float] = {}
    upper = np.inf
    for name, lower in EQUITY_BUCKETS.items():
        inside = (equity >= lower) & (equity < upper)
        shares[name] = float(weights[inside].sum()) / total if total > 0 else 0.0
        upper = lower
    return shares


@dataclass(frozen=True, eq=False)
class RangeEquity:
    """One player's side of an EquityDistribution, sorted from highest to lowest equity.

    combos: (m, 2) uint8; weights, equity: float64 (each combo's equity
    against the other player's range); buckets: bucket name -> weighted share.
    """

    range: str
    combos: npt.NDArray[np.uint8]
    weights: npt.NDArray[np.float64]
    equity: npt.NDArray[np.float64]
    buckets: dict[str, float]

    @property
    def mean_equity(self) -> float:
        """The range's equity: the weighted mean of its combos' equities."""
        return float((self.weights * self.equity).sum() / self.weights.sum())

    @property
    def range_share(self) -> npt.NDArray[np.float64]:
        """For each combo, the weighted share of the range at or above its equity (ends at 1)."""
        cumulative: npt.NDArray[np.float64] = np.cumsum(self.weights) / self.weights.sum()
        return cumulative

    def __repr__(self) -> str:
        buckets = ", ".join(f"{name}: {100 * share:.1f}%" for name, share in self.buckets.items())
        return f"RangeEquity({self.range!r}, {len(self.equity)} combos, mean {100 * self.mean_equity:.2f}%; {buckets})"


@dataclass(frozen=True, eq=False)
class EquityDistribution:
    """Both players' combos with their equities against each other: `hero`, `villain` (RangeEquity)."""

    hero: RangeEquity
    villain: RangeEquity
    board: str
    dead: str

    @property
    def buckets(self) -> dict[str, float]:
        """The hero's buckets (hero.buckets)."""
        return self.hero.buckets

    def __repr__(self) -> str:
        return f"EquityDistribution(board {self.board or '(none)'}: hero {self.hero!r}, villain {self.villain!r})"

    def _repr_html_(self) -> str:
        from tavrix_equity.notebook_views import distribution_html

        return distribution_html(self)


def _sorted_side(r: Range, table: ComboTable) -> RangeEquity:
    met = table.boards > 0
    combos, weights, equity = table.combos[met], table.weights[met], table.equity[met]
    # Highest equity first; ties keep the range's own order.
    order = np.argsort(-equity, kind="stable")
    combos, weights, equity = combos[order], weights[order], equity[order]
    for array in (combos, weights, equity):
        array.flags.writeable = False
    return RangeEquity(str(r), combos, weights, equity, bucket_shares(equity, weights))


def equity_distribution(
    hero: Range | str, villain: Range | str, board: CardsLike = "", dead: CardsLike = "", *,
    threads: int | None = None,
) -> EquityDistribution:
    """equity_distribution(hero, villain, board="", dead="", *, threads=None) -> EquityDistribution

    Every live combo's exact equity against the other player's range, for
    both players, sorted from highest to lowest (a combo that can never meet
    the other range is left out), with the weighted share of each range in
    the buckets "75-100", "50-75", "33-50" and "0-33" (a bucket holds its
    lower bound). Raises NoDealError when no deal is possible.
    """
    hero_range, villain_range = as_range(hero, "hero"), as_range(villain, "villain")
    board_cards, dead_cards = cards_of(board, "board"), cards_of(dead, "dead cards")
    tables = combo_equity(hero_range, villain_range, board_cards, dead_cards, threads=threads)
    return EquityDistribution(
        _sorted_side(hero_range, tables.hero), _sorted_side(villain_range, tables.villain),
        format_cards(board_cards), format_cards(dead_cards),
    )
