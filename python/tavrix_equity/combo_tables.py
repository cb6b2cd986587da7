"""Per-combo equities of a heads-up matchup: each combo of each player against the other's range.

Both tables come from one exact engine run that sweeps every completion of the
board once for every pair of combos (see the README's section on the board
sweep), so a combo's row is exact, and the weighted sums of a table's rows are
what equity() reports for that player.
"""

from __future__ import annotations

import contextlib
import threading
from dataclasses import dataclass
from typing import TypeVar

import numpy as np
import numpy.typing as npt

from tavrix_equity import _engine
from tavrix_equity._cancel import checked_cancel
from tavrix_equity._progress import ProgressArg, progress_reporter
from tavrix_equity.all_in import CardsLike, Player, PlayerLike, _mask, player_name, read_spot, thread_count
from tavrix_equity.cards import format_cards
from tavrix_equity.ranges import Range

__all__ = ["ComboEquity", "ComboTable", "combo_equity"]

_SHOWN_ROWS = 4


_Element = TypeVar("_Element", bound=np.generic)


def _frozen(array: npt.NDArray[_Element]) -> npt.NDArray[_Element]:
    array.setflags(write=False)
    return array


@dataclass(frozen=True, slots=True, eq=False)
class ComboTable:
    """One player's combos, row by row, against the other player's range.

    combos: (n, 2) uint8 card indices, the player's combos that share no card
        with the board or the dead cards, in Range.combos order (a hand is
        one row).
    weights: float64, each combo's weight in the player's range.
    wins, ties, boards: float64, summed over every completion of the board:
        the opponent's weight (1 per combo for an unweighted range) that this
        combo beats, ties with, and meets (shares no card with).
    equity: float64, (wins + ties / 2) / boards; NaN where boards is 0 (a
        combo that meets none of the opponent's combos).

    The arrays are read-only.
    """

    combos: npt.NDArray[np.uint8]
    weights: npt.NDArray[np.float64]
    wins: npt.NDArray[np.float64]
    ties: npt.NDArray[np.float64]
    boards: npt.NDArray[np.float64]
    equity: npt.NDArray[np.float64]

    def __len__(self) -> int:
        return len(self.combos)

    def total_equity(self) -> float:
        """The player's equity: the rows' sums weighted by the combos' weights."""
        boards = float(self.weights @ self.boards)
        return float(self.weights @ (self.wins + self.ties / 2)) / boards if boards else float("nan")

    def __repr__(self) -> str:
        rows = [
            f"{format_cards(tuple(int(c) for c in combo))}: {100 * e:.3f}%"
            for combo, e in zip(self.combos[:_SHOWN_ROWS], self.equity[:_SHOWN_ROWS])
        ]
        more = ", ..." if len(self) > _SHOWN_ROWS else ""
        return (f"ComboTable({len(self)} combos, equity {100 * self.total_equity():.3f}%; "
                f"{', '.join(rows)}{more})")


@dataclass(frozen=True, slots=True, eq=False)
class ComboEquity:
    """The per-combo tables of both players of a heads-up matchup."""

    hero: ComboTable
    villain: ComboTable
    players: tuple[str, str] = ("", "")

    def __repr__(self) -> str:
        hero, villain = self.players
        return (f"ComboEquity(hero {hero}: {len(self.hero)} combos, {100 * self.hero.total_equity():.3f}%; "
                f"villain {villain}: {len(self.villain)} combos, {100 * self.villain.total_equity():.3f}%)")


def _live_combos(player: Player, fixed: int) -> tuple[list[tuple[int, int]], list[float]]:
    if not isinstance(player, Range):
        return [player], [1.0]
    kept = [(combo, weight) for combo, weight in player.combos if not (fixed >> combo[0] | fixed >> combo[1]) & 1]
    return [combo for combo, _ in kept], [weight for _, weight in kept]


def _table(combos: list[tuple[int, int]], weights: list[float],
           sums: tuple[npt.NDArray[np.float64], npt.NDArray[np.float64], npt.NDArray[np.float64]]) -> ComboTable:
    wins, ties, boards = sums
    halves = wins + ties / 2
    equity = np.full(len(boards), np.nan)
    np.divide(halves, boards, out=equity, where=boards > 0)
    return ComboTable(
        combos=_frozen(np.array(combos, dtype=np.uint8).reshape(-1, 2)),
        weights=_frozen(np.array(weights, dtype=np.float64)),
        wins=_frozen(wins), ties=_frozen(ties), boards=_frozen(boards), equity=_frozen(equity),
    )


def combo_equity(
    hero: PlayerLike,
    villain: PlayerLike,
    board: CardsLike = "",
    dead: CardsLike = "",
    *,
    threads: int | None = None,
    progress: ProgressArg = None,
    cancel: threading.Event | None = None,
) -> ComboEquity:
    """combo_equity(hero, villain, board="", dead="", *, threads=None, progress=None, cancel=None) -> ComboEquity

    Exact per-combo equities of a heads-up matchup. hero and villain are each
    a hand ("AsKs" or two card indices), a Range or range text; board is 0 to
    5 cards and dead the cards out of play. The result's `hero` and `villain`
    are ComboTables: every combo of that player that shares no card with the
    board or the dead cards, with the weight of the other player's range it
    beats, ties and meets over every completion of the board, and its equity.

    threads=None uses every core. progress: True draws a bar on stderr; a
    callable progress(done, total) is called as work items finish, last with
    done == total. cancel: a threading.Event that stops the call once set
    (concurrent.futures.CancelledError), as in equity. Raises NoDealError when no deal is possible, and
    ValueError for bad cards as equity() does.
    """
    spot, board_cards, dead_cards = read_spot([hero, villain], board, dead)
    threads_used = thread_count(threads)
    checked_cancel(cancel)
    report, bar = progress_reporter(progress, "combo equity", "items")
    fixed = _mask([*board_cards, *dead_cards])
    (hero_combos, hero_weights), (villain_combos, villain_weights) = (_live_combos(p, fixed) for p in spot)
    with contextlib.ExitStack() as cleanup:
        if bar is not None:
            cleanup.callback(bar.close)
        hero_sums, villain_sums = _engine.combo_sweep(
            hero_combos, hero_weights, villain_combos, villain_weights, list(board_cards), _mask(dead_cards),
            threads_used, report, cancel=cancel)
    return ComboEquity(
        hero=_table(hero_combos, hero_weights, hero_sums),
        villain=_table(villain_combos, villain_weights, villain_sums),
        players=(player_name(spot[0]), player_name(spot[1])),
    )
