"""tavrix_equity speed, side by side with its references in one run.

    .venv/bin/python bench/bench_equity.py [--repeat R] [--quick]

Each figure is the median of R runs (default 5):
- exact preflop AsKs vs QhQd (1,712,304 boards) with 1 thread and with every
  core, beside the same job through examples/equity.py (tavrix.evaluate_list
  from Python) and a 1,000,000-trial Monte Carlo through eval7, if installed;
- Monte Carlo throughput per thread, heads-up and 6 players;
- score_words and score_cards on 1,000,000 random 7-card hands, beside
  evaluate_list on the same hands;
- range equity: AsKs against QQ+,AKs preflop, and range against range on a flop.
"""

from __future__ import annotations

import argparse
import statistics
import subprocess
import sys
import time
from collections.abc import Callable
from pathlib import Path

import numpy as np

import tavrix
from tavrix_equity import equity, score_cards, score_words
from tavrix_equity.all_in import default_threads

EXAMPLE = Path(__file__).resolve().parent.parent / "examples" / "equity.py"
SIX_HANDS = ["AsKs", "QhQd", "2c2d", "Tc9c", "6h7s", "4d5d"]


def median_seconds(repeat: int, run: Callable[[], object]) -> float:
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def line(name: str, seconds: float, rate: str, target: str = "") -> None:
    print(f"{name:52s} {seconds * 1e3:10.2f} ms  {rate:>28s}  {target}")


def verdict(ok: bool, text: str) -> str:
    return f"[{'ok' if ok else 'MISSED'}: {text}]"


def exact_preflop(repeat: int, quick: bool) -> None:
    print("Exact preflop AsKs vs QhQd (1,712,304 boards, 3,424,608 hands)")
    for threads in (1, default_threads()):
        s = median_seconds(repeat, lambda: equity(["AsKs", "QhQd"], threads=threads))
        target = verdict(s <= 0.025, "at most 25 ms") if threads == 1 else ""
        line(f"  tavrix_equity.equity, threads={threads}", s, f"{3424608 / s / 1e6:8.1f} M hands/s", target)
    if not quick:
        command = [sys.executable, str(EXAMPLE), "AsKs", "QhQd"]
        s = median_seconds(max(1, repeat), lambda: subprocess.run(command, capture_output=True, check=True))
        line("  examples/equity.py (evaluate_list from Python)", s, f"{3424608 / s / 1e6:8.1f} M hands/s")
    try:
        import eval7  # type: ignore[import-not-found]
    except ImportError:
        print("  eval7 not installed: `make bench` installs it")
        return
    hand = [eval7.Card("As"), eval7.Card("Ks")]
    villain = eval7.HandRange("QhQd")
    s = median_seconds(repeat, lambda: eval7.py_hand_vs_range_monte_carlo(hand, villain, [], 1_000_000))
    line("  eval7 Monte Carlo, 1,000,000 trials", s, f"{2e6 / s / 1e6:8.1f} M hands/s")
    s = median_seconds(repeat, lambda: equity(["AsKs", "QhQd"], trials=1_000_000, seed=1, threads=1))
    line("  tavrix_equity Monte Carlo, 1,000,000 trials, 1 thread", s, f"{2e6 / s / 1e6:8.1f} M hands/s")


def monte_carlo(repeat: int) -> None:
    print("Monte Carlo, 1 thread, 2,000,000 trials")
    for hands in (SIX_HANDS[:2], SIX_HANDS):
        trials = 2_000_000
        s = median_seconds(repeat, lambda: equity(hands, trials=trials, seed=1, threads=1))
        rate = trials * len(hands) / s / 1e6
        line(f"  {len(hands)} players", s, f"{rate:8.1f} M player-hands/s",
             verdict(rate >= 50, "at least 50 M player-hands/s per thread"))


def array_scoring(repeat: int, hands: int) -> None:
    print(f"Scoring {hands:,} random 7-card hands")
    rng = np.random.default_rng(20261208)
    cards = np.argsort(rng.random((hands, 52)), axis=1)[:, :7].astype(np.int64)
    hand_objects = [tavrix.poker_hand.Hand.from_bit_mask(int(m)) for m in (np.left_shift(1, cards).sum(axis=1))]
    pairs = [(h.key, h.mask) for h in hand_objects]
    keys = np.array([k for k, _ in pairs], dtype=np.uint64)
    masks = np.array([m for _, m in pairs], dtype=np.uint64)
    reference = tavrix.evaluate_list(pairs)
    compact = cards.astype(np.uint8)
    assert score_words(keys, masks).tolist() == reference and score_cards(cards).tolist() == reference
    assert score_cards(compact).tolist() == reference
    for name, run, limit in [
        ("  score_words (uint64 key and mask arrays)", lambda: score_words(keys, masks), 3.0),
        ("  score_cards ((n, 7) uint8 card array)", lambda: score_cards(compact), 8.0),
        ("  score_cards ((n, 7) int64 card array)", lambda: score_cards(cards), 8.0),
        ("  tavrix.evaluate_list on (key, mask) tuples", lambda: tavrix.evaluate_list(pairs), None),
    ]:
        s = median_seconds(repeat, run)
        ns = s * 1e9 / hands
        line(name, s, f"{ns:8.2f} ns/hand", verdict(ns <= limit, f"at most {limit:g} ns") if limit else "")


def ranges(repeat: int) -> None:
    print("Range equity, exact, every core")
    jobs = [
        ("  AsKs vs QQ+,AKs preflop", lambda: equity(["AsKs", "QQ+,AKs"])),
        ("  QQ+,AK vs 99-66,AJs+,KQs on Ts9h4c", lambda: equity(["QQ+,AK", "99-66,AJs+,KQs"], "Ts9h4c")),
    ]
    for name, run in jobs:
        line(name, median_seconds(repeat, run), "")


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--hands", type=int, default=1_000_000)
    parser.add_argument("--quick", action="store_true", help="skip the slow pure-Python reference")
    args = parser.parse_args(argv)
    equity(["AsKs", "QhQd"], "2c3c4c")  # loads the tables outside the timings
    print(f"median of {args.repeat} runs; {default_threads()} cores")
    exact_preflop(args.repeat, args.quick)
    monte_carlo(args.repeat)
    array_scoring(args.repeat, args.hands)
    ranges(args.repeat)
    return 0


if __name__ == "__main__":
    sys.exit(main())
