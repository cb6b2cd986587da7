"""What the tavrix-equity command prints: counts as integers, tables that fit
their text, strict JSON, the grid without a picture, sub-matrices, the
version and help, and errors that quote the user's words briefly."""

import json
import socket
import subprocess
import sys

import pytest

from tavrix_equity import cli


def run(*args, timeout=120):
    return subprocess.run([sys.executable, "-m", "tavrix_equity", *args], capture_output=True, text=True,
                          timeout=timeout)


def call(capsys, *args):
    status = cli.main(list(args))
    out, err = capsys.readouterr()
    return status, out, err


@pytest.mark.parametrize("args, counted", [
    (["AhKh", "TT+"], "41,095,296 weighted boards counted (exact)"),
    (["AhKh", "TT+", "--trials", "1000000", "--seed", "1"], "1,000,000 boards counted (Monte Carlo"),
    (["AhKh", "QsQd", "--board", "2c3d4h5s6c"], "1 board counted (exact)"),
    (["AhKh", "QsQd", "TT+:0.3,99", "--board", "2c3d4h5s"], "491.4 weighted boards counted"),
])
def test_board_counts_print_as_numbers(capsys, args, counted):
    status, out, _ = call(capsys, *args)
    assert status == 0 and counted in out and "e+" not in out


def test_json_counts_are_integers_and_never_nan(capsys):
    status, out, _ = call(capsys, "AhKh", "TT+", "--trials", "1", "--seed", "3", "--json")
    data = json.loads(out)
    assert status == 0 and data["boards"] == 1 and isinstance(data["boards"], int)
    assert all(isinstance(w, int) for w in data["wins"]) and data["std_error"] == [None, None]
    _, out, _ = call(capsys, "AhKh", "TT+", "--json")
    data = json.loads(out, parse_constant=pytest.fail)
    assert data["boards"] == 41_095_296 and isinstance(data["boards"], int)


def test_table_column_fits_long_ranges(capsys):
    long_range = "QQ+,AKs,A5s-A2s,KQo"
    _, out, _ = call(capsys, "AsKs", long_range, "--trials", "100", "--seed", "1")
    rows = out.splitlines()[-3:]
    assert len({len(row) for row in rows}) == 1 and rows[2].startswith(long_range + " ")


def test_grid_prints_text_json_and_csv(capsys):
    base = ("grid", "AsKs", "--board", "2c7d9h", "--trials", "100", "--seed", "1")
    status, text, _ = call(capsys, *base)
    assert status == 0 and text.splitlines()[2].split() == list("AKQJT98765432")
    status, out, _ = call(capsys, "grid", "AsKs", "--board", "AhAdAc", "--trials", "100", "--seed", "1", "--json")
    data = json.loads(out, parse_constant=pytest.fail)
    assert len(data["grid"]) == 13 and data["classes"]["KK"] == data["grid"][1][1] == 0.0
    assert data["classes"]["AA"] is None and data["grid"][0][0] is None  # no ace left for AA
    status, out, _ = call(capsys, *base, "--csv")
    lines = out.splitlines()
    assert lines[0] == "class,equity" and len(lines) == 170 and lines[1].startswith("AA,")


def test_grid_of_a_range_with_no_live_combo_is_refused(tmp_path):
    result = run("grid", "AA", "--board", "AsAcAd", "--png", str(tmp_path / "nan.png"))
    assert result.returncode == 2 and "'AA'" in result.stderr and len(result.stderr.splitlines()) == 1
    assert not (tmp_path / "nan.png").exists()


def test_matrix_of_the_classes_given(capsys):
    status, out, _ = call(capsys, "matrix", "--classes", "AA, KK")
    assert status == 0 and out.splitlines()[1].split() == ["AA", "50.00", "81.95"]
    status, _, err = call(capsys, "matrix", "--classes", "AA,KX")
    assert status == 2 and "'KX'" in err


def test_version_and_help_for_every_option(capsys):
    from tavrix_equity import __version__

    assert call(capsys, "--version")[:2] == (0, f"tavrix-equity {__version__}\n")
    for parser in (cli._equity_parser(), *(make() for make, _ in cli.SUBCOMMANDS.values())):
        for action in parser._actions:
            assert action.help, f"{parser.prog} {action.option_strings or action.dest} has no help"


@pytest.mark.parametrize("args, quoted", [
    (["AsKs", "QQ+:0"], "'QQ+:0' is empty"),
    (["AsKx", "QQ"], "unknown card 'Kx'"),
    (["AsKs", "QQ+," + "J" * 100_000], "100,004 characters"),
    (["AsKs", "QQ", "--trials", "9" * 100_000], "..."),
    (["AsKs", "QQ", "--board", "Zz" * 50_000], "100,000 characters"),
    (["matrix", "--classes", "AA," + "X" * 100_000], "100,000 characters"),
])
def test_errors_quote_the_users_text_briefly(capsys, args, quoted):
    status, _, err = call(capsys, *args)
    assert status == 2 and quoted in err and len(err) < 400 and err.count("\n") == 1


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def test_unreachable_scheduler_is_one_line_within_the_timeout():
    pytest.importorskip("distributed")
    result = run("matrix", "--classes", "AA,KK", "--scheduler", f"tcp://127.0.0.1:{closed_port()}",
                 "--timeout", "1", timeout=60)
    lines = result.stderr.splitlines()
    assert result.returncode == 2 and lines[0].startswith("connecting to the Dask scheduler")
    assert len(lines) == 2 and "cannot reach" in lines[1]


def test_lost_scheduler_is_one_line(capsys, monkeypatch):
    import concurrent.futures

    from tavrix_equity import matrix

    class Client:
        closed = False

        def close(self, timeout):
            Client.closed = True

    def lost(**_):
        raise concurrent.futures.CancelledError("chunk 3 cancelled for reason: scheduler-connection-lost.\nmore")

    monkeypatch.setattr(cli, "_connect", lambda address, timeout: Client())
    monkeypatch.setattr(matrix, "preflop_matrix", lost)
    status, _, err = call(capsys, "matrix", "--classes", "AA,KK", "--scheduler", "tcp://x:1")
    assert status == 2 and err.count("\n") == 1 and "lost the Dask scheduler" in err and Client.closed


def test_a_reader_that_stops_early_is_no_error():
    child = subprocess.Popen([sys.executable, "-m", "tavrix_equity", "grid", "AsKs", "--trials", "20", "--csv"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    child.stdout.close()  # long before the grid is computed and written
    assert child.wait(timeout=120) == 1 and child.stderr.read() == ""
    child.stderr.close()
