"""The tavrix-equity command: equity of hands or ranges, class charts, the preflop matrix.

    tavrix-equity AsKs QhQd [--board 2h7d9s] [--dead 3c] [--trials N] [--seed S] [--threads T] [--json]
    tavrix-equity grid VS [--board CARDS] [--dead CARDS] [--trials N] [--seed S] [--png FILE] [--json | --csv]
    tavrix-equity matrix [--classes AA,KK,...] [--out FILE.npy] [--workers N]
                         [--scheduler ADDRESS [--timeout SECONDS]] [--checkpoint FILE]
    tavrix-equity --game omaha AsAhKsKh QdQcJdTc [--board ...] (any game of tavrix_equity.equity)
    tavrix-equity breakdown RANGE --board CARDS [--vs RANGE] [--json]
    tavrix-equity distribution HERO VILLAIN --board CARDS --png FILE
    tavrix-equity strength ROUND --out DIR [--bins N] [--workers N] [--scheduler ADDRESS] [--checkpoint FILE]
    tavrix-equity buckets TABLE.npy --k K --out LABELS.npy
    tavrix-equity --version

Output is a table for people, or JSON with --json (strict JSON: null where a
value is not a number). Bad input is one line on stderr and exit status 2.
"""

from __future__ import annotations

import argparse
import asyncio
import concurrent.futures
import io
import json
import logging
import math
import os
import sys
import time
from collections.abc import Callable, Sequence
from pathlib import Path
from typing import TYPE_CHECKING, NoReturn

import numpy as np
import numpy.typing as npt

from tavrix_equity import cli_ranges
from tavrix_equity._messages import quoted
from tavrix_equity._version import __version__
from tavrix_equity.omaha import GAMES
from tavrix_equity.result import EquityResult, count_text

if TYPE_CHECKING:
    from distributed import Client

__all__ = ["main"]

PROGRAM = "tavrix-equity"


class UsageError(Exception):
    """Bad command-line input: reported as one line, exit status 2."""


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        raise UsageError(_cut_quotes(message))


def _cut_quotes(message: str) -> str:
    # argparse quotes the whole argument ("invalid int value: '...'"): cut
    # long ones to their start, as every other message does.
    if len(message) <= 200:
        return message
    head, quote, rest = message.partition("'")
    text, closing, tail = rest.rpartition("'")
    return head + quoted(text) + tail if quote and closing else message[:200] + "..."


def _equity_parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog=PROGRAM,
        description="All-in equity of two to ten hands or ranges (exact unless --trials). "
        f"Subcommands: {PROGRAM} grid VS (the equity of every starting-hand class against VS); "
        f"{PROGRAM} matrix (the preflop matrix). Add --help after a subcommand for its options.",
    )
    parser.add_argument("--version", action="version", version=f"{PROGRAM} {__version__}",
                        help="print the version and exit")
    parser.add_argument("hands", nargs="+", metavar="HAND", help='a hand such as AsKs, or a range such as "QQ+,AKs"')
    parser.add_argument("--game", default="holdem", choices=GAMES,
                        help="holdem (default), or Omaha with 4, 5 or 6 hole cards, high or high-low")
    parser.add_argument("--board", default="", metavar="CARDS", help="0 to 5 board cards, e.g. 2h7d9s")
    parser.add_argument("--dead", default="", metavar="CARDS", help="cards out of play")
    parser.add_argument("--trials", type=int, metavar="N", help="Monte Carlo over N random boards")
    parser.add_argument("--seed", type=int, metavar="S", help="Monte Carlo seed (default: random)")
    parser.add_argument("--threads", type=int, metavar="T", help="worker threads (default: every core)")
    parser.add_argument("--json", action="store_true", help="print the result as JSON")
    return parser


def _grid_parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog=f"{PROGRAM} grid",
        description="The equity of every starting-hand class against VS, printed as a 13 x 13 table "
        "(rows and columns A to 2, suited above the diagonal), as JSON or CSV, and drawn as a PNG chart.",
    )
    parser.add_argument("vs", metavar="VS", help='a hand such as AsKs, or a range such as "QQ+,AKs"')
    parser.add_argument("--board", default="", metavar="CARDS", help="0 to 5 board cards, e.g. 2h7d9s")
    parser.add_argument("--dead", default="", metavar="CARDS", help="cards out of play")
    parser.add_argument("--trials", type=int, metavar="N", help="Monte Carlo over N random boards for each class "
                        "(default: exact)")
    parser.add_argument("--seed", type=int, metavar="S", help="Monte Carlo seed (default: random)")
    parser.add_argument("--png", metavar="FILE", help="also draw the chart into this PNG file (needs matplotlib)")
    output = parser.add_mutually_exclusive_group()
    output.add_argument("--json", action="store_true", help="print the grid as JSON (null where no deal is possible)")
    output.add_argument("--csv", action="store_true", help="print the grid as CSV: class,equity")
    return parser


def _matrix_parser() -> argparse.ArgumentParser:
    parser = _Parser(prog=f"{PROGRAM} matrix", description="The exact preflop equity matrix of starting-hand "
                     "classes against each other: all 169 x 169, or the classes given.")
    parser.add_argument("--classes", metavar="AA,KK,...",
                        help="only these classes, comma-separated (a sub-matrix, printed as a table "
                        "unless --out is given)")
    parser.add_argument("--out", metavar="FILE.npy", help="where to save the matrix (numpy .npy); "
                        "required without --classes")
    parser.add_argument("--workers", type=int, metavar="N", help="local worker processes (default: every core)")
    parser.add_argument("--scheduler", metavar="ADDRESS", help="run on the Dask cluster at this scheduler address, "
                        "e.g. tcp://127.0.0.1:8786")
    parser.add_argument("--timeout", type=float, default=10.0, metavar="SECONDS",
                        help="give up connecting to --scheduler after this long (default: 10)")
    parser.add_argument("--checkpoint", metavar="FILE", help="record finished chunks here and resume from it")
    return parser


def _percent_table(result: EquityResult) -> str:
    monte_carlo = not result.exact
    width = max(16, *(len(name) + 2 for name in result.players))
    header = f"{'hand':<{width}}{'win %':>9}{'tie %':>9}{'equity %':>10}" + ("   ± std err" if monte_carlo else "")
    rows = [header]
    for name, win, tie, eq, err in zip(result.players, result.win, result.tie, result.equity, result.std_error):
        row = f"{name:<{width}}{100 * win:>9.3f}{100 * tie:>9.3f}{100 * eq:>10.3f}"
        rows.append(row + (f"{100 * err:>12.3f}" if monte_carlo else ""))
    return "\n".join(rows)


_COUNT_FIELDS = ("wins", "ties", "boards")


def _strict(value: object, count: bool = False) -> object:
    """A JSON value with no NaN or infinity (null instead), and counts that
    are whole numbers as integers."""
    if isinstance(value, tuple | list):
        return [_strict(item, count) for item in value]
    if isinstance(value, float):
        if not math.isfinite(value):
            return None
        if count and value.is_integer():
            return int(value)
    return value


def _result_json(result: EquityResult, **fields: object) -> str:
    data = {name: _strict(value, name in _COUNT_FIELDS) for name, value in result.as_dict().items()}
    return json.dumps({**data, **fields}, allow_nan=False)


def _halves_table(result: EquityResult) -> str:
    """High-low games: the share of boards on which each player wins or ties each half, and scoops."""
    assert result.high_wins is not None and result.high_ties is not None
    assert result.low_wins is not None and result.low_ties is not None and result.scoops is not None
    width = max(16, *(len(name) + 2 for name in result.players))
    rows = [f"{'hand':<{width}}{'high win %':>11}{'high tie %':>11}{'low win %':>11}{'low tie %':>11}{'scoop %':>9}"]
    for i, name in enumerate(result.players):
        shares = (result.high_wins[i], result.high_ties[i], result.low_wins[i], result.low_ties[i])
        row = f"{name:<{width}}" + "".join(f"{100 * v / result.boards:>11.3f}" for v in shares)
        rows.append(row + f"{100 * result.scoops[i] / result.boards:>9.3f}")
    return "\n".join(rows)


def _run_equity(args: argparse.Namespace) -> None:
    from tavrix_equity.all_in import equity

    start = time.perf_counter()
    result = equity(args.hands, args.board, args.dead, game=args.game, trials=args.trials, seed=args.seed,
                    threads=args.threads)
    seconds = time.perf_counter() - start
    if args.json:
        print(_result_json(result, game=args.game, board=args.board, dead=args.dead, seconds=seconds))
        return
    how = "exact" if result.exact else f"Monte Carlo, seed {result.seed}"
    # Exact counts with ranges weigh each deal by its combos' weights.
    weighted = " weighted" if isinstance(result.boards, float) else ""
    noun = "board" if result.boards == 1 else "boards"
    game = "" if args.game == "holdem" else f"{args.game}: "
    print(f"{game}{' vs '.join(result.players)}, board {args.board or '(none)'}"
          + (f", dead {args.dead}" if args.dead else ""))
    print(f"{count_text(result.boards)}{weighted} {noun} counted ({how}) in {seconds:.3f} s\n")
    print(_percent_table(result))
    if result.scoops is not None:
        print("\n" + _halves_table(result))


def _run_grid(args: argparse.Namespace) -> None:
    from tavrix_equity._files import check_output_path
    from tavrix_equity._grid_text import grid_csv, grid_json, grid_table
    from tavrix_equity.grids import hand_grid
    from tavrix_equity.plot import plot_grid, require_matplotlib

    if args.png is not None:
        # Refused now, not after the minutes an exact chart of a range can take.
        require_matplotlib()
        check_output_path(args.png, "--png")
    start = time.perf_counter()
    grid = hand_grid(args.vs, args.board, args.dead, trials=args.trials, seed=args.seed)
    if args.png is not None:
        plot_grid(grid, args.png)
    seconds = time.perf_counter() - start
    if args.json:
        print(grid_json(grid, vs=args.vs, board=args.board, dead=args.dead, seconds=seconds))
    elif args.csv:
        sys.stdout.write(grid_csv(grid))
    else:
        how = "exact" if args.trials is None else f"Monte Carlo, {args.trials:,} trials per class"
        print(f"equity % of each class against {args.vs}, board {args.board or '(none)'}"
              + (f", dead {args.dead}" if args.dead else "") + f" ({how}, {seconds:.1f} s)\n")
        print(grid_table(grid))
    if args.png is not None:
        # On stderr when stdout carries JSON or CSV for a program.
        print(f"wrote {args.png}", file=sys.stderr if args.json or args.csv else sys.stdout)


def _matrix_path(out: str) -> Path:
    # np.save's naming: a name without the .npy suffix gets it.
    from tavrix_equity._files import check_output_path

    # Refused now, not after the hours the matrix takes.
    return check_output_path(out if out.endswith(".npy") else out + ".npy", "--out")


def _save_matrix(path: Path, matrix: npt.NDArray[np.float64]) -> None:
    # Through a temporary file: a failed write leaves no partial .npy behind.
    from tavrix_equity._files import atomic_output

    with atomic_output(path, "--out") as stream:
        np.save(stream, matrix)


def _classes(text: str | None) -> list[str] | None:
    if text is None:
        return None
    names = [name.strip() for name in text.split(",")]
    if not all(names):
        raise UsageError(f"--classes: an empty class name in {quoted(text)}")
    return names


def _matrix_table(names: Sequence[str], matrix: npt.NDArray[np.float64]) -> str:
    width = max(5, *(len(name) + 1 for name in names))
    lines = [" " * width + "".join(f"{name:>{width + 2}}" for name in names)]
    for name, row in zip(names, matrix):
        lines.append(f"{name:<{width}}" + "".join(f"{100 * v:>{width + 2}.2f}" for v in row))
    return "\n".join(lines)


def _connect(address: str, timeout: float) -> Client:
    try:
        from dask.distributed import Client
    except ImportError:
        raise UsageError("--scheduler needs Dask: pip install 'tavrix[distributed]'") from None
    if not timeout > 0:
        raise UsageError(f"--timeout must be above 0, not {timeout:g}")
    # Dask logs a lost connection with tracebacks; the command says it in one line.
    for name in ("distributed", "distributed.client"):
        logging.getLogger(name).setLevel(logging.CRITICAL)
    print(f"connecting to the Dask scheduler at {address} (up to {timeout:g} s)...", file=sys.stderr)
    try:
        client: Client = Client(address, timeout=timeout)  # type: ignore[no-untyped-call]
        return client
    except (OSError, TimeoutError) as error:
        raise UsageError(f"cannot reach the Dask scheduler at {quoted(address)}: {error}") from None


def _run_matrix(args: argparse.Namespace) -> None:
    from tavrix_equity.matrix import preflop_matrix

    names = _classes(args.classes)
    if args.out is None and names is None:
        raise UsageError("the following arguments are required: --out (or --classes for a sub-matrix)")
    path = None if args.out is None else _matrix_path(args.out)
    if args.checkpoint:
        from tavrix_equity._files import check_output_path

        check_output_path(args.checkpoint, "--checkpoint")
    client = None if not args.scheduler else _connect(args.scheduler, args.timeout)
    start = time.perf_counter()
    try:
        matrix = preflop_matrix(classes=names, client=client, workers=args.workers, checkpoint=args.checkpoint,
                                progress=True)
    except (OSError, TimeoutError, concurrent.futures.CancelledError, asyncio.CancelledError) as error:
        if client is None:
            raise
        # The scheduler went away (killed, or the network): its tasks are lost.
        reason = str(error).splitlines()[0] if str(error) else type(error).__name__
        raise UsageError(f"lost the Dask scheduler at {quoted(args.scheduler)}: {reason}") from None
    finally:
        if client is not None:
            _close_quietly(client)
    seconds = time.perf_counter() - start
    if path is None:  # a sub-matrix for the reader
        print(_matrix_table(names or [], matrix))
        return
    _save_matrix(path, matrix)
    print(f"wrote {args.out}: {matrix.shape[0]} x {matrix.shape[1]} in {seconds:.1f} s")


def _close_quietly(client: Client) -> None:
    # Closing a client whose scheduler is gone may itself fail or wait: the
    # run's own outcome is what the user needs to see.
    try:
        client.close(timeout=2)  # type: ignore[no-untyped-call]
    except Exception:  # noqa: BLE001
        pass


from tavrix_equity import strength_cli  # noqa: E402  (it uses the names above when it runs)

# Each subcommand: its parser and what runs it. Commands of their own modules
# are added here, one line each.
SUBCOMMANDS: dict[str, tuple[Callable[[], argparse.ArgumentParser], Callable[[argparse.Namespace], None]]] = {
    "grid": (_grid_parser, _run_grid),
    "matrix": (_matrix_parser, _run_matrix),
    "breakdown": (cli_ranges.breakdown_parser, cli_ranges.run_breakdown),
    "distribution": (cli_ranges.distribution_parser, cli_ranges.run_distribution),
    "strength": (strength_cli.strength_parser, strength_cli.run_strength),
    "buckets": (strength_cli.buckets_parser, strength_cli.run_buckets),
}


_LINE_LIMIT = 500


def _one_line(error: BaseException) -> str:
    # An argument may carry a newline or other control character into the
    # message; escape them so that an error stays one line for scripts.
    line = "".join(c if c.isprintable() else c.encode("unicode_escape").decode("ascii") for c in str(error))
    # Messages quote only the start of long input; this bounds any other.
    return line if len(line) <= _LINE_LIMIT else line[:_LINE_LIMIT] + "..."


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line; returns the exit status."""
    arguments = list(sys.argv[1:] if argv is None else argv)
    try:
        if arguments and arguments[0] in SUBCOMMANDS:
            make_parser, run = SUBCOMMANDS[arguments[0]]
            run(make_parser().parse_args(arguments[1:]))
        else:
            _run_equity(_equity_parser().parse_args(arguments))
    except BrokenPipeError:
        # The reader stopped early (| head): nothing went wrong here, and
        # nothing is left to say. Later flushes go nowhere instead of failing.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
        return 1
    except (UsageError, ValueError, OSError, ImportError) as error:
        print(f"{PROGRAM}: error: {_one_line(error)}", file=sys.stderr)
        return 2
    except RuntimeError as error:  # the engine could not score: tables missing or damaged
        print(f"{PROGRAM}: error: {_one_line(error)}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print(f"{PROGRAM}: interrupted", file=sys.stderr)
        return 130
    except SystemExit as exit:  # --help and --version, printed already
        return exit.code if isinstance(exit.code, int) else 0
    return 0
