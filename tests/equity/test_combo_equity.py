"""combo_equity: per-combo tables that add up to equity(), the grid on the same
sweep, progress reports and the old call forms."""

import math
import warnings

import numpy as np
import pytest

from tavrix_equity import NoDealError, Range, combo_equity, equity, format_cards, hand_grid, parse_cards

SPOTS = [
    ("QQ+,AKs:0.5,T9s:0.3", "random:0.1,AA", "Ts9h4c", ""),
    ("AsKs", "JJ-88,AQo:0.7", "Ts9h4c5d", "2c"),
    ("22+,A2s+", "KQo,54s:0.25", "Ts9h4c5d2s", "Ah"),
]


@pytest.mark.parametrize("hero, villain, board, dead", SPOTS)
def test_tables_add_up_to_equity(hero, villain, board, dead):
    tables = combo_equity(hero, villain, board, dead, threads=2)
    result = equity([hero, villain], board, dead)
    for table, player in ((tables.hero, 0), (tables.villain, 1)):
        assert table.combos.dtype == np.uint8 and table.combos.shape == (len(table), 2)
        assert all(a.dtype == np.float64 and a.shape == (len(table),)
                   for a in (table.weights, table.wins, table.ties, table.boards, table.equity))
        assert table.weights @ table.wins == pytest.approx(result.wins[player], rel=1e-13)
        assert table.weights @ table.ties == pytest.approx(result.ties[player], rel=1e-13)
        assert table.weights @ table.boards == pytest.approx(result.boards, rel=1e-13)
        assert table.total_equity() == pytest.approx(result.equity[player], rel=1e-13)
    # Rows are the live combos of the range, in Range.combos order.
    fixed = set(parse_cards(board + dead))
    if "," in hero or "+" in hero:
        expected = [c for c, _ in Range(hero).combos if not fixed & set(c)]
        assert tables.hero.combos.tolist() == [list(c) for c in expected]


def test_a_row_is_that_combo_against_the_range():
    tables = combo_equity("AA,KQs", "JJ+,AK", "Qs7h2d")
    for row in (0, 5, len(tables.hero) - 1):
        hand = format_cards(tuple(int(c) for c in tables.hero.combos[row]))
        alone = equity([hand, "JJ+,AK"], "Qs7h2d")
        assert (tables.hero.wins[row], tables.hero.ties[row], tables.hero.boards[row]) == (
            alone.wins[0], alone.ties[0], alone.boards)


def test_blocked_combos_stay_with_nan_equity():
    tables = combo_equity("AA", "AsAh", "2c3d4h")
    blocked = [i for i, c in enumerate(tables.hero.combos.tolist()) if {51, 50} & set(c)]
    assert len(tables.hero) == 6 and len(blocked) == 5
    assert all(tables.hero.boards[i] == 0 and math.isnan(tables.hero.equity[i]) for i in blocked)
    assert "ComboTable(6 combos" in repr(tables.hero) and "ComboEquity(" in repr(tables)
    with pytest.raises(ValueError):
        tables.hero.wins[0] = 1.0


@pytest.mark.parametrize("hero, villain, board", [("AsKs", "AsAh,KsKh", ""), ("AA", "", "")])
def test_no_deal_is_the_typed_error(hero, villain, board):
    with pytest.raises(NoDealError):
        combo_equity(hero, villain, board)


@pytest.mark.parametrize("call", [
    lambda report: combo_equity("QQ+", "random", "Ts9h", progress=report, threads=2),
    lambda report: equity(["random", "random"], "Ts9h4c", progress=report, threads=2),
    lambda report: equity(["AsKs", "QhQd", "2c2d"], "Ts9h", progress=report),
])
def test_progress_ends_with_done_equal_to_total(call):
    reports = []
    call(lambda done, total: reports.append((done, total)))
    assert reports and reports[-1][0] == reports[-1][1] > 0
    assert all(done <= total for done, total in reports)


def test_an_error_in_progress_stops_the_call():
    def fail(done, total):
        raise RuntimeError("stop here")

    with pytest.raises(RuntimeError, match="stop here"):
        combo_equity("random", "random", "Ts9h", progress=fail)


def test_hand_grid_cells_are_class_equities():
    grid = hand_grid("QQ+,AKs", "Ts9h4c", threads=2)
    for name, cell in (("AA", (0, 0)), ("T9s", (4, 5)), ("72o", (12, 7))):
        assert grid[cell] == pytest.approx(equity([name, "QQ+,AKs"], "Ts9h4c").equity[0], rel=1e-13)


def test_old_call_forms_warn_and_still_work():
    with pytest.warns(DeprecationWarning, match="players="):
        old = equity(hands=["AsKs", "QhQd"], board="2c3c4c")
    assert old == equity(["AsKs", "QhQd"], "2c3c4c")
    with pytest.warns(DeprecationWarning, match="by keyword"):
        sampled = hand_grid("AhAd", "Ac2c3c4c5c", "", 50, 7)
    assert np.array_equal(sampled, hand_grid("AhAd", "Ac2c3c4c5c", trials=50, seed=7), equal_nan=True)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        equity(["AsKs", "QhQd"], "2c3c4c")
    with pytest.raises(TypeError):
        equity(["AsKs", "QhQd"], hands=["AsKs", "QhQd"])


@pytest.mark.parametrize("board", ["", "Ts9h4c"])
def test_sampled_boards_are_reproducible_and_honest(board):
    # Wide ranges whose board-by-board equity varies little: boards swept win.
    players = ["random", "random:0.5,22+"]
    one = equity(players, board, trials=100_000, seed=3, threads=1)
    assert one == equity(players, board, trials=100_000, seed=3, threads=2)
    assert one.boards != 100_000 and not one.exact  # weighted sums of the boards swept
    assert 0 < one.std_error[0] < 0.002 and one.std_error[0] == one.std_error[1]
    assert abs(one.equity[0] - equity(players, board).equity[0]) < 5 * one.std_error[0]
    assert sum(one.equity) == pytest.approx(1, abs=1e-15)
