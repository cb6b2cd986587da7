"""The equity of every starting-hand class against one hand or range, as a 13 x 13 chart."""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

from tavrix_equity._labelled_grid import LabelledGrid
from tavrix_equity._messages import quoted
from tavrix_equity.all_in import CardsLike, NoDealError, PlayerLike, _mask, _player, _seed, cards_of, equity
from tavrix_equity.cards import format_cards
from tavrix_equity.ranges import HAND_CLASSES, Range, grid_position

__all__ = ["hand_grid"]


def hand_grid(
    vs: PlayerLike,
    board: CardsLike = "",
    dead: CardsLike = "",
    trials: int | None = None,
    seed: int | None = None,
) -> npt.NDArray[np.float64]:
    """hand_grid(vs, board="", dead="", trials=None, seed=None) -> float64 array (13, 13)

    Each cell is the equity of that starting-hand class, taken as a range,
    against `vs` (a hand or a range), laid out as Range.grid(); NaN where no
    deal is possible. `trials` applies to each cell (one seed for all cells,
    drawn when None). The array remembers `vs` and the board, which
    plot_grid names in its default title.

    Raises NoDealError (a ValueError) when `vs` is a range with no combo
    left beside the board and dead cards, or when no class has a deal.
    """
    board_cards = cards_of(board, "board")
    dead_cards = cards_of(dead, "dead cards")
    cell_seed = None if trials is None else _seed(seed)
    # Read once, not once per class: range text is parsed into a Range here.
    opponent = _player(vs, 2)
    label = _label(vs, opponent)
    if isinstance(opponent, Range):
        in_play = _mask((*board_cards, *dead_cards))
        if not any(not in_play & _mask(combo) for combo, _ in opponent.combos):
            why = "is empty" if len(opponent) == 0 else "has no combo left beside the board and dead cards"
            raise NoDealError(f"the range {quoted(label)} {why}")
    grid = np.full((13, 13), np.nan)
    for name in HAND_CLASSES:
        try:
            result = equity([Range(name), opponent], board_cards, dead_cards, trials=trials, seed=cell_seed)
        except NoDealError:
            continue
        grid[grid_position(name)] = result.equity[0]
    if np.isnan(grid).all():
        raise NoDealError(f"no starting-hand class has a possible deal against {quoted(label)}")
    return LabelledGrid.of(grid, label, format_cards(board_cards))


def _label(given: PlayerLike, player: tuple[int, int] | Range) -> str:
    if isinstance(given, str):
        return given.strip()
    return str(player) if isinstance(player, Range) else format_cards(player)
