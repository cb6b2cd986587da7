"""Omaha all-in equity: 4, 5 or 6 hole cards, high or high-low eight or better.

equity(..., game="omaha") lands here. Players are hands, "random" or
OmahaRange; the engine counts every deal and completion of the board, or
samples them, on worker threads with the interpreter's lock released.
"""

from __future__ import annotations

import sys
import threading
from collections.abc import Callable, Iterable, Sequence
from typing import Union

import numpy as np

from tavrix_equity import _engine
from tavrix_equity.all_in import (
    MAX_PLAYERS, MIN_PLAYERS, CardsLike, NoDealError, PlayerLike, _mask, _refuse_duplicates, _seed, _standard_error, cards_of,
    default_threads,
)
from tavrix_equity._cancel import checked_cancel
from tavrix_equity.cards import DECK_SIZE, format_cards, parse_cards, positive_int
from tavrix_equity.omaha_range import OmahaRange
from tavrix_equity.result import EquityResult

__all__ = ["GAMES", "OMAHA_GAMES", "OmahaPlayerLike", "omaha_equity"]

# Each game: hole cards per player, and whether the pot is split high-low.
OMAHA_GAMES: dict[str, tuple[int, bool]] = {
    "omaha": (4, False), "omaha5": (5, False), "omaha6": (6, False),
    "omaha-hi-lo": (4, True), "omaha5-hi-lo": (5, True), "omaha6-hi-lo": (6, True),
}
GAMES = ("holdem", *OMAHA_GAMES)
BOARD_CARDS = 5
RANDOM = "random"

OmahaPlayerLike = PlayerLike
Progress = Callable[[int, int], object]
# A player as the engine takes it: None for random, else the hands' cards as
# bytes and their weights.
_EnginePlayer = Union[tuple[bytes, list[float]], None]


def game_rules(game: object) -> tuple[int, bool]:
    """(hole cards, high-low) of an Omaha game name; ValueError names the games."""
    if not isinstance(game, str):
        raise TypeError(f"game must be a game name, not {type(game).__name__}")
    if game not in OMAHA_GAMES:
        raise ValueError(f"unknown game {game!r}: expected one of {', '.join(GAMES)}")
    return OMAHA_GAMES[game]


def _player(value: object, number: int, hole_cards: int, game: str) -> tuple[int, ...] | OmahaRange | None:
    """A hand, a range, or None for a random hand."""
    if isinstance(value, OmahaRange):
        if value.hole_cards != hole_cards:
            raise ValueError(f"{game} hands hold {hole_cards} cards: player {number}'s range has "
                             f"hands of {value.hole_cards}")
        return value
    if isinstance(value, str):
        if value.strip().lower() == RANDOM:
            return None
        try:
            cards = parse_cards(value)
        except ValueError:
            cards = None
        if cards is None or (len(cards) != hole_cards and "," in value):
            # Items of a weighted list of hands, "AsAhKsKh:0.5, QdQcJdTc".
            return _player(OmahaRange(value), number, hole_cards, game)
    else:
        cards = cards_of(value, f"player {number}'s hand")  # type: ignore[arg-type]  # checked by cards_of
    if len(cards) != hole_cards:
        raise ValueError(f"{game} hands hold {hole_cards} cards: player {number} has {len(cards)} ({value!r})")
    return cards


def _engine_players(players: list[tuple[int, ...] | OmahaRange | None], fixed: int) -> list[_EnginePlayer]:
    """Each player for the engine, ranges without the hands that use a card already in play."""
    result: list[_EnginePlayer] = []
    for number, player in enumerate(players, 1):
        if player is None:
            result.append(None)
        elif isinstance(player, OmahaRange):
            hands = player.hands
            masks = np.bitwise_or.reduce(np.left_shift(np.uint64(1), hands.astype(np.uint64)), axis=1)
            kept = (masks & np.uint64(fixed)) == 0
            if not kept.any():
                why = "is empty" if len(player) == 0 else "has no hand left beside the board, dead cards and hands"
                raise NoDealError(f"player {number}'s range {player.name()!r} {why}")
            result.append((np.ascontiguousarray(hands[kept]).tobytes(), player.weights[kept].tolist()))
        else:
            result.append((bytes(player), [1.0]))
    return result


def _name(player: tuple[int, ...] | OmahaRange | None) -> str:
    if player is None:
        return RANDOM
    if isinstance(player, OmahaRange):
        return player.name()
    return format_cards(player)


def omaha_equity(
    players: Sequence[OmahaPlayerLike],
    board: CardsLike = "",
    dead: CardsLike = "",
    *,
    game: str = "omaha",
    trials: int | None = None,
    seed: int | None = None,
    threads: int | None = None,
    progress: bool | Progress | None = None,
    cancel: threading.Event | None = None,
) -> EquityResult:
    """Omaha equity of 2 to 10 players; see tavrix_equity.equity."""
    hole_cards, high_low = game_rules(game)
    if isinstance(players, (str, bytes)) or not isinstance(players, Iterable):
        raise TypeError("players must be a sequence of hands or ranges, one per player")
    given = list(players)
    if not MIN_PLAYERS <= len(given) <= MAX_PLAYERS:
        raise ValueError(f"equity needs 2 to 10 players, not {len(given)}")
    chosen = [_player(value, number, hole_cards, game) for number, value in enumerate(given, 1)]
    board_cards = cards_of(board, "board")
    if len(board_cards) > BOARD_CARDS:
        raise ValueError(f"a board has at most 5 cards, not {len(board_cards)}")
    dead_cards = cards_of(dead, "dead cards")
    trial_count = None if trials is None else positive_int(trials, "trials")
    if trial_count is not None and trial_count > _engine.MAX_TRIALS:
        raise ValueError(f"trials must be at most {_engine.MAX_TRIALS:,}, not {trial_count:,}")
    thread_count = min(default_threads() if threads is None else positive_int(threads, "threads"), 1024)
    checked_cancel(cancel)
    report, bar = _progress(progress)

    in_play: list[int] = [*board_cards, *dead_cards]
    for player in chosen:
        if isinstance(player, tuple):
            in_play.extend(player)
    _refuse_duplicates(in_play)
    left = DECK_SIZE - len(board_cards) - len(dead_cards) - hole_cards * len(chosen)
    if left < BOARD_CARDS - len(board_cards):
        raise ValueError(f"too few cards left to complete the board: {max(left, 0)} left, "
                         f"{BOARD_CARDS - len(board_cards)} needed")

    engine_players = _engine_players(chosen, _mask(in_play))
    used_seed = None
    try:
        if trial_count is None:
            totals = _engine.omaha_exact_equity(
                hole_cards, high_low, engine_players, list(board_cards), _mask(dead_cards), thread_count, report, cancel)
        else:
            used_seed = _seed(seed)
            totals = _engine.omaha_monte_carlo_equity(
                hole_cards, high_low, engine_players, list(board_cards), _mask(dead_cards), trial_count, used_seed,
                thread_count, report, cancel)
    finally:
        if bar is not None:
            bar.close()
    hands_only = all(isinstance(player, tuple) for player in chosen)
    return _result(totals, tuple(_name(p) for p in chosen), hands_only, high_low, trial_count, used_seed)


def _result(
    totals: tuple[list[float], list[float], list[float], list[float], float,
                  list[float], list[float], list[float], list[float]],
    names: tuple[str, ...],
    hands_only: bool,
    high_low: bool,
    trials: int | None,
    seed: int | None,
) -> EquityResult:
    wins, ties, shares, share_squares, boards, high_wins, high_ties, low_wins, low_ties = totals
    units = _engine.POT_UNITS
    if trials is None:
        std_error = (0.0,) * len(names)
    else:
        std_error = tuple(_standard_error(s / units, q / units**2, trials) for s, q in zip(shares, share_squares))
    count = int if hands_only else float

    def counts(values: list[float]) -> tuple[int | float, ...] | None:
        return tuple(count(v) for v in values) if high_low else None

    return EquityResult(
        equity=tuple(s / (units * boards) for s in shares),
        win=tuple(w / boards for w in wins),
        tie=tuple(t / boards for t in ties),
        wins=tuple(count(w) for w in wins),
        ties=tuple(count(t) for t in ties),
        std_error=std_error,
        boards=count(boards),
        exact=trials is None,
        players=names,
        seed=seed,
        high_wins=counts(high_wins),
        high_ties=counts(high_ties),
        low_wins=counts(low_wins),
        low_ties=counts(low_ties),
        scoops=counts(wins),
    )


class _Bar:
    """A one-line bar on stderr: work items done of the total."""

    def __init__(self) -> None:
        self._drawn = False

    def __call__(self, done: int, total: int) -> None:
        filled = 30 * done // total if total else 30
        sys.stderr.write(f"\requity [{'#' * filled}{'.' * (30 - filled)}] {done}/{total}")
        sys.stderr.flush()
        self._drawn = True

    def close(self) -> None:
        if self._drawn:
            sys.stderr.write("\n")
            sys.stderr.flush()


def _progress(progress: object) -> tuple[Progress | None, _Bar | None]:
    """The callable to report to, and the bar to close (progress=True)."""
    if progress is None or progress is False:
        return None, None
    if progress is True:
        bar = _Bar()
        return bar, bar
    if callable(progress):
        return progress, None
    raise TypeError("progress must be True, None or a callable progress(done, total)")
