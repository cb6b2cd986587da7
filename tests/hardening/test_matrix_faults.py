"""Faults in the preflop matrix job: Dask workers killed in the middle, the
driver killed in the middle, and checkpoint files that must not be trusted.
Every run that completes gives exactly the matrix of an undisturbed run."""

import os
import random
import shutil
import signal
import subprocess
import sys
import textwrap
import time
import warnings

import numpy as np
import pytest

from switches import DEEP, record, scaled
from tavrix_equity import _checkpoint, _engine, matrix
from tavrix_equity.ranges import HAND_CLASSES

CLASSES = list(HAND_CLASSES[:12])  # 17 chunks of 1,200 of the 19,600 work items, about 0.1 s each
CHUNK = 1200
# For the checkpoint files: 5 chunks of 4,000 work items.
FEW_CLASSES, FEW_CHUNK = ["AA", "AKs", "AKo", "KQs"], 4000


@pytest.fixture(autouse=True)
def small_chunks(monkeypatch):
    monkeypatch.setattr(matrix, "_CHUNK_SIZE", CHUNK)


@pytest.fixture(scope="module")
def reference():
    with pytest.MonkeyPatch.context() as patch:
        patch.setattr(matrix, "_CHUNK_SIZE", CHUNK)
        return matrix.preflop_matrix(CLASSES, workers=1)


def test_killed_dask_workers_lose_nothing(tmp_path, reference):
    from distributed import Client, LocalCluster

    rounds = scaled(1, 4)
    kills = []
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        for round_ in range(rounds):
            path = tmp_path / f"matrix{round_}.ckpt"
            targets = iter(sorted({1, random.Random(round_).randint(2, 8)}))
            next_kill = [next(targets)]

            def kill_a_worker(done, total):
                # Kill a worker process outright, the way an OOM killer or a lost machine would.
                if next_kill[0] is not None and done >= next_kill[0]:
                    pids = client.run(os.getpid)
                    victim = sorted(pids.values())[len(kills) % len(pids)]
                    os.kill(victim, signal.SIGKILL)
                    kills.append((round_, done, total))
                    next_kill[0] = next(targets, None)

            result = matrix.preflop_matrix(CLASSES, client=client, checkpoint=path, progress=kill_a_worker)
            assert np.array_equal(result, reference)
            client.wait_for_workers(2, timeout=300)  # a restart is slow on a loaded machine
            # The records are whole: a run from the file alone computes nothing and agrees.
            again = matrix.preflop_matrix(CLASSES, workers=1, checkpoint=path, progress=lambda done, total: (
                done == total or pytest.fail("the checkpoint lost a chunk")))
            assert np.array_equal(again, reference)
    assert len({k[0] for k in kills}) == rounds
    record("matrix faults", f"{len(kills)} Dask worker processes killed with SIGKILL in {rounds} runs of "
                            f"{kills[0][2]} chunks: every run completed with the identical matrix and checkpoint")


DRIVER = """
from tavrix_equity import matrix
if __name__ == "__main__":
    matrix._CHUNK_SIZE = {chunk}
    matrix.preflop_matrix({classes!r}, workers=2, checkpoint={path!r})
"""


def test_killed_driver_resumes_from_its_checkpoint(tmp_path, reference):
    path = tmp_path / "matrix.ckpt"
    recomputed = []
    plan = matrix._plan(tuple(CLASSES), CHUNK)
    header = len(_checkpoint._header(_engine.table_digest(), plan.digest, plan.chunks))
    for round_ in range(scaled(2, 6)):
        child = subprocess.Popen([sys.executable, "-c", textwrap.dedent(DRIVER.format(
            chunk=CHUNK, classes=CLASSES, path=str(path)))], start_new_session=True, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 60
        target = header + (round_ + 1) * 1500  # about one more record (1,292 bytes) each round, often mid-record
        while (not path.exists() or path.stat().st_size < target) and child.poll() is None \
                and time.monotonic() < deadline:
            time.sleep(0.005)
        os.killpg(child.pid, signal.SIGKILL)  # the driver and its workers, in the middle of a write
        child.wait(timeout=30)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)  # a partly written last record is expected
        result = matrix.preflop_matrix(CLASSES, workers=1, checkpoint=path,
                                       progress=lambda done, total: recomputed.append(done))
    assert np.array_equal(result, reference)
    record("matrix faults", f"driver killed {scaled(2, 6)} times mid-run: resumed with {recomputed[0]} of "
                            f"{plan.chunks} chunks from the checkpoint, identical matrix")


def whole_checkpoint(tmp_path):
    path = tmp_path / "whole.ckpt"
    return matrix.preflop_matrix(FEW_CLASSES, workers=1, checkpoint=path), path.read_bytes()


def another_build(data, plan):
    """The same records under the header of another table build."""
    own = _checkpoint._header(_engine.table_digest(), plan.digest, plan.chunks)
    return _checkpoint._header("0123456789abcdef", plan.digest, plan.chunks) + data[len(own):]


def test_untrusted_checkpoints_are_never_used(tmp_path, monkeypatch):
    monkeypatch.setattr(matrix, "_CHUNK_SIZE", FEW_CHUNK)
    reference, data = whole_checkpoint(tmp_path)
    plan = matrix._plan(tuple(FEW_CLASSES), FEW_CHUNK)
    header = len(_checkpoint._header(_engine.table_digest(), plan.digest, plan.chunks))
    path = tmp_path / "matrix.ckpt"
    rng = random.Random(3)
    # Every cut of the file (deep) or a sample of them, and bytes flipped anywhere.
    cuts = range(len(data)) if DEEP else sorted(rng.sample(range(len(data)), 12))
    flips = [(rng.randrange(len(data)), 1 << rng.randrange(8)) for _ in range(scaled(8, 500))]
    cases = [data[:cut] for cut in cuts] + [data[:at] + bytes([data[at] ^ bit]) + data[at + 1:] for at, bit in flips]
    cases += [another_build(data, plan), another_build(data[:header + 100], plan), os.urandom(len(data)), b"\0" * 64]
    refused = recovered = 0
    for content in cases:
        path.write_bytes(content)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)
            try:
                result = matrix.preflop_matrix(FEW_CLASSES, workers=1, checkpoint=path)
            except ValueError:
                assert path.read_bytes() == content  # refused and left as it was
                refused += 1
                continue
        assert np.array_equal(result, reference)
        assert path.read_bytes() == data  # the valid records kept, the rest recomputed and appended
        recovered += 1
    for content in (another_build(data, plan), os.urandom(len(data))):
        path.write_bytes(content)
        with pytest.raises(ValueError, match="other lookup tables|not a preflop matrix checkpoint"):
            matrix.preflop_matrix(FEW_CLASSES, workers=1, checkpoint=path)
    # A checkpoint that cannot be read at all is an error, never an empty start.
    path.unlink()
    path.mkdir()
    with pytest.raises(OSError):
        matrix.preflop_matrix(FEW_CLASSES, workers=1, checkpoint=path)
    assert path.is_dir() and not any(path.iterdir())
    shutil.rmtree(path)
    record("matrix faults", f"{len(cases)} damaged checkpoints (cut at {len(cuts)} places, {len(flips)} flipped bytes, "
                            f"another build's, random): {refused} refused untouched, {recovered} recovered to the "
                            f"identical matrix, none trusted")
