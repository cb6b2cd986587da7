"""Reading a range on a board: speed of the breakdown, the equity distribution
and Range.top, each the median of R runs beside its reference in the same run.

    .venv/bin/python bench/bench_range_reading.py [--repeat R]

- breakdown("random", "Ts9h4c"), beside the engine's classification call alone;
- equity_distribution of two ranges of about 200 combos each on Ts9h4c on one
  thread, beside equity() of the same two ranges (the range totals alone);
- Range.top(0.15) once its table is loaded (the same call again, then a new
  fraction each time), beside Range("QQ+,AKs") parsed from text.
"""

from __future__ import annotations

import argparse
import time

import numpy as np

from tavrix_equity import Range, _engine, breakdown, equity, equity_distribution, parse_cards
from tavrix_equity._live_combos import card_mask_of, live_combos
from bench_equity import median_seconds

FLOP = "Ts9h4c"
HERO = "55+,A8s+,KTs+,QJs,ATo+,KJo+,QJo,T9s,98s,87s,76s,65s,54s"
VILLAIN = "22+,A2s+,K9s+,QTs+,JTs,T9s,AJo+,KQo"


def line(name: str, seconds: float, target: str = "") -> None:
    print(f"{name:72s} {seconds * 1e3:9.3f} ms  {target}")


def verdict(seconds: float, limit_ms: float) -> str:
    return f"[{'ok' if seconds * 1e3 <= limit_ms else 'MISSED'}: at most {limit_ms:g} ms]"


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args(argv)
    repeat = max(5, args.repeat)
    board = parse_cards(FLOP)
    known = card_mask_of(board)
    print(f"Reading a range on a board (median of {repeat} runs or more)")

    breakdown("random", FLOP)
    s = median_seconds(4 * repeat, lambda: breakdown("random", FLOP))
    line(f"breakdown('random', '{FLOP}'): {len(live_combos(Range('random'), known)[0])} combos", s, verdict(s, 5))
    combos = live_combos(Range("random"), known)[0]
    board_array = np.array(board, dtype=np.uint8)
    s = median_seconds(4 * repeat, lambda: _engine.classify_combos(board_array, combos))
    line("  the engine's classification alone (reference)", s)

    sizes = [len(Range(r)) for r in (HERO, VILLAIN)]
    s = median_seconds(repeat, lambda: equity_distribution(HERO, VILLAIN, FLOP, threads=1))
    line(f"equity_distribution, ranges of {sizes[0]} and {sizes[1]} combos on {FLOP}, 1 thread", s, verdict(s, 100))
    s = median_seconds(repeat, lambda: equity([HERO, VILLAIN], FLOP, threads=1))
    line("  equity() of the same ranges, 1 thread (reference)", s)

    first = time.perf_counter()
    Range.top(0.15)
    line("Range.top(0.15), first call (loads the ranking)", time.perf_counter() - first)
    s = median_seconds(20 * repeat, lambda: Range.top(0.15))
    line("Range.top(0.15), again", s, verdict(s, 1))
    fractions = iter(np.linspace(0.01, 0.99, 40 * repeat))
    s = median_seconds(20 * repeat, lambda: Range.top(float(next(fractions))))
    line("Range.top(f), a new fraction each call", s, verdict(s, 1))
    s = median_seconds(20 * repeat, lambda: Range("QQ+,AKs"))
    line("  Range('QQ+,AKs') from text (reference)", s)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
