"""The breakdown and distribution subcommands of tavrix-equity.

    tavrix-equity breakdown RANGE --board CARDS [--dead CARDS] [--vs RANGE] [--json]
    tavrix-equity distribution HERO VILLAIN [--board CARDS] [--dead CARDS] [--threads T] --png FILE
"""

from __future__ import annotations

import argparse
import json
import math
import time
from typing import NoReturn

__all__ = ["breakdown_parser", "run_breakdown", "distribution_parser", "run_distribution"]


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        from tavrix_equity.cli import UsageError

        raise UsageError(message)


def breakdown_parser() -> argparse.ArgumentParser:
    parser = _Parser(prog="tavrix-equity breakdown",
                     description="What a range holds on a board: made-hand classes and draws.")
    parser.add_argument("range", metavar="RANGE", help='a range such as "QQ+,AKs" or random')
    parser.add_argument("--board", required=True, metavar="CARDS", help="3, 4 or 5 board cards")
    parser.add_argument("--dead", default="", metavar="CARDS", help="cards out of play")
    parser.add_argument("--vs", metavar="RANGE", help="an opponent range: adds each class's equity against it")
    parser.add_argument("--json", action="store_true", help="print the result as JSON")
    return parser


def run_breakdown(args: argparse.Namespace) -> None:
    from tavrix_equity.range_breakdown import breakdown

    b = breakdown(args.range, args.board, args.dead, vs=args.vs)
    if args.json:
        def number(x: float) -> float | None:
            return None if math.isnan(x) else x

        print(json.dumps({"range": b.range, "board": b.board, "dead": b.dead, "vs": b.vs, "shares": b.shares,
                          "equity": None if b.equity is None else {k: number(v) for k, v in b.equity.items()}}))
        return
    print(f"{b.range} on {b.board}" + (f", dead {b.dead}" if b.dead else "") + (f", against {b.vs}" if b.vs else ""))
    print()
    header = f"{'class':<22}{'share %':>9}{'combos':>8}" + (f"{'equity %':>10}" if b.equity is not None else "")
    print(header)
    for name, share in b.shares.items():
        if share == 0.0:
            continue
        row = f"{name:<22}{100 * share:>9.2f}{len(b.combos(name)):>8}"
        if b.equity is not None:
            value = b.equity[name]
            row += f"{'-' if math.isnan(value) else f'{100 * value:.2f}':>10}"
        print(row)


def distribution_parser() -> argparse.ArgumentParser:
    parser = _Parser(prog="tavrix-equity distribution",
                     description="Chart of how equity is spread over two ranges against each other.")
    parser.add_argument("hero", metavar="HERO", help="a range")
    parser.add_argument("villain", metavar="VILLAIN", help="a range")
    parser.add_argument("--board", default="", metavar="CARDS", help="0 to 5 board cards (default: preflop)")
    parser.add_argument("--dead", default="", metavar="CARDS", help="cards out of play")
    parser.add_argument("--threads", type=int, metavar="T", help="worker threads (default: every core)")
    parser.add_argument("--png", required=True, metavar="FILE", help="where to write the chart")
    return parser


def run_distribution(args: argparse.Namespace) -> None:
    from tavrix_equity._files import atomic_output, check_output_path
    from tavrix_equity.distribution import equity_distribution
    from tavrix_equity.distribution_plot import plot_equity_distribution
    from tavrix_equity.plot import require_matplotlib

    # Refused now, not after the computation.
    require_matplotlib()
    check_output_path(args.png, "--png")
    start = time.perf_counter()
    dist = equity_distribution(args.hero, args.villain, args.board, args.dead, threads=args.threads)
    with atomic_output(args.png, "--png") as stream:
        plot_equity_distribution(dist).savefig(stream, format="png")
    for label, side in (("hero", dist.hero), ("villain", dist.villain)):
        buckets = ", ".join(f"{name}: {100 * share:.1f}%" for name, share in side.buckets.items())
        print(f"{label} {side.range}: equity {100 * side.mean_equity:.2f}% ({buckets})")
    print(f"wrote {args.png} ({time.perf_counter() - start:.1f} s)")
