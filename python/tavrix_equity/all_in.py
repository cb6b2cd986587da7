"""All-in equity of two to ten players, each a hand or a range: exact or Monte Carlo.

The engine runs on worker threads with the interpreter's lock released; the
calling thread checks for Ctrl-C every few milliseconds.
"""

from __future__ import annotations

import math
import os
import secrets
import threading
from collections.abc import Iterable, Sequence
from typing import Union

from tavrix_equity import _engine
from tavrix_equity._cancel import checked_cancel, raise_if_cancelled
from tavrix_equity.cards import DECK_SIZE, checked_int, format_cards, parse_cards, positive_int
from tavrix_equity.ranges import Range
from tavrix_equity.result import EquityResult

__all__ = ["equity", "CardsLike", "PlayerLike", "NoDealError"]

CardsLike = Union[str, Iterable[int], Iterable[str]]
PlayerLike = Union[str, Range, Sequence[int], Sequence[str]]

MIN_PLAYERS, MAX_PLAYERS = 2, 10
BOARD_CARDS = 5
SEED_LIMIT = 1 << 64
# Below this, a player's weights are scaled up before they are multiplied.
_TINY_WEIGHT = 2.0**-64


class NoDealError(ValueError):
    """No deal is possible: a range is empty, or the ranges always share a card."""


def cards_of(value: CardsLike, what: str) -> tuple[int, ...]:
    """Card indices from text ("AsKs"), a sequence of card texts (["As", "Ks"])
    or a sequence of indices."""
    if isinstance(value, str):
        return parse_cards(value)
    if isinstance(value, (bytes, bytearray)) or not isinstance(value, Iterable):
        raise TypeError(f"{what} must be card text or card indices, not {type(value).__name__}")
    items: list[object] = list(value)
    texts = [item for item in items if isinstance(item, str)]
    if items and len(texts) == len(items):
        return parse_cards(" ".join(texts))
    cards = tuple(checked_int(card, f"{what}: card index", 0, DECK_SIZE) for card in items)
    _refuse_duplicates(cards)
    return cards


def _refuse_duplicates(cards: Iterable[int]) -> None:
    seen: set[int] = set()
    for card in cards:
        if card in seen:
            raise ValueError(f"duplicate card {format_cards((card,))}")
        seen.add(card)


def _player(value: PlayerLike, number: int) -> tuple[int, int] | Range:
    """A hand (two card indices) or a range. Text of exactly two cards is a hand."""
    if isinstance(value, Range):
        return value
    if isinstance(value, str):
        try:
            cards = parse_cards(value)
        except ValueError:
            return Range(value)
        if len(cards) != 2:
            # Cards that are not one hand may still be a range of specific
            # hands ("AsAh, KsKh") or the empty range.
            try:
                return Range(value)
            except ValueError:
                raise ValueError(f"a hand is two cards: player {number} has {len(cards)} ({value!r})") from None
    else:
        cards = cards_of(value, f"player {number}'s hand")
    if len(cards) != 2:
        raise ValueError(f"a hand is two cards: player {number} has {len(cards)} ({value!r})")
    return cards[0], cards[1]


def _seed(seed: object) -> int:
    if seed is None:
        return secrets.randbits(64)
    return checked_int(seed, "seed", 0, SEED_LIMIT)


def default_threads() -> int:
    """The cores this process may run on."""
    try:
        return len(os.sched_getaffinity(0))
    except (AttributeError, OSError):
        return os.cpu_count() or 1


def _mask(cards: Iterable[int]) -> int:
    return sum(1 << card for card in cards)


def _engine_players(
    players: list[tuple[int, int] | Range], fixed: int
) -> list[tuple[list[tuple[int, int]], list[float]]]:
    """Each player's combos and weights, without those that use a card already in play."""
    engine_players = []
    for number, player in enumerate(players, 1):
        if isinstance(player, Range):
            kept = [(combo, w) for combo, w in player.combos if not fixed & _mask(combo)]
            if not kept:
                why = "is empty" if len(player) == 0 else "has no combo left beside the board, dead cards and hands"
                raise NoDealError(f"player {number}'s range {str(player)!r} {why}")
            engine_players.append(([combo for combo, _ in kept], [w for _, w in kept]))
        else:
            engine_players.append(([player], [1.0]))
    return engine_players


def _normalised(
    players: list[tuple[list[tuple[int, int]], list[float]]],
) -> tuple[list[tuple[list[tuple[int, int]], list[float]]], list[int]]:
    """Each player's weights, those of a player whose largest weight is tiny
    scaled by a power of two to bring it into [0.5, 1), and the exponents
    used. Scaling by a power of two is exact and leaves every equity
    unchanged, while tiny weights (1e-200 for each of two players) would
    otherwise multiply to zero. Weights of usual sizes are left as given."""
    scaled, exponents = [], []
    for combos, weights in players:
        largest = max(weights)
        exponent = -math.frexp(largest)[1] if largest < _TINY_WEIGHT else 0
        exponents.append(exponent)
        scaled.append((combos, [math.ldexp(w, exponent) for w in weights] if exponent else weights))
    return scaled, exponents


def equity(
    hands: Sequence[PlayerLike],
    board: CardsLike = "",
    dead: CardsLike = "",
    *,
    trials: int | None = None,
    seed: int | None = None,
    threads: int | None = None,
    cancel: threading.Event | None = None,
) -> EquityResult:
    """equity(hands, board="", dead="", *, trials=None, seed=None, threads=None, cancel=None) -> EquityResult

    `hands`: 2 to 10 players, each a two-card hand (text such as "AsKs" or a
    pair of card indices) or a range (a Range, or range text such as
    "QQ+,AKs"). `board`: 0 to 5 cards; `dead`: cards out of play; each as text
    or card indices.

    trials=None counts every deal and every completion of the board exactly;
    trials=N samples N random deals and boards (a given seed gives the same
    result for any `threads`; seed=None draws one). threads=None uses every
    core. On each board the players with the best score share it equally.
    cancel: a threading.Event; once it is set the call stops within about
    half a second and raises concurrent.futures.CancelledError (Ctrl-C
    reaches only the main thread, so this stops a call running elsewhere).
    Raises ValueError for a card given twice, a hand that is not two cards,
    more than 5 board cards, fewer than 2 or more than 10 players, too few
    cards left to complete the board, or trials below 1.
    """
    if isinstance(hands, (str, bytes)) or not isinstance(hands, Iterable):
        raise TypeError("hands must be a sequence of hands or ranges, one per player")
    hands = list(hands)
    if not MIN_PLAYERS <= len(hands) <= MAX_PLAYERS:
        raise ValueError(f"equity needs 2 to 10 players, not {len(hands)}")
    players = [_player(hand, number) for number, hand in enumerate(hands, 1)]
    board_cards = cards_of(board, "board")
    if len(board_cards) > BOARD_CARDS:
        raise ValueError(f"a board has at most 5 cards, not {len(board_cards)}")
    dead_cards = cards_of(dead, "dead cards")
    trial_count = None if trials is None else positive_int(trials, "trials")
    if trial_count is not None and trial_count > _engine.MAX_TRIALS:
        raise ValueError(f"trials must be at most {_engine.MAX_TRIALS:,}, not {trial_count:,}")
    thread_count = default_threads() if threads is None else positive_int(threads, "threads")
    checked_cancel(cancel)

    in_play: list[int] = [*board_cards, *dead_cards]
    for player in players:
        if not isinstance(player, Range):
            in_play.extend(player)
    _refuse_duplicates(in_play)
    left = DECK_SIZE - len(board_cards) - len(dead_cards) - 2 * len(players)
    if left < BOARD_CARDS - len(board_cards):
        raise ValueError(f"too few cards left to complete the board: {max(left, 0)} left, "
                         f"{BOARD_CARDS - len(board_cards)} needed")

    engine_players, scales = _normalised(_engine_players(players, _mask(in_play)))
    dead_mask = _mask(dead_cards)
    threads_used = min(thread_count, 1024)
    used_seed = None
    raise_if_cancelled(cancel)
    try:
        if trial_count is None:
            totals = _engine.exact_equity(engine_players, list(board_cards), dead_mask, threads_used, cancel)
        else:
            used_seed = _seed(seed)
            totals = _engine.monte_carlo_equity(
                engine_players, list(board_cards), dead_mask, trial_count, used_seed, threads_used, cancel)
    except ValueError as error:
        if str(error).startswith("no possible deal"):
            raise NoDealError(str(error)) from None
        raise
    if not totals[4] > 0:
        raise ValueError(
            "the ranges' weights are too small: the product of every possible deal's weights "
            "is below the smallest float; give weights closer to 1"
        )
    names = tuple(str(p) if isinstance(p, Range) else format_cards(p) for p in players)
    hands_only = not any(isinstance(p, Range) for p in players)
    # Exact counts are sums of deal weights: reported in the caller's weights
    # (Monte Carlo counts trials, which scaling does not touch).
    shift = -sum(scales) if trial_count is None else 0
    return _result(totals, names, hands_only, trial_count, used_seed, shift)


def _result(
    totals: tuple[list[float], list[float], list[float], list[float], float],
    names: tuple[str, ...],
    hands_only: bool,
    trials: int | None,
    seed: int | None,
    count_shift: int = 0,
) -> EquityResult:
    """The result of the engine's totals; wins, ties and boards are reported
    times 2**count_shift, the ratios computed before that scaling."""
    wins, ties, shares, share_squares, boards = totals
    units = _engine.SHARE_UNITS
    equity = tuple(s / (units * boards) for s in shares)
    if trials is None:
        std_error = (0.0,) * len(names)
    else:
        std_error = tuple(_standard_error(s / units, q / units**2, trials) for s, q in zip(shares, share_squares))
    count = int if hands_only else float
    return EquityResult(
        equity=equity,
        win=tuple(w / boards for w in wins),
        tie=tuple(t / boards for t in ties),
        wins=tuple(count(math.ldexp(w, count_shift)) for w in wins),
        ties=tuple(count(math.ldexp(t, count_shift)) for t in ties),
        std_error=std_error,
        boards=count(math.ldexp(boards, count_shift)),
        exact=trials is None,
        players=names,
        seed=seed,
    )


def _standard_error(total: float, total_squares: float, n: int) -> float:
    """Sample standard deviation of per-board shares over sqrt(n); NaN for one trial."""
    if n < 2:
        return math.nan
    variance = max(0.0, (total_squares - total * total / n) / (n - 1))
    return math.sqrt(variance / n)
