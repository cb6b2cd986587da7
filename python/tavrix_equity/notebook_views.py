"""HTML views for Jupyter: ranges and grids as coloured 13 x 13 charts, results as small tables.

Plain HTML with inline styles, so a notebook shows them with no extra package.
"""

from __future__ import annotations

import html
import math
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from tavrix_equity.ranges import HAND_CLASSES, grid_position

if TYPE_CHECKING:
    from tavrix_equity.distribution import EquityDistribution
    from tavrix_equity.range_breakdown import Breakdown
    from tavrix_equity.result import EquityResult

__all__ = ["HandGrid", "grid_html", "result_html", "breakdown_html", "distribution_html"]

_NAMES = [["" for _ in range(13)] for _ in range(13)]
for _name in HAND_CLASSES:
    _row, _column = grid_position(_name)
    _NAMES[_row][_column] = _name
del _name, _row, _column

_TABLE = 'style="border-collapse:collapse;font-family:sans-serif;font-size:11px"'
_CELL = "padding:2px 4px;border:1px solid #fff;text-align:center;min-width:34px"


def _colour(value: float) -> str:
    """White (0) to a deep green (1); grey for NaN."""
    if not math.isfinite(value):
        return "#d0d0d0"
    v = min(max(value, 0.0), 1.0)
    red, green, blue = (int(round(255 + (target - 255) * v)) for target in (26, 133, 70))
    return f"#{red:02x}{green:02x}{blue:02x}"


def _value_text(value: float, as_percent: bool) -> str:
    if not math.isfinite(value):
        return ""
    return f"{100 * value:.0f}%" if as_percent else f"{value:.3g}"


def grid_html(grid: npt.ArrayLike, caption: str | None = None, *, blank_zero: bool = False) -> str:
    """A 13 x 13 chart (rows and columns A to 2) as an HTML table: class names and values, coloured.

    blank_zero leaves cells of value 0 without a number (a range's classes it does not hold).
    """
    values = np.asarray(grid, dtype=np.float64)
    finite = values[np.isfinite(values)]
    as_percent = bool(np.all((finite >= 0.0) & (finite <= 1.0)))
    low, high = (0.0, 1.0) if as_percent or not finite.size else (float(finite.min()), float(finite.max()))
    rows = []
    for r in range(13):
        cells = []
        for c in range(13):
            value = float(values[r, c])
            scaled = (value - low) / (high - low) if high > low else 1.0
            dark = math.isfinite(value) and scaled > 0.55
            cells.append(
                f'<td style="{_CELL};background:{_colour(scaled)};color:{"#fff" if dark else "#000"}">'
                f"<b>{_NAMES[r][c]}</b><br>{'' if blank_zero and value == 0 else _value_text(value, as_percent)}</td>"
            )
        rows.append("<tr>" + "".join(cells) + "</tr>")
    title = f"<caption>{html.escape(caption)}</caption>" if caption else ""
    return f"<table {_TABLE}>{title}{''.join(rows)}</table>"


def _table(header: list[str], rows: list[list[str]], caption: str = "") -> str:
    head = "".join(f'<th style="padding:2px 8px;text-align:left">{html.escape(h)}</th>' for h in header)
    body = "".join(
        "<tr>" + "".join(f'<td style="padding:2px 8px">{html.escape(cell)}</td>' for cell in row) + "</tr>"
        for row in rows
    )
    title = f"<caption>{html.escape(caption)}</caption>" if caption else ""
    return f'<table style="font-family:sans-serif;font-size:12px">{title}<tr>{head}</tr>{body}</table>'


def _percent(value: float) -> str:
    return f"{100 * value:.2f}%" if math.isfinite(value) else "–"


def result_html(result: EquityResult) -> str:
    how = "exact" if result.exact else f"Monte Carlo, seed {result.seed}"
    players = result.players or tuple(str(i) for i in range(len(result.equity)))
    rows = [[name, _percent(w), _percent(t), _percent(e)]
            for name, w, t, e in zip(players, result.win, result.tie, result.equity)]
    boards = f"{result.boards:,}" if isinstance(result.boards, int) else f"{result.boards:,.6g}"
    return _table(["player", "win", "tie", "equity"], rows, f"{how}, {boards} boards")


def breakdown_html(b: Breakdown) -> str:
    header = ["class", "share"] + (["equity"] if b.equity is not None else [])
    rows = []
    for name, share in b.shares.items():
        if share == 0.0:
            continue
        row = [name, _percent(share)]
        if b.equity is not None:
            row.append(_percent(b.equity[name]))
        rows.append(row)
    against = f" against {b.vs}" if b.vs is not None else ""
    return _table(header, rows, f"{b.range} on {b.board}{against}")


def distribution_html(d: EquityDistribution) -> str:
    rows = [[bucket, _percent(d.hero.buckets[bucket]), _percent(d.villain.buckets[bucket])]
            for bucket in d.hero.buckets]
    rows.append(["mean equity", _percent(d.hero.mean_equity), _percent(d.villain.mean_equity)])
    return _table(["equity", "hero", "villain"], rows, f"{d.hero.range} vs {d.villain.range} on {d.board or '(none)'}")


class HandGrid(np.ndarray):
    """A 13 x 13 float64 chart that a notebook shows as a coloured grid; otherwise a plain array.

    Anything taken from it that is not a whole chart (a row, a cell, a sum)
    is a plain ndarray or scalar again.
    """

    def __array_wrap__(self, array: Any, context: Any = None, return_scalar: bool = False) -> Any:
        if array.shape == (13, 13) and array.dtype.kind == "f":
            return super().__array_wrap__(array, context, return_scalar)
        plain = np.asarray(array)
        return plain[()] if return_scalar or plain.ndim == 0 else plain

    def __getitem__(self, key: Any) -> Any:
        item = super().__getitem__(key)
        if isinstance(item, np.ndarray) and item.shape != (13, 13):
            return item.view(np.ndarray)
        return item

    def __repr__(self) -> str:
        return repr(np.asarray(self))

    def _repr_html_(self) -> str | None:
        if self.shape != (13, 13):
            return None
        return grid_html(np.asarray(self))


def as_hand_grid(values: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
    """The same numbers, viewed as a HandGrid."""
    grid: npt.NDArray[np.float64] = values.view(HandGrid)
    return grid
