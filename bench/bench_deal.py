"""deal_cards speed, side by side with plain numpy ways of dealing the same rows.

    .venv/bin/python bench/bench_deal.py [--repeat R] [--rows N]

Each figure is the median of R runs (default 5) dealing N (default 1,000,000)
rows of 7 distinct cards, then scoring them with score_cards for scale:
- deal_cards with every core and with one (the native deal);
- numpy, vectorised: argsort of an (n, 52) array of random keys, first 7;
- numpy, row by row: Generator.choice(52, 7, replace=False) per row, timed on
  a 20,000-row sample and scaled to N (the loop is linear in N).
"""

from __future__ import annotations

import argparse
import sys

import numpy as np
from bench_equity import median_seconds

from tavrix_equity import _engine, deal_cards, score_cards
from tavrix_equity.all_in import default_threads


def line(name: str, seconds: float, rows: int, note: str = "") -> None:
    print(f"{name:52s} {seconds * 1e3:10.2f} ms  {seconds * 1e9 / rows:8.1f} ns/row  {note}")


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--rows", type=int, default=1_000_000)
    args = parser.parse_args(argv)
    n, repeat = args.rows, args.repeat
    rng = np.random.default_rng(20261208)
    cards = deal_cards(n, 7, seed=1)
    print(f"Dealing {n:,} rows of 7 cards, median of {repeat} runs; {default_threads()} cores")
    native = median_seconds(repeat, lambda: deal_cards(n, 7, seed=1))
    line("  tavrix_equity.deal_cards, every core", native, n)
    one = median_seconds(repeat, lambda: _engine.deal_rows(n, 7, 0, 1, 1))
    line("  tavrix_equity.deal_cards, 1 thread", one, n)
    vectorised = median_seconds(repeat, lambda: np.argsort(rng.random((n, 52)), axis=1)[:, :7].astype(np.uint8))
    ok = vectorised >= 10 * one
    line("  numpy argsort of random keys (vectorised)", vectorised, n,
         f"[{'ok' if ok else 'MISSED'}: deal_cards on 1 thread at least 10x faster]")
    sample = min(n, 20_000)
    per_row = median_seconds(repeat, lambda: [rng.choice(52, 7, replace=False) for _ in range(sample)]) * n / sample
    line("  numpy Generator.choice per row (scaled)", per_row, n)
    scoring = median_seconds(repeat, lambda: score_cards(cards))
    line("  score_cards on the dealt rows (for scale)", scoring, n)
    return 0


if __name__ == "__main__":
    sys.exit(main())
