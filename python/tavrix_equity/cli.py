"""The tavrix-equity command: equity of hands or ranges, class charts, the preflop matrix.

    tavrix-equity AsKs QhQd [--board 2h7d9s] [--dead 3c] [--trials N] [--seed S] [--threads T] [--json]
    tavrix-equity grid VS [--board CARDS] [--dead CARDS] [--trials N] [--seed S] --png FILE
    tavrix-equity matrix --out FILE.npy [--workers N] [--scheduler ADDRESS] [--checkpoint FILE]
    tavrix-equity strength ROUND --out DIR [--bins N] [--workers N] [--scheduler ADDRESS] [--checkpoint FILE]
    tavrix-equity buckets TABLE.npy --k K --out LABELS.npy (see strength_cli)

Output is a table for people, or JSON with --json. Bad input is one line on
stderr and exit status 2.
"""

from __future__ import annotations

import argparse
import io
import json
import sys
import time
from collections.abc import Callable, Sequence
from pathlib import Path
from typing import NoReturn

import numpy as np
import numpy.typing as npt

from tavrix_equity.result import EquityResult

__all__ = ["main"]

PROGRAM = "tavrix-equity"


class UsageError(Exception):
    """Bad command-line input: reported as one line, exit status 2."""


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        raise UsageError(message)


def _equity_parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog=PROGRAM,
        description="All-in equity of two to ten hands or ranges (exact unless --trials). "
        f"Subcommands: {PROGRAM} grid VS --png FILE; {PROGRAM} matrix --out FILE.npy.",
    )
    parser.add_argument("hands", nargs="+", metavar="HAND", help='a hand such as AsKs, or a range such as "QQ+,AKs"')
    parser.add_argument("--board", default="", metavar="CARDS", help="0 to 5 board cards, e.g. 2h7d9s")
    parser.add_argument("--dead", default="", metavar="CARDS", help="cards out of play")
    parser.add_argument("--trials", type=int, metavar="N", help="Monte Carlo over N random boards")
    parser.add_argument("--seed", type=int, metavar="S", help="Monte Carlo seed (default: random)")
    parser.add_argument("--threads", type=int, metavar="T", help="worker threads (default: every core)")
    parser.add_argument("--json", action="store_true", help="print the result as JSON")
    return parser


def _grid_parser() -> argparse.ArgumentParser:
    parser = _Parser(prog=f"{PROGRAM} grid", description="Chart of every starting-hand class's equity against VS.")
    parser.add_argument("vs", metavar="VS", help="a hand or a range")
    parser.add_argument("--board", default="", metavar="CARDS")
    parser.add_argument("--dead", default="", metavar="CARDS")
    parser.add_argument("--trials", type=int, metavar="N")
    parser.add_argument("--seed", type=int, metavar="S")
    parser.add_argument("--png", required=True, metavar="FILE", help="where to write the chart")
    return parser


def _matrix_parser() -> argparse.ArgumentParser:
    parser = _Parser(prog=f"{PROGRAM} matrix", description="The exact 169 x 169 preflop equity matrix.")
    parser.add_argument("--out", required=True, metavar="FILE.npy", help="where to save the matrix (numpy .npy)")
    parser.add_argument("--workers", type=int, metavar="N", help="local worker processes (default: every core)")
    parser.add_argument("--scheduler", metavar="ADDRESS", help="run on the Dask cluster at this scheduler address")
    parser.add_argument("--checkpoint", metavar="FILE", help="record finished chunks here and resume from it")
    return parser


def _percent_table(result: EquityResult) -> str:
    monte_carlo = not result.exact
    header = f"{'hand':<16}{'win %':>9}{'tie %':>9}{'equity %':>10}" + ("   ± std err" if monte_carlo else "")
    rows = [header]
    for name, win, tie, eq, err in zip(result.players, result.win, result.tie, result.equity, result.std_error):
        row = f"{name:<16}{100 * win:>9.3f}{100 * tie:>9.3f}{100 * eq:>10.3f}"
        rows.append(row + (f"{100 * err:>12.3f}" if monte_carlo else ""))
    return "\n".join(rows)


def _run_equity(args: argparse.Namespace) -> None:
    from tavrix_equity.all_in import equity

    start = time.perf_counter()
    result = equity(args.hands, args.board, args.dead, trials=args.trials, seed=args.seed, threads=args.threads)
    seconds = time.perf_counter() - start
    if args.json:
        print(json.dumps({**result.as_dict(), "board": args.board, "dead": args.dead, "seconds": seconds}))
        return
    how = "exact" if result.exact else f"Monte Carlo, seed {result.seed}"
    boards = f"{result.boards:,}" if isinstance(result.boards, int) else f"{result.boards:,.6g} (weighted)"
    print(f"{' vs '.join(result.players)}, board {args.board or '(none)'}"
          + (f", dead {args.dead}" if args.dead else ""))
    print(f"{boards} boards counted ({how}) in {seconds:.3f} s\n")
    print(_percent_table(result))


def _run_grid(args: argparse.Namespace) -> None:
    from tavrix_equity.grids import hand_grid
    from tavrix_equity.plot import plot_grid, require_matplotlib

    # Refused now, not after the minutes an exact chart of a range can take.
    require_matplotlib()
    if not Path(args.png).parent.is_dir():
        raise UsageError(f"--png: directory {str(Path(args.png).parent)!r} does not exist")
    start = time.perf_counter()
    grid = hand_grid(args.vs, args.board, args.dead, trials=args.trials, seed=args.seed)
    title = f"equity against {args.vs}" + (f" on {args.board}" if args.board else "")
    plot_grid(grid, args.png, title=title)
    print(f"wrote {args.png} ({time.perf_counter() - start:.1f} s)")


def _matrix_path(out: str) -> Path:
    # np.save's naming: a name without the .npy suffix gets it.
    path = Path(out if out.endswith(".npy") else out + ".npy")
    # Refused now, not after the hours the matrix takes.
    if not path.parent.is_dir():
        raise UsageError(f"--out: directory {str(path.parent)!r} does not exist")
    return path


def _save_matrix(path: Path, matrix: npt.NDArray[np.float64]) -> None:
    # Through a temporary file: a failed write leaves no partial .npy behind.
    from tavrix_equity._checkpoint import replace_file

    buffer = io.BytesIO()
    np.save(buffer, matrix)
    replace_file(path, buffer.getvalue())


def _run_matrix(args: argparse.Namespace) -> None:
    from tavrix_equity.matrix import preflop_matrix

    path = _matrix_path(args.out)
    client = None
    if args.scheduler:
        try:
            from dask.distributed import Client
        except ImportError:
            raise UsageError("--scheduler needs Dask: pip install 'tavrix[distributed]'") from None
        client = Client(args.scheduler)  # type: ignore[no-untyped-call]
    start = time.perf_counter()
    try:
        matrix = preflop_matrix(client=client, workers=args.workers, checkpoint=args.checkpoint, progress=True)
    finally:
        if client is not None:
            client.close()  # type: ignore[no-untyped-call]
    _save_matrix(path, matrix)
    print(f"wrote {args.out}: {matrix.shape[0]} x {matrix.shape[1]} in {time.perf_counter() - start:.1f} s")


from tavrix_equity import strength_cli  # noqa: E402  (it uses the names above when it runs)

# Each subcommand: its parser and what runs it. Commands of their own modules
# are added here, one line each.
SUBCOMMANDS: dict[str, tuple[Callable[[], argparse.ArgumentParser], Callable[[argparse.Namespace], None]]] = {
    "grid": (_grid_parser, _run_grid),
    "matrix": (_matrix_parser, _run_matrix),
    "strength": (strength_cli.strength_parser, strength_cli.run_strength),
    "buckets": (strength_cli.buckets_parser, strength_cli.run_buckets),
}


def _one_line(error: BaseException) -> str:
    # An argument may carry a newline or other control character into the
    # message; escape them so that an error stays one line for scripts.
    return "".join(c if c.isprintable() else c.encode("unicode_escape").decode("ascii") for c in str(error))


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line; returns the exit status."""
    arguments = list(sys.argv[1:] if argv is None else argv)
    try:
        if arguments and arguments[0] in SUBCOMMANDS:
            make_parser, run = SUBCOMMANDS[arguments[0]]
            run(make_parser().parse_args(arguments[1:]))
        else:
            _run_equity(_equity_parser().parse_args(arguments))
    except (UsageError, ValueError, OSError, ImportError) as error:
        print(f"{PROGRAM}: error: {_one_line(error)}", file=sys.stderr)
        return 2
    except RuntimeError as error:  # the engine could not score: tables missing or damaged
        print(f"{PROGRAM}: error: {_one_line(error)}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print(f"{PROGRAM}: interrupted", file=sys.stderr)
        return 130
    return 0
