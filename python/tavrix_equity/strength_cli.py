"""The strength and buckets commands of tavrix-equity.

    tavrix-equity strength ROUND --out DIR [--stats ehs,ehs2,hist] [--bins N] [--workers N]
                           [--scheduler ADDRESS] [--checkpoint FILE]
    tavrix-equity buckets TABLE.npy --k K --out LABELS.npy [--centres FILE.npy] [--seed S]
                           [--iterations N] [--threads N]

buckets reads a table written by strength: a 1-D statistic (EHS) is cut into
K equal-population buckets in increasing order of the value; histograms are
clustered by earth mover's distance k-means, and --centres saves the centres.
"""

from __future__ import annotations

import argparse
import io
import time
from pathlib import Path

import numpy as np
import numpy.typing as npt


__all__ = ["strength_parser", "run_strength", "buckets_parser", "run_buckets"]


def strength_parser() -> argparse.ArgumentParser:
    from tavrix_equity import cli  # here, not above: cli imports this module

    from tavrix_equity.indexing import ROUNDS

    parser = cli._Parser(
        prog=f"{cli.PROGRAM} strength",
        description="Hand strength (EHS, EHS2, histograms of river HS) of every canonical state of a round, "
        "one .npy per statistic named ROUND_STAT.npy, row i for canonical index i.",
    )
    parser.add_argument("round", metavar="ROUND", choices=ROUNDS, help="preflop, flop, turn or river")
    parser.add_argument("--out", required=True, metavar="DIR", help="directory for the tables")
    parser.add_argument("--stats", metavar="LIST",
                        help="comma-separated statistics (default: ehs,ehs2,hist; the river: ehs)")
    parser.add_argument("--bins", type=int, default=50, metavar="N", help="histogram bins (default 50)")
    parser.add_argument("--workers", type=int, metavar="N", help="local worker processes (default: every core)")
    parser.add_argument("--scheduler", metavar="ADDRESS", help="run on the Dask cluster at this scheduler address")
    parser.add_argument("--checkpoint", metavar="FILE", help="record finished chunks here and resume from it")
    return parser


def run_strength(args: argparse.Namespace) -> None:
    from tavrix_equity import cli  # here, not above: cli imports this module

    from tavrix_equity.strength_tables import strength_table

    if not Path(args.out).is_dir():
        raise cli.UsageError(f"--out: directory {args.out!r} does not exist")
    options = {} if args.stats is None else {"stats": tuple(s.strip() for s in args.stats.split(","))}
    client = None
    if args.scheduler:
        try:
            from dask.distributed import Client
        except ImportError:
            raise cli.UsageError("--scheduler needs Dask: pip install 'tavrix[distributed]'") from None
        client = Client(args.scheduler)  # type: ignore[no-untyped-call]
    start = time.perf_counter()
    try:
        written = strength_table(args.round, args.out, bins=args.bins, client=client, workers=args.workers,
                                 checkpoint=args.checkpoint, progress=True, **options)
    finally:
        if client is not None:
            client.close()  # type: ignore[no-untyped-call]
    seconds = time.perf_counter() - start
    for path in written.values():
        print(f"wrote {path} ({path.stat().st_size:,} bytes)")
    print(f"{args.round}: {seconds:.1f} s")


def buckets_parser() -> argparse.ArgumentParser:
    from tavrix_equity import cli  # here, not above: cli imports this module

    parser = cli._Parser(
        prog=f"{cli.PROGRAM} buckets",
        description="Bucket labels for a table written by the strength command: equal-population buckets of "
        "a 1-D statistic, or earth mover's distance k-means of histograms.",
    )
    parser.add_argument("table", metavar="TABLE.npy", help="a table such as flop_ehs.npy or flop_hist.npy")
    parser.add_argument("--k", type=int, required=True, metavar="K", help="the number of buckets")
    parser.add_argument("--out", required=True, metavar="LABELS.npy", help="where to save the int32 labels")
    parser.add_argument("--centres", metavar="FILE.npy", help="histograms: where to save the cluster centres")
    parser.add_argument("--seed", type=int, default=0, metavar="S", help="k-means seed (default 0)")
    parser.add_argument("--iterations", type=int, default=20, metavar="N", help="k-means iterations (default 20)")
    parser.add_argument("--threads", type=int, metavar="N", help="k-means threads (default: every core)")
    return parser


def _save(path: Path, array: npt.NDArray[np.generic]) -> None:
    # Through a temporary file: a failed write leaves no partial .npy behind.
    from tavrix_equity._files import write_file

    buffer = io.BytesIO()
    np.save(buffer, array)
    write_file(path, buffer.getvalue(), str(path))


def _npy_path(option: str, name: str) -> Path:
    from tavrix_equity import cli  # here, not above: cli imports this module

    path = Path(name if name.endswith(".npy") else name + ".npy")
    if not path.parent.is_dir():
        raise cli.UsageError(f"{option}: directory {str(path.parent)!r} does not exist")
    if path.is_symlink() or (path.exists() and not path.is_file()):
        raise cli.UsageError(f"{option}: {str(path)!r} exists and is not a regular file")
    return path


def run_buckets(args: argparse.Namespace) -> None:
    from tavrix_equity import cli  # here, not above: cli imports this module

    from tavrix_equity import emd_kmeans, quantile_buckets

    out = _npy_path("--out", args.out)
    centres_path = None if args.centres is None else _npy_path("--centres", args.centres)
    try:
        table = np.load(args.table, mmap_mode="r")
    except (OSError, ValueError) as error:
        raise cli.UsageError(f"{args.table}: not a readable .npy table ({error})") from None
    start = time.perf_counter()
    if table.ndim == 1:
        if centres_path is not None:
            raise cli.UsageError("--centres is for histogram tables; a 1-D table has no centres")
        labels = quantile_buckets(table, args.k)
        how = "equal-population buckets"
    elif table.ndim == 2:
        # The float32 table is read in place: the turn's is 11 GB, twice that as float64.
        labels, centres = emd_kmeans(table, args.k, seed=args.seed,
                                     iterations=args.iterations, threads=args.threads)
        if centres_path is not None:
            _save(centres_path, centres)
        how = f"EMD k-means clusters ({args.iterations} iterations, seed {args.seed})"
    else:
        raise cli.UsageError(f"{args.table}: a table is 1-D (a statistic) or 2-D (histograms), not {table.ndim}-D")
    _save(out, labels)
    print(f"wrote {out}: {len(labels):,} states in {args.k} {how} in {time.perf_counter() - start:.1f} s")
