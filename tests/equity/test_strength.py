"""Hand strength of states against brute force, and the tables of every canonical state."""

import itertools
import os

import numpy as np
import pytest

import tavrix_equity
from tavrix_equity import equity, format_cards, hand_strength, score_cards, strength_table, strength_tables

ALL_STATS = ("ehs", "ehs2", "hist")


def brute_values(state):
    """2 * beaten + tied over the opponent combos, for every completion, scored row by row."""
    hole, board = list(state[:2]), list(state[2:])
    rest = [c for c in range(52) if c not in state]
    values = []
    for extra in itertools.combinations(rest, 7 - len(state)):
        full = board + list(extra)
        opponents = np.array([p + tuple(full) for p in itertools.combinations([c for c in rest if c not in extra], 2)])
        scores = score_cards(opponents)
        mine = score_cards([hole + full])[0]
        values.append(2 * int((scores < mine).sum()) + int((scores == mine).sum()))
    return np.array(values)


@pytest.mark.parametrize("width, count", [(7, 6), (6, 3), (5, 1)])
def test_statistics_match_brute_force(width, count):
    rng = np.random.default_rng(width)
    states = np.array([rng.permutation(52)[:width] for _ in range(count)])
    states[0] = [51, 47, 43, 39, 35, 0, 4][:width]  # a royal flush: HS 1 lands in the last bin
    brute = [brute_values(list(state)) for state in states]
    # 1980 / 45 is whole: values on bin edges go up a bin; 7 and 50 bins cut between values.
    for bins in (7, 45, 50):
        got = hand_strength(states, stats=ALL_STATS, bins=bins)
        for row, values in enumerate(brute):
            assert got["ehs"][row] == values.sum() / (1980 * len(values))
            assert got["ehs2"][row] == (values.astype(np.int64) ** 2).sum() / (1980**2 * len(values))
            bin_of = np.minimum(values * bins // 1980, bins - 1)
            np.testing.assert_array_equal(got["hist"][row], np.bincount(bin_of, minlength=bins) / len(values))
        if width == 7:
            assert got["hist"][0][-1] == 1.0


# Preflop all-in equity against a random hand takes equity() a minute: its
# values for two classes, from an exact run, are pinned instead.
PREFLOP_EQUITY = {"AcAd": 0.8520371330210104, "2c3d": 0.32303228126952854}


@pytest.mark.parametrize("cards", [["AcAd"], ["2c3d"], ["KsQs", "JhTd2c8s"], ["9h8h", "2h3d4s"], ["Tc9c", "8c7dKs", "2h"]])
def test_ehs_is_equity_against_a_random_hand(cards):
    from tavrix_equity import parse_cards

    hand, board = cards[0], "".join(cards[1:])
    state = list(parse_cards(hand) + parse_cards(board))
    got = hand_strength([state], stats=ALL_STATS, bins=10)
    expected = PREFLOP_EQUITY[hand] if not board else equity([hand, "random"], board).equity[0]
    assert got["ehs"][0] == pytest.approx(expected, abs=1e-15)
    assert got["hist"][0].sum() == pytest.approx(1.0)
    assert got["ehs2"][0] >= got["ehs"][0] ** 2


def test_preflop_rows_of_one_class_agree_and_threads_do_not_matter():
    states = [[48, 49], [50, 51], [0, 4], [1, 5], [12, 20]]
    one = hand_strength(states, stats=ALL_STATS, bins=9, threads=1)
    two = hand_strength(states, stats=ALL_STATS, bins=9, threads=2)
    for name in ALL_STATS:
        np.testing.assert_array_equal(one[name], two[name])
        np.testing.assert_array_equal(one[name][0], one[name][1])
    flop = np.array([[0, 1, 2, 3, 4], [51, 50, 10, 20, 30]])
    np.testing.assert_array_equal(hand_strength(flop, threads=1)["ehs"], hand_strength(flop, threads=2)["ehs"])


@pytest.mark.parametrize("cards, options, error, message", [
    ([[1, 2, 3]], {}, ValueError, "not 3"),
    ([[1, 2, 3, 4, 5, 6, 7, 8]], {}, ValueError, "not 8"),
    ([[0, 1], [5, 52]], {}, ValueError, "row 1: card index 52 is outside 0 to 51"),
    ([[0, 1], [-1, 3]], {}, ValueError, "row 1: card index -1 is outside"),
    ([[0, 1, 2, 3, 4], [7, 8, 9, 10, 7]], {}, ValueError, "row 1: card index 7 appears twice"),
    ([1, 2], {}, ValueError, "2-D"),
    ([[0.0, 1.0]], {}, TypeError, "integer"),
    ([[0, 1]], {"stats": ("ehs", "eh")}, ValueError, "unknown statistic 'eh'"),
    ([[0, 1]], {"stats": ()}, ValueError, "stats is empty"),
    ([[0, 1]], {"bins": 0}, ValueError, "bins must be at least 1"),
    ([[0, 1]], {"threads": 0}, ValueError, "threads must be at least 1"),
])
def test_bad_input(cards, options, error, message):
    with pytest.raises(error, match=message):
        hand_strength(cards, **options)


# ---- tables ----------------------------------------------------------------

# Five canonical flops (paired, suited, rainbow...) in chunks of 2: a few
# thousand rows of the flop tables written, checked against hand_strength.
BOARDS = 5
CHUNK = 2


@pytest.fixture
def few_boards(monkeypatch):
    boards = strength_tables.canonical_boards("flop")[::350][:BOARDS]
    monkeypatch.setattr(strength_tables, "canonical_boards", lambda round: boards)
    monkeypatch.setitem(strength_tables.CHUNK_BOARDS, "flop", CHUNK)
    return boards


def written_rows(boards):
    return tavrix_equity.HandIndexer("flop").index(strength_tables._chunk_states(boards))


def load(paths):
    return {name: np.load(path) for name, path in paths.items()}


def test_canonical_board_counts():
    assert [len(strength_tables.canonical_boards(r)) for r in ("flop", "turn")] == [1755, 63193]


def test_table_rows_are_the_strength_of_their_state(tmp_path, few_boards):
    paths = strength_table("flop", tmp_path, bins=8, workers=1)
    assert sorted(p.name for p in paths.values()) == ["flop_ehs.npy", "flop_ehs2.npy", "flop_hist.npy"]
    tables = {name: np.load(path, mmap_mode="r") for name, path in paths.items()}
    indexer = tavrix_equity.HandIndexer("flop")
    assert tables["hist"].shape == (indexer.size, 8) and tables["ehs"].dtype == np.float32
    rows = np.random.default_rng(3).choice(np.unique(written_rows(few_boards)), 40)
    expected = hand_strength(indexer.unindex(rows), stats=ALL_STATS, bins=8)
    for name in ALL_STATS:
        np.testing.assert_array_equal(tables[name][rows], expected[name].astype(np.float32))


def test_preflop_table_in_this_process(tmp_path):
    paths = strength_table("preflop", tmp_path, stats=["ehs"])
    table = np.load(paths["ehs"])
    states = tavrix_equity.HandIndexer("preflop").unindex(np.arange(169, dtype=np.uint64))
    np.testing.assert_array_equal(table, hand_strength(states)["ehs"].astype(np.float32))


def test_stopped_run_resumes_identically(tmp_path, few_boards, monkeypatch):
    (tmp_path / "whole").mkdir()
    whole = load(strength_table("flop", tmp_path / "whole", bins=4, workers=1))
    computed = []
    run_chunk = strength_tables._run_chunk

    def spy(round, boards, *rest):
        computed.append(boards.tobytes())
        return run_chunk(round, boards, *rest)

    monkeypatch.setattr(strength_tables, "_run_chunk", spy)

    def stop_after_two(done, total):
        if done == 2:
            raise KeyboardInterrupt

    out, checkpoint = tmp_path / "resumed", tmp_path / "flop.ckpt"
    out.mkdir()
    with pytest.raises(KeyboardInterrupt):
        strength_table("flop", out, bins=4, workers=1, checkpoint=checkpoint, progress=stop_after_two)
    assert not (out / "flop_ehs.npy").exists() and (out / "flop_ehs.npy.partial").exists()
    # A recorded chunk whose rows were damaged since is computed again.
    partial = np.lib.format.open_memmap(out / "flop_hist.npy.partial", mode="r+")
    partial[written_rows(few_boards[:CHUNK])[5]] = 7.0
    del partial
    computed.clear()
    resumed = load(strength_table("flop", out, bins=4, workers=1, checkpoint=checkpoint))
    assert len(computed) == -(-BOARDS // CHUNK) - 1
    for name in ALL_STATS:
        np.testing.assert_array_equal(resumed[name], whole[name])


@pytest.mark.parametrize("what", ["directory", "symlink"])
def test_outputs_that_are_not_regular_files_are_refused_before_any_work(tmp_path, few_boards, monkeypatch, what):
    target = tmp_path / "flop_ehs2.npy"
    if what == "directory":
        target.mkdir()
    else:
        target.symlink_to(tmp_path / "elsewhere")
    monkeypatch.setattr(strength_tables, "_run_chunk", lambda *args: pytest.fail("work started"))
    with pytest.raises(ValueError, match="flop_ehs2.npy. is a .*not a regular file"):
        strength_table("flop", tmp_path, workers=1)


@pytest.mark.parametrize("arguments, error, message", [
    ({"round": "showdown"}, ValueError, "round must be one of"),
    ({"stats": ["ehs", "median"]}, ValueError, "unknown statistic 'median'"),
    ({"round": "river", "stats": ["hist"]}, ValueError, "a river state has one completion"),
    ({"bins": 0}, ValueError, "bins must be at least 1"),
    ({"workers": 0}, ValueError, "at least 1"),
    ({"progress": "yes"}, TypeError, "progress must be"),
])
def test_bad_table_arguments(tmp_path, arguments, error, message):
    with pytest.raises(error, match=message):
        strength_table(**{"round": "flop", "out_dir": tmp_path, **arguments})


def test_dask_cluster_writes_the_local_files(tmp_path, few_boards):
    from distributed import Client, LocalCluster

    (tmp_path / "local").mkdir()
    (tmp_path / "dask").mkdir()
    local = load(strength_table("flop", tmp_path / "local", bins=5, workers=2))
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        remote = load(strength_table("flop", tmp_path / "dask", bins=5, client=client))
    for name in ALL_STATS:
        np.testing.assert_array_equal(remote[name], local[name])


def test_strength_command(tmp_path, capsys):
    from tavrix_equity.cli import main

    assert main(["strength", "preflop", "--out", str(tmp_path), "--bins", "5"]) == 0
    assert np.load(tmp_path / "preflop_hist.npy").shape == (169, 5)
    assert "wrote" in capsys.readouterr().out
    for args in (["strength", "preflop", "--out", str(tmp_path / "missing")],
                 ["strength", "preflop", "--out", str(tmp_path), "--bins", "0"],
                 ["strength", "flip", "--out", str(tmp_path)]):
        assert main(args) == 2
        assert capsys.readouterr().err.count("\n") == 1


def test_chunks_of_rows_refuse_to_leave_rows_unwritten(tmp_path, few_boards, monkeypatch):
    monkeypatch.setattr(strength_tables, "ROW_CHUNKS", {"flop": 2})
    with pytest.raises(RuntimeError, match="no board gave a value for row 0: the board list is incomplete"):
        strength_table("flop", tmp_path, stats=["ehs"], workers=1)
    assert list(tmp_path.iterdir()) == []


def test_buckets_command_and_chart(tmp_path, capsys):
    from tavrix_equity import plot_strength
    from tavrix_equity.cli import main

    assert main(["strength", "preflop", "--out", str(tmp_path), "--bins", "6"]) == 0
    assert main(["buckets", str(tmp_path / "preflop_ehs.npy"), "--k", "8", "--out", str(tmp_path / "q")]) == 0
    labels = np.load(tmp_path / "q.npy")
    ehs = np.load(tmp_path / "preflop_ehs.npy")
    assert labels.dtype == np.int32 and np.all(np.diff(labels[np.argsort(ehs, kind="stable")]) >= 0)
    assert main(["buckets", str(tmp_path / "preflop_hist.npy"), "--k", "5", "--out", str(tmp_path / "e.npy"),
                 "--centres", str(tmp_path / "c.npy")]) == 0
    assert np.load(tmp_path / "c.npy").shape == (5, 6) and set(np.load(tmp_path / "e.npy")) <= set(range(5))
    assert main(["buckets", str(tmp_path / "missing.npy"), "--k", "5", "--out", str(tmp_path / "x.npy")]) == 2
    capsys.readouterr()
    plot_strength({"preflop": ehs}, tmp_path / "ehs.png")
    assert (tmp_path / "ehs.png").read_bytes().startswith(b"\x89PNG")
    with pytest.raises(ValueError, match="values in 0 to 1|lie in 0 to 1"):
        plot_strength({"preflop": ehs + 2}, tmp_path / "bad.png")
