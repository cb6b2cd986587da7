"""Hand-strength speed, side by side with its reference in one run.

    .venv/bin/python bench/bench_strength.py [--repeat R]

Each figure is the median of R runs (default 5), one thread unless noted:
- hand_strength (EHS, EHS2 and a 50-bin histogram) of random river, turn and
  flop states, beside exact equity([hand, "random"], board) of the same
  states, which gives EHS alone;
- the per-board sweep behind the tables: every combo of random flop, turn and
  river boards at once, in states per second;
- the preflop class counts (every board, once per process), timed in a fresh
  interpreter with every core.
"""

from __future__ import annotations

import argparse
import statistics
import subprocess
import sys

import numpy as np

from tavrix_equity import _engine, equity, format_cards, hand_strength
from tavrix_equity.all_in import default_threads
from bench_equity import median_seconds

STATS = ("ehs", "ehs2", "hist")


def line(name: str, seconds: float, rate: str) -> None:
    print(f"{name:60s} {seconds * 1e3:10.2f} ms  {rate:>24s}")


def random_rows(count: int, width: int, seed: int) -> np.ndarray:
    rng = np.random.default_rng(seed)
    return np.array([rng.permutation(52)[:width] for _ in range(count)], dtype=np.uint8)


def states(repeat: int) -> None:
    print("States: hand_strength (EHS, EHS2, 50-bin histogram) beside exact equity against a random hand")
    for name, width, count, reference_count in (("river", 7, 20000, 200), ("turn", 6, 2000, 100),
                                                   ("flop", 5, 100, 10)):
        rows = random_rows(count, width, width)
        s = median_seconds(repeat, lambda: hand_strength(rows, stats=STATS, threads=1))
        line(f"  hand_strength, {count} {name} states", s, f"{count / s:12,.0f} states/s")
        texts = [(format_cards(r[:2]), format_cards(r[2:])) for r in rows[:reference_count]]
        s = median_seconds(repeat, lambda: [equity([h, "random"], b, threads=1) for h, b in texts])
        line(f"  equity([hand, 'random'], board), {reference_count} {name} states", s,
             f"{reference_count / s:12,.0f} states/s")


def boards(repeat: int) -> None:
    print("Boards: every hole-card combo of each board at once (the tables' work)")
    for name, width, count in (("river", 5, 2000), ("turn", 4, 100), ("flop", 3, 4)):
        rows = random_rows(count, width, 10 + width)
        combos = count * (52 - width) * (51 - width) // 2
        hist = width < 5
        s = median_seconds(repeat, lambda: _engine.board_strength(rows, 50, hist, hist, 1))
        line(f"  board_strength, {count} {name} boards ({combos:,} states)", s, f"{combos / s:12,.0f} states/s")


def preflop() -> None:
    code = ("import time, numpy as np; from tavrix_equity import hand_strength; t = time.perf_counter(); "
            "hand_strength(np.array([[48, 49]]), stats=('ehs', 'ehs2', 'hist')); print(time.perf_counter() - t)")
    runs = [float(subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout)
            for _ in range(5)]
    line(f"  preflop class counts, fresh process, {default_threads()} threads", statistics.median(runs), "")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    states(args.repeat)
    boards(args.repeat)
    print("Preflop")
    preflop()


if __name__ == "__main__":
    main()
