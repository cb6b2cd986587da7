"""What players end with at showdown: the share of boards on which each player's
final hand is each score category, and on which it wins or ties with it."""

from __future__ import annotations

from collections.abc import Iterable, Sequence
from typing import NamedTuple

import numpy as np
import numpy.typing as npt

from tavrix_equity import _engine
from tavrix_equity.all_in import CardsLike, PlayerLike, _engine_players, _mask, _seed, read_spot, thread_count
from tavrix_equity.cards import positive_int

__all__ = ["ShowdownCategories", "showdown_categories"]


class ShowdownCategories(NamedTuple):
    """Two float64 (players, 9) arrays, columns in CATEGORY_NAMES order.

    final[p, c]: share of player p's deal-weighted boards on which its final
        hand is category c (each row sums to 1).
    winning[p, c]: share on which it wins or ties holding category c.
    """

    final: npt.NDArray[np.float64]
    winning: npt.NDArray[np.float64]


def showdown_categories(
    players: Sequence[PlayerLike],
    board: CardsLike = "",
    dead: CardsLike = "",
    *,
    trials: int | None = None,
    seed: int | None = None,
    threads: int | None = None,
) -> ShowdownCategories:
    """showdown_categories(players, board="", dead="", *, trials=None, seed=None, threads=None)

    For 2 to 10 players (hands or ranges, as for equity), the share of each
    player's deal-weighted boards on which its final hand is each of the
    nine categories of CATEGORY_NAMES, and the share on which it wins (or
    ties) with each: ShowdownCategories(final, winning), two float64
    (players, 9) arrays. Exact by default; trials=N samples N deals and
    boards, reproducibly for a seed. Raises ValueError for the inputs equity
    refuses and NoDealError when no deal is possible.
    """
    if isinstance(players, (str, bytes)) or not isinstance(players, Iterable):
        raise TypeError("players must be a sequence of hands or ranges, one per player")
    given = list(players)
    if not _engine.MIN_PLAYERS <= len(given) <= _engine.MAX_PLAYERS:
        raise ValueError(f"showdown_categories needs {_engine.MIN_PLAYERS} to {_engine.MAX_PLAYERS} players, "
                         f"not {len(given)}")
    spot, board_cards, dead_cards = read_spot(given, board, dead)
    trial_count = 0 if trials is None else positive_int(trials, "trials")
    if trial_count > _engine.MAX_TRIALS:
        raise ValueError(f"trials must be at most {_engine.MAX_TRIALS:,}, not {trial_count:,}")
    threads_used = thread_count(threads)
    engine_players = _engine_players(spot, _mask([*board_cards, *dead_cards]))
    used_seed = _seed(seed) if trial_count else 0
    final, winning, boards = _engine.showdown_categories(
        engine_players, list(board_cards), _mask(dead_cards), trial_count, used_seed, threads_used)
    final /= boards
    winning /= boards
    return ShowdownCategories(final, winning)
