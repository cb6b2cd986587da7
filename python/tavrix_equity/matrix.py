"""The preflop matrix: exact all-in equity of starting-hand classes against each other.

Cell [i, j] is the equity of class i against class j over every pair of
combos, one from each class, that share no card, each pair weighted equally
and each counted over all 1,712,304 boards. The work is the set of distinct
heads-up matchups under suit symmetry (46,683 for all 169 classes, besides
the 325 that pit a class against itself: the diagonal is 0.5 by symmetry and
needs none), sorted and cut into fixed chunks. The plan depends only on
which classes are selected, so a checkpoint stays valid across runs, worker
counts and schedulers, and the result is the same integer sums whatever
order the chunks finish in.

Chunks run in local processes or as tasks of a Dask cluster; either way a
worker gets a small uint8 array of cards and returns counts, and only this
process writes the checkpoint (see _checkpoint for its format).
"""

from __future__ import annotations

import concurrent.futures
import contextlib
import hashlib
import multiprocessing
import os
import signal
import sys
import time
import uuid
from collections.abc import Callable, Generator, Iterable
from dataclasses import dataclass
from typing import TYPE_CHECKING, TextIO

import numpy as np
import numpy.typing as npt

from tavrix_equity import _checkpoint, _suits
from tavrix_equity.cards import positive_int
from tavrix_equity.all_in import default_threads
from tavrix_equity.ranges import HAND_CLASSES, class_combos

if TYPE_CHECKING:
    from distributed import Client

__all__ = ["preflop_matrix"]

BOARDS = 1_712_304  # 5 cards from the 48 left after both hands
# Matchups per chunk: a few seconds of engine time, so a lost chunk costs
# little and a progress bar moves, while per-task overheads stay negligible.
_CHUNK_SIZE = 256
_PLAN_FORMAT = b"tavrix preflop matrix plan 1"

ChunkCounts = npt.NDArray[np.uint64]
Progress = Callable[[int, int], object]
_Results = Generator[tuple[int, tuple[str, ChunkCounts]], None, None]


@dataclass(frozen=True, slots=True)
class _Plan:
    """The work for one class selection, and how its results fill the matrix.

    Entry k of first, second, matchup and a_first describes one pair of
    combos: one from class position first[k], one from second[k] (first[k] <
    second[k]); its counts are row matchup[k] of `matchups`, with the combo
    from first[k] on the row's first side when a_first[k].
    """

    size: int
    matchups: npt.NDArray[np.uint8]
    chunk_size: int
    digest: bytes
    first: npt.NDArray[np.intp]
    second: npt.NDArray[np.intp]
    matchup: npt.NDArray[np.intp]
    a_first: npt.NDArray[np.bool_]

    @property
    def chunks(self) -> int:
        return -(-len(self.matchups) // self.chunk_size)

    def rows(self, chunk: int) -> slice:
        return slice(chunk * self.chunk_size, min((chunk + 1) * self.chunk_size, len(self.matchups)))

    def chunk(self, chunk: int) -> npt.NDArray[np.uint8]:
        return np.ascontiguousarray(self.matchups[self.rows(chunk)])


def _selected(classes: Iterable[str] | None) -> tuple[str, ...]:
    if classes is None:
        return HAND_CLASSES
    if isinstance(classes, str):
        raise TypeError("classes must be a sequence of class names such as ['AA', 'AKs'], not one string")
    names = tuple(classes)
    known = set(HAND_CLASSES)
    unknown = [name for name in names if not isinstance(name, str) or name not in known]
    repeated = sorted({name for name in names if names.count(name) > 1 and name not in unknown})
    if unknown or repeated:
        problems = []
        if unknown:
            problems.append("unknown hand classes " + ", ".join(map(repr, unknown)))
        if repeated:
            problems.append("repeated hand classes " + ", ".join(map(repr, repeated)))
        raise ValueError("; ".join(problems) + " (names are those of HAND_CLASSES, such as 'AA', 'AKs', 'AKo')")
    return names


def _plan(names: tuple[str, ...], chunk_size: int) -> _Plan:
    combos = [(position, combo) for position, name in enumerate(names) for combo in class_combos(name)]
    position = np.array([p for p, _ in combos], dtype=np.intp)
    cards = np.array([c for _, c in combos], dtype=np.int64).reshape(-1, 2)
    # Combos are grouped by position, so u < v gives position[u] <= position[v].
    u, v = np.triu_indices(len(combos), 1)
    a, b = cards[u], cards[v]
    keep = (position[u] != position[v]) & (a[:, :, None] != b[:, None, :]).all(axis=(1, 2))
    u, v, a, b = u[keep], v[keep], a[keep], b[keep]
    keys, a_first = _suits.canonical_matchups(a, b)
    unique, matchup = np.unique(keys, return_inverse=True)
    matchups = _suits.matchup_cards(unique)
    digest = hashlib.sha256(
        _PLAN_FORMAT + np.array([chunk_size, BOARDS], dtype="<u8").tobytes() + matchups.tobytes()
    ).digest()
    return _Plan(
        size=len(names), matchups=matchups, chunk_size=chunk_size, digest=digest,
        first=position[u], second=position[v], matchup=matchup.astype(np.intp), a_first=a_first,
    )


def _assemble(plan: _Plan, counts: ChunkCounts) -> npt.NDArray[np.float64]:
    # Sums are kept in half boards (a tie is one half for each side), as
    # integers, so the result does not depend on the order of anything.
    c = counts.astype(np.int64)
    won = np.where(plan.a_first, 2 * c[plan.matchup, 0], 2 * c[plan.matchup, 1]) + c[plan.matchup, 2]
    n = plan.size
    cell = plan.first * n + plan.second
    halves = np.zeros(n * n, dtype=np.int64)
    np.add.at(halves, cell, won)
    total = 2 * BOARDS * np.bincount(cell, minlength=n * n)
    i, j = np.divmod(np.flatnonzero(total), n)
    first_share, whole = halves[i * n + j], total[i * n + j]
    # The side with at least half is divided; the other is 1 minus it, which
    # is exact for a value in [0.5, 1], so [i, j] + [j, i] is exactly 1.0.
    first_ahead = 2 * first_share >= whole
    larger = np.where(first_ahead, first_share, whole - first_share) / whole
    result = np.full((n, n), 0.5)
    result[i, j] = np.where(first_ahead, larger, 1.0 - larger)
    result[j, i] = np.where(first_ahead, 1.0 - larger, larger)
    return result


def _run_chunk(matchups: npt.NDArray[np.uint8]) -> tuple[str, ChunkCounts]:
    """Counts one chunk in a worker: plain arrays in and out, and the worker's table digest."""
    from tavrix_equity import _engine

    return _engine.table_digest(), _engine.heads_up_counts(matchups)


def _checked(chunk: int, result: tuple[str, ChunkCounts], plan: _Plan, table_digest: str) -> ChunkCounts:
    # A worker on another machine may run another build: its counts would be
    # silently wrong for these tables, and a checkpoint would record them.
    worker_digest, counts = result
    if worker_digest != table_digest:
        raise RuntimeError(
            f"chunk {chunk} was counted with other lookup tables (digest {worker_digest}, "
            f"this process has {table_digest}): the workers run another build"
        )
    rows = plan.rows(chunk)
    counts = np.asarray(counts)
    if not _checkpoint.counts_are_valid(counts, rows.stop - rows.start, BOARDS):
        raise RuntimeError(f"chunk {chunk}: the engine returned malformed counts")
    return counts


def _open_checkpoint(path: str | os.PathLike[str], plan: _Plan, table_digest: str) -> _checkpoint.Checkpoint:
    rows = [plan.rows(chunk) for chunk in range(plan.chunks)]
    return _checkpoint.Checkpoint(
        path, table_digest=table_digest, plan_digest=plan.digest,
        chunk_rows=[r.stop - r.start for r in rows], boards=BOARDS,
    )


def _ignore_interrupts() -> None:
    # Ctrl-C reaches the whole process group; the parent alone handles it and
    # stops the workers, instead of every worker printing a traceback.
    signal.signal(signal.SIGINT, signal.SIG_IGN)


def _stop_workers(executor: concurrent.futures.ProcessPoolExecutor) -> None:
    # shutdown() would wait for running chunks to finish; stop them instead.
    terminate = getattr(executor, "terminate_workers", None)
    if terminate is not None:
        terminate()
        return
    for process in list(executor._processes.values()):
        process.terminate()


def _local_results(plan: _Plan, todo: list[int], workers: int) -> _Results:
    if workers == 1 or len(todo) <= 1:
        for chunk in todo:
            yield chunk, _run_chunk(plan.chunk(chunk))
        return
    executor = concurrent.futures.ProcessPoolExecutor(
        max_workers=min(workers, len(todo)), mp_context=multiprocessing.get_context("spawn"),
        initializer=_ignore_interrupts,
    )
    try:
        futures = {executor.submit(_run_chunk, plan.chunk(chunk)): chunk for chunk in todo}
        for future in concurrent.futures.as_completed(futures):
            yield futures[future], future.result()
    except BaseException:
        _stop_workers(executor)
        raise
    finally:
        executor.shutdown(wait=True, cancel_futures=True)


def _dask_results(plan: _Plan, todo: list[int], client: Client) -> _Results:
    from distributed import as_completed

    run = uuid.uuid4().hex[:8]
    keys = [f"tavrix-matrix-{run}-{chunk}" for chunk in todo]
    chunk_of = dict(zip(keys, todo))
    pending = dict(zip(keys, client.map(_run_chunk, [plan.chunk(chunk) for chunk in todo], key=keys)))
    try:
        for future in as_completed(list(pending.values())):  # type: ignore[no-untyped-call]
            # Holding no future whose result is in hand lets the scheduler
            # forget it, instead of recomputing it when its worker dies.
            del pending[future.key]
            chunk, result = chunk_of[future.key], future.result()
            del future
            yield chunk, result
    finally:
        client.cancel(list(pending.values()))  # type: ignore[no-untyped-call]


class _ProgressBar:
    """A one-line bar on stderr: chunks done, the rate of this run, the time left."""

    def __init__(self, stream: TextIO | None = None, label: str = "preflop matrix") -> None:
        self._stream = sys.stderr if stream is None else stream
        self._label = label
        self._start: tuple[float, int] | None = None

    def __call__(self, done: int, total: int) -> None:
        now = time.monotonic()
        if self._start is None:
            self._start = (now, done)
        started, recovered = self._start
        rate = (done - recovered) / (now - started) if now > started else 0.0
        left = f"{(total - done) / rate:6.0f} s left" if rate > 0 else " " * 13
        filled = 30 * done // total if total else 30
        self._stream.write(
            f"\r{self._label} [{'#' * filled}{'.' * (30 - filled)}] {done}/{total} chunks  "
            f"{rate:5.2f} chunks/s {left}"
        )
        self._stream.flush()

    def close(self) -> None:
        if self._start is not None:
            self._stream.write("\n")
            self._stream.flush()


def _worker_count(workers: int | None, client: Client | None) -> int:
    if client is not None:
        if workers is not None:
            raise ValueError("workers is for local processes; with a client its cluster's workers run the chunks")
        return 0
    if workers is None:
        return default_threads()
    return positive_int(workers, "workers")


def _compute(
    classes: Iterable[str] | None, *, client: Client | None, workers: int | None,
    checkpoint: str | os.PathLike[str] | None, progress: bool | Progress | None, chunk_size: int,
) -> npt.NDArray[np.float64]:
    names = _selected(classes)
    local_workers = _worker_count(workers, client)
    bar: _ProgressBar | None = None
    report: Progress | None = None
    if progress is None or progress is False:
        pass
    elif progress is True:
        bar = _ProgressBar()
        report = bar
    elif callable(progress):
        report = progress
    else:
        raise TypeError("progress must be True, None or a callable progress(done, total)")
    plan = _plan(names, chunk_size)
    counts = np.zeros((len(plan.matchups), 3), dtype=np.uint64)
    from tavrix_equity import _engine

    table_digest = _engine.table_digest()
    store = None if checkpoint is None else _open_checkpoint(checkpoint, plan, table_digest)
    with contextlib.ExitStack() as cleanup:
        if store is not None:
            cleanup.callback(store.close)
            for chunk, recovered in store.recovered.items():
                counts[plan.rows(chunk)] = recovered
        if bar is not None:
            cleanup.callback(bar.close)
        done = len(store.recovered) if store is not None else 0
        todo = [c for c in range(plan.chunks) if store is None or c not in store.recovered]
        if report is not None:
            report(done, plan.chunks)
        if client is not None:
            results = _dask_results(plan, todo, client)
        else:
            results = _local_results(plan, todo, local_workers)
        with contextlib.closing(results):
            for chunk, result in results:
                chunk_counts = _checked(chunk, result, plan, table_digest)
                if store is not None:
                    store.append(chunk, chunk_counts)
                counts[plan.rows(chunk)] = chunk_counts
                done += 1
                if report is not None:
                    report(done, plan.chunks)
    return _assemble(plan, counts)


def preflop_matrix(
    classes: Iterable[str] | None = None, *, client: Client | None = None, workers: int | None = None,
    checkpoint: str | os.PathLike[str] | None = None, progress: bool | Progress | None = None,
) -> npt.NDArray[np.float64]:
    """preflop_matrix(classes=None, *, client=None, workers=None, checkpoint=None, progress=None) -> ndarray.

    The exact all-in preflop equity of starting-hand classes against each
    other: a float64 array of shape (n, n) whose entry [i, j] is the equity of
    class i against class j, every pair of combos (one from each class, no
    card shared) weighted equally over all 1,712,304 boards. [i, j] + [j, i]
    is exactly 1.0 and the diagonal is 0.5.

    classes: names from HAND_CLASSES, in the order of the rows (default: all
    169 in HAND_CLASSES order); an unknown or repeated name is a ValueError.
    Matchups equal under a permutation of suits are counted once.

    client: a dask.distributed.Client whose workers run the chunks (they need
    tavrix_equity installed); otherwise `workers` local processes (default:
    the cores; 1 computes in this process). Local workers are started with
    the "spawn" method, so a script that uses them needs the usual
    `if __name__ == "__main__":` guard.

    checkpoint: a file that records each finished chunk as soon as it is done.
    Run again with the same file, only the missing chunks are computed and the
    matrix is identical; damaged or partly written records are recomputed
    (with a RuntimeWarning). A file written for another class set or with
    other lookup tables is a ValueError and is left untouched. The set of
    classes decides the work, not their order, so a checkpoint serves any
    ordering of the same classes.

    progress: True for a progress bar on stderr, or a callable
    progress(done, total) called with chunk counts: once at the start (done =
    the chunks recovered from the checkpoint), then as each chunk finishes.

    Interrupting (KeyboardInterrupt, or an exception from progress) stops the
    local worker processes or cancels the cluster's tasks; the chunks already
    recorded in the checkpoint stay valid.
    """
    return _compute(
        classes, client=client, workers=workers, checkpoint=checkpoint, progress=progress,
        chunk_size=_CHUNK_SIZE,
    )
