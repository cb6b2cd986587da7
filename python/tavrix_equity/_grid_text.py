"""A 13 x 13 equity grid as text for people, as JSON and as CSV for programs."""

from __future__ import annotations

import csv
import io
import json
import math

import numpy as np
import numpy.typing as npt

from tavrix_equity.cards import CARD_RANKS
from tavrix_equity.ranges import HAND_CLASSES, grid_position

__all__ = ["grid_csv", "grid_json", "grid_table"]

_RANKS = CARD_RANKS[::-1]  # the chart's rows and columns run A to 2


def grid_table(grid: npt.NDArray[np.float64]) -> str:
    """Equity in percent, rows and columns A to 2 as in the chart; '-' where no deal is possible."""
    lines = ["     " + "".join(f"{rank:>6}" for rank in _RANKS)]
    for row, rank in enumerate(_RANKS):
        cells = ("     -" if math.isnan(v) else f"{100 * v:6.1f}" for v in grid[row])
        lines.append(f"{rank:>5}" + "".join(cells))
    return "\n".join(lines)


def _value(value: float) -> float | None:
    # Strict JSON has no NaN: a cell with no possible deal is null.
    return None if math.isnan(value) else float(value)


def grid_json(grid: npt.NDArray[np.float64], **fields: object) -> str:
    """One JSON object: the given fields, "grid" (13 rows of 13, null where no
    deal is possible) and "classes" (each class name to its equity)."""
    return json.dumps({
        **fields,
        "grid": [[_value(v) for v in row] for row in grid],
        "classes": {name: _value(grid[grid_position(name)]) for name in HAND_CLASSES},
    }, allow_nan=False)


def grid_csv(grid: npt.NDArray[np.float64]) -> str:
    """A header row "class,equity" then one row per class in HAND_CLASSES
    order; the equity is empty where no deal is possible."""
    buffer = io.StringIO()
    writer = csv.writer(buffer, lineterminator="\n")
    writer.writerow(["class", "equity"])
    for name in HAND_CLASSES:
        value = grid[grid_position(name)]
        writer.writerow([name, "" if math.isnan(value) else repr(float(value))])
    return buffer.getvalue()
