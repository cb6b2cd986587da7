"""Range against range through the package: the board sweep beside the deal-by-deal path.

    .venv/bin/python bench/bench_sweep.py [--repeat R] [--quick]

Each figure is the median of R runs (default 5) of the Python entry point on
1 thread, wall time and CPU time of this process (on a loaded machine the CPU
time is what a quiet one would take); targets are judged on CPU time. The
deal-by-deal reference goes through the engine with path="deals"; --quick
skips the slow references (QQ+,AKs preflop and the grid, minutes each).
Also: the Monte Carlo standard error against the spread of 100 seeds.
"""

from __future__ import annotations

import argparse
import statistics
import sys
import time
from collections.abc import Callable

import numpy as np

from tavrix_equity import Range, equity, hand_grid
from tavrix_equity import _engine
from tavrix_equity.all_in import _engine_players, _mask, read_spot
from tavrix_equity.ranges import HAND_CLASSES, grid_position


def median_times(repeat: int, run: Callable[[], object]) -> tuple[float, float]:
    walls, cpus = [], []
    for _ in range(repeat):
        wall, cpu = time.perf_counter(), time.process_time()
        run()
        walls.append(time.perf_counter() - wall)
        cpus.append(time.process_time() - cpu)
    return statistics.median(walls), statistics.median(cpus)


def line(name: str, times: tuple[float, float], note: str = "") -> None:
    wall, cpu = times
    print(f"  {name:44s} {wall * 1e3:10.2f} ms wall {cpu * 1e3:10.2f} ms CPU  {note}")


def verdict(ok: bool, text: str) -> str:
    return f"[{'ok' if ok else 'MISSED'}: {text}]"


def deal_path(players: list[str], board: str = "") -> Callable[[], object]:
    spot, board_cards, dead = read_spot(players, board, "")
    engine_players = _engine_players(spot, _mask(board_cards))
    return lambda: _engine.exact_equity(engine_players, list(board_cards), 0, 1, None, "deals")


def deal_path_grid(vs: str) -> Callable[[], object]:
    def run() -> object:
        grid = np.full((13, 13), np.nan)
        for name in HAND_CLASSES:
            totals = deal_path([name, vs])()
            grid[grid_position(name)] = totals[2][0] / (_engine.SHARE_UNITS * totals[4])  # type: ignore[index]
        return grid
    return run


def spots(repeat: int, quick: bool) -> None:
    jobs = [
        ("random vs random on Ts9h4c", ["random", "random"], "Ts9h4c", 0.050, True),
        ("random vs random on Ts9h4c5d", ["random", "random"], "Ts9h4c5d", 0.002, True),
        ("random vs random preflop (deal by deal: hours, not run)", ["random", "random"], "", 3.0, False),
        ("QQ+,AKs vs random preflop", ["QQ+,AKs", "random"], "", 3.0, not quick),
    ]
    for name, players, board, limit, reference in jobs:
        print(f"{name}, exact, 1 thread")
        swept = median_times(repeat, lambda: equity(players, board, threads=1))
        line("equity() (board sweep)", swept, verdict(swept[1] <= limit, f"at most {limit * 1e3:g} ms"))
        if reference:
            deals = median_times(repeat, deal_path(players, board))
            ratio = deals[1] / swept[1]
            line("deal by deal", deals, f"sweep {ratio:.0f} times faster")
        elif quick and "hours" not in name:
            print("  deal by deal: skipped (--quick)")
    print("hand_grid('QQ+,AKs') preflop, exact, 1 thread")
    grid = median_times(repeat, lambda: hand_grid("QQ+,AKs", threads=1))
    line("hand_grid (one sweep)", grid, verdict(grid[1] <= 3.0, "at most 3000 ms"))
    if not quick:
        deals = median_times(repeat, deal_path_grid("QQ+,AKs"))
        line("169 deal-by-deal runs, one per class", deals, f"sweep {deals[1] / grid[1]:.0f} times faster")


def standard_error(seeds: int) -> None:
    print(f"Monte Carlo standard error against the spread of {seeds} seeds")
    cases = [
        (["random", "random:0.5,22+"], "Ts9h4c", 200_000),   # boards swept: the pilot picks the sweep
        (["random", "random:0.5,22+"], "", 200_000),
        (["QQ+,AKs", "random"], "Ts9h4c", 20_000),          # deals: the pilot keeps them
        (["AsKs", "QhQd"], "", 20_000),
    ]
    for players, board, trials in cases:
        results = [equity(players, board, trials=trials, seed=seed, threads=1) for seed in range(seeds)]
        spread = statistics.stdev(r.equity[0] for r in results)
        reported = statistics.mean(r.std_error[0] for r in results)
        how = "deals" if results[0].boards == trials else "boards swept"
        print(f"  {' vs '.join(players)} {board or 'preflop'}, {trials:,} trials ({how}): spread {spread:.6f}, "
              f"mean reported std_error {reported:.6f} (ratio {reported / spread:.2f})")


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--quick", action="store_true", help="skip the slow deal-by-deal references")
    args = parser.parse_args(argv)
    equity(["AsKs", "QhQd"], "2c3c4c")  # loads the tables outside the timings
    Range("random")
    print(f"median of {args.repeat} runs")
    spots(args.repeat, args.quick)
    standard_error(100)
    return 0


if __name__ == "__main__":
    sys.exit(main())
