"""Indexing and bucketing speed through the Python API.

    .venv/bin/python bench/bench_buckets.py [--repeat R] [--kmeans]

Each figure is the median of R runs (default 5), with the process's CPU time
beside the wall time (on a shared machine the wall time is what is left over):
- HandIndexer("river").index of 4,000,000 random states and unindex of as many
  random indices, every core;
- with --kmeans, emd_kmeans of 1,286,792 synthetic 50-bin histograms (the flop
  table's shape) into 200 clusters, 20 iterations, 2 threads: the target is at
  most 2 minutes on 2 cores.
"""

from __future__ import annotations

import argparse
import statistics
import time
from collections.abc import Callable

import numpy as np

from tavrix_equity import HandIndexer, emd_kmeans

FLOP_STATES = 1_286_792


def median_times(repeat: int, run: Callable[[], object]) -> tuple[float, float]:
    walls, cpus = [], []
    for _ in range(repeat):
        wall, cpu = time.perf_counter(), time.process_time()
        run()
        cpus.append(time.process_time() - cpu)
        walls.append(time.perf_counter() - wall)
    return statistics.median(walls), statistics.median(cpus)


def line(name: str, times: tuple[float, float], rate: str, target: str = "") -> None:
    print(f"{name:20s} {times[0]:9.3f} s wall {times[1]:9.3f} s CPU  {rate:>34s}  {target}")


def indexing(repeat: int) -> None:
    count = 4_000_000
    river = HandIndexer("river")
    rng = np.random.default_rng(1)
    cards = np.empty((count, 7), dtype=np.uint8)
    for start in range(0, count, 500_000):
        block = rng.random((500_000, 52)).argsort(axis=1)[:, :7]
        cards[start:start + 500_000] = block
    indices = rng.integers(0, river.size, count, dtype=np.uint64)
    print(f"HandIndexer('river'), {count:,} random states, every core")
    times = median_times(repeat, lambda: river.index(cards))
    line("  index", times, f"{count / times[0] / 1e6:6.1f} M/s ({count / times[1] / 1e6:.1f} per CPU s)")
    times = median_times(repeat, lambda: river.unindex(indices))
    line("  unindex", times, f"{count / times[0] / 1e6:6.1f} M/s ({count / times[1] / 1e6:.1f} per CPU s)")


def kmeans(repeat: int) -> None:
    rng = np.random.default_rng(2)
    histograms = rng.dirichlet(np.full(50, 0.3), FLOP_STATES).astype(np.float32)
    print(f"emd_kmeans, {FLOP_STATES:,} x 50 synthetic histograms, 200 clusters, 20 iterations, 2 threads")
    times = median_times(repeat, lambda: emd_kmeans(histograms, 200, seed=0, iterations=20, threads=2))
    verdict = "ok" if times[0] <= 120 else "MISSED"
    line("  emd_kmeans", times, f"{FLOP_STATES / times[0] / 1e3:6.1f} k rows/s", f"[{verdict}: at most 120 s]")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--kmeans", action="store_true", help="also time emd_kmeans on the flop table's shape")
    arguments = parser.parse_args()
    indexing(arguments.repeat)
    if arguments.kmeans:
        kmeans(arguments.repeat)


if __name__ == "__main__":
    main()
