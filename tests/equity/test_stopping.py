"""Stopping long calls: a cancel event set from another thread, and an
interpreter that exits while the engine runs on a daemon thread."""

import concurrent.futures
import subprocess
import sys
import threading
import time
import warnings

import numpy as np
import pytest

import tavrix_equity as te
from tavrix_equity import matrix

DAEMON_EXIT = """
import threading, time
from tavrix_equity import equity
threading.Thread(target=lambda: CALL, daemon=True).start()
time.sleep(1)
print("exiting", flush=True)
"""


@pytest.mark.parametrize("call", [
    'equity(["AsKs", "QhQd"], trials=10**11)',
    'equity(["AA", "KK", "QQ", "random"])',  # exact, hours of work
], ids=["monte carlo", "exact"])
def test_the_interpreter_exits_normally_while_a_daemon_thread_runs_the_engine(call):
    code = DAEMON_EXIT.replace("CALL", call)
    children = [subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 text=True) for _ in range(6)]
    try:
        outcomes = [(child.communicate(timeout=120), child.returncode) for child in children]
    finally:
        for child in children:
            child.kill()
    for (out, errors), status in outcomes:
        assert (status, out, errors) == (0, "exiting\n", "")


# Each long call reports progress, so the event is set once its work has
# begun: what is timed is how soon the work stops, not how long it took to start.
LONG_CALLS = {
    "exact equity": lambda cancel, begun: te.equity(["AA", "KK", "QQ", "random"], cancel=cancel, progress=begun),
    "monte carlo": lambda cancel, begun: te.equity(["AsKs", "QhQd"], trials=10**11, cancel=cancel, progress=begun),
    "hand grid": lambda cancel, begun: te.hand_grid("random", threads=1, cancel=cancel, progress=begun),
    # All 169 classes: seconds of work even on a quiet machine.
    "matrix here": lambda cancel, begun: te.preflop_matrix(workers=1, cancel=cancel, progress=begun),
    "matrix processes": lambda cancel, begun: te.preflop_matrix(workers=2, cancel=cancel, progress=begun),
    "combo equity": lambda cancel, begun: te.combo_equity("random", "random", threads=1, cancel=cancel,
                                                          progress=begun),
    "omaha": lambda cancel, begun: te.equity(["AsAhKsKh", "random"], game="omaha", trials=10**11, cancel=cancel,
                                             progress=begun),
}


@pytest.mark.parametrize("name", LONG_CALLS)
def test_a_cancel_event_stops_a_long_call_on_another_thread(name):
    cancel, started = threading.Event(), threading.Event()
    outcome = []

    def run():
        try:
            LONG_CALLS[name](cancel, lambda done, total: started.set())
            outcome.append("finished")
        except BaseException as error:  # noqa: BLE001 - inspected below
            outcome.append((error, time.monotonic()))

    worker = threading.Thread(target=run)
    worker.start()
    assert started.wait(timeout=60)
    time.sleep(0.1)
    cancel.set()
    set_at = time.monotonic()
    worker.join(timeout=60)
    assert not worker.is_alive()
    error, stopped_at = outcome[0]
    assert isinstance(error, concurrent.futures.CancelledError) and "cancel" in str(error)
    # About 0.05 s unloaded; the margin is for a loaded machine and the sanitizers.
    assert stopped_at - set_at < 3.0
    assert te.equity(["AsKs", "QhQd"], "2c7d9hTs").boards == 44  # the engine is usable again


@pytest.mark.parametrize("call", [
    lambda cancel: te.score_cards([[0, 1, 2]], cancel=cancel),
    lambda cancel: te.score_words([0], [0], cancel=cancel),
    lambda cancel: te.equity(["AsKs", "QhQd"], cancel=cancel),
])
def test_a_set_event_stops_a_call_before_it_starts_and_others_are_refused(call):
    cancel = threading.Event()
    call(cancel)
    cancel.set()
    with pytest.raises(concurrent.futures.CancelledError):
        call(cancel)
    with pytest.raises(TypeError, match="threading.Event"):
        call(True)


def test_a_dask_cluster_without_workers_is_reported(monkeypatch):
    from distributed import Client, LocalCluster

    monkeypatch.setattr(matrix, "_NO_WORKERS_WARNING_SECONDS", 0.5)
    cancel = threading.Event()
    with LocalCluster(n_workers=0, dashboard_address=None) as cluster, Client(cluster) as client:
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            threading.Timer(3.0, cancel.set).start()
            with pytest.raises(concurrent.futures.CancelledError):
                matrix.preflop_matrix(["AA", "KK"], client=client, cancel=cancel)
    assert [str(w.message) for w in caught if "no workers" in str(w.message)]


def test_local_workers_are_capped_at_the_usable_cores(monkeypatch):
    started = []
    real = concurrent.futures.ProcessPoolExecutor
    monkeypatch.setattr(matrix.concurrent.futures, "ProcessPoolExecutor",
                        lambda max_workers, **kw: started.append(max_workers) or real(max_workers, **kw))
    monkeypatch.setattr(matrix, "default_threads", lambda: 2)
    monkeypatch.setattr(matrix, "_CHUNK_SIZE", 2)
    result = matrix.preflop_matrix(["AA", "KK", "AKs"], workers=10**6)
    assert started == [2] and np.isclose(result[0, 1], 0.8195, atol=1e-4)
