"""Odd input that once gave arithmetic errors or silently wrong results:
tiny weights, masked arrays, ranges that almost never leave a deal."""

import subprocess
import sys

import numpy as np
import pytest

import tavrix_equity as te


@pytest.mark.parametrize("board", ["", "2c7d9h", "2c7d9hTs"])
def test_tiny_weights_give_the_equity_of_the_unweighted_ranges(board):
    tiny = te.equity(["AA:1e-200", "KK:1e-200, QQ:1e-300"], board)
    plain = te.equity(["AA", "KK"], board)
    assert tiny.equity == pytest.approx(plain.equity, rel=1e-12)
    assert tiny.win == pytest.approx(plain.win, rel=1e-12)
    # Counts stay in the caller's weights: 1e-400 of a board is 0.0 as a float.
    assert tiny.boards == 0.0 and te.equity(["AA:1e-100", "KK:1e-100"], board).boards == pytest.approx(
        plain.boards * 1e-200, rel=1e-12)


def test_tiny_weights_on_the_command_line():
    result = subprocess.run([sys.executable, "-m", "tavrix_equity", "AA:1e-200", "KK:1e-200", "--board", "2c7d9hTs"],
                            capture_output=True, text=True, timeout=120)
    assert result.returncode == 0 and "95.455" in result.stdout, result.stderr


@pytest.mark.parametrize("call", [
    lambda a: te.score_cards(a),
    lambda a: te.score_words(a[:, 0].astype(np.uint64), a[:, 1].astype(np.uint64)),
])
def test_masked_arrays_are_refused(call):
    cards = np.ma.masked_array([[0, 1, 2], [3, 4, 4]], mask=[[0, 0, 0], [0, 0, 1]])
    with pytest.raises(TypeError, match="masked"):
        call(cards)


@pytest.mark.parametrize("threads", [1, 3])
def test_monte_carlo_draws_from_the_deals_when_ranges_almost_never_leave_one(threads):
    players = ["AsKs, 2c2d:0.000001", "AsQs, AsJs"]
    exact = te.equity(players).equity[0]
    result = te.equity(players, trials=400_000, seed=11, threads=threads)
    assert result.equity == te.equity(players, trials=400_000, seed=11, threads=2).equity
    assert abs(result.equity[0] - exact) < 5 * result.std_error[0]
    assert exact == pytest.approx(0.494396, abs=1e-6)
