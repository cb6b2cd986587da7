"""The chart picture: a PNG of any 13 x 13 grid, shape errors, missing matplotlib."""

import re
import struct
import sys

import numpy as np
import pytest

from tavrix_equity import Range, plot_grid


def equity_like_grid():
    grid = Range("QQ+, AKs:0.5, 72o:0.25").grid()
    grid[5, 7] = np.nan
    return grid


@pytest.mark.parametrize("grid, title", [
    (equity_like_grid, "QQ+, AKs:0.5"),
    (lambda: (np.arange(169.0).reshape(13, 13) - 80).tolist(), None),
])
def test_writes_png(tmp_path, grid, title):
    pytest.importorskip("matplotlib")
    path = tmp_path / "chart.png"
    figure = plot_grid(grid(), path, title=title)
    assert figure.axes[0].get_title() == (title or "")
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR"
    width, height = struct.unpack(">II", data[16:24])
    assert 600 <= width <= 2000 and 600 <= height <= 2000
    assert len(data) > 20_000


@pytest.mark.parametrize("shape", [(12, 13), (169,), (13, 13, 1), ()])
def test_wrong_shape(tmp_path, shape):
    with pytest.raises(ValueError, match=re.escape(f"not {shape}")):
        plot_grid(np.zeros(shape), tmp_path / "x.png")
    assert not (tmp_path / "x.png").exists()


def test_missing_matplotlib(tmp_path, monkeypatch):
    for name in ("matplotlib", "matplotlib.figure", "matplotlib.backends.backend_agg"):
        monkeypatch.setitem(sys.modules, name, None)
    with pytest.raises(ImportError, match=r"pip install .*\[plot\]"):
        plot_grid(np.zeros((13, 13)), tmp_path / "x.png")


def test_returns_its_figure_draws_into_given_axes_and_titles_what_it_knows(tmp_path):
    pytest.importorskip("matplotlib")
    from matplotlib.figure import Figure

    from tavrix_equity import hand_grid

    grid = hand_grid("QQ+", board="Ts9h4c", trials=50, seed=1)
    figure = plot_grid(grid)
    assert isinstance(figure, Figure) and figure.axes[0].get_title() == "equity against QQ+ on Ts9h4c"
    assert plot_grid(np.asarray(grid)).axes[0].get_title() == ""  # a bare array names nothing
    assert plot_grid(grid, title="").axes[0].get_title() == ""
    assert plot_grid(Range("AKs")).axes[0].get_title() == "range AKs"
    outer = Figure()
    left, right = outer.subplots(1, 2)
    assert plot_grid(grid * 1.0, tmp_path / "two.png", ax=right, title="mine") is outer
    assert right.get_title() == "mine" and left.get_title() == ""
    assert (tmp_path / "two.png").read_bytes()[:4] == b"\x89PNG"


def test_hand_grid_refuses_a_range_with_no_live_combo():
    from tavrix_equity import NoDealError, hand_grid

    for vs, board in (("AA", "AsAcAd"), ("QQ+:0", ""), ("AhAd", "AsAcAh")):
        with pytest.raises(ValueError) as error:
            hand_grid(vs, board=board, trials=10, seed=1)
        assert repr(vs) in str(error.value) or "duplicate" in str(error.value)
    with pytest.raises(NoDealError):
        hand_grid("AA", board="AsAcAd")
