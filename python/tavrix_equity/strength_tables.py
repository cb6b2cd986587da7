"""Hand-strength tables for every canonical state of a round.

strength_table writes one .npy per statistic, row i for canonical index i of
HandIndexer(round). The work is every board of the round up to a permutation
of suits (1,755 flops; 63,193 flop-turn boards; 2,554,656 flop-turn-river
boards, rounds kept apart), in a fixed order cut into chunks of boards. For
each board the engine gives the statistics of every hole-card combo left at
once (one sweep per river board); each (combo, board) state is indexed and
its row written. Every canonical state is the image of some combo on its
canonical board, so every row is written; several pairs may map to one state,
and they carry the same value.

Chunks run in local processes or as tasks of a Dask cluster. A worker writes
its rows in place into preallocated .npy files (a shared directory on a
cluster) and reports a SHA-256 of the indices and values it wrote; only this
process writes the checkpoint, which records each finished chunk with that
checksum. A resumed run checks every recorded chunk against the partial files
and computes only the chunks that are missing or do not match. The files are
written under a ".partial" name beside the result and renamed once complete.
"""

from __future__ import annotations

import concurrent.futures
import contextlib
import hashlib
import itertools
import multiprocessing
import os
import stat as stat_mode
import uuid
from collections.abc import Callable, Generator, Iterable
from dataclasses import dataclass
from pathlib import Path
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from tavrix_equity import _checkpoint
from tavrix_equity.cards import positive_int
from tavrix_equity.indexing import ROUNDS, HandIndexer
from tavrix_equity._files import check_output_path
from tavrix_equity._progress import ProgressBar, progress_reporter
from tavrix_equity.matrix import _ignore_interrupts, _stop_workers, _worker_count
from tavrix_equity.strength import STRENGTH_STATS, checked_stats, hand_strength, strength_statistics

if TYPE_CHECKING:
    from distributed import Client

__all__ = ["strength_table", "canonical_boards"]

BOARD_CARDS = {"flop": 3, "turn": 4, "river": 5}
# The flop's chunks are 8 boards each (about half a second of engine time),
# writing the rows of their states wherever they are: the tables are small
# enough to stay in the page cache. The turn and river tables are not, so a
# chunk there is a quarter of the rows, filled from every board (sweeping the
# boards again for each quarter costs less than scattered writes would).
CHUNK_BOARDS = {"flop": 8}
ROW_CHUNKS = {"turn": 4, "river": 4}
# Boards swept at once within a chunk of rows: bounds a worker's arrays.
BLOCK_BOARDS = {"flop": 8, "turn": 256, "river": 4096}
_PLAN_FORMAT = b"tavrix strength table plan 1"
_DEFAULT_STATS = ("ehs", "ehs2", "hist")

Progress = Callable[[int, int], object]
_Report = tuple[str, bytes]
_Results = Generator[tuple[int, _Report], None, None]


def _suit_keys(rounds: list[npt.NDArray[np.uint8]]) -> npt.NDArray[np.int64]:
    """Per board and suit: the rank set of that suit in each round, earlier rounds more significant."""
    rows = len(rounds[0])
    keys = np.zeros((rows, 4), dtype=np.int64)
    where = np.arange(rows)
    for position, cards in enumerate(rounds):
        for column in range(cards.shape[1]):
            card = cards[:, column].astype(np.int64)
            keys[where, card & 3] |= (1 << (card >> 2)) << (13 * (2 - position))
    return keys


def _sorted_suits(keys: npt.NDArray[np.int64]) -> npt.NDArray[np.bool_]:
    return np.all(keys[:, :-1] >= keys[:, 1:], axis=1)


def _extend(boards: npt.NDArray[np.uint8]) -> tuple[npt.NDArray[np.uint8], npt.NDArray[np.uint8]]:
    """Every board followed by every card it does not hold."""
    repeated = np.repeat(boards, 52, axis=0)
    card = np.tile(np.arange(52, dtype=np.uint8), len(boards))
    free = ~np.any(repeated == card[:, None], axis=1)
    return repeated[free], card[free]


def canonical_boards(round: str) -> npt.NDArray[np.uint8]:
    """canonical_boards(round) -> uint8 array (m, 3, 4 or 5): one board per class of boards
    equal under a permutation of suits (flop cards ascending, then the turn, then the river).

    A board is kept when its suits, each described by its rank set in each
    round (earlier rounds first), come in non-increasing order: each class
    holds exactly one such board.
    """
    if round not in BOARD_CARDS:
        raise ValueError(f"round must be one of 'flop', 'turn', 'river', not {round!r}")
    flops = np.array(list(itertools.combinations(range(52), 3)), dtype=np.uint8)
    boards = flops[_sorted_suits(_suit_keys([flops]))]
    for cards in range(4, BOARD_CARDS[round] + 1):
        earlier, card = _extend(boards)
        rounds = [earlier[:, :3]] + [earlier[:, 3:4]] * (cards == 5) + [card[:, None]]
        keep = _sorted_suits(_suit_keys(rounds))
        boards = np.hstack([earlier[keep], card[keep][:, None]])
    return np.ascontiguousarray(boards)


def _hole_combos(boards: npt.NDArray[np.uint8]) -> npt.NDArray[np.uint8]:
    """(m * C(52 - b, 2), 2): the combos of the cards each board leaves, in card order."""
    free = np.ones((len(boards), 52), dtype=bool)
    free[np.arange(len(boards))[:, None], boards] = False
    left = np.nonzero(free)[1].reshape(len(boards), -1).astype(np.uint8)
    first, second = np.triu_indices(left.shape[1], 1)
    return np.stack([left[:, first], left[:, second]], axis=2).reshape(-1, 2)


def _chunk_states(boards: npt.NDArray[np.uint8]) -> npt.NDArray[np.uint8]:
    holes = _hole_combos(boards)
    per_board = len(holes) // max(len(boards), 1)
    return np.ascontiguousarray(np.hstack([holes, np.repeat(boards, per_board, axis=0)]))


def _indices(round: str, states: npt.NDArray[np.uint8]) -> npt.NDArray[np.uint64]:
    # One thread: a worker process is one of several running side by side.
    # The states are sound by construction, so the engine indexes them directly.
    from tavrix_equity import _engine

    return np.asarray(_engine.index_states(round, states, 1), dtype=np.uint64)


def _digest(indices: npt.NDArray[np.uint64], values: list[npt.NDArray[np.float32]]) -> bytes:
    checksum = hashlib.sha256(indices.astype("<u8").tobytes())
    for array in values:
        checksum.update(np.ascontiguousarray(array, dtype="<f4").tobytes())
    return checksum.digest()


def _run_chunk(round: str, boards: npt.NDArray[np.uint8], stats: tuple[str, ...], bins: int,
               paths: list[str], rows: tuple[int, int] | None) -> _Report:
    """Computes one chunk in a worker and writes its rows in place; returns the worker's
    table digest and the checksum of what it wrote.

    rows None: the states of these boards, wherever their rows are. rows (a, b):
    rows a to b-1, every one of them, from all the boards given.
    """
    from tavrix_equity import _engine

    if rows is None:
        sums = _engine.board_strength(boards, bins, "ehs2" in stats, "hist" in stats, 1)
        values = strength_statistics(sums, stats, np.float32)
        indices = _indices(round, _chunk_states(boards))
        # In index order: the pages of the tables are visited once each, in order.
        order = np.argsort(indices, kind="stable")
        for name, path in zip(stats, paths):
            table = np.lib.format.open_memmap(path, mode="r+")
            table[indices[order]] = values[name][order]
            table.flush()
            del table
        return _engine.table_digest(), _digest(indices, [values[name] for name in stats])
    first, stop = rows
    # The rows' values gather in memory and go to the files in one sequential
    # write: scattered writes into a table larger than the page cache can hold
    # dirty would write each page back many times.
    # NaN, which no statistic takes, marks the rows not written yet.
    buffers = {name: np.full((stop - first, bins) if name == "hist" else (stop - first,), np.nan, dtype=np.float32)
               for name in stats}
    block = BLOCK_BOARDS[round]
    for at in range(0, len(boards), block):
        part = np.ascontiguousarray(boards[at:at + block])
        indices = _indices(round, _chunk_states(part))
        keep = (indices >= first) & (indices < stop)
        if not keep.any():
            continue
        sums = _engine.board_strength(part, bins, "ehs2" in stats, "hist" in stats, 1)
        kept = (sums[0][keep], None if sums[1] is None else sums[1][keep],
                None if sums[2] is None else sums[2][keep], sums[3][keep])
        values = strength_statistics(kept, stats, np.float32)
        where = (indices[keep] - first).astype(np.intp)
        for name in stats:
            buffers[name][where] = values[name]
    unwritten = np.isnan(buffers[stats[0]].reshape(stop - first, -1)[:, 0])
    if unwritten.any():
        missing = first + int(np.argmax(unwritten))
        raise RuntimeError(f"no board gave a value for row {missing}: the board list is incomplete")
    for name, path in zip(stats, paths):
        table = np.lib.format.open_memmap(path, mode="r+")
        table[first:stop] = buffers[name]
        table.flush()
        del table
    return _engine.table_digest(), _digest(np.array([first, stop], dtype=np.uint64), list(buffers.values()))


def _written_digest(round: str, boards: npt.NDArray[np.uint8], rows: tuple[int, int] | None,
                    stats: tuple[str, ...], paths: list[str]) -> bytes:
    """The checksum of what a chunk's rows hold now in the partial files."""
    if rows is None:
        indices = _indices(round, _chunk_states(boards))
        select: Any = indices
    else:
        indices = np.array(rows, dtype=np.uint64)
        select = slice(*rows)
    values = []
    for path in paths:
        table = np.load(path, mmap_mode="r")
        values.append(np.asarray(table[select]))
        del table
    return _digest(indices, values)


@dataclass(frozen=True, slots=True)
class _Plan:
    round: str
    stats: tuple[str, ...]
    bins: int
    boards: npt.NDArray[np.uint8]
    size: int
    digest: bytes

    @property
    def chunks(self) -> int:
        if self.round in ROW_CHUNKS:
            return ROW_CHUNKS[self.round]
        return -(-len(self.boards) // CHUNK_BOARDS[self.round])

    def chunk(self, chunk: int) -> tuple[npt.NDArray[np.uint8], tuple[int, int] | None]:
        """The boards a chunk sweeps and the rows it writes (None: the rows of its boards)."""
        if self.round in ROW_CHUNKS:
            parts = ROW_CHUNKS[self.round]
            return self.boards, (chunk * self.size // parts, (chunk + 1) * self.size // parts)
        step = CHUNK_BOARDS[self.round]
        return np.ascontiguousarray(self.boards[chunk * step:(chunk + 1) * step]), None


def _make_plan(round: str, stats: tuple[str, ...], bins: int) -> _Plan:
    boards = canonical_boards(round)
    size = HandIndexer(round).size
    digest = hashlib.sha256(
        _PLAN_FORMAT + round.encode() + ",".join(stats).encode()
        + np.array([bins, CHUNK_BOARDS.get(round, 0), ROW_CHUNKS.get(round, 0), size], dtype="<u8").tobytes()
        + boards.tobytes()
    ).digest()
    return _Plan(round, stats, bins, boards, size, digest)


def _record(digest: bytes) -> npt.NDArray[np.uint64]:
    # A checkpoint record holds rows of three uint64: the checksum fills two.
    return np.frombuffer(digest + bytes(16), dtype="<u8").astype(np.uint64).reshape(2, 3)


def _recorded_digest(record: npt.NDArray[np.uint64]) -> bytes:
    return record.astype("<u8").tobytes()[:32]


def _check_output(path: Path) -> None:
    """A path this run will replace must be a regular file or not exist."""
    check_output_path(path, "strength table")


def _output_paths(round: str, out_dir: str | os.PathLike[str], stats: tuple[str, ...]) -> list[Path]:
    directory = Path(out_dir)
    if not directory.is_dir():
        raise ValueError(f"out_dir {str(directory)!r} is not a directory")
    paths = [directory / f"{round}_{name}.npy" for name in stats]
    for path in paths:
        _check_output(path)
        _check_output(_partial(path))
    return paths


def _partial(path: Path) -> Path:
    return path.with_name(path.name + ".partial")


def _shape(size: int, name: str, bins: int) -> tuple[int, ...]:
    return (size, bins) if name == "hist" else (size,)


def _partial_matches(path: Path, shape: tuple[int, ...]) -> bool:
    try:
        table = np.load(path, mmap_mode="r")
    except (OSError, ValueError):
        return False
    same = bool(table.dtype == np.float32 and table.shape == shape)
    del table
    return same


def _create_partial(path: Path, shape: tuple[int, ...]) -> None:
    # Sparse: the rows are filled by the chunks; nothing is written up front.
    path.unlink(missing_ok=True)
    table = np.lib.format.open_memmap(path, mode="w+", dtype=np.float32, shape=shape)
    del table


def _finish(partial: Path, path: Path) -> None:
    with open(partial, "rb+") as stream:
        os.fsync(stream.fileno())
    os.replace(partial, path)
    descriptor = os.open(path.parent, os.O_RDONLY)
    try:
        os.fsync(descriptor)
    finally:
        os.close(descriptor)


def _chunk_arguments(plan: _Plan, chunk: int, paths: list[str]) -> tuple[Any, ...]:
    boards, rows = plan.chunk(chunk)
    return boards, plan.stats, plan.bins, paths, rows


def _drop(paths: list[Path]) -> None:
    for path in paths:
        path.unlink(missing_ok=True)


def _local_results(plan: _Plan, todo: list[int], workers: int, paths: list[str]) -> _Results:
    if workers == 1 or len(todo) <= 1:
        for chunk in todo:
            yield chunk, _run_chunk(plan.round, *_chunk_arguments(plan, chunk, paths))
        return
    executor = concurrent.futures.ProcessPoolExecutor(
        max_workers=min(workers, len(todo)), mp_context=multiprocessing.get_context("spawn"),
        initializer=_ignore_interrupts,
    )
    try:
        futures = {
            executor.submit(_run_chunk, plan.round, *_chunk_arguments(plan, chunk, paths)): chunk
            for chunk in todo
        }
        for future in concurrent.futures.as_completed(futures):
            yield futures[future], future.result()
    except BaseException:
        _stop_workers(executor)
        raise
    finally:
        executor.shutdown(wait=True, cancel_futures=True)


def _dask_results(plan: _Plan, todo: list[int], client: Client, paths: list[str]) -> _Results:
    from distributed import as_completed

    run = uuid.uuid4().hex[:8]
    keys = [f"tavrix-strength-{plan.round}-{run}-{chunk}" for chunk in todo]
    chunk_of = dict(zip(keys, todo))
    futures = [
        client.submit(_run_chunk, plan.round, *_chunk_arguments(plan, chunk, paths), key=key, pure=False)
        for chunk, key in zip(todo, keys)
    ]
    pending = dict(zip(keys, futures))
    del futures
    try:
        for future in as_completed(list(pending.values())):  # type: ignore[no-untyped-call]
            del pending[future.key]
            chunk, result = chunk_of[future.key], future.result()
            del future
            yield chunk, result
    finally:
        client.cancel(list(pending.values()))  # type: ignore[no-untyped-call]


def _progress_report(progress: bool | Progress | None, label: str) -> tuple[ProgressBar | None, Progress | None]:
    report, bar = progress_reporter(progress, label, "chunks")
    return bar, report


def _write_npy(path: Path, array: npt.NDArray[Any]) -> None:
    partial = _partial(path)
    partial.unlink(missing_ok=True)
    with open(partial, "xb") as stream:
        np.save(stream, array)
    _finish(partial, path)


def _preflop_table(paths: list[Path], stats: tuple[str, ...], bins: int, workers: int) -> None:
    indexer = HandIndexer("preflop")
    states = indexer.unindex(np.arange(indexer.size, dtype=np.uint64))
    values = hand_strength(states, stats=stats, bins=bins, threads=max(workers, 1))
    for name, path in zip(stats, paths):
        _write_npy(path, values[name].astype(np.float32))


def _river_stats(round: str, stats: str | Iterable[str]) -> tuple[str, ...]:
    if round == "river" and stats is _DEFAULT_STATS:
        return ("ehs",)
    names = checked_stats(stats)
    if round == "river" and "hist" in names:
        raise ValueError("a river state has one completion, so its histogram is a single bin: "
                         "ask the river for 'ehs' (and 'ehs2', its square)")
    return names


def strength_table(
    round: str, out_dir: str | os.PathLike[str], *, stats: str | Iterable[str] = _DEFAULT_STATS, bins: int = 50,
    client: Client | None = None, workers: int | None = None, checkpoint: str | os.PathLike[str] | None = None,
    progress: bool | Progress | None = None,
) -> dict[str, Path]:
    """strength_table(round, out_dir, *, stats=("ehs", "ehs2", "hist"), bins=50, client=None,
    workers=None, checkpoint=None, progress=None) -> dict of the files written.

    Writes the hand strength (see hand_strength) of every canonical state of
    `round` ("preflop", "flop", "turn" or "river") into out_dir, one file per
    statistic named {round}_{stat}.npy: row i is canonical index i of
    HandIndexer(round); "ehs" and "ehs2" are float32 (size,), "hist" float32
    (size, bins). Load them with numpy.load(path, mmap_mode="r"). The river
    writes only "ehs" by default (its HS; 2,428,287,420 rows, 9.7 GB); a river
    histogram is refused.

    client: a dask.distributed.Client whose workers run the chunks; they
    write into out_dir, which must then be a directory they share. Otherwise
    `workers` local processes (default: the cores). The preflop table (169
    rows) is computed in this process, in one piece (no checkpoint needed).

    checkpoint: a file recording each finished chunk with a checksum of what
    it wrote. Run again with the same file and out_dir, the recorded chunks
    are checked against the partial files and only the missing or damaged ones
    are computed; the files are identical. Files are written as
    {name}.partial and renamed when every chunk is done. Every output path
    must be a regular file or not exist (checked before any work).

    progress: True for a bar on stderr, or progress(done, total) in chunks.
    """
    if round not in ROUNDS:
        raise ValueError(f"round must be one of {', '.join(map(repr, ROUNDS))}, not {round!r}")
    names = _river_stats(round, stats)
    bin_count = positive_int(bins, "bins")
    local_workers = _worker_count(workers, client)
    bar, report = _progress_report(progress, f"{round} strength")
    paths = _output_paths(round, out_dir, names)
    if round == "preflop":
        if report is not None:
            report(0, 1)
        _preflop_table(paths, names, bin_count, local_workers)
        if report is not None:
            report(1, 1)
        if bar is not None:
            bar.close()
        return dict(zip(names, paths))
    _compute(round, names, bin_count, paths, client=client, workers=local_workers, checkpoint=checkpoint,
             bar=bar, report=report)
    return dict(zip(names, paths))


def _compute(
    round: str, stats: tuple[str, ...], bins: int, paths: list[Path], *, client: Client | None, workers: int,
    checkpoint: str | os.PathLike[str] | None, bar: ProgressBar | None, report: Progress | None,
) -> None:
    from tavrix_equity import _engine

    plan = _make_plan(round, stats, bins)
    size = plan.size
    table_digest = _engine.table_digest()
    partials = [_partial(path) for path in paths]
    shapes = [_shape(size, name, bins) for name in stats]

    def open_store() -> _checkpoint.Checkpoint:
        assert checkpoint is not None
        return _checkpoint.Checkpoint(checkpoint, table_digest=table_digest, plan_digest=plan.digest,
                                      chunk_rows=[2] * plan.chunks, boards=None)

    with contextlib.ExitStack() as cleanup:
        store = None if checkpoint is None else open_store()

        def close_store() -> None:
            if store is not None:
                store.close()

        cleanup.callback(close_store)
        recorded = {} if store is None else {c: _recorded_digest(r) for c, r in store.recovered.items()}
        if recorded and not all(_partial_matches(p, s) for p, s in zip(partials, shapes)):
            recorded = {}
        if not recorded:
            for partial, shape in zip(partials, shapes):
                _create_partial(partial, shape)
        text_paths = [str(p) for p in partials]
        # Recorded chunks are trusted only when the files still hold what they wrote.
        done = {c: digest for c, digest in sorted(recorded.items())
                if _written_digest(round, *plan.chunk(c), stats, text_paths) == digest}
        if store is not None and len(done) < len(store.recovered):
            # A chunk recorded twice would end the valid part of the file: start
            # it again with the records that still hold.
            store.close()
            Path(checkpoint).unlink()  # type: ignore[arg-type]
            store = open_store()
            for chunk, digest in done.items():
                store.append(chunk, _record(digest))
        if bar is not None:
            cleanup.callback(bar.close)
        todo = [c for c in range(plan.chunks) if c not in done]
        finished = len(done)
        if report is not None:
            report(finished, plan.chunks)
        results = (_dask_results(plan, todo, client, text_paths) if client is not None
                   else _local_results(plan, todo, workers, text_paths))
        if store is None:
            # Without a checkpoint nothing can resume from the partial files.
            cleanup.push(lambda kind, error, trace: _drop(partials) if kind is not None else None)
        with contextlib.closing(results):
            for chunk, (worker_digest, digest) in results:
                if worker_digest != table_digest:
                    raise RuntimeError(
                        f"chunk {chunk} was computed with other lookup tables (digest {worker_digest}, "
                        f"this process has {table_digest}): the workers run another build")
                if store is not None:
                    store.append(chunk, _record(digest))
                finished += 1
                if report is not None:
                    report(finished, plan.chunks)
    for partial, path in zip(partials, paths):
        _finish(partial, path)
