"""Writes python/tavrix_equity/_starting_hand_table.py: each starting-hand class's
preflop all-in equity against 1 to 9 random hands.

Against one hand the figures are exact (every board swept); against 2 to 9
they are Monte Carlo with a fixed seed. Run from the source tree after
building the helper:

    .venv/bin/cmake --build build/native --target tavrix_starting_hand_equity
    .venv/bin/python scripts/starting_hand_table.py build/native/tavrix_starting_hand_equity
"""

from __future__ import annotations

import subprocess
import sys
from collections import defaultdict
from pathlib import Path

from tavrix_equity import HAND_CLASSES, hand_class

TRIALS = 500_000
SEED = 20261208
OUT = Path(__file__).resolve().parent.parent / "python" / "tavrix_equity" / "_starting_hand_table.py"


def main() -> None:
    helper = sys.argv[1]
    exact: dict[str, list[float]] = defaultdict(list)
    for line in subprocess.run([helper, "exact"], check=True, capture_output=True, text=True).stdout.splitlines():
        c1, c2, wins, ties, boards = map(int, line.split())
        exact[hand_class(c1, c2)].append((wins + ties / 2) / boards)
    table = {name: [sum(exact[name]) / len(exact[name])] for name in HAND_CLASSES}
    run = [helper, "multiway", str(TRIALS), str(SEED)]
    for line in subprocess.run(run, check=True, capture_output=True, text=True).stdout.splitlines():
        c1, c2, opponents, shares, trials = map(int, line.split())
        table[hand_class(c1, c2)].append(shares / (2520 * trials))
    lines = [
        '"""Preflop all-in equity of each starting-hand class against 1 to 9 random hands.',
        "",
        "Written by scripts/starting_hand_table.py: exact against one hand, Monte Carlo",
        f"against 2 to 9 ({TRIALS:,} deals per entry, seed {SEED}). Do not edit by hand.",
        '"""',
        "",
        "EQUITY: dict[str, tuple[float, ...]] = {",
    ]
    lines += [f"    {name!r}: ({', '.join(repr(v) for v in table[name])}),"
              for name in HAND_CLASSES]
    lines += ["}", ""]
    OUT.write_text("\n".join(lines))


if __name__ == "__main__":
    main()
