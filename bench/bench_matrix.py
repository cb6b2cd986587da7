"""Times the preflop matrix: the full 169 x 169 run and the speed-up of a second worker.

    python bench/bench_matrix.py --speedup --dask     # the speed-ups (the default), a few minutes in all
    python bench/bench_matrix.py --full               # all 169 classes with 2 local workers

--speedup times the matrix of the first --classes classes (default all 169)
with 1 and then 2 local worker processes, --dask with a Dask LocalCluster of
1 and then 2 single-threaded workers (the cluster's start-up is not timed).
Each run's matrix must equal the first one's.
"""

from __future__ import annotations

import argparse
import os
import resource
import sys
import time
from collections.abc import Callable

import numpy as np
import numpy.typing as npt

from tavrix_equity import matrix
from tavrix_equity.ranges import HAND_CLASSES

Matrix = npt.NDArray[np.float64]


def _timed(run: Callable[[], Matrix]) -> tuple[float, Matrix]:
    started = time.perf_counter()
    result = run()
    return time.perf_counter() - started, result


def _cpu_seconds() -> float:
    """CPU time of this process and its finished children: a figure other load does not inflate."""
    own, children = resource.getrusage(resource.RUSAGE_SELF), resource.getrusage(resource.RUSAGE_CHILDREN)
    return own.ru_utime + own.ru_stime + children.ru_utime + children.ru_stime


def _chunks(classes: tuple[str, ...]) -> tuple[int, int]:
    """The combo pairs counted (each on every one of its boards) and the chunks."""
    plan = matrix._plan(classes, matrix._CHUNK_SIZE)
    return int(np.triu(plan.pairs, 1).sum()), plan.chunks


def full(checkpoint: str | None, out: str | None) -> None:
    matchups, chunks = _chunks(HAND_CLASSES)
    print(f"full matrix: 169 classes, {matchups:,} combo pairs in {chunks} chunks of boards, 2 local workers")
    cpu = _cpu_seconds()
    seconds, result = _timed(lambda: matrix.preflop_matrix(workers=2, checkpoint=checkpoint, progress=True))
    cpu = _cpu_seconds() - cpu
    print(f"full matrix: {seconds:8.1f} s  {chunks / seconds:6.3f} chunks/s  "
          f"{matchups * 1.712304e6 * 2 / seconds / 1e6:6.1f} M hands/s  "
          f"(CPU {cpu:.0f} s; load average now {os.getloadavg()[0]:.1f})")
    aa, kk, aks, sevens = (HAND_CLASSES.index(name) for name in ("AA", "KK", "AKs", "77"))
    print(f"  AA vs KK {result[aa, kk]:.6f}   AKs vs 77 {result[aks, sevens]:.6f}")
    if out is not None:
        np.save(out, result)


def speedup(classes: tuple[str, ...]) -> None:
    matchups, chunks = _chunks(classes)
    print(f"first {len(classes)} classes, {matchups:,} combo pairs in {chunks} chunks of boards")
    one, reference = _timed(lambda: matrix.preflop_matrix(classes, workers=1))
    two, result = _timed(lambda: matrix.preflop_matrix(classes, workers=2))
    assert np.array_equal(result, reference)
    print(f"local processes  1 worker {one:7.1f} s   2 workers {two:7.1f} s   speed-up {one / two:4.2f}  "
          f"(load average now {os.getloadavg()[0]:.1f})")


def dask_speedup(classes: tuple[str, ...]) -> None:
    from distributed import Client, LocalCluster

    matchups, chunks = _chunks(classes)
    print(f"first {len(classes)} classes, {matchups:,} combo pairs in {chunks} chunks of boards")
    times, results = [], []
    for workers in (1, 2):
        with (LocalCluster(n_workers=workers, threads_per_worker=1,  # type: ignore[no-untyped-call]
                           dashboard_address=None) as cluster,
              Client(cluster) as client):  # type: ignore[no-untyped-call]
            client.wait_for_workers(workers)
            seconds, result = _timed(lambda: matrix.preflop_matrix(classes, client=client))
        times.append(seconds)
        results.append(result)
    assert np.array_equal(results[0], results[1])
    print(f"Dask LocalCluster 1 worker {times[0]:7.1f} s   2 workers {times[1]:7.1f} s   "
          f"speed-up {times[0] / times[1]:4.2f}  (load average now {os.getloadavg()[0]:.1f})")


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description="Times the preflop matrix.")
    parser.add_argument("--full", action="store_true", help="the full 169-class matrix with 2 local workers")
    parser.add_argument("--speedup", action="store_true", help="1 against 2 local workers on the sub-problem")
    parser.add_argument("--dask", action="store_true", help="1 against 2 LocalCluster workers on the sub-problem")
    parser.add_argument("--classes", type=int, default=169, help="classes in the speed-up runs (default all 169)")
    parser.add_argument("--checkpoint", help="checkpoint file for --full")
    parser.add_argument("--out", help="save the --full matrix to this .npy file")
    args = parser.parse_args(argv)
    if not (args.full or args.speedup or args.dask):
        args.speedup = args.dask = True
    subset = HAND_CLASSES[:args.classes]
    if args.speedup:
        speedup(subset)
    if args.dask:
        dask_speedup(subset)
    if args.full:
        full(args.checkpoint, args.out)
    sys.stdout.flush()


if __name__ == "__main__":
    main()
