"""Pictures of 13 x 13 starting-hand charts (range grids, equity grids).

matplotlib is an optional dependency, imported only when a picture is drawn.
"""

from __future__ import annotations

import os
from typing import TYPE_CHECKING

import numpy as np
import numpy.typing as npt

from ._files import atomic_output, check_output_path
from ._labelled_grid import LabelledGrid, grid_title
from .ranges import HAND_CLASSES, Range, grid_position

if TYPE_CHECKING:
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure

__all__ = ["plot_grid"]

_INSTALL_HINT = (
    "plot_grid needs matplotlib, which is not installed: "
    "install it with `pip install tavrix[plot]` (from a source tree, `pip install .[plot]`) "
    "or `pip install matplotlib`"
)

_CELL_NAMES = np.empty((13, 13), dtype=object)
for _name in HAND_CLASSES:
    _CELL_NAMES[grid_position(_name)] = _name
del _name


def require_matplotlib() -> None:
    """Raises plot_grid's ImportError (saying how to install it) when matplotlib is missing."""
    try:
        import matplotlib  # noqa: F401
    except ImportError as error:
        raise ImportError(_INSTALL_HINT) from error


def _value_text(value: float, as_percent: bool) -> str:
    if np.isnan(value):
        return ""
    if as_percent:
        return f"{100.0 * value:.1f}%"
    return f"{value:.3g}"


def _default_title(grid: object) -> str | None:
    if isinstance(grid, LabelledGrid) and grid.vs is not None:
        return grid_title(grid.vs, grid.board)
    if isinstance(grid, Range):
        return f"range {str(grid) or '(empty)'}"
    return None


def plot_grid(
    grid: npt.ArrayLike | Range, path: str | os.PathLike[str] | None = None, *,
    title: str | None = None, ax: Axes | None = None,
) -> Figure:
    """plot_grid(grid, path=None, *, title=None, ax=None) -> matplotlib Figure: a 13 x 13 chart as a heatmap.

    ``grid`` is any 13 x 13 array of numbers laid out like ``Range.grid()``
    (rows and columns A to 2, pairs on the diagonal, suited above, offsuit
    below), or a Range (its grid). Each cell shows its class name and value:
    as a percentage when every value lies in 0 to 1 (a range or an equity
    grid, coloured on the fixed scale 0 to 100 %), otherwise with three
    significant digits on the grid's own scale. NaN cells are grey and blank.

    ``title=None`` names what the grid shows when it knows: the range and the
    board of a ``hand_grid`` result, the text of a Range; ``title=""`` draws
    none. ``ax``: draw into these matplotlib Axes (and their figure) instead
    of a new figure. ``path``: also write the figure there as PNG. Returns the
    Figure. The PNG is written atomically (through a temporary file renamed
    over it). A new figure is made without pyplot, so the interactive
    backend and pyplot's figure list are left alone.

    Raises ValueError for a grid of another shape or a path that is not a
    regular file (a directory, device, FIFO or symlink), FileNotFoundError
    for a missing directory, and ImportError (saying how to install it) when
    matplotlib is missing.
    """
    if title is None:
        title = _default_title(grid)
    values = np.asarray(grid.grid() if isinstance(grid, Range) else grid, dtype=np.float64)
    if values.shape != (13, 13):
        raise ValueError(f"grid must have shape (13, 13), not {values.shape}")
    if path is not None:
        check_output_path(path, "path")
    try:
        # Figure with an explicit Agg canvas draws without pyplot, so the
        # user's interactive backend and figure list are left alone.
        from matplotlib import colormaps
        from matplotlib.backends.backend_agg import FigureCanvasAgg
        from matplotlib.colors import Normalize
        from matplotlib.figure import Figure
        from matplotlib.ticker import PercentFormatter
    except ImportError as error:
        raise ImportError(_INSTALL_HINT) from error

    finite = values[np.isfinite(values)]
    as_percent = bool(np.all((finite >= 0.0) & (finite <= 1.0)))
    if as_percent:
        low, high = 0.0, 1.0
    elif finite.size:
        low, high = float(finite.min()), float(finite.max())
    else:
        low, high = 0.0, 1.0
    if low == high:
        low, high = low - 0.5, high + 0.5
    norm = Normalize(vmin=low, vmax=high)
    cmap = colormaps["viridis"].with_extremes(bad="#d0d0d0")

    if ax is None:
        figure = Figure(figsize=(9.6, 8.4), dpi=100, layout="constrained")
        FigureCanvasAgg(figure)
        axes = figure.add_subplot()
    else:
        axes = ax
        parent = ax.figure
        # Axes of a SubFigure draw into (and are saved with) its root Figure.
        figure = parent if isinstance(parent, Figure) else parent.figure
    image = axes.imshow(np.ma.masked_invalid(values), cmap=cmap, norm=norm)
    colorbar = figure.colorbar(image, ax=axes, fraction=0.046, pad=0.02)
    if as_percent:
        colorbar.ax.yaxis.set_major_formatter(PercentFormatter(xmax=1.0))

    for (row, column), name in np.ndenumerate(_CELL_NAMES):
        value = float(values[row, column])
        if np.isfinite(value):
            red, green, blue, _ = cmap(norm(value))
            # Light text on dark cells, dark text on light ones.
            dark = 0.299 * red + 0.587 * green + 0.114 * blue < 0.5
            colour = "white" if dark else "black"
        else:
            colour = "#505050"
        text = _value_text(value, as_percent)
        axes.text(column, row - 0.17, name, ha="center", va="center", color=colour,
                  fontsize=8.5, fontweight="bold")
        axes.text(column, row + 0.2, text, ha="center", va="center", color=colour, fontsize=7)

    ranks = [name[0] for name in _CELL_NAMES.diagonal()]
    axes.set_xticks(range(13), ranks)
    axes.set_yticks(range(13), ranks)
    axes.tick_params(length=0, top=True, bottom=False, labeltop=True, labelbottom=False)
    axes.set_xticks(np.arange(-0.5, 13), minor=True)
    axes.set_yticks(np.arange(-0.5, 13), minor=True)
    axes.grid(which="minor", color="white", linewidth=1.0)
    axes.tick_params(which="minor", length=0)
    if title:
        axes.set_title(title, fontsize=13, pad=12)
    if path is not None:
        with atomic_output(path, "path") as stream:
            figure.savefig(stream, format="png")
    return figure
