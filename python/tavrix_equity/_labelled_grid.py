"""A 13 x 13 equity grid that remembers what it was computed against.

hand_grid returns one, so that plot_grid can title the chart with the range
and the board without being told again. It is an ordinary float64 array in
every other way; arrays derived from it (slices, arithmetic) carry no label,
since they no longer show that equity.
"""

from __future__ import annotations

from typing import Any

import numpy as np
import numpy.typing as npt

from tavrix_equity._messages import quoted
from tavrix_equity.all_in import NoDealError
from tavrix_equity.cards import format_cards
from tavrix_equity.notebook_views import HandGrid, grid_html
from tavrix_equity.ranges import Range

__all__ = ["LabelledGrid", "finished_grid", "grid_title"]


class LabelledGrid(HandGrid):
    """A float64 (13, 13) array with the opponent's text `vs` and the `board`;
    a notebook shows it as a coloured chart under that title."""

    vs: str | None
    board: str

    @classmethod
    def of(cls, values: npt.NDArray[np.float64], vs: str, board: str) -> LabelledGrid:
        grid = np.asarray(values, dtype=np.float64).view(cls)
        grid.vs, grid.board = vs, board
        return grid

    def __array_finalize__(self, obj: object) -> None:
        self.vs, self.board = None, ""

    def _repr_html_(self) -> str | None:
        if self.shape != (13, 13):
            return None
        return grid_html(np.asarray(self), grid_title(self.vs, self.board) if self.vs is not None else None)

    def __reduce__(self) -> Any:
        # Pickled as the plain array it is: the label is for drawing only.
        return np.asarray(self).__reduce__()


def grid_title(vs: str, board: str) -> str:
    """The chart title of an equity grid: the range (or hand) and the board."""
    return f"equity against {vs}" + (f" on {board}" if board else "")


def _label(vs: object) -> str:
    if isinstance(vs, str):
        return vs.strip()
    if isinstance(vs, Range):
        return str(vs)
    try:
        return format_cards(vs)  # type: ignore[arg-type]
    except (TypeError, ValueError):
        return str(vs)


def finished_grid(grid: npt.NDArray[np.float64], vs: object, board: tuple[int, ...]) -> LabelledGrid:
    """hand_grid's result: refused when no cell has a deal (an all-grey chart
    would pass for an answer), else labelled with `vs` and the board."""
    label = _label(vs)
    if np.isnan(grid).all():
        raise NoDealError(f"no starting-hand class has a possible deal against {quoted(label)} "
                          "with this board and these dead cards")
    return LabelledGrid.of(grid, label, format_cards(board))
