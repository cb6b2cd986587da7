"""The preflop matrix: entries against combo-by-combo counts, schedulers, checkpoints, stops."""

import multiprocessing
import os
import signal
import subprocess
import sys
import textwrap
import threading
import time
import warnings

import numpy as np
import pytest

from tavrix_equity import _checkpoint, _engine, matrix
from tavrix_equity.ranges import HAND_CLASSES, class_combos

# Pairs, suited and offsuit classes that share ranks, so card removal matters:
# 144 combo pairs.
CLASSES = ["AA", "AKs", "AKo", "KQs"]
CHUNK = 4000  # of the 19,600 work items
CHUNKS = 5
# id and row count, the 4 x 4 sums and the row of the pairs counted, checksum
RECORD_SIZES = [12 + 8 * 5 * 4 + 32] * CHUNKS


@pytest.fixture(autouse=True)
def small_chunks(monkeypatch):
    monkeypatch.setattr(matrix, "_CHUNK_SIZE", CHUNK)


@pytest.fixture(scope="module")
def direct():
    """The matrix averaged combo pair by combo pair, with no suit symmetry."""
    result = np.full((len(CLASSES), len(CLASSES)), 0.5)
    for i, mine in enumerate(CLASSES):
        for j, theirs in enumerate(CLASSES):
            rows = [a + b for a in class_combos(mine) for b in class_combos(theirs) if not set(a) & set(b)]
            if i != j:
                counts = _engine.heads_up_counts(np.array(rows, dtype=np.uint8), threads=2).astype(np.float64)
                result[i, j] = np.mean((counts[:, 0] + counts[:, 2] / 2) / counts.sum(axis=1))
    return result


@pytest.fixture
def computed(monkeypatch):
    """Runs of matrix._run_chunk in this process, as the work items of each chunk."""
    chunks = []
    run_chunk = matrix._run_chunk

    def spy(job):
        chunks.append(job[3:])
        return run_chunk(job)

    monkeypatch.setattr(matrix, "_run_chunk", spy)
    return chunks


def test_board_classes_count_every_board_once():
    # One board per class of boards equal under the suits, times the class
    # size: every pair of combos is counted on all 1,712,304 of its boards.
    plan = matrix._plan(("AA", "KQs", "72o"), matrix._CHUNK_SIZE)
    sums, pairs = _engine.class_sweep(plan.combos, plan.class_of, plan.size, 0, plan.items, 2)
    off = ~np.eye(3, dtype=bool)
    assert np.array_equal((sums + sums.T)[off], (2 * matrix.BOARDS * plan.pairs)[off])
    assert pairs == int(sums.sum()) and plan.pairs[0, 1:].tolist() == [24, 72] and plan.pairs[1, 2] == 48


@pytest.mark.parametrize("workers", [1, 2])
def test_entries_match_combo_by_combo_counts(direct, workers):
    result = matrix.preflop_matrix(CLASSES, workers=workers)
    assert result.dtype == np.float64 and result.shape == (4, 4)
    np.testing.assert_allclose(result, direct, rtol=0, atol=1e-12)
    assert np.all(result + result.T == 1.0)


def test_class_order_orders_rows_and_columns(direct):
    order = [2, 0, 3, 1]
    result = matrix.preflop_matrix([CLASSES[i] for i in order], workers=1)
    np.testing.assert_allclose(result, direct[np.ix_(order, order)], rtol=0, atol=1e-12)


def test_dask_cluster_gives_the_local_result():
    from distributed import Client, LocalCluster

    local = matrix.preflop_matrix(CLASSES, workers=2)
    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, Client(cluster) as client:
        assert np.array_equal(matrix.preflop_matrix(CLASSES, client=client), local)


class Stop(Exception):
    pass


def test_stopped_run_resumes_without_recomputing(tmp_path, computed, direct):
    path = tmp_path / "matrix.ckpt"
    reported = []

    def stop_after_two(done, total):
        reported.append((done, total))
        if done == 2:
            raise Stop

    with pytest.raises(Stop):
        matrix.preflop_matrix(CLASSES, workers=1, checkpoint=path, progress=stop_after_two)
    first_run = list(computed)
    computed.clear()
    reported.clear()
    result = matrix.preflop_matrix(CLASSES, workers=1, checkpoint=path, progress=lambda *p: reported.append(p))
    assert (len(first_run), len(computed)) == (2, CHUNKS - 2)
    assert not set(first_run) & set(computed)
    assert reported == [(done, CHUNKS) for done in range(2, CHUNKS + 1)]
    np.testing.assert_allclose(result, direct, rtol=0, atol=1e-12)
    computed.clear()
    assert np.array_equal(matrix.preflop_matrix(CLASSES, workers=1, checkpoint=path), result)
    assert computed == []


def _session_processes(session):
    """Live processes of a session (zombies excluded: only their parent can reap them)."""
    alive = []
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
        except (OSError, IndexError):
            continue
        if fields[0] != "Z" and int(fields[3]) == session:
            alive.append(int(entry))
    return alive


def test_ctrl_c_stops_the_workers_and_keeps_the_records(tmp_path):
    path = tmp_path / "matrix.ckpt"
    classes = list(HAND_CLASSES[:30])  # many chunks: still running when interrupted
    child = subprocess.Popen(
        [sys.executable, "-c", textwrap.dedent(f"""
            from tavrix_equity import matrix
            if __name__ == "__main__":
                matrix._CHUNK_SIZE = 50
                matrix.preflop_matrix({classes!r}, workers=2, checkpoint={str(path)!r})
        """)],
        start_new_session=True, stderr=subprocess.PIPE, text=True,
    )
    deadline = time.monotonic() + 60
    two_records = 2 * (12 + 8 * 31 * 30 + 32) + 200
    while (not path.exists() or path.stat().st_size < two_records) and time.monotonic() < deadline:
        time.sleep(0.02)
    os.killpg(child.pid, signal.SIGINT)  # what Ctrl-C in a terminal does
    _, errors = child.communicate(timeout=30)
    assert errors.count("Traceback") == 1 and "KeyboardInterrupt" in errors  # the workers stay quiet
    while _session_processes(child.pid) and time.monotonic() < deadline:
        time.sleep(0.1)
    assert _session_processes(child.pid) == []
    plan = matrix._plan(tuple(classes), 50)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        store = matrix._open_checkpoint(path, plan, _engine.table_digest())  # a damaged tail would warn
    store.close()
    assert len(store.recovered) >= 2
    for chunk, counts in store.recovered.items():
        assert np.array_equal(counts, matrix._run_chunk(plan.chunk(chunk))[1])


def _record_offsets(data):
    """Where each record of a complete checkpoint of CLASSES starts, and where the file ends."""
    header = len(data) - sum(RECORD_SIZES)
    return [header + sum(RECORD_SIZES[:k]) for k in range(CHUNKS + 1)]


def _flip(data, at):
    return data[:at] + bytes([data[at] ^ 1]) + data[at + 1:]


def _move_a_win(data, record):
    # Entries [0, 1] and [1, 0] of the sums: their total stays the same.
    counts = np.frombuffer(data, dtype="<u8", count=5, offset=record + 12).copy()
    counts += np.array([0, -1, 0, 0, 1], dtype=np.int64).astype("<u8")
    return data[:record + 12] + counts.tobytes() + data[record + 52:]


@pytest.mark.parametrize("damage, recovered", [
    (lambda data, at: data[:at[-1] - 10], CHUNKS - 1),                              # last record cut short
    (lambda data, at: data[:at[2] + 5], 2),                                         # cut inside its header
    (lambda data, at: _flip(data, at[1] + 20), 1),                                   # a count changed
    (lambda data, at: _move_a_win(data, at[3]), 3),                                  # same sums, other counts
    (lambda data, at: data[:at[3] + 4] + b"\x00\x00\x00\x00" + data[at[3] + 8:], 3),  # chunk id rewritten
    (lambda data, at: data + b"CHNK" + bytes(40), CHUNKS),                           # garbage appended
])
def test_damaged_checkpoint_records_are_recomputed(tmp_path, computed, direct, damage, recovered):
    path = tmp_path / "matrix.ckpt"
    result = matrix.preflop_matrix(CLASSES, workers=1, checkpoint=path)
    data = path.read_bytes()
    path.write_bytes(damage(data, _record_offsets(data)))
    computed.clear()
    with pytest.warns(RuntimeWarning, match="damaged or partly written"):
        again = matrix.preflop_matrix(CLASSES, workers=1, checkpoint=path)
    assert len(computed) == CHUNKS - recovered
    assert np.array_equal(again, result)
    assert path.read_bytes() == data
    computed.clear()
    matrix.preflop_matrix(CLASSES, workers=1, checkpoint=path)
    assert computed == []


def _write_foreign(path, case, monkeypatch):
    if case == "not a checkpoint":
        with open(path, "wb") as stream:
            np.save(stream, np.zeros(3))
        return
    with monkeypatch.context() as patch:
        if case == "other tables":
            patch.setattr(_engine, "table_digest", lambda: "0" * 64)
        if case == "other format version":
            patch.setattr(_checkpoint, "FORMAT_VERSION", 3)
        matrix.preflop_matrix(CLASSES[:3] if case == "other classes" else CLASSES, workers=1, checkpoint=path)
    if case == "damaged header":
        data = bytearray(path.read_bytes())
        data[20] ^= 1
        path.write_bytes(bytes(data))


@pytest.mark.parametrize("case, message", [
    ("other classes", "another class selection"),
    ("other tables", "other lookup tables"),
    ("other format version", "format version 3"),
    ("damaged header", "damaged header"),
    ("not a checkpoint", "not a preflop matrix checkpoint"),
])
def test_untrusted_checkpoint_is_refused_and_left_alone(tmp_path, monkeypatch, case, message):
    path = tmp_path / "matrix.ckpt"
    _write_foreign(path, case, monkeypatch)
    before = path.read_bytes()
    with pytest.raises(ValueError, match=message):
        matrix.preflop_matrix(CLASSES, workers=1, checkpoint=path)
    assert path.read_bytes() == before


def test_a_checkpoint_serves_any_order_of_the_same_classes(tmp_path, computed):
    path = tmp_path / "matrix.ckpt"
    result = matrix.preflop_matrix(CLASSES, workers=1, checkpoint=path)
    computed.clear()
    reordered = matrix.preflop_matrix(CLASSES[::-1], workers=1, checkpoint=path)
    assert computed == [] and np.array_equal(reordered, result[::-1, ::-1])


@pytest.mark.parametrize("fault, message", [
    (lambda digest, counts: ("0" * 64, counts), "other lookup tables"),
    (lambda digest, counts: (digest, counts + np.uint64(1)), "malformed counts"),
    (lambda digest, counts: (digest, counts[:1]), "malformed counts"),
])
def test_bad_worker_results_are_never_recorded(tmp_path, monkeypatch, fault, message):
    run_chunk = matrix._run_chunk
    path = tmp_path / "matrix.ckpt"
    with monkeypatch.context() as patch, pytest.raises(RuntimeError, match=message):
        patch.setattr(matrix, "_run_chunk", lambda job: fault(*run_chunk(job)))
        matrix.preflop_matrix(CLASSES, workers=1, checkpoint=path)
    reported = []
    matrix.preflop_matrix(CLASSES, workers=1, checkpoint=path, progress=lambda *p: reported.append(p))
    assert reported[0] == (0, CHUNKS)


def test_ctrl_c_stops_local_workers_at_once(monkeypatch):
    monkeypatch.setattr(matrix, "_CHUNK_SIZE", 9800)  # 2 chunks of several seconds each
    fired = []

    def interrupt_main():
        fired.append(time.monotonic())
        signal.pthread_kill(threading.main_thread().ident, signal.SIGINT)

    interrupt = threading.Timer(1.5, interrupt_main)
    interrupt.start()
    with pytest.raises(KeyboardInterrupt):
        matrix.preflop_matrix(workers=2)  # all 169 classes: seconds per chunk even on a quiet machine
    assert time.monotonic() - fired[0] < 4  # not waiting for the chunks to end
    assert multiprocessing.active_children() == []


@pytest.mark.parametrize("arguments, error, message", [
    ({"classes": ["AA", "XX", "AKx"]}, ValueError, "unknown hand classes 'XX', 'AKx'"),
    ({"classes": ["AA", "KK", "AA"]}, ValueError, "repeated hand classes 'AA'"),
    ({"classes": "AA"}, TypeError, "not one string"),
    ({"workers": 0}, ValueError, "at least 1"),
    ({"client": object(), "workers": 2}, ValueError, "workers is for local processes"),
    ({"progress": "yes"}, TypeError, "progress must be"),
])
def test_bad_arguments(arguments, error, message):
    with pytest.raises(error, match=message):
        matrix.preflop_matrix(**{"classes": CLASSES, **arguments})
