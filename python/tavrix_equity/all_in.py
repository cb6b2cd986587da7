"""All-in equity of two to ten players, each a hand or a range: exact or Monte Carlo.

The engine runs on worker threads with the interpreter's lock released; the
calling thread checks for Ctrl-C every few milliseconds. Heads-up exact jobs
take whichever engine path costs less: deal by deal, or one sweep per board
of every pair of combos at once.
"""

from __future__ import annotations

import contextlib
import dataclasses
import functools
import math
import os
import secrets
import threading
from collections.abc import Iterable, Sequence
from typing import Union

from tavrix_equity import _engine
from tavrix_equity._cancel import checked_cancel, raise_if_cancelled
from tavrix_equity._deprecation import keyword_renamed
from tavrix_equity._messages import quoted
from tavrix_equity._progress import ProgressArg, progress_reporter
from tavrix_equity.cards import DECK_SIZE, checked_int, format_cards, parse_cards, positive_int
from tavrix_equity.omaha_range import OmahaRange
from tavrix_equity.ranges import Range
from tavrix_equity.result import EquityResult

__all__ = ["equity", "CardsLike", "PlayerLike", "NoDealError"]

CardsLike = Union[str, Iterable[int], Iterable[str]]
PlayerLike = Union[str, Range, OmahaRange, Sequence[int], Sequence[str]]
Player = Union[tuple[int, int], Range]

SEED_LIMIT = 1 << 64
# The engine's limits, under the names the Omaha driver reads.
MIN_PLAYERS, MAX_PLAYERS = _engine.MIN_PLAYERS, _engine.MAX_PLAYERS
# Raised by the engine itself, whose condition it is: a ValueError.
NoDealError = _engine.NoDealError
# Below this, a player's weights are scaled up before they are multiplied.
_TINY_WEIGHT = 2.0**-64


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


@functools.lru_cache(maxsize=64)
def _range(text: str) -> Range:
    # Ranges are immutable: the same text read again (a grid, a loop of
    # boards) is parsed once.
    return Range(text)


def _player(value: PlayerLike, number: int) -> tuple[int, int] | Range:
    """A hand (two card indices) or a range. Text of exactly two cards is a hand."""
    if isinstance(value, Range):
        return value
    if isinstance(value, OmahaRange):
        raise ValueError(f"player {number} is an OmahaRange: Omaha hands need game='omaha' (or another Omaha game)")
    if isinstance(value, str):
        try:
            cards = parse_cards(value)
        except ValueError:
            return _range(value)
        if len(cards) != 2:
            # Cards that are not one hand may still be a range of specific
            # hands ("AsAh, KsKh") or the empty range.
            try:
                return _range(value)
            except ValueError:
                raise ValueError(f"a hand is two cards: player {number} has {len(cards)} ({quoted(value)})") from None
    else:
        cards = cards_of(value, f"player {number}'s hand")
    if len(cards) != 2:
        raise ValueError(f"a hand is two cards: player {number} has {len(cards)} ({quoted(value)})")
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


def _range_text(given: object, player: Range) -> str:
    # The text the user wrote, which they can find in their input: the
    # canonical text of "QQ+:0" is the empty text.
    return quoted(given.strip() if isinstance(given, str) else str(player))


def _engine_players(
    players: list[Player], fixed: int, given: Sequence[object] = (),
) -> list[tuple[list[tuple[int, int]], list[float]]]:
    """Each player's combos and weights, without those that use a board or dead card.
    `given` is what the caller passed for each player, quoted in errors."""
    engine_players = []
    for number, player in enumerate(players, 1):
        if isinstance(player, Range):
            kept = [(combo, w) for combo, w in player.combos if not (fixed >> combo[0] | fixed >> combo[1]) & 1]
            if not kept:
                why = "is empty" if len(player) == 0 else "has no combo left beside the board and dead cards"
                text = _range_text(given[number - 1] if number <= len(given) else player, player)
                raise NoDealError(f"player {number}'s range {text} {why}")
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


def read_spot(values: Sequence[PlayerLike], board: CardsLike, dead: CardsLike) -> tuple[
        list[Player], tuple[int, ...], tuple[int, ...]]:
    """The players, board and dead cards of a job, checked against each other."""
    players = [_player(value, number) for number, value in enumerate(values, 1)]
    board_cards = cards_of(board, "board")
    if len(board_cards) > _engine.BOARD_CARDS:
        raise ValueError(f"a board has at most {_engine.BOARD_CARDS} cards, not {len(board_cards)}")
    dead_cards = cards_of(dead, "dead cards")
    in_play: list[int] = [*board_cards, *dead_cards]
    for player in players:
        if not isinstance(player, Range):
            in_play.extend(player)
    _refuse_duplicates(in_play)
    needed = _engine.BOARD_CARDS - len(board_cards)
    left = DECK_SIZE - len(board_cards) - len(dead_cards) - _engine.HAND_CARDS * len(players)
    if left < needed:
        raise ValueError(f"too few cards left to complete the board: {max(left, 0)} left, {needed} needed")
    return players, board_cards, dead_cards


def thread_count(threads: object) -> int:
    """The worker threads to use: every core for None."""
    return min(default_threads() if threads is None else positive_int(threads, "threads"), 1024)


def player_name(player: Player) -> str:
    return str(player) if isinstance(player, Range) else format_cards(player)


@keyword_renamed("hands", "players")
def equity(
    players: Sequence[PlayerLike],
    board: CardsLike = "",
    dead: CardsLike = "",
    *,
    game: str = "holdem",
    trials: int | None = None,
    seed: int | None = None,
    threads: int | None = None,
    progress: ProgressArg = None,
    cancel: threading.Event | None = None,
) -> EquityResult:
    """equity(players, board="", dead="", *, game="holdem", trials=None, seed=None, threads=None, progress=None,
    cancel=None) -> EquityResult

    `players`: 2 to 10 players, each a two-card hand (text such as "AsKs" or
    a pair of card indices) or a range (a Range, or range text such as
    "QQ+,AKs"). `board`: 0 to 5 cards; `dead`: cards out of play; each as text
    or card indices. (`hands=`, the old name of `players`, still works and
    warns.)

    trials=None counts every deal and every completion of the board exactly;
    heads-up, the engine takes the cheaper of counting deal by deal and
    sweeping each board for every pair of combos at once. trials=N samples N
    random deals and boards; for two ranges, when a short pilot shows that
    sampling boards and sweeping each for every pair of combos gives a
    smaller standard error for the same work, it samples that many deals'
    worth of boards instead. A given seed gives the same result for any
    `threads`; seed=None draws one. threads=None uses every core. On each
    board the players with the best score share it equally.

    game: "holdem", or Omaha with 4, 5 or 6 hole cards, high ("omaha",
    "omaha5", "omaha6") or high-low eight or better ("omaha-hi-lo",
    "omaha5-hi-lo", "omaha6-hi-lo"): each player is then a hand of that many
    cards, "random", or an OmahaRange (or its text, "AsAhKsKh:0.5, QdQcJdTc").
    High-low results also count each half (high_wins, high_ties, low_wins,
    low_ties) and the scoops.

    progress: True draws a bar on stderr; a callable progress(done, total) is
    called with the engine's work items as they finish, last with done ==
    total.

    cancel: a threading.Event; once it is set the call stops within about
    half a second and raises concurrent.futures.CancelledError (Ctrl-C
    reaches only the main thread, so this stops a call running elsewhere).

    Raises NoDealError (a ValueError) when no deal is possible, and
    ValueError for a card given twice, a hand that is not two cards, more
    than 5 board cards, fewer than 2 or more than 10 players, too few cards
    left to complete the board, or trials below 1.
    """
    if game != "holdem":
        from tavrix_equity.omaha import omaha_equity

        return omaha_equity(players, board, dead, game=game, trials=trials, seed=seed, threads=threads,
                            progress=progress, cancel=cancel)
    if isinstance(players, (str, bytes)) or not isinstance(players, Iterable):
        raise TypeError("players must be a sequence of hands or ranges, one per player")
    values = list(players)
    if not _engine.MIN_PLAYERS <= len(values) <= _engine.MAX_PLAYERS:
        raise ValueError(f"equity needs {_engine.MIN_PLAYERS} to {_engine.MAX_PLAYERS} players, not {len(values)}")
    spot, board_cards, dead_cards = read_spot(values, board, dead)
    trial_count = None if trials is None else positive_int(trials, "trials")
    if trial_count is not None and trial_count > _engine.MAX_TRIALS:
        raise ValueError(f"trials must be at most {_engine.MAX_TRIALS:,}, not {trial_count:,}")
    threads_used = thread_count(threads)
    checked_cancel(cancel)
    report, bar = progress_reporter(progress, "equity", "items")

    engine_players, scales = _normalised(_engine_players(spot, _mask([*board_cards, *dead_cards]), values))
    dead_mask = _mask(dead_cards)
    used_seed = None
    std_error: list[float] | None = None
    raise_if_cancelled(cancel)
    with contextlib.ExitStack() as cleanup:
        if bar is not None:
            cleanup.callback(bar.close)
        if trial_count is None:
            totals = _engine.exact_equity(engine_players, list(board_cards), dead_mask, threads_used, report, cancel=cancel)
        else:
            used_seed = _seed(seed)
            swept = None
            if len(spot) == 2 and all(isinstance(p, Range) for p in spot):
                swept = _engine.monte_carlo_sweep(
                    engine_players, list(board_cards), dead_mask, trial_count, used_seed, threads_used, report, cancel=cancel)
            if swept is not None:
                totals, std_error, _ = swept
            else:
                totals = _engine.monte_carlo_equity(
                    engine_players, list(board_cards), dead_mask, trial_count, used_seed, threads_used, report, cancel=cancel)
                std_error = None
    if not totals[4] > 0:
        raise ValueError(
            "the ranges' weights are too small: the product of every possible deal's weights "
            "is below the smallest float; give weights closer to 1"
        )
    names = tuple(player_name(p) for p in spot)
    hands_only = not any(isinstance(p, Range) for p in spot)
    deals_sampled = trial_count is not None and std_error is None
    # Sums of deal weights are reported in the caller's weights (sampled deals
    # count trials, which scaling does not touch).
    shift = 0 if deals_sampled else -sum(scales)
    result = _result(totals, names, hands_only or deals_sampled, trial_count, used_seed, shift)
    if trial_count is not None and std_error is not None:
        result = dataclasses.replace(result, std_error=tuple(std_error))
    return result


def _result(
    totals: tuple[list[float], list[float], list[float], list[float], float],
    names: tuple[str, ...],
    integral: bool,
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
    # Counts are integers for hands, and for Monte Carlo that draws deals in
    # proportion to their weight (each trial one whole board); weighted sums
    # otherwise.
    count = int if integral else float
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
