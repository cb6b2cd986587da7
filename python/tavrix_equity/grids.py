"""The equity of every starting-hand class against one hand or range, as a 13 x 13 chart."""

from __future__ import annotations

import contextlib
import threading

import numpy as np
import numpy.typing as npt

from tavrix_equity import _engine
from tavrix_equity._cancel import checked_cancel
from tavrix_equity._deprecation import options_by_keyword
from tavrix_equity._labelled_grid import finished_grid
from tavrix_equity._progress import Progress, ProgressArg, progress_reporter
from tavrix_equity.all_in import CardsLike, NoDealError, PlayerLike, _mask, _seed, equity, read_spot, thread_count
from tavrix_equity.combo_tables import _live_combos
from tavrix_equity.ranges import HAND_CLASSES, Range, class_combos, grid_position

__all__ = ["hand_grid"]

# Every combo, class by class in HAND_CLASSES order, and the chart cell of each.
_ALL_COMBOS = [combo for name in HAND_CLASSES for combo in class_combos(name)]
_COMBO_CELL = np.array([grid_position(name)[0] * 13 + grid_position(name)[1]
                        for name in HAND_CLASSES for _ in class_combos(name)], dtype=np.intp)


@options_by_keyword(3, ("trials", "seed"))
def hand_grid(
    vs: PlayerLike,
    board: CardsLike = "",
    dead: CardsLike = "",
    *,
    trials: int | None = None,
    seed: int | None = None,
    threads: int | None = None,
    progress: ProgressArg = None,
    cancel: threading.Event | None = None,
) -> npt.NDArray[np.float64]:
    """hand_grid(vs, board="", dead="", *, trials=None, seed=None, threads=None, progress=None,
    cancel=None) -> float64 (13, 13)

    Each cell is the equity of that starting-hand class, taken as a range,
    against `vs` (a hand or a range), laid out as Range.grid(); NaN where no
    deal is possible; NoDealError (a ValueError) when no class has a possible
    deal, as when `vs` is a range with no combo left beside the board and dead
    cards. The array remembers `vs` and the board, which plot_grid names in
    its default title. Exact (trials=None) is one engine run that sweeps every
    board for all 1,326 combos at once. With `trials`, each cell is a Monte
    Carlo run of that many trials (one seed for all cells, drawn when None).
    (trials and seed given by position still work and warn.)

    threads=None uses every core. progress: True draws a bar on stderr; a
    callable progress(done, total) is called as work finishes, last with
    done == total. cancel: a threading.Event that stops the call once set
    (concurrent.futures.CancelledError), as in equity.
    """
    checked_cancel(cancel)
    spot, board_cards, dead_cards = read_spot(["random", vs], board, dead)
    threads_used = thread_count(threads)
    report, bar = progress_reporter(progress, "hand grid", "items")
    with contextlib.ExitStack() as cleanup:
        if bar is not None:
            cleanup.callback(bar.close)
        if trials is not None:
            grid = _sampled_grid(spot[1], board_cards, dead_cards, trials, seed, threads_used, report, cancel)
            return finished_grid(grid, vs, board_cards)
        fixed = _mask([*board_cards, *dead_cards])
        live = [not fixed & _mask(combo) for combo in _ALL_COMBOS]
        combos = [combo for combo, keep in zip(_ALL_COMBOS, live) if keep]
        villain_combos, villain_weights = _live_combos(spot[1], fixed)
        try:
            (wins, ties, boards), _ = _engine.combo_sweep(
                combos, [1.0] * len(combos), villain_combos, villain_weights, list(board_cards), _mask(dead_cards),
                threads_used, report, villain_table=False, cancel=cancel)
        except NoDealError:
            return finished_grid(np.full((13, 13), np.nan), vs, board_cards)
    cells = _COMBO_CELL[np.array(live)]
    halves = np.bincount(cells, weights=wins + ties / 2, minlength=169)
    met = np.bincount(cells, weights=boards, minlength=169)
    grid = np.full(169, np.nan)
    np.divide(halves, met, out=grid, where=met > 0)
    return finished_grid(grid.reshape(13, 13), vs, board_cards)


def _sampled_grid(
    opponent: tuple[int, int] | Range, board: tuple[int, ...], dead: tuple[int, ...], trials: int,
    seed: int | None, threads: int, report: Progress | None, cancel: threading.Event | None,
) -> npt.NDArray[np.float64]:
    cell_seed = _seed(seed)
    grid = np.full((13, 13), np.nan)
    for done, name in enumerate(HAND_CLASSES, 1):
        try:
            result = equity([Range(name), opponent], board, dead, trials=trials, seed=cell_seed, threads=threads,
                            cancel=cancel)
        except NoDealError:
            continue
        finally:
            if report is not None:
                report(done, len(HAND_CLASSES))
        grid[grid_position(name)] = result.equity[0]
    return grid
