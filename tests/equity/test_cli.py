"""The tavrix-equity command: tables, JSON, and one-line errors with status 2."""

import json
import subprocess
import sys

import pytest


def run(*args):
    return subprocess.run([sys.executable, "-m", "tavrix_equity", *args], capture_output=True, text=True, timeout=120)


def test_table_and_json():
    table = run("AsKs", "QhQd", "--board", "2c7d9hTs")
    assert table.returncode == 0 and "44 boards" in table.stdout and "AsKs" in table.stdout
    data = json.loads(run("AsKs", "QhQd", "JcTc", "--trials", "1000", "--seed", "5", "--json").stdout)
    assert data["boards"] == 1000 and data["seed"] == 5 and len(data["equity"]) == 3 and not data["exact"]


@pytest.mark.parametrize("args", [["AsKs"], ["AsKs", "AsQd"], ["AsKs", "QhQd", "--trials", "0"],
                                  ["AsKs", "QhQd", "--trials", "x"], ["AsKs", "QhQd", "--board", "Zz"]])
def test_bad_input_is_one_line_and_status_2(args):
    result = run(*args)
    assert result.returncode == 2 and result.stdout == ""
    assert len(result.stderr.strip().splitlines()) == 1 and "error" in result.stderr


def test_grid_writes_a_png(tmp_path):
    png = tmp_path / "grid.png"
    result = run("grid", "AsKs", "--board", "2c7d9h", "--trials", "200", "--seed", "1", "--png", str(png))
    assert result.returncode == 0, result.stderr
    assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


@pytest.mark.parametrize("args", [["grid"], ["grid", "AsKs", "--png", "x.png", "--board", "AsKc"],
                                  ["matrix"], ["matrix", "--out", "m.npy", "--workers", "0"]])
def test_subcommand_errors_are_one_line(args):
    result = run(*args)
    assert result.returncode == 2 and len(result.stderr.strip().splitlines()) == 1


def test_matrix_out_is_checked_before_the_work_and_saved_whole(tmp_path, monkeypatch):
    import numpy as np

    from tavrix_equity import cli, matrix

    computed = []
    monkeypatch.setattr(matrix, "preflop_matrix", lambda **_: computed.append(1) or np.eye(3))
    assert cli.main(["matrix", "--out", str(tmp_path / "missing" / "m.npy")]) == 2
    assert computed == []  # a bad --out is refused before hours of work, not after
    assert cli.main(["matrix", "--out", str(tmp_path / "m")]) == 0
    assert np.array_equal(np.load(tmp_path / "m.npy"), np.eye(3))
    assert [p.name for p in tmp_path.iterdir()] == ["m.npy"]


def test_grid_png_directory_is_checked_before_the_work(tmp_path, monkeypatch):
    import importlib

    from tavrix_equity import cli

    module = importlib.import_module("tavrix_equity.grids")
    monkeypatch.setattr(module, "hand_grid", lambda *_, **__: pytest.fail("computed before checking --png"))
    assert cli.main(["grid", "AsKs", "--png", str(tmp_path / "missing" / "grid.png")]) == 2
