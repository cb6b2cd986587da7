"""Omaha: scores against every two-plus-three choice scored by tavrix, hand-made
high-low pots, exact equity against a plain loop, Monte Carlo against exact,
and bad input."""

import itertools
import json
import subprocess
import sys
from fractions import Fraction

import numpy as np
import pytest

from tavrix_equity import (
    NoDealError, OmahaRange, category_name, equity, parse_cards, score_cards, score_omaha,
)

rng = np.random.default_rng(16)
LOW_RANK = {12: 1, **{r: r + 2 for r in range(7)}}  # ace 1, deuce 2, ..., eight 8


def deals(rows, hole_cards):
    cards = np.array([rng.permutation(52)[:hole_cards + 5] for _ in range(rows)])
    return cards[:, :hole_cards], cards[:, hole_cards:]


def two_plus_three(holes, boards):
    """Every hand of two hole cards and three board cards, (rows, choices, 5)."""
    k = holes.shape[1]
    return np.array([[[h[i], h[j], *b[list(t)]] for i, j in itertools.combinations(range(k), 2)
                      for t in itertools.combinations(range(5), 3)] for h, b in zip(holes, boards)])


def reference_low(hands):
    """Best eight-or-better low over the choices: 256 - set of ranks as bits, or 0."""
    best = 0
    for hand in hands:
        ranks = {LOW_RANK.get(c >> 2, 99) for c in hand}
        if len(ranks) == 5 and max(ranks) <= 8:
            best = max(best, 256 - sum(1 << (r - 1) for r in ranks))
    return best


@pytest.mark.parametrize("hole_cards", [4, 5, 6])
@pytest.mark.parametrize("dtype", [np.int64, np.uint8])
def test_scores_are_the_best_two_plus_three_hand(hole_cards, dtype):
    holes, boards = deals(300, hole_cards)
    choices = two_plus_three(holes, boards)
    expected_high = score_cards(choices.reshape(-1, 5)).reshape(len(holes), -1).max(axis=1)
    high, low = score_omaha(holes.astype(dtype), boards.astype(dtype), low=True, threads=2)
    assert high.dtype == low.dtype == np.uint16
    assert np.array_equal(high, expected_high)
    assert low.tolist() == [reference_low(c) for c in choices]
    assert np.array_equal(score_omaha(holes, boards), high)
    # One board for every row: the same scores as that board given per row.
    one = boards[0]
    rows = [i for i in range(len(holes)) if not set(holes[i]) & set(one)]
    assert np.array_equal(score_omaha(holes[rows], one), score_omaha(holes[rows], np.tile(one, (len(rows), 1))))


@pytest.mark.parametrize("hole, board, low, high_category", [
    ("AsKs2dQd", "3c4h5hJd9c", 225, "straight"),        # a wheel is a straight and the best low
    ("AsKsQdTs", "4c5h2hJd9c", 0, "high card"),          # one low hole card makes no low
    ("As2sKdKc", "2d4h5cJdJc", 0, "two pair"),           # the board's deuce counterfeits the hole deuce
    ("8s7sKhQh", "6d5h4cKdJc", 256 - 0b11111000, "straight"),  # 8-7-6-5-4, the worst low
    ("AsAh9s9h", "KsQsJs2s3d", 0, "flush"),              # two spades of the hole, three of the board
    ("AsKdQdJh", "9s8s7s2s3d", 0, "high card"),          # one hole spade: no flush from four on the board
])
def test_hand_made_scores(hole, board, low, high_category):
    high, low_score = score_omaha([parse_cards(hole)], parse_cards(board), low=True)
    assert (int(low_score[0]), category_name(int(high[0]))) == (low, high_category)


# (players, board, game, equities, high_wins, high_ties, low_wins, low_ties, scoops), all on the river.
POTS = [
    # No qualifying low: the best high takes the whole pot.
    (["AsAhKdKc", "QsQhJdJc"], "9c9dTs3h2c", "omaha-hi-lo", (1, 0), (1, 0), (0, 0), (0, 0), (0, 0), (1, 0)),
    # Counterfeited: the deuce on the board leaves A2 no low; A3 makes 6-4-3-2-A.
    (["As2sKdKc", "Ah3hQdQc"], "2d4h6cJdJh", "omaha-hi-lo", (0.5, 0.5), (1, 0), (0, 0), (0, 1), (0, 0), (0, 0)),
    # Quartered: the same low for both, the high to one of them.
    (["As2sKdKc", "Ah2hQdQc"], "3c4d7hKh9s", "omaha-hi-lo", (0.75, 0.25), (1, 0), (0, 0), (0, 0), (1, 1), (0, 0)),
    # The wheel wins both halves: a scoop.
    (["As2hKsJc", "JsTs9d8d"], "3c4h5hKdQc", "omaha-hi-lo", (1, 0), (1, 0), (0, 0), (1, 0), (0, 0), (1, 0)),
    # Three players: the high split two ways, the low to the third.
    (["AsKsQdJd", "AhKhQcJc", "Ad4d7s6s"], "Tc9h3c2h8d", "omaha-hi-lo",
     (0.25, 0.25, 0.5), (0, 0, 0), (1, 1, 0), (0, 0, 1), (0, 0, 0), (0, 0, 0)),
]


@pytest.mark.parametrize("players, board, game, shares, high_wins, high_ties, low_wins, low_ties, scoops", POTS)
def test_hand_made_high_low_pots(players, board, game, shares, high_wins, high_ties, low_wins, low_ties, scoops):
    result = equity(players, board, game=game)
    assert result.equity == pytest.approx(shares, abs=1e-15)
    assert (result.high_wins, result.high_ties) == (high_wins, high_ties)
    assert (result.low_wins, result.low_ties, result.scoops) == (low_wins, low_ties, scoops)


def split_pot(high, low, high_low):
    """Each player's share of one pot as a Fraction, and the winners of each half."""
    n = len(high)
    top_high = [i for i in range(n) if high[i] == max(high)]
    top_low = [i for i in range(n) if low[i] == max(low) > 0] if high_low else []
    half = Fraction(1, 2) if top_low else Fraction(1)
    share = [Fraction(0)] * n
    for i in top_high:
        share[i] += half / len(top_high)
    for i in top_low:
        share[i] += Fraction(1, 2) / len(top_low)
    return share, top_high, top_low


def brute_force(hands, weights, board, dead, hole_cards, high_low):
    """Weighted shares and counts over every deal of the hands and every completion of the board."""
    fixed = parse_cards(board)
    n = len(hands)
    shares, total = [Fraction(0)] * n, Fraction(0)
    counts = np.zeros((5, n), dtype=object)  # high wins, high ties, low wins, low ties, scoops
    for deal in itertools.product(*[range(len(h)) for h in hands]):
        holes = [hands[p][i] for p, i in enumerate(deal)]
        used = set(fixed) | set(parse_cards(dead)) | {c for h in holes for c in h}
        if len(used) != len(fixed) + len(parse_cards(dead)) + hole_cards * n:
            continue
        w = Fraction(1)
        for p, i in enumerate(deal):
            w *= Fraction(weights[p][i])
        deck = [c for c in range(52) if c not in used]
        extras = list(itertools.combinations(deck, 5 - len(fixed)))
        boards = np.array([[*fixed, *e] for e in extras])
        scores = [score_omaha(np.tile(h, (len(boards), 1)), boards, low=True) for h in holes]
        for b in range(len(boards)):
            share, top_high, top_low = split_pot([s[0][b] for s in scores], [s[1][b] for s in scores], high_low)
            for i in range(n):
                shares[i] += w * share[i]
                counts[:, i] += [w * (i in top_high and len(top_high) == 1), w * (i in top_high and len(top_high) > 1),
                                 w * (i in top_low and len(top_low) == 1), w * (i in top_low and len(top_low) > 1),
                                 w * (share[i] == 1)]
            total += w
    return [s / total for s in shares], counts, total


@pytest.mark.parametrize("players, board, dead, game", [
    (["AsAhKsKh", "QdQcJdTc"], "2s7h9d3c", "", "omaha"),
    (["As2h3dKs", "Ad2c4h5c", "8c7c6s9h"], "6h7d8d", "", "omaha-hi-lo"),
    (["As2h3dKsQh", "Ad2c4h5cJc"], "6h7c8dTs", "9s", "omaha5-hi-lo"),
    (["As2h3dKsQhJh", "Ad2c4h5cJcTd"], "6h7c8dTsQc", "", "omaha6"),
    (["AsKsQsJs", OmahaRange("Ad2c4h5c:0.5, KdKcQhJh, 3s3h2s2h:0.25")], "6h7c8dTs", "", "omaha-hi-lo"),
    ([OmahaRange(np.array([[0, 1, 2, 3], [4, 5, 6, 7]]), [0.3, 0.1]), "AsKsQsJs"], "9h9d8c7hTd", "", "omaha"),
])
def test_exact_equity_matches_a_brute_force_loop(players, board, dead, game):
    hole_cards = {"omaha": 4, "omaha-hi-lo": 4, "omaha5-hi-lo": 5, "omaha6": 6}[game]
    high_low = game.endswith("hi-lo")
    hands = [[tuple(int(c) for c in h) for h in p.hands] if isinstance(p, OmahaRange) else [parse_cards(p)]
             for p in players]
    weights = [p.weights.tolist() if isinstance(p, OmahaRange) else [1] for p in players]
    shares, counts, total = brute_force(hands, weights, board, dead, hole_cards, high_low)
    for threads in (1, 2):
        result = equity(players, board, dead, game=game, threads=threads)
        assert result.equity == pytest.approx([float(s) for s in shares], rel=1e-12)
        assert result.boards == pytest.approx(float(total), rel=1e-12)
        if high_low:
            got = [result.high_wins, result.high_ties, result.low_wins, result.low_ties, result.scoops]
            assert np.allclose(np.array(got, dtype=float), counts.astype(float), rtol=1e-12)
        else:
            assert result.high_wins is None and result.as_dict()["scoops"] is None


@pytest.mark.parametrize("players, board, game", [
    (["As2h3dKs", "Ad2c4h5c"], "6h", "omaha-hi-lo"),
    (["As2h3dKsQhJh", "Ad2c4h5cJcTd"], "9s", "omaha6"),
])
def test_exact_heads_up_with_four_cards_to_come_matches_numpy(players, board, game):
    a, b = (parse_cards(p) for p in players)
    fixed = parse_cards(board)
    deck = [c for c in range(52) if c not in {*a, *b, *fixed}]
    boards = np.array([[*fixed, *e] for e in itertools.combinations(deck, 4)])
    (high_a, low_a), (high_b, low_b) = (score_omaha(np.tile(h, (len(boards), 1)), boards, low=True) for h in (a, b))
    has_low = game.endswith("hi-lo") & ((low_a > 0) | (low_b > 0))
    high_share = np.where(has_low, 0.5, 1.0)
    share_a = high_share * ((high_a > high_b) + 0.5 * (high_a == high_b))
    share_a += np.where(has_low, 0.5 * ((low_a > low_b) + 0.5 * (low_a == low_b)), 0)
    for threads in (1, 3):
        result = equity(players, board, game=game, threads=threads)
        assert result.boards == len(boards) and result.equity[0] == pytest.approx(share_a.mean(), abs=1e-14)
        assert result.wins[0] == int((share_a == 1).sum()) and result.ties[0] == int(((share_a > 0) & (share_a < 1)).sum())
        if result.low_wins is not None:
            assert result.low_wins[1] == int((has_low & (low_b > low_a)).sum())
            assert result.high_ties[0] == int((high_a == high_b).sum())


@pytest.mark.parametrize("players, board, game", [
    (["AsAhKsKh", "QdQcJdTc"], "2s7h9d", "omaha"),
    (["As2h3dKs", "random", OmahaRange("Ad2c4h5c, KdKcQhJh:0.5")], "6h7c8dTs", "omaha-hi-lo"),
])
def test_monte_carlo_is_within_four_standard_errors_and_reproducible(players, board, game):
    exact = equity(players, board, game=game)
    sampled = equity(players, board, game=game, trials=40_000, seed=11, threads=1)
    for e, s, err in zip(exact.equity, sampled.equity, sampled.std_error):
        assert abs(e - s) <= 4 * err and err > 0
    assert equity(players, board, game=game, trials=40_000, seed=11, threads=2) == sampled


def test_progress_reports_and_its_errors_stop_the_run():
    seen = []
    equity(["AsAhKsKh", "QdQcJdTc"], game="omaha", progress=lambda done, total: seen.append((done, total)))
    assert seen[0][0] == 0 and seen[-1][0] == seen[-1][1] > 0

    def fail(done, total):
        raise KeyError("stop")

    with pytest.raises(KeyError, match="stop"):
        equity(["AsAhKsKh", "QdQcJdTc"], game="omaha", progress=fail)


@pytest.mark.parametrize("holes, boards, message", [
    ([[0, 1, 2]], [4, 5, 6, 7, 8], "4, 5 or 6"),
    ([[0, 1, 2, 3, 4, 5, 6]], [8, 9, 10, 11, 12], "4, 5 or 6"),
    ([[0, 1, 2, 3], [4, 5, 6, 7]], [[8, 9, 10, 11, 12], [8, 9, 10, 11, 4]], "row 1: card index 4 appears twice"),
    ([[0, 1, 2, 3], [4, 5, 6, 6]], [8, 9, 10, 11, 12], "row 1: card index 6 appears twice"),
    ([[0, 1, 2, 3], [4, 5, 6, 52]], [8, 9, 10, 11, 12], "row 1: hole card index 52 is outside 0 to 51"),
    ([[0, 1, 2, -1]], [8, 9, 10, 11, 12], "row 0: hole card index -1"),
    ([[0, 1, 2, 3]], [8, 9, 10, 11], r"shape \(n, 5\)"),
    ([[0, 1, 2, 3]], [[8, 9, 10, 11, 12]] * 2, "1 rows of hole cards but 2 boards"),
])
def test_bad_scoring_input(holes, boards, message):
    with pytest.raises(ValueError, match=message):
        score_omaha(holes, boards)


@pytest.mark.parametrize("players, board, game, error, message", [
    (["AsAhKsKh", "QdQc"], "", "omaha", ValueError, "omaha hands hold 4 cards: player 2 has 2"),
    (["AsAhKsKh", "QdQcJdTc"], "", "omaha5", ValueError, "omaha5 hands hold 5 cards: player 1 has 4"),
    (["AsAhKsKh", "QdQcJdTc"], "", "stud", ValueError, "unknown game 'stud'"),
    (["AsAhKsKh", "QdQcJdAs"], "", "omaha", ValueError, "duplicate card As"),
    (["AsAhKsKh", OmahaRange("AsQcJdTc")], "", "omaha", NoDealError, "no hand left"),
    ([OmahaRange("AsAhKsKh"), OmahaRange("AsQcJdTc")], "", "omaha", NoDealError, "no possible deal"),
    (["AsAhKsKh", OmahaRange("QdQcJdTcAc")], "", "omaha", ValueError, "player 2's range has hands of 5"),
    (["AsAhKsKh", "random"], "", "omaha", ValueError, "use trials"),
    (["AsAhKsKhQhQd"] + ["random"] * 7, "", "omaha6", ValueError, "too few cards left"),
])
def test_bad_equity_input(players, board, game, error, message):
    with pytest.raises(error, match=message):
        equity(players, board, game=game)


@pytest.mark.parametrize("args, message", [
    (("AsAhKsKh, QdQcJd",), "same number of cards"),
    (("AsAhKsKh:2",), "from 0 to 1"),
    (("AsAhKsKs",), "bad Omaha range item 'AsAhKsKs'"),
    ((np.array([[0, 1, 2, 2]]),), "row 0: a hand holds a card twice"),
    (("",), "at least one hand"),
    ((np.array([[0, 1, 2, 3], [4, 5, 6, 60]]),), "row 1: card index 60"),
    ((np.array([[0, 1, 2, 3]]), [-1.0]), "row 0: weight -1.0"),
])
def test_bad_omaha_ranges(args, message):
    with pytest.raises(ValueError, match=message):
        OmahaRange(*args)


def test_omaha_range_keeps_the_later_weight_and_drops_zero():
    r = OmahaRange("AsAhKsKh:0.5, QdQcJdTc, KhKsAhAs:0.25, 2c3c4c5c:0")
    assert str(r) == "AsAhKsKh:0.25, QdQcJdTc" and r.hands.dtype == np.uint8 and r.hole_cards == 4
    assert r == OmahaRange(r.hands, r.weights) and not r.hands.flags.writeable


def test_cli_game_and_json():
    run = [sys.executable, "-m", "tavrix_equity"]
    out = subprocess.run([*run, "--game", "omaha-hi-lo", "As2h3dKs", "Ad2c4h5c", "--board", "6h7c8dTs", "--json"],
                         capture_output=True, text=True, timeout=120)
    data = json.loads(out.stdout)
    assert data["game"] == "omaha-hi-lo" and data["boards"] == 40 and len(data["scoops"]) == 2
    bad = subprocess.run([*run, "--game", "omaha", "AsAhKsKh", "QdQc"], capture_output=True, text=True, timeout=120)
    assert bad.returncode == 2 and bad.stdout == "" and len(bad.stderr.strip().splitlines()) == 1
