"""Equity with ranges: weighted exact counts against a plain loop over
tavrix.evaluate, Monte Carlo against exact, deals that cannot happen."""

import itertools

import numpy as np
import pytest

import tavrix
from tavrix_equity import NoDealError, Range, equity, hand_grid, parse_cards

Hand = tavrix.poker_hand.Hand


def brute_force(players, board, dead=""):
    """Weighted wins, ties, shares and boards over every deal and completion."""
    fixed = parse_cards(board) + parse_cards(dead)
    options = [r.combos if isinstance(r, Range) else [(parse_cards(r), 1.0)] for r in players]
    n = len(players)
    wins, ties, shares, boards = np.zeros(n), np.zeros(n), np.zeros(n), 0.0
    for deal in itertools.product(*options):
        cards = [c for combo, _ in deal for c in combo]
        if len(set(cards) | set(fixed)) != len(cards) + len(fixed):
            continue
        weight = float(np.prod([w for _, w in deal]))
        deck = [c for c in range(52) if c not in cards and c not in fixed]
        for extra in itertools.combinations(deck, 5 - len(parse_cards(board))):
            on_board = (*parse_cards(board), *extra)
            scores = [tavrix.evaluate(Hand.from_bit_mask(sum(1 << c for c in (*on_board, *combo))))
                      for combo, _ in deal]
            top = [i for i, s in enumerate(scores) if s == max(scores)]
            for i in top:
                (wins if len(top) == 1 else ties)[i] += weight
                shares[i] += weight / len(top)
            boards += weight
    return wins, ties, shares, boards


@pytest.mark.parametrize("players, board, dead", [
    ([Range("AA,KK:0.5,AKs"), "QhQd"], "Ac2h7h9s", ""),
    ([Range("77+:0.25,A7s+"), Range("KQ,JTs:0.75,AhKh")], "Ad7d7h2s", "Kd"),   # suit-symmetric board
    (["AsKs", Range("TT-88"), Range("QJs,AcQc:0.5")], "2c3d4h5s", "9d"),
])
def test_weighted_exact_counts_match_a_brute_force_loop(players, board, dead):
    wins, ties, shares, boards = brute_force(players, board, dead)
    result = equity(players, board, dead, threads=2)
    assert result.boards == pytest.approx(boards, rel=1e-12)
    assert result.wins == pytest.approx(tuple(wins), rel=1e-12)
    assert result.ties == pytest.approx(tuple(ties), rel=1e-12, abs=1e-12)
    assert result.equity == pytest.approx(tuple(shares / boards), rel=1e-12)
    assert equity(players, board, dead, threads=1) == result


def test_range_monte_carlo_is_within_four_standard_errors():
    players = ["AsKs", "QQ+,AKs:0.5,T9s"]
    exact = equity(players, "2h7dTc")
    sampled = equity(players, "2h7dTc", trials=200_000, seed=3)
    assert all(abs(e - s) < 4 * err for e, s, err in zip(exact.equity, sampled.equity, sampled.std_error))
    assert equity(players, "2h7dTc", trials=200_000, seed=3, threads=1) == sampled


@pytest.mark.parametrize("players, board", [
    (["AsKs", "AsAh,KsKh"], ""),       # every combo of the range holds a card in play
    (["AhAd", "AcAs", "AA"], ""),     # no ace left for the third player
    (["AsKs", ""], ""),               # an empty range
    # Wide ranges before the two that clash: found at once, not after trying
    # every combination of the wide ones (which would never end).
    (["random"] * 5 + ["AA", "AA"], "AcAd"),
])
def test_no_possible_deal_is_refused(players, board):
    with pytest.raises(NoDealError):
        equity(players, board)
    with pytest.raises(NoDealError):
        equity(players, board, trials=100)


def test_hand_grid_cells_are_class_equities_and_nan_without_deals():
    grid = hand_grid("AhAd", "Ac2c3c4c5c", trials=None)
    assert grid.shape == (13, 13)
    assert np.isnan(grid[0, 0])                       # AA: only As is left
    assert grid[1, 0] == pytest.approx(equity([Range("AKo"), "AhAd"], "Ac2c3c4c5c").equity[0])
