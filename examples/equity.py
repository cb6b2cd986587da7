"""Exact all-in equity of two or more hold'em hands.

Every completion of the board is dealt from the rest of the deck and each
player's seven cards are scored with tavrix in large batches. Prints win, tie
and lose shares per hand, the categories of the final hands and the scoring
speed; a progress bar goes to stderr so stdout carries only the figures.

    python examples/equity.py                          # AsKs against QhQd
    python examples/equity.py AsKs QhQd JcTc --board 2h7d9s
"""

import argparse
import gc
import math
import operator
import sys
import time
from collections import Counter
from collections.abc import Iterator, Sequence
from dataclasses import dataclass, field
from fractions import Fraction
from functools import reduce
from itertools import combinations, compress, repeat
from typing import TextIO

from tavrix import evaluate_list, poker_hand

Hand = poker_hand.Hand

RANKS = "23456789TJQKA"
SUITS = "cdhs"
DECK_SIZE = 52
BOARD_SIZE = 5
DEFAULT_HANDS = ["AsKs", "QhQd"]
CATEGORIES = [
    "high card", "one pair", "two pair", "three of a kind", "straight",
    "flush", "full house", "four of a kind", "straight flush",
]
WORD = 2**64 - 1
# Hands scored per evaluate_list call: large enough that the call overhead
# vanishes; larger batches only add memory and were measured to run slower.
BATCH_HANDS = 100_000
PROGRESS_STEPS = 50
# The last cards of each board come from sums computed once up front: with
# three, that is at most C(48, 3) = 17,296 sums, and the hot loop does one
# addition per hand.
TAIL_CARDS = 3


class InputError(Exception):
    """A command-line value that names no valid deal."""


# ---------------------------------------------------------------- card text

def card_name(index: int) -> str:
    return RANKS[index >> 2] + SUITS[index & 3]


def parse_cards(text: str) -> list[int]:
    """Card indices of a run of two-character cards such as 'AsKs' or '2h7d9s'."""
    compact = "".join(text.replace(",", " ").split())
    cards = []
    for i in range(0, len(compact), 2):
        chunk = compact[i:i + 2]
        rank = RANKS.find(chunk[0].upper())
        suit = SUITS.find(chunk[1:].lower()) if len(chunk) == 2 else -1
        if rank < 0 or suit < 0:
            raise InputError(f"unknown card {chunk!r} in {text!r}")
        cards.append(4 * rank + suit)
    return cards


def parse_deal(hand_texts: Sequence[str], board_text: str) -> tuple[list[tuple[int, ...]], list[int]]:
    """Validated (hands, board): hands are pairs of card indices."""
    if len(hand_texts) < 2:
        raise InputError(f"need at least two hands, got {len(hand_texts)}")
    hands: list[tuple[int, ...]] = []
    for text in hand_texts:
        cards = parse_cards(text)
        if len(cards) != 2:
            raise InputError(f"hand {text!r} must be two cards, got {len(cards)}")
        hands.append(tuple(cards))
    board = parse_cards(board_text)
    if len(board) > BOARD_SIZE:
        raise InputError(f"board {board_text!r} has {len(board)} cards, at most {BOARD_SIZE} allowed")
    seen: set[int] = set()
    for card in [c for hand in hands for c in hand] + board:
        if card in seen:
            raise InputError(f"duplicated card {card_name(card)}")
        seen.add(card)
    left, needed = DECK_SIZE - len(seen), BOARD_SIZE - len(board)
    if left < needed:
        raise InputError(f"too many players: {len(hands)} hands leave {left} cards, the board needs {needed}")
    return hands, board


# --------------------------------------------------------------- enumeration

@dataclass
class PlayerTally:
    hand: str
    # split size -> boards on which this hand shares the best score with
    # (size - 1) others; size 1 is an outright win.
    splits: Counter[int] = field(default_factory=Counter)
    categories: list[int] = field(default_factory=lambda: [0] * len(CATEGORIES))

    @property
    def wins(self) -> int:
        return self.splits[1]

    @property
    def ties(self) -> int:
        return sum(self.splits.values()) - self.wins

    def losses(self, boards: int) -> int:
        return boards - sum(self.splits.values())

    def equity(self, boards: int) -> Fraction:
        """Exact pot share: a k-way split is worth 1/k of the pot."""
        return sum((Fraction(n, size) for size, n in self.splits.items()), Fraction(0)) / boards


@dataclass
class Matchup:
    tallies: list[PlayerTally]
    boards: int = 0
    seconds: float = 0.0
    scoring_seconds: float = 0.0

    @property
    def hands_scored(self) -> int:
        return self.boards * len(self.tallies)


def player_bases(hands: Sequence[tuple[int, ...]], board: Sequence[int]) -> list[tuple[int, int]]:
    """(key, mask) per player of the known board plus the hole cards.

    The board hand from from_bit_mask carries the bias; hole cards and dealt
    cards are unbiased, so they can be added on without counting it twice."""
    board_hand = Hand.from_bit_mask(sum(1 << c for c in board))
    bases = []
    for c1, c2 in hands:
        hole = Hand.from_hole_cards(c1, c2)
        bases.append(((board_hand.key + hole.key) & WORD, board_hand.mask | hole.mask))
    return bases


def cards_sum(deck_keys: Sequence[int], deck_masks: Sequence[int], chosen: tuple[int, ...]) -> tuple[int, int]:
    """(key, mask) of the unbiased hand of the chosen deck positions."""
    return sum(map(deck_keys.__getitem__, chosen)), reduce(operator.or_, map(deck_masks.__getitem__, chosen), 0)


def board_groups(deck_keys: Sequence[int], deck_masks: Sequence[int],
                 to_deal: int) -> Iterator[tuple[int, int, list[tuple[int, int]]]]:
    """Every to_deal-card completion from the deck, in groups.

    A group is the (key sum, mask) of a leading run of cards and the list of
    (key sum, mask) of every way to finish the board with higher cards. The
    finishing runs are summed once up front."""
    tail_size = min(to_deal, TAIL_CARDS)
    tails: list[tuple[int, int]] = []
    starts: list[int] = []
    for tail in combinations(range(len(deck_keys)), tail_size):
        # starts[j]: where the runs made only of cards above j begin.
        while tail and len(starts) <= tail[0]:
            starts.append(len(tails))
        tails.append(cards_sum(deck_keys, deck_masks, tail))
    starts += [len(tails)] * (len(deck_keys) + 1 - len(starts))
    if tail_size == to_deal:
        yield 0, 0, tails
        return
    for lead in combinations(range(len(deck_keys)), to_deal - tail_size):
        first = starts[lead[-1] + 1]
        if first < len(tails):
            yield *cards_sum(deck_keys, deck_masks, lead), tails[first:]


def fits_in_word(bases: Sequence[tuple[int, int]], deck_keys: Sequence[int], to_deal: int) -> bool:
    """True when no board can carry a player's key sum past 64 bits, so the
    sums need no reduction (true for real cards, checked rather than assumed)."""
    heaviest = sum(sorted(deck_keys, reverse=True)[:to_deal])
    return all(key + heaviest <= WORD for key, _ in bases)


def tally_scores(scores: Sequence[list[int]], tallies: Sequence[PlayerTally]) -> None:
    """Adds one batch of per-player scores (aligned board by board)."""
    best = list(map(max, *scores))
    at_best = [list(map(operator.eq, s, best)) for s in scores]
    sharing = at_best[0]
    for flags in at_best[1:]:
        sharing = list(map(operator.add, sharing, flags))
    # Splits are the rare case: only those boards are looked at one by one.
    tied = list(compress(range(len(best)), map(operator.gt, sharing, repeat(1))))
    tie_sizes = [sharing[b] for b in tied]
    for tally, s, flags in zip(tallies, scores, at_best):
        split = Counter(compress(tie_sizes, map(flags.__getitem__, tied)))
        split[1] = sum(flags) - split.total()
        tally.splits.update(+split)
        categories = bytes(map(operator.rshift, s, repeat(12)))
        counts = [categories.count(c) for c in range(len(CATEGORIES))]
        if sum(counts) != len(s):
            raise RuntimeError(f"evaluate_list returned a score above category {len(CATEGORIES) - 1}")
        tally.categories[:] = map(operator.add, tally.categories, counts)


def run_matchup(hands: Sequence[tuple[int, ...]], board: Sequence[int],
                progress: "ProgressBar | None" = None) -> Matchup:
    """Scores every completion of board for every hand: an exact Matchup."""
    dead = {c for hand in hands for c in hand} | set(board)
    cards = poker_hand.get_cards()
    live = [i for i in range(DECK_SIZE) if i not in dead]
    deck_keys = [cards[i].key for i in live]
    deck_masks = [cards[i].mask for i in live]
    to_deal = BOARD_SIZE - len(board)
    total = math.comb(len(live), to_deal)
    bases = player_bases(hands, board)
    wraps = not fits_in_word(bases, deck_keys, to_deal)
    result = Matchup([PlayerTally("".join(map(card_name, hand))) for hand in hands])
    batch: list[list[tuple[int, int]]] = [[] for _ in hands]
    if progress:
        progress.update(0, total)

    def flush() -> None:
        start = time.perf_counter()
        scores = [evaluate_list(pairs) for pairs in batch]
        result.scoring_seconds += time.perf_counter() - start
        tally_scores(scores, result.tallies)
        result.boards += len(batch[0])
        for pairs in batch:
            pairs.clear()
        if progress:
            progress.update(result.boards, total)

    # Millions of short-lived tuples would make the cycle collector rescan
    # every live batch again and again; none of them can be part of a cycle.
    gc_was_enabled = gc.isenabled()
    gc.disable()
    start = time.perf_counter()
    try:
        for key, mask, tails in board_groups(deck_keys, deck_masks, to_deal):
            for pairs, (base_key, base_mask) in zip(batch, bases):
                k, m = base_key + key, base_mask | mask
                if wraps:
                    pairs += [((k + tk) & WORD, m | tm) for tk, tm in tails]
                else:
                    pairs += [(k + tk, m | tm) for tk, tm in tails]
            if len(batch[0]) * len(hands) >= BATCH_HANDS:
                flush()
        if batch[0]:
            flush()
    finally:
        result.seconds = time.perf_counter() - start
        if gc_was_enabled:
            gc.enable()
    if progress:
        progress.close()
    if result.boards != total:
        raise RuntimeError(f"enumerated {result.boards} boards, expected {total}")
    return result


# ------------------------------------------------------------------- output

class ProgressBar:
    """A one-line bar on a stream, redrawn at most PROGRESS_STEPS + 1 times."""

    def __init__(self, stream: TextIO, width: int = 40) -> None:
        self.stream, self.width, self.drawn = stream, width, -1

    def update(self, done: int, total: int) -> None:
        step = PROGRESS_STEPS * done // total if total else PROGRESS_STEPS
        if step == self.drawn:
            return
        self.drawn = step
        filled = self.width * step // PROGRESS_STEPS
        bar = "#" * filled + "." * (self.width - filled)
        self.stream.write(f"\r[{bar}] {done:,}/{total:,} boards")
        self.stream.flush()

    def close(self) -> None:
        self.stream.write("\n")
        self.stream.flush()


def percent(n: int, boards: int) -> str:
    return f"{100 * n / boards:.3f}"


def report(board: Sequence[int], result: Matchup, out: TextIO) -> None:
    boards, tallies = result.boards, result.tallies
    to_deal = BOARD_SIZE - len(board)
    names = [t.hand for t in tallies]
    board_text = "".join(map(card_name, board)) or "(none)"
    print(f"{' vs '.join(names)}, board {board_text}", file=out)
    print(f"{boards:,} boards enumerated ({to_deal} of {DECK_SIZE - 2 * len(tallies) - len(board)} cards dealt)",
          file=out)
    print(file=out)
    width = max(6, *map(len, names))
    print(f"{'hand':<{width}} {'win %':>8} {'tie %':>8} {'lose %':>8} {'equity %':>9}"
          f" {'wins':>10} {'ties':>10} {'losses':>10}", file=out)
    for t in tallies:
        losses = t.losses(boards)
        print(f"{t.hand:<{width}} {percent(t.wins, boards):>8} {percent(t.ties, boards):>8}"
              f" {percent(losses, boards):>8} {float(100 * t.equity(boards)):>9.3f}"
              f" {t.wins:>10} {t.ties:>10} {losses:>10}", file=out)
    print(file=out)
    print("final hand categories (boards, % of boards)", file=out)
    col = max(20, width + 2)
    print(f"{'category':<16}" + "".join(f"{n:>{col}}" for n in names), file=out)
    per_player = [t.categories for t in tallies]
    for c, name in enumerate(CATEGORIES):
        cells = (f"{counts[c]} ({percent(counts[c], boards):>7}%)" for counts in per_player)
        print(f"{name:<16}" + "".join(f"{cell:>{col}}" for cell in cells), file=out)
    print(file=out)
    rate = result.hands_scored / result.seconds if result.seconds else float("inf")
    print(f"{result.hands_scored:,} hands evaluated in {result.seconds:.3f} s: {rate:,.0f} hands/s"
          f" ({result.scoring_seconds:.3f} s in evaluate_list)", file=out)


# --------------------------------------------------------------------- main

def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="equity.py",
        description="Exact all-in equity of hold'em hands by enumerating every board.",
    )
    parser.add_argument("hands", nargs="*", metavar="HAND",
                        help=f"two cards such as AsKs (default: {' '.join(DEFAULT_HANDS)})")
    parser.add_argument("--board", default="", metavar="CARDS",
                        help="0 to 5 known board cards, e.g. 2h7d9s")
    parser.add_argument("--no-progress", action="store_true", help="draw no progress bar on stderr")
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        hands, board = parse_deal(args.hands or DEFAULT_HANDS, args.board)
    except InputError as error:
        print(f"{parser.prog}: error: {error}", file=sys.stderr)
        return 2
    progress = None if args.no_progress else ProgressBar(sys.stderr)
    try:
        result = run_matchup(hands, board, progress)
    except KeyboardInterrupt:
        print(f"\n{parser.prog}: interrupted", file=sys.stderr)
        return 130
    report(board, result, sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
