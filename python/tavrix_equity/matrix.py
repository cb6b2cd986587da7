"""The preflop matrix: exact all-in equity of starting-hand classes against each other.

Cell [i, j] is the equity of class i against class j over every pair of
combos, one from each class, that share no card, each pair weighted equally
and each counted over all 1,712,304 boards. The engine sweeps boards rather
than matchups: on each board it scores every combo of the selected classes
once and adds, for every pair of classes, the pairs of combos won and tied,
with one board per class of boards equal under a permutation of the suits
(about 134,000 of the 2,598,960). The boards are cut into fixed work items
(the first three cards), and the items into fixed chunks. The plan depends
only on which classes are selected, so a checkpoint stays valid across runs,
worker counts and schedulers, and the result is the same integer sums
whatever order the chunks finish in.

Chunks run in local processes or as tasks of a Dask cluster; either way a
worker gets small plain arrays (combos, their classes, the chunk's items) and
returns a (classes, classes) array of counts, and only this process writes
the checkpoint (see _checkpoint for its format).
"""

from __future__ import annotations

import concurrent.futures
import contextlib
import hashlib
import multiprocessing
import os
import signal
import sys
import threading
import time
import uuid
import warnings
from collections.abc import Callable, Generator, Iterable
from dataclasses import dataclass
from typing import TYPE_CHECKING

import numpy as np
import numpy.typing as npt

from tavrix_equity import _checkpoint
from tavrix_equity._cancel import checked_cancel, raise_if_cancelled
from tavrix_equity._files import check_output_path
from tavrix_equity._messages import quoted
from tavrix_equity._progress import ProgressBar, progress_reporter
from tavrix_equity.all_in import default_threads
from tavrix_equity.cards import positive_int
from tavrix_equity.ranges import HAND_CLASSES, class_combos

if TYPE_CHECKING:
    from distributed import Client

__all__ = ["preflop_matrix"]

BOARDS = 1_712_304  # 5 cards from the 48 left after both hands
# Work items (board prefixes, 19,600 in all) per chunk: a few seconds of
# engine time for all 169 classes, so a lost chunk costs little and a
# progress bar moves, while per-task overheads stay negligible.
_CHUNK_SIZE = 1000
_PLAN_FORMAT = b"tavrix preflop matrix plan 2: class sweep"
# How often the driver looks at the cancel event while chunks run elsewhere,
# and how long a Dask cluster may sit without workers before a warning.
_POLL_SECONDS = 0.05
_NO_WORKERS_WARNING_SECONDS = 10.0

ChunkCounts = npt.NDArray[np.uint64]
Progress = Callable[[int, int], object]
# What a worker gets: the combos, their class positions, the class count and the items.
ChunkJob = tuple[npt.NDArray[np.uint8], npt.NDArray[np.uint16], int, int, int]
_Results = Generator[tuple[int, tuple[str, ChunkCounts]], None, None]


@dataclass(frozen=True, slots=True)
class _Plan:
    """The work for one class selection, and how its results fill the matrix.

    Classes are taken in HAND_CLASSES order (`order` maps the caller's order
    onto it); combos and class_of list every combo of the selection; pairs[i,
    j] counts the pairs of combos of classes i and j that share no card.
    """

    size: int
    order: npt.NDArray[np.intp]
    combos: npt.NDArray[np.uint8]
    class_of: npt.NDArray[np.uint16]
    pairs: npt.NDArray[np.int64]
    items: int
    chunk_size: int
    digest: bytes

    @property
    def chunks(self) -> int:
        return -(-self.items // self.chunk_size)

    def rows(self, chunk: int) -> slice:
        """The work items of a chunk."""
        return slice(chunk * self.chunk_size, min((chunk + 1) * self.chunk_size, self.items))

    def chunk(self, chunk: int) -> ChunkJob:
        items = self.rows(chunk)
        return self.combos, self.class_of, self.size, items.start, items.stop


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
            problems.append("unknown hand classes " + ", ".join(map(quoted, unknown[:5]))
                            + (f" and {len(unknown) - 5} more" if len(unknown) > 5 else ""))
        if repeated:
            problems.append("repeated hand classes " + ", ".join(map(repr, repeated)))
        raise ValueError("; ".join(problems) + " (names are those of HAND_CLASSES, such as 'AA', 'AKs', 'AKo')")
    return names


def _plan(names: tuple[str, ...], chunk_size: int) -> _Plan:
    from tavrix_equity import _engine

    position = {name: i for i, name in enumerate(HAND_CLASSES)}
    canonical = sorted(names, key=position.__getitem__)
    combos = np.array([c for name in canonical for c in class_combos(name)], dtype=np.uint8).reshape(-1, 2)
    class_of = np.array([i for i, name in enumerate(canonical) for _ in class_combos(name)], dtype=np.uint16)
    # Pairs of combos per pair of classes, without those that share a card.
    disjoint = (combos[:, None, :, None] != combos[None, :, None, :]).all(axis=(2, 3))
    member = np.zeros((len(combos), len(canonical)), dtype=np.int64)
    member[np.arange(len(combos)), class_of] = 1
    pairs = member.T @ disjoint.astype(np.int64) @ member
    items = _engine.class_sweep_items()
    digest = hashlib.sha256(
        _PLAN_FORMAT + np.array([chunk_size, items, BOARDS], dtype="<u8").tobytes() + combos.tobytes()
        + class_of.astype("<u2").tobytes()
    ).digest()
    order = np.array([canonical.index(name) for name in names], dtype=np.intp)
    return _Plan(size=len(canonical), order=order, combos=combos, class_of=class_of, pairs=pairs, items=items,
                 chunk_size=chunk_size, digest=digest)


def _assemble(plan: _Plan, counts: ChunkCounts) -> npt.NDArray[np.float64]:
    # Sums are kept in half boards (a tie is one half for each side), as
    # integers, so the result does not depend on the order of anything.
    halves = counts.astype(np.int64)
    total = 2 * BOARDS * plan.pairs
    off_diagonal = ~np.eye(plan.size, dtype=bool)
    if not np.array_equal((halves + halves.T)[off_diagonal], total[off_diagonal]):
        raise RuntimeError("the class sums do not add up to the boards of every pair: a chunk was miscounted")
    i, j = np.nonzero(off_diagonal & (total > 0))
    first_share, whole = halves[i, j], total[i, j]
    # The side with at least half is divided; the other is 1 minus it, which
    # is exact for a value in [0.5, 1], so [i, j] + [j, i] is exactly 1.0.
    first_ahead = 2 * first_share >= whole
    larger = np.where(first_ahead, first_share, whole - first_share) / whole
    result = np.full((plan.size, plan.size), 0.5)
    result[i, j] = np.where(first_ahead, larger, 1.0 - larger)
    return result[np.ix_(plan.order, plan.order)]


def _run_chunk(job: ChunkJob, cancel: threading.Event | None = None) -> tuple[str, ChunkCounts]:
    """Counts one chunk in a worker: plain arrays in and out, and the worker's table digest."""
    from tavrix_equity import _engine

    combos, class_of, classes, first, last = job
    sums, pairs = _engine.class_sweep(combos, class_of, classes, first, last, cancel=cancel)
    # The ordered pairs counted ride along as one more row, so the record
    # can be checked on its own: every pair adds 2 in its two orders.
    check = np.zeros((1, classes), dtype=np.uint64)
    check[0, 0] = pairs
    return _engine.table_digest(), np.vstack([sums, check])


def _counts_fit(plan: _Plan, counts: ChunkCounts) -> bool:
    """A chunk's counts: the plan's classes x classes sums, then a row [pairs, 0, ...] that they add up to,
    and no entry above what every board could give."""
    if counts.dtype != np.uint64 or counts.shape != (plan.size + 1, plan.size):
        return False
    sums, check = counts[:-1], counts[-1]
    return (
        int(sums.sum(dtype=np.uint64)) == int(check[0]) and not check[1:].any()
        and bool(np.all(sums.astype(np.int64) <= 2 * BOARDS * plan.pairs))
    )


def _checked(chunk: int, result: tuple[str, ChunkCounts], plan: _Plan, table_digest: str) -> ChunkCounts:
    # A worker on another machine may run another build: its counts would be
    # silently wrong for these tables, and a checkpoint would record them.
    worker_digest, counts = result
    if worker_digest != table_digest:
        raise RuntimeError(
            f"chunk {chunk} was counted with other lookup tables (digest {worker_digest}, "
            f"this process has {table_digest}): the workers run another build"
        )
    counts = np.asarray(counts)
    if not _counts_fit(plan, counts):
        raise RuntimeError(f"chunk {chunk}: the engine returned malformed counts")
    return counts


def _open_checkpoint(path: str | os.PathLike[str], plan: _Plan, table_digest: str) -> _checkpoint.Checkpoint:
    return _checkpoint.Checkpoint(
        path, table_digest=table_digest, plan_digest=plan.digest, chunk_rows=[plan.size + 1] * plan.chunks,
        boards=BOARDS, row_width=plan.size, valid=lambda counts: _counts_fit(plan, counts),
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


def _local_results(plan: _Plan, todo: list[int], workers: int, cancel: threading.Event | None) -> _Results:
    if workers == 1 or len(todo) <= 1:
        for chunk in todo:
            raise_if_cancelled(cancel)
            matchups = plan.chunk(chunk)
            # In this process the engine itself watches the event.
            yield chunk, _run_chunk(matchups) if cancel is None else _run_chunk(matchups, cancel)
        return
    executor = concurrent.futures.ProcessPoolExecutor(
        max_workers=min(workers, len(todo)), mp_context=multiprocessing.get_context("spawn"),
        initializer=_ignore_interrupts,
    )
    try:
        futures = {executor.submit(_run_chunk, plan.chunk(chunk)): chunk for chunk in todo}
        pending = set(futures)
        while pending:
            done, pending = concurrent.futures.wait(
                pending, timeout=None if cancel is None else _POLL_SECONDS,
                return_when=concurrent.futures.FIRST_COMPLETED,
            )
            raise_if_cancelled(cancel)
            for future in done:
                yield futures[future], future.result()
    except BaseException:
        _stop_workers(executor)
        raise
    finally:
        executor.shutdown(wait=True, cancel_futures=True)


def _warn_without_workers(client: Client) -> None:
    if not client.scheduler_info().get("workers"):
        warnings.warn(
            f"the Dask cluster has had no workers for {_NO_WORKERS_WARNING_SECONDS:.0f} s: "
            "the matrix waits until a worker joins (start one, or interrupt the run)",
            RuntimeWarning, stacklevel=2,
        )


def _dask_results(plan: _Plan, todo: list[int], client: Client, cancel: threading.Event | None) -> _Results:
    from distributed import as_completed

    run = uuid.uuid4().hex[:8]
    keys = [f"tavrix-matrix-{run}-{chunk}" for chunk in todo]
    chunk_of = dict(zip(keys, todo))
    pending = dict(zip(keys, client.map(_run_chunk, [plan.chunk(chunk) for chunk in todo], key=keys)))
    finished = as_completed(list(pending.values()))  # type: ignore[no-untyped-call]
    warn_at: float | None = time.monotonic() + _NO_WORKERS_WARNING_SECONDS
    try:
        while pending:
            # Polled rather than blocking, so that a cancel event and a
            # cluster without workers are noticed while nothing finishes.
            ready = finished.next_batch(block=False) if finished.has_ready() else []  # type: ignore[no-untyped-call]
            if not ready:
                raise_if_cancelled(cancel)
                if warn_at is not None and time.monotonic() >= warn_at:
                    warn_at = None
                    _warn_without_workers(client)
                time.sleep(_POLL_SECONDS)
                continue
            for future in ready:
                # Holding no future whose result is in hand lets the scheduler
                # forget it, instead of recomputing it when its worker dies.
                del pending[future.key]
                chunk, result = chunk_of[future.key], future.result()
                del future
                yield chunk, result
            del ready
            warn_at = None
    finally:
        client.cancel(list(pending.values()))  # type: ignore[no-untyped-call]


def _worker_count(workers: int | None, client: Client | None) -> int:
    if client is not None:
        if workers is not None:
            raise ValueError("workers is for local processes; with a client its cluster's workers run the chunks")
        return 0
    # More processes than the cores this process may use only add start-up
    # costs and memory (one process per chunk, for a huge count).
    if workers is None:
        return default_threads()
    return min(positive_int(workers, "workers"), default_threads())


def _compute(
    classes: Iterable[str] | None, *, client: Client | None, workers: int | None,
    checkpoint: str | os.PathLike[str] | None, progress: bool | Progress | None, chunk_size: int,
    cancel: threading.Event | None,
) -> npt.NDArray[np.float64]:
    names = _selected(classes)
    checked_cancel(cancel)
    local_workers = _worker_count(workers, client)
    if checkpoint is not None:
        check_output_path(checkpoint, "checkpoint")
    bar: ProgressBar | None
    report, bar = progress_reporter(progress, "preflop matrix", "chunks")
    plan = _plan(names, chunk_size)
    counts = np.zeros((plan.size + 1, plan.size), dtype=np.uint64)
    from tavrix_equity import _engine

    table_digest = _engine.table_digest()
    store = None if checkpoint is None else _open_checkpoint(checkpoint, plan, table_digest)
    with contextlib.ExitStack() as cleanup:
        if store is not None:
            cleanup.callback(store.close)
            for recovered in store.recovered.values():
                counts += recovered
        if bar is not None:
            cleanup.callback(bar.close)
        done = len(store.recovered) if store is not None else 0
        todo = [c for c in range(plan.chunks) if store is None or c not in store.recovered]
        if report is not None:
            report(done, plan.chunks)
        if client is not None:
            results = _dask_results(plan, todo, client, cancel)
        else:
            results = _local_results(plan, todo, local_workers, cancel)
        with contextlib.closing(results):
            for chunk, result in results:
                chunk_counts = _checked(chunk, result, plan, table_digest)
                if store is not None:
                    store.append(chunk, chunk_counts)
                counts += chunk_counts
                done += 1
                if report is not None:
                    report(done, plan.chunks)
    return _assemble(plan, counts[:-1])


def preflop_matrix(
    classes: Iterable[str] | None = None, *, client: Client | None = None, workers: int | None = None,
    checkpoint: str | os.PathLike[str] | None = None, progress: bool | Progress | None = None,
    cancel: threading.Event | None = None,
) -> npt.NDArray[np.float64]:
    """preflop_matrix(classes=None, *, client=None, workers=None, checkpoint=None, progress=None, cancel=None) -> ndarray.

    The exact all-in preflop equity of starting-hand classes against each
    other: a float64 array of shape (n, n) whose entry [i, j] is the equity of
    class i against class j, every pair of combos (one from each class, no
    card shared) weighted equally over all 1,712,304 boards. [i, j] + [j, i]
    is exactly 1.0 and the diagonal is 0.5.

    classes: names from HAND_CLASSES, in the order of the rows (default: all
    169 in HAND_CLASSES order); an unknown or repeated name is a ValueError.
    Boards equal under a permutation of suits are swept once.

    client: a dask.distributed.Client whose workers run the chunks (they need
    tavrix_equity installed); otherwise `workers` local processes (default,
    and at most: the cores this process may run on; 1 computes in this
    process). Local workers are started with
    the "spawn" method, so a script that uses them needs the usual
    `if __name__ == "__main__":` guard.

    checkpoint: a file that records each finished chunk as soon as it is done.
    It must be a regular file or not exist (a directory, device, FIFO or
    symlink is a ValueError, before any work), and a run holds a lock on it:
    a second run given the same file meanwhile raises CheckpointInUseError
    (a RuntimeError).
    Run again with the same file, only the missing chunks are computed and the
    matrix is identical; damaged or partly written records are recomputed
    (with a RuntimeWarning). A file written for another class set or with
    other lookup tables is a ValueError and is left untouched. The set of
    classes decides the work, not their order, so a checkpoint serves any
    ordering of the same classes.

    progress: True for a progress bar on stderr, or a callable
    progress(done, total) called with chunk counts: once at the start (done =
    the chunks recovered from the checkpoint), then as each chunk finishes.

    cancel: a threading.Event; once it is set the run stops within about half
    a second and raises concurrent.futures.CancelledError.

    Interrupting (KeyboardInterrupt, a set cancel event, or an exception from
    progress) stops the local worker processes or cancels the cluster's
    tasks; the chunks already recorded in the checkpoint stay valid. A Dask
    cluster that has no workers gets a RuntimeWarning after 10 seconds
    without progress (the run goes on waiting for workers).
    """
    return _compute(
        classes, client=client, workers=workers, checkpoint=checkpoint, progress=progress,
        chunk_size=_CHUNK_SIZE, cancel=cancel,
    )
