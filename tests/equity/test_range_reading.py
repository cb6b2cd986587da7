"""Reading a range on a board: hand classes and draws, equity distributions,
showdown categories, the starting-hand ranking and Range.top."""

import math
import random
from collections import Counter

import numpy as np
import pytest

from tavrix_equity import (
    BREAKDOWN_CLASSES, CATEGORY_NAMES, HAND_CLASSES, NoDealError, Range, breakdown, combo_equity, equity,
    equity_distribution, hand_class, parse_cards, score_cards, showdown_categories, starting_hand_ranking,
)
from tavrix_equity._starting_hand_table import EQUITY

DRAWS = ("flush draw", "backdoor flush draw", "open-ended", "gutshot", "overcards")


def classes_of(hand, board):
    b = breakdown(hand, board)
    combo = tuple(sorted(parse_cards(hand), reverse=True))
    found = {name for name in BREAKDOWN_CLASSES if combo in map(tuple, b.combos(name).tolist())}
    made = found - set(DRAWS)
    assert len(made) == 1
    return made.pop(), found & set(DRAWS)


@pytest.mark.parametrize("hand, board, made, draws", [
    ("9h8h", "7h6h5h", "straight flush", set()),
    ("KsKd", "KhKc2d", "four of a kind", set()),
    ("7s7d", "7h2c2d", "full house", set()),
    ("KhQc", "Ah9h5h2h", "flush", set()),
    ("9c8d", "7h6c5d", "straight", set()),
    ("KsKd", "Kh7c2d", "set", set()),
    ("Kc9h", "KhKd2c", "trips", set()),
    ("Ac9h", "7h7d7c", "board trips", set()),
    ("8s8d", "7h7d2c", "two pair", set()),            # a pocket pair beside a board pair
    ("AsAd", "Kh7c2d", "overpair", set()),
    ("5s5d", "Kh7c2d", "underpair", set()),
    ("Kc9h", "Kh7c2d", "top pair", set()),
    ("7h6h", "Kh7c2d", "second pair", {"backdoor flush draw"}),
    ("7h6h", "Kh7c2d3s", "second pair", set()),       # no backdoor draw on the turn
    ("2h3h", "Kh7c2d", "weak pair", {"backdoor flush draw"}),
    ("Ac9h", "KhKd2c", "board pair", set()),
    ("AcQd", "Jh7c2d", "high card", {"overcards"}),
    ("AhKh", "Qh7h2c", "high card", {"flush draw", "overcards"}),
    ("AhKh", "Qh7h2c3d9s", "high card", set()),       # no draws on the river
    ("KcQd", "Ah9h5h2h", "high card", set()),          # a four-flush board, no card of the suit
    ("Ac3d", "4h5c9d", "high card", {"gutshot"}),      # the wheel
    ("8c7d", "6h5c2d", "high card", {"open-ended", "overcards"}),
    ("9c7d", "Jh8c5d", "high card", {"open-ended"}),   # a double gutshot
    ("AcAd", "9h8c7d6s", "overpair", set()),           # the straight draw is the board's own
    ("Tc9c", "8c7c2d", "high card", {"flush draw", "open-ended", "overcards"}),
])
def test_hand_picked_classes(hand, board, made, draws):
    assert classes_of(hand, board) == (made, draws)


def straight_outs(held, board_ranks):
    windows = [{12, 0, 1, 2, 3}] + [set(range(low, low + 5)) for low in range(9)]
    return sum(
        any(r in w and w <= held | {r} and not w <= board_ranks | {r} for w in windows) for r in range(13)
    )


def reference_classes(combo, board):
    """One combo's classes, by brute force over tavrix scores and the rules of the classes."""
    cards = list(board) + list(combo)
    category = int(score_cards([cards])[0]) >> 12
    ranks = Counter(c >> 2 for c in cards)
    hole = [c >> 2 for c in combo]
    tops = sorted({c >> 2 for c in board}, reverse=True)
    if category == 3:
        r = next(r for r, n in ranks.items() if n == 3)
        made = ("board trips", "trips", "set")[hole.count(r)]
    elif category == 1:
        r = next(r for r, n in ranks.items() if n == 2)
        if hole.count(r) == 2:
            made = "overpair" if r > tops[0] else "underpair"
        elif hole.count(r) == 0:
            made = "board pair"
        else:
            made = "top pair" if r == tops[0] else "second pair" if r == tops[1] else "weak pair"
    else:
        made = CATEGORY_NAMES[category]
    draws = set()
    if len(board) < 5 and category < 4:
        suits = Counter(c & 3 for c in cards)
        hole_suits = {c & 3 for c in combo}
        if any(suits[s] == 4 for s in hole_suits):
            draws.add("flush draw")
        elif len(board) == 3 and any(suits[s] == 3 for s in hole_suits):
            draws.add("backdoor flush draw")
        outs = straight_outs(set(ranks), {c >> 2 for c in board})
        if outs:
            draws.add("open-ended" if outs >= 2 else "gutshot")
        if category == 0 and min(hole) > tops[0]:
            draws.add("overcards")
    return made, draws


@pytest.mark.parametrize("board_size, seed", [(3, 1), (3, 2), (4, 3), (4, 4), (5, 5)])
def test_breakdown_of_random_against_brute_force(board_size, seed):
    board = random.Random(seed).sample(range(52), board_size)
    b = breakdown("random", board)
    live = [(a, c) for a in range(52) for c in range(a) if a not in board and c not in board]
    expected = Counter()
    for combo in live:
        made, draws = reference_classes(combo, board)
        expected.update([made, *draws])
    assert b.shares == pytest.approx({name: expected[name] / len(live) for name in BREAKDOWN_CLASSES}, abs=1e-12)
    assert sum(b.shares[name] for name in BREAKDOWN_CLASSES[:-5]) == pytest.approx(1.0)
    assert sum(len(b.combos(name)) for name in BREAKDOWN_CLASSES[:-5]) == len(live)


def test_breakdown_weights_dead_cards_and_errors():
    b = breakdown("AA, KK:0.5", "Ah7c2d", dead="Kd")
    # AA: 3 live combos (all sets), KK: 3 live at weight 0.5 (underpairs).
    assert b.shares["set"] == pytest.approx(3 / 4.5) and b.shares["underpair"] == pytest.approx(1.5 / 4.5)
    assert b.combos("underpair").dtype == np.uint8 and b.combos("underpair").shape == (3, 2)
    assert b.equity is None
    with pytest.raises(ValueError, match="3, 4 or 5"):
        breakdown("random", "AhKh")
    with pytest.raises(ValueError, match="duplicate"):
        breakdown("random", "AhKh2c", dead="2c")
    with pytest.raises(NoDealError):
        breakdown("AhAd", "Ah7c2d")
    with pytest.raises(ValueError, match="unknown breakdown class"):
        b.combos("pair")


def per_combo_equity(combo, villain, board):
    try:
        return equity([combo, villain], board).equity[0]
    except NoDealError:
        return math.nan


def test_breakdown_equity_against_per_combo_equity():
    hero, villain, board = "TT+, AK", "QQ, JTs, 98s", "Qs9h4c"
    b = breakdown(hero, board, vs=villain)
    for name in ("set", "overpair", "high card", "underpair"):
        combos = b.combos(name)
        values = [per_combo_equity(tuple(int(c) for c in combo), villain, board) for combo in combos]
        expected = np.nanmean(values) if len(values) else math.nan
        assert b.equity[name] == pytest.approx(expected, nan_ok=True)


def test_distribution_sorted_with_buckets():
    hero, villain, board = "AhAd, KsKc, 7c6c, 2c3c", "2d3d, QQ", "AsKdQc8h5s"
    d = equity_distribution(hero, villain, board)
    expected = {
        (int(a), int(b)): per_combo_equity((int(a), int(b)), villain, board)
        for a, b in d.hero.combos
    }
    assert d.hero.equity.tolist() == pytest.approx(list(expected.values()))
    assert list(d.hero.equity) == sorted(d.hero.equity, reverse=True)
    # 2c3c chops with 2d3d (exactly 1/2) and loses to QQ: a bucket holds its lower bound.
    buckets = {"75-100": 0.0, "50-75": 0.0, "33-50": 0.0, "0-33": 0.0}
    for e in expected.values():
        key = "75-100" if e >= 0.75 else "50-75" if e >= 0.5 else "33-50" if e >= 1 / 3 else "0-33"
        buckets[key] += 1 / len(expected)
    assert d.hero.buckets == pytest.approx(buckets)
    mean = float(np.average(d.hero.equity, weights=d.hero.weights))
    assert mean == pytest.approx(equity([hero, villain], board).equity[0])


def test_distribution_leaves_out_combos_that_never_meet():
    d = equity_distribution("AsAh, KsKh", "AdAc", "2c7d9h")
    assert d.hero.combos.tolist() == [[51, 50], [47, 46]]
    d = equity_distribution("AsAh, AdAc", "AsKs", "2c7d9h")
    assert d.hero.combos.tolist() == [[49, 48]] and d.villain.weights.sum() == 1.0


def test_showdown_categories_exact_and_sampled():
    final, winning = showdown_categories(["AsKs", "QhQd"])
    boards = 1712304
    assert np.rint(final[0] * boards).tolist() == [298526, 736792, 392692, 78056, 36669, 124370, 41716, 2420, 1063]
    assert np.rint(final[1] * boards).tolist() == [0, 602761, 669894, 208787, 26313, 38684, 149956, 15620, 289]
    result = equity(["AsKs", "QhQd"])
    assert winning.sum(axis=1) == pytest.approx(np.add(result.win, result.tie))
    spot = (["QQ+:0.5,AKs", "JJ-88,KQs:0.3", "Tc9c"], "2h7d6c")
    one, two = (showdown_categories(*spot, threads=t) for t in (1, 3))
    assert np.array_equal(one.final, two.final) and np.array_equal(one.winning, two.winning)
    result = equity(*spot)
    assert one.winning.sum(axis=1) == pytest.approx(np.add(result.win, result.tie), rel=1e-12)
    one = showdown_categories(["QQ+,AKs", "random", "Tc9c"], "2h7d", trials=70_000, seed=5, threads=1)
    two = showdown_categories(["QQ+,AKs", "random", "Tc9c"], "2h7d", trials=70_000, seed=5, threads=2)
    assert np.array_equal(one.final, two.final) and np.array_equal(one.winning, two.winning)
    assert one.final.sum(axis=1) == pytest.approx(1.0)
    assert np.all(one.winning <= one.final)


def test_starting_hand_ranking():
    ranking = starting_hand_ranking()
    assert sorted(ranking) == sorted(HAND_CLASSES) and ranking[0] == "AA" and ranking[-1] == "32o"
    with pytest.raises(ValueError):
        starting_hand_ranking(10)
    # The committed Monte Carlo entries against fresh runs of the engine.
    for name, opponents in (("T9s", 3), ("KQo", 2), ("AA", 9)):
        c1, c2 = Range(name).combos[0][0]
        trials = 20_000 if opponents > 5 else 60_000
        r = equity([(c1, c2)] + ["random"] * opponents, trials=trials, seed=11)
        assert abs(r.equity[0] - EQUITY[name][opponents - 1]) < 5 * r.std_error[0] + 0.002


def test_ranking_is_exact_against_one_opponent():
    # Every combo against every other, every board: the table must match to rounding.
    table = combo_equity("random", "random").hero
    by_class = {}
    for (c1, c2), value in zip(table.combos.tolist(), table.equity):
        by_class.setdefault(hand_class(c1, c2), []).append(value)
    assert {name: float(np.mean(v)) for name, v in by_class.items()} == pytest.approx(
        {name: EQUITY[name][0] for name in HAND_CLASSES}, rel=1e-12)


@pytest.mark.parametrize("fraction", [6 / 1326, 0.05, 0.15, 0.5, 0.999, 1.0])
@pytest.mark.parametrize("opponents", [1, 6])
def test_top_fraction(fraction, opponents):
    top = Range.top(fraction, opponents=opponents)
    assert sum(w for _, w in top.combos) / 1326 == pytest.approx(fraction, abs=1e-11)
    assert Range(str(top)) == top
    ranking = starting_hand_ranking(opponents)
    grid = top.grid()
    from tavrix_equity import grid_position
    cells = [grid[grid_position(name)] for name in ranking]
    # Whole classes, then at most one partial class, then nothing.
    taken = [c for c in cells if c > 0]
    assert cells[:len(taken)] == taken and all(c == 1.0 for c in taken[:-1])


def test_top_errors():
    assert Range.top(6 / 1326) == Range("AA") and Range.top(1.0) == Range("random")
    for bad in (0, -0.1, 1.5):
        with pytest.raises(ValueError):
            Range.top(bad)
