"""The equity of every starting-hand class against one hand or range, as a 13 x 13 chart."""

from __future__ import annotations

import threading

import numpy as np
import numpy.typing as npt

from tavrix_equity._cancel import checked_cancel
from tavrix_equity.all_in import CardsLike, NoDealError, PlayerLike, _player, _seed, cards_of, equity
from tavrix_equity.ranges import HAND_CLASSES, Range, grid_position

__all__ = ["hand_grid"]


def hand_grid(
    vs: PlayerLike,
    board: CardsLike = "",
    dead: CardsLike = "",
    trials: int | None = None,
    seed: int | None = None,
    *,
    cancel: threading.Event | None = None,
) -> npt.NDArray[np.float64]:
    """hand_grid(vs, board="", dead="", trials=None, seed=None, *, cancel=None) -> float64 array (13, 13)

    Each cell is the equity of that starting-hand class, taken as a range,
    against `vs` (a hand or a range), laid out as Range.grid(); NaN where no
    deal is possible. `trials` applies to each cell (one seed for all cells,
    drawn when None). cancel: a threading.Event that stops the call once set
    (concurrent.futures.CancelledError), as in equity.
    """
    checked_cancel(cancel)
    board_cards = cards_of(board, "board")
    dead_cards = cards_of(dead, "dead cards")
    cell_seed = None if trials is None else _seed(seed)
    # Read once, not once per class: range text is parsed into a Range here.
    opponent = _player(vs, 2)
    grid = np.full((13, 13), np.nan)
    for name in HAND_CLASSES:
        try:
            result = equity([Range(name), opponent], board_cards, dead_cards, trials=trials, seed=cell_seed,
                            cancel=cancel)
        except NoDealError:
            continue
        grid[grid_position(name)] = result.equity[0]
    return grid
