"""Notebook views, the distribution chart and the breakdown and distribution commands."""

import json
import subprocess
import sys

import numpy as np
import pytest

from tavrix_equity import Range, breakdown, equity, equity_distribution, plot_equity_distribution


def run(*args):
    return subprocess.run([sys.executable, "-m", "tavrix_equity", *args], capture_output=True, text=True, timeout=120)


def test_ranges_and_grids_show_as_charts():
    r = Range("QQ+, AKs:0.5")
    page = r._repr_html_()
    assert page.count("<tr>") == 13 and "<b>AKs</b><br>50%" in page and "<b>72o</b><br></td>" in page
    grid = r.grid()
    assert grid._repr_html_().count("<td") == 169
    # What is taken out of a grid is a plain array or number again.
    assert type(grid[0]) is np.ndarray and type(grid.sum()) is np.float64 and not hasattr(grid > 0, "_repr_html_")
    assert repr(grid).startswith("array(")


def test_results_breakdowns_and_distributions_show_as_tables():
    assert "AsKs" in equity(["AsKs", "QhQd"], "2c7d9h")._repr_html_()
    b = breakdown("QQ+, 76s", "Ts9h4c", vs="AK")
    page = b._repr_html_()
    assert "overpair" in page and ">gutshot<" in page and ">flush draw<" not in page
    d = equity_distribution("QQ+", "AK", "Ts9h4c")
    assert all(bucket in d._repr_html_() for bucket in ("75-100", "50-75", "33-50", "0-33"))


def test_distribution_chart_returns_its_figure():
    pytest.importorskip("matplotlib")
    from matplotlib.figure import Figure

    d = equity_distribution("QQ+, AK", "JJ-88, AQs", "Ts9h4c")
    figure = plot_equity_distribution(d)
    assert isinstance(figure, Figure) and len(figure.axes[0].lines) >= 2
    own = Figure()
    ax = own.add_subplot(1, 2, 2)
    assert plot_equity_distribution(d, ax=ax) is own and len(ax.lines) >= 2
    with pytest.raises(TypeError):
        plot_equity_distribution("QQ+")


def test_breakdown_command():
    data = json.loads(run("breakdown", "QQ+,76s", "--board", "Ts9h4c", "--vs", "AK", "--json").stdout)
    assert data["shares"]["overpair"] == pytest.approx(18 / 22) and data["vs"] == "AK"
    assert data["equity"]["set"] is None and 0 < data["equity"]["overpair"] < 1
    table = run("breakdown", "QQ+,76s", "--board", "Ts9h4c")
    assert table.returncode == 0 and "overpair" in table.stdout and "set" not in table.stdout


def test_distribution_command_writes_a_png(tmp_path):
    png = tmp_path / "d.png"
    result = run("distribution", "QQ+", "AK", "--board", "Ts9h4c", "--png", str(png))
    assert result.returncode == 0, result.stderr
    assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" and "hero QQ+" in result.stdout


@pytest.mark.parametrize("args", [
    ["breakdown", "QQ+"], ["breakdown", "QQ+", "--board", "Ts9h"], ["breakdown", "AhAd", "--board", "Ah7c2d"],
    ["distribution", "QQ+", "AK", "--board", "Ts9h4c", "--png", "/no/such/dir/d.png"],
    ["distribution", "QQ+", "--board", "Ts9h4c", "--png", "d.png"],
])
def test_command_errors_are_one_line(args):
    result = run(*args)
    assert result.returncode == 2 and result.stdout == "" and len(result.stderr.strip().splitlines()) == 1
