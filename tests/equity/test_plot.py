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
    assert plot_grid(grid(), path, title=title) is None
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
