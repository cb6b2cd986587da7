"""The equity demo: exact counts against a plain seven-card loop, and its errors."""

import importlib.util
import itertools
import re
import subprocess
import sys
from collections import Counter
from fractions import Fraction
from pathlib import Path

import pytest

import tavrix

Hand = tavrix.poker_hand.Hand
DEMO = Path(__file__).resolve().parents[1] / "examples" / "equity.py"
RANKS, SUITS = "23456789TJQKA", "cdhs"
CATEGORY_NAMES = ["high card", "one pair", "two pair", "three of a kind", "straight",
                  "flush", "full house", "four of a kind", "straight flush"]


@pytest.fixture(scope="module")
def demo():
    loader_spec = importlib.util.spec_from_file_location("equity_demo", DEMO)
    module = importlib.util.module_from_spec(loader_spec)
    loader_spec.loader.exec_module(module)
    return module


def card(text):
    return 4 * RANKS.index(text[0].upper()) + SUITS.index(text[1].lower())


def cards(text):
    return [card(text[i:i + 2]) for i in range(0, len(text), 2)]


def pairs_hands(count):
    """count hands of consecutive cards from 2c up: 2c2d 2h2s 3c3d ..."""
    names = [RANKS[i // 4] + SUITS[i % 4] for i in range(2 * count)]
    return [names[i] + names[i + 1] for i in range(0, 2 * count, 2)]


def brute_force(hand_texts, board_text):
    """boards, per-player split-size Counters, per-player category counts,
    scoring each player's seven cards from scratch with evaluate."""
    hands = [cards(h) for h in hand_texts]
    board = cards(board_text)
    dead = set(board).union(*hands)
    deck = [c for c in range(52) if c not in dead]
    splits = [Counter() for _ in hands]
    categories = [[0] * 9 for _ in hands]
    boards = 0
    for extra in itertools.combinations(deck, 5 - len(board)):
        boards += 1
        full = board + list(extra)
        scores = [tavrix.evaluate(Hand.from_bit_mask(sum(1 << c for c in full + h))) for h in hands]
        best = max(scores)
        for i, score in enumerate(scores):
            categories[i][score >> 12] += 1
            if score == best:
                splits[i][scores.count(best)] += 1
    return boards, splits, categories


CASES = [
    pytest.param(["AsKs", "QhQd"], "2h7d9s", id="heads-up-flop"),
    pytest.param(["AsKs", "QhQd", "JcTc"], "2h7d9s8c", id="three-way-turn"),
    pytest.param(["AsKd", "AhKc", "7c2d"], "QsJhTd", id="two-and-three-way-splits"),
    pytest.param(["AsKs", "QhQd"], "2h7d9s8c3c", id="full-board"),
    pytest.param(["ahkh", "9S9C"], "tDjd", id="lowercase-two-card-board"),
    pytest.param(pairs_hands(18), "Ah", id="18-players-one-card-board"),
    pytest.param(pairs_hands(20), "", id="20-players-preflop"),
]


@pytest.mark.parametrize("hands, board", CASES)
def test_counts_match_seven_card_loop(demo, monkeypatch, hands, board):
    # A tiny batch makes every case run through many batch boundaries.
    monkeypatch.setattr(demo, "BATCH_HANDS", 97)
    result = demo.run_matchup(*demo.parse_deal(hands, board))
    boards, splits, categories = brute_force(hands, board)

    assert result.boards == boards
    assert [dict(t.splits) for t in result.tallies] == [dict(s) for s in splits]
    assert [t.categories for t in result.tallies] == categories
    for tally, split in zip(result.tallies, splits):
        at_best = sum(split.values())
        assert (tally.wins, tally.ties, tally.losses(boards)) == (split[1], at_best - split[1], boards - at_best)
    # Every pot is shared out in full.
    assert sum(t.equity(boards) for t in result.tallies) == Fraction(1)


def test_sums_reduced_modulo_2_64_give_the_same_counts(demo, monkeypatch):
    hands, board = ["AsKs", "QhQd", "JcTc"], "2h7d"
    expected = demo.run_matchup(*demo.parse_deal(hands, board))
    monkeypatch.setattr(demo, "fits_in_word", lambda *args: False)
    reduced = demo.run_matchup(*demo.parse_deal(hands, board))
    assert [(t.splits, t.categories) for t in reduced.tallies] == [(t.splits, t.categories) for t in expected.tallies]


# A result row: four percentages, then wins, ties and losses.
TABLE_ROW = r"(?:\s+[\d.]+){4}\s+(\d+)\s+(\d+)\s+(\d+)"


def run_demo(*args):
    return subprocess.run([sys.executable, str(DEMO), *args], capture_output=True, text=True, timeout=300)


def test_command_line_prints_the_exact_counts():
    hands, board = ["asks", "QHQD", "JcTc"], "2h7d9s"
    proc = run_demo(*hands, "--board", board)
    assert proc.returncode == 0, proc.stderr
    boards, splits, categories = brute_force(hands, board)
    out = proc.stdout
    assert "\r" not in out and f"{boards:,} boards enumerated" in out
    lines = out.splitlines()
    for name, split in zip(["AsKs", "QhQd", "JcTc"], splits):
        row = next(m for line in lines if (m := re.fullmatch(name + TABLE_ROW, line)))
        at_best = sum(split.values())
        assert [int(n) for n in row.groups()] == [split[1], at_best - split[1], boards - at_best]
    for category, name in enumerate(CATEGORY_NAMES):
        row = next(line for line in lines if line.startswith(name + " "))
        assert [int(n) for n in re.findall(r"(\d+) \(", row)] == [c[category] for c in categories]
    assert "hands/s" in out
    assert "boards" in proc.stderr  # the progress bar


@pytest.mark.parametrize(
    "args, message",
    [
        (["AsKs", "QhQx"], "unknown card 'Qx'"),
        (["AsKs", "QhQ"], "unknown card 'Q'"),
        (["AsAs", "QhQd"], "duplicated card As"),
        (["AsKs", "QhKs"], "duplicated card Ks"),
        (["AsKs", "QhQd", "--board", "2h7dKs"], "duplicated card Ks"),
        (["AsKs", "QhQd", "--board", "2h2h"], "duplicated card 2h"),
        (["AsKs", "QhQd", "--board", "2h7d9s8c3c4c"], "6 cards"),
        (["AsKs"], "at least two hands"),
        (["AsKsQh", "QhQd"], "two cards"),
        (pairs_hands(24), "too many players"),
    ],
)
def test_bad_input_is_one_line_and_status_2(args, message):
    proc = run_demo(*args)
    assert proc.returncode == 2
    assert "Traceback" not in proc.stderr
    lines = proc.stderr.splitlines()
    assert len(lines) == 1 and lines[0].startswith("equity.py: error: ") and message in lines[0]
    assert proc.stdout == ""
