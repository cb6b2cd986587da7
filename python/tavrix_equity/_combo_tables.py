"""Every live combo's equity against the other player's range, for both players.

Uses the package's combo_equity when it is there; otherwise each combo's
equity comes from one exact engine run of that combo against the other range.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from tavrix_equity import _engine
from tavrix_equity._live_combos import as_range, card_mask_of, live_combos
from tavrix_equity.all_in import NoDealError, cards_of, default_threads
from tavrix_equity.cards import positive_int
from tavrix_equity.ranges import Range

__all__ = ["PlayerTable", "combo_tables", "checked_board"]


@dataclass(frozen=True)
class PlayerTable:
    combos: npt.NDArray[np.uint8]
    weights: npt.NDArray[np.float64]
    equity: npt.NDArray[np.float64]  # NaN where the combo never meets the other range
    boards: npt.NDArray[np.float64]


def checked_board(board: Any, dead: Any, sizes: tuple[int, ...]) -> tuple[tuple[int, ...], tuple[int, ...]]:
    """The board's and the dead cards' indices: a board of one of `sizes` cards, no card twice."""
    board_cards = cards_of(board, "board")
    if len(board_cards) not in sizes:
        allowed = ", ".join(map(str, sizes[:-1])) + f" or {sizes[-1]}" if len(sizes) > 1 else str(sizes[0])
        raise ValueError(f"the board must hold {allowed} cards, not {len(board_cards)}")
    dead_cards = cards_of(dead, "dead cards")
    shared = set(board_cards) & set(dead_cards)
    if shared:
        from tavrix_equity.cards import format_cards
        raise ValueError(f"duplicate card {format_cards((min(shared),))}: on the board and among the dead cards")
    return board_cards, dead_cards


def _one_side(
    hero: Range, villain: Range, board: tuple[int, ...], dead: tuple[int, ...], threads: int,
) -> PlayerTable:
    known = card_mask_of(board) | card_mask_of(dead)
    combos, weights = live_combos(hero, known)
    villain_combos, villain_weights = live_combos(villain, known)
    equity = np.full(len(combos), np.nan)
    boards = np.zeros(len(combos))
    dead_mask = card_mask_of(dead)
    pairs = [(int(a), int(b)) for a, b in villain_combos]
    masks = (np.uint64(1) << villain_combos[:, 0].astype(np.uint64)) | (np.uint64(1) << villain_combos[:, 1].astype(np.uint64))
    for i, (a, b) in enumerate(combos):
        meets = (masks & np.uint64((1 << int(a)) | (1 << int(b)))) == 0
        if not meets.any():
            continue
        opponent = ([p for p, keep in zip(pairs, meets) if keep], villain_weights[meets].tolist())
        totals = _engine.exact_equity([([(int(a), int(b))], [1.0]), opponent], list(board), dead_mask, threads)
        boards[i] = totals[4]
        equity[i] = totals[2][0] / (_engine.SHARE_UNITS * totals[4])
    return PlayerTable(combos, weights, equity, boards)


def combo_tables(
    hero: Range | str, villain: Range | str, board: Any, dead: Any, threads: int | None,
) -> tuple[PlayerTable, PlayerTable]:
    """Both players' live combos with their equity against the other range."""
    import tavrix_equity

    hero_range, villain_range = as_range(hero, "hero"), as_range(villain, "villain")
    thread_count = default_threads() if threads is None else positive_int(threads, "threads")
    sweep = getattr(tavrix_equity, "combo_equity", None)
    if sweep is not None:
        result = sweep(hero_range, villain_range, board, dead, threads=thread_count)
        return tuple(  # type: ignore[return-value]
            PlayerTable(t.combos, t.weights, t.equity, t.boards) for t in (result.hero, result.villain)
        )
    board_cards = cards_of(board, "board")
    dead_cards = cards_of(dead, "dead cards")
    known = card_mask_of(board_cards) | card_mask_of(dead_cards)
    for number, r in enumerate((hero_range, villain_range), 1):
        if not len(live_combos(r, known)[0]):
            raise NoDealError(f"player {number}'s range {str(r)!r} has no combo left beside the board and dead cards")
    hero_table = _one_side(hero_range, villain_range, board_cards, dead_cards, thread_count)
    villain_table = _one_side(villain_range, hero_range, board_cards, dead_cards, thread_count)
    if not (hero_table.boards > 0).any():
        raise NoDealError("no possible deal: every combination of the players' hands shares a card")
    return hero_table, villain_table
