"""A picture of hand-strength tables: the distribution of EHS on each street."""

from __future__ import annotations

import os
from collections.abc import Mapping

import numpy as np
import numpy.typing as npt

from tavrix_equity.plot import require_matplotlib

__all__ = ["plot_strength"]

# Tables are read in blocks of this many rows: the river's 2.4 billion rows
# never need to be in memory at once.
_BLOCK = 1 << 24


def _shares(values: npt.ArrayLike, bins: int) -> npt.NDArray[np.float64]:
    array = values if isinstance(values, np.ndarray) else np.asarray(values)
    if array.ndim != 1 or array.size == 0:
        raise ValueError(f"each table must be a non-empty 1-D array of EHS values, not shape {array.shape}")
    counts = np.zeros(bins, dtype=np.int64)
    for start in range(0, len(array), _BLOCK):
        block = np.asarray(array[start:start + _BLOCK], dtype=np.float64)
        if not np.all((block >= 0) & (block <= 1)):
            raise ValueError("EHS values must lie in 0 to 1")
        counts += np.bincount(np.minimum((block * bins).astype(np.int64), bins - 1), minlength=bins)
    return counts / counts.sum()


def plot_strength(
    tables: Mapping[str, npt.ArrayLike], path: str | os.PathLike[str], *, bins: int = 50,
    title: str | None = None,
) -> None:
    """plot_strength(tables, path, *, bins=50, title=None): the EHS distribution of each street as a PNG.

    tables maps a street's name to its EHS table (for example the arrays of
    numpy.load("flop_ehs.npy", mmap_mode="r")): one line per street, the share
    of canonical states in each of `bins` equal bins of [0, 1]. Raises
    ValueError for an empty mapping or a table that is not a 1-D array of
    values in 0 to 1, ImportError (saying how to install it) without matplotlib.
    """
    if not tables:
        raise ValueError("tables is empty: give one or more streets' EHS tables")
    if not isinstance(bins, int) or bins < 1:
        raise ValueError(f"bins must be an integer of at least 1, not {bins!r}")
    require_matplotlib()
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    shares = {name: _shares(values, bins) for name, values in tables.items()}
    centres = (np.arange(bins) + 0.5) / bins
    figure, axes = plt.subplots(figsize=(8, 4.5), dpi=100)
    try:
        for name, share in shares.items():
            axes.step(centres, share, where="mid", label=name)
        axes.set_xlim(0, 1)
        axes.set_xlabel("EHS (equity against a random hand)")
        axes.set_ylabel("share of canonical states")
        axes.set_title(title or "Hand strength of every canonical state, by street")
        axes.legend()
        axes.grid(alpha=0.3)
        figure.tight_layout()
        figure.savefig(os.fspath(path), format="png")
    finally:
        plt.close(figure)
