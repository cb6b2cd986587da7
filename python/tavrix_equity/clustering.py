"""Buckets of states: k-means of strength histograms, or quantiles of one statistic.

emd_kmeans groups histograms (one row per state) under the earth mover's
distance; quantile_buckets cuts a 1-D statistic such as EHS into buckets of
equal population. Both return int32 labels, one per row.
"""

from __future__ import annotations

import operator

import numpy as np
import numpy.typing as npt

from tavrix_equity import _engine
from tavrix_equity.all_in import default_threads
from tavrix_equity.cards import positive_int

__all__ = ["emd_kmeans", "quantile_buckets"]

_SEED_LIMIT = 1 << 64
# Large statistics are read in slices of this many values.
_CHUNK = 1 << 22


def _count(value: object, what: str) -> int:
    """An integer argument (bool refused), as an int."""
    if isinstance(value, bool):
        raise TypeError(f"{what} must be an integer, not bool")
    try:
        return operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}") from None


def _clusters(k: object, rows: int, groups: str, items: str) -> int:
    clusters = _count(k, "k")
    if clusters < 1:
        raise ValueError(f"k must be at least 1, not {clusters}")
    if clusters > rows:
        raise ValueError(f"k = {clusters} asks for more {groups} than the {rows} {items}")
    return clusters


def emd_kmeans(
    histograms: npt.ArrayLike,
    k: int,
    *,
    seed: int = 0,
    iterations: int = 20,
    threads: int | None = None,
) -> tuple[npt.NDArray[np.int32], npt.NDArray[np.float64]]:
    """emd_kmeans(histograms, k, *, seed=0, iterations=20, threads=None) -> (labels, centres).

    k-means clustering of the rows of an (n, bins) array of non-negative,
    finite histograms under the earth mover's distance, which for 1-D
    histograms with unit distance between neighbouring bins is the L1
    distance between their cumulative sums. Returns int32 labels (n,), each
    row's nearest centre, and the float64 centres (k, bins) as histograms
    (not cumulative).

    Seeding is k-means++ from a generator seeded by `seed`. Each update moves
    a centre to the per-bin median of its members' cumulative forms (the
    exact L1 centre, so the total distance never grows; the lower middle
    value for an even count); an empty cluster keeps its centre. At most
    `iterations` updates, stopping early when no label changes. Cumulative
    forms are held as float32. The same seed gives the same result whatever
    `threads` (default: every core) is.

    ValueError: k < 1 or more clusters than rows, a wrong shape, or a row with
    a value that is not finite or is negative (the message names the row).
    """
    array = np.asarray(histograms)
    if array.dtype.kind not in "fiub":
        raise TypeError(f"histograms must be numbers, not {array.dtype}")
    if array.ndim != 2:
        raise ValueError(f"histograms must be a 2-D array of shape (n, bins), not shape {array.shape}")
    if array.shape[1] < 1:
        raise ValueError("histograms must have at least one bin")
    clusters = _clusters(k, array.shape[0], "clusters", "rows")
    seed_value = _count(seed, "seed")
    if not 0 <= seed_value < _SEED_LIMIT:
        raise ValueError(f"seed must be between 0 and 2**64 - 1, not {seed_value}")
    rounds = _count(iterations, "iterations")
    if rounds < 0:
        raise ValueError(f"iterations must not be negative, not {rounds}")
    workers = default_threads() if threads is None else positive_int(threads, "threads")
    # float32 tables are read as they are; anything else as float64.
    rows: npt.NDArray[np.float32] | npt.NDArray[np.float64] = (
        np.ascontiguousarray(array, dtype=np.float32) if array.dtype == np.float32
        else np.ascontiguousarray(array, dtype=np.float64)
    )
    return _engine.emd_kmeans(rows, clusters, seed_value, rounds, workers)


def quantile_buckets(values: npt.ArrayLike, k: int) -> npt.NDArray[np.int32]:
    """quantile_buckets(values, k) -> int32 labels of shape (n,).

    Cuts a 1-D statistic into k buckets of equal population, labelled 0 to
    k-1 in increasing order of the value: with the values sorted, position p
    (0-based) falls in bucket floor(p * k / n). Equal values always share a
    bucket, that of the first of them in sorted order, so with ties some
    buckets hold more than n / k values and later ones fewer.

    ValueError: k < 1 or more buckets than values, a shape other than (n,),
    or a value that is not finite (the message names its position).
    """
    array = np.asarray(values)
    if array.dtype.kind not in "fiub":
        raise TypeError(f"values must be numbers, not {array.dtype}")
    if array.ndim != 1:
        raise ValueError(f"values must be a 1-D array, not shape {array.shape}")
    count = array.shape[0]
    buckets = _clusters(k, count, "buckets", "values")
    if array.dtype.kind == "f":
        for start in range(0, count, _CHUNK):
            finite = np.isfinite(array[start:start + _CHUNK])
            if not finite.all():
                position = start + int(np.argmin(finite))
                raise ValueError(f"value {array[position]} at position {position} is not finite")
    # Position p of the sorted values goes to bucket floor(p * k / n), so
    # bucket j starts at p_j = ceil(j * n / k); a value's bucket is the number
    # of starts whose preceding sorted value lies below it, which keeps equal
    # values together. Only the k - 1 boundary values need the sort.
    starts = (np.arange(1, buckets, dtype=np.int64) * count + buckets - 1) // buckets
    boundaries = np.partition(array, starts - 1)[starts - 1] if buckets > 1 else array[:0]
    labels = np.empty(count, dtype=np.int32)
    for start in range(0, count, _CHUNK):
        labels[start:start + _CHUNK] = np.searchsorted(boundaries, array[start:start + _CHUNK], side="left")
    return labels
