"""Board checks shared by the breakdown and the distribution."""

from __future__ import annotations

from typing import Any

from tavrix_equity.all_in import cards_of
from tavrix_equity.cards import format_cards

__all__ = ["checked_board"]


def checked_board(board: Any, dead: Any, sizes: tuple[int, ...]) -> tuple[tuple[int, ...], tuple[int, ...]]:
    """The board's and the dead cards' indices: a board of one of `sizes` cards, no card twice."""
    board_cards = cards_of(board, "board")
    if len(board_cards) not in sizes:
        allowed = ", ".join(map(str, sizes[:-1])) + f" or {sizes[-1]}" if len(sizes) > 1 else str(sizes[0])
        raise ValueError(f"the board must hold {allowed} cards, not {len(board_cards)}")
    dead_cards = cards_of(dead, "dead cards")
    shared = set(board_cards) & set(dead_cards)
    if shared:
        raise ValueError(f"duplicate card {format_cards((min(shared),))}: on the board and among the dead cards")
    return board_cards, dead_cards
