"""The equity distribution chart: both players' combos sorted by equity, against the share of their range."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

from tavrix_equity.distribution import EquityDistribution
from tavrix_equity.plot import require_matplotlib

if TYPE_CHECKING:
    from matplotlib.figure import Figure

__all__ = ["plot_equity_distribution", "new_axes"]


def new_axes(ax: Any, size: tuple[float, float]) -> tuple[Figure, Any]:
    """`ax` and its figure, or a new figure (on an Agg canvas, leaving pyplot alone) with one axes."""
    require_matplotlib()
    if ax is not None:
        # The top-level Figure, also when `ax` sits in a subfigure.
        return ax.get_figure(root=True), ax
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    figure = Figure(figsize=size, dpi=100, layout="constrained")
    FigureCanvasAgg(figure)
    return figure, figure.add_subplot()


def plot_equity_distribution(dist: EquityDistribution, *, ax: Any = None) -> Figure:
    """plot_equity_distribution(dist, *, ax=None) -> matplotlib Figure

    Draws each player's combos from the highest equity to the lowest: the
    share of the range (0 to 1, weighted) along the x axis, the equity on the
    y axis, one curve per player, with the bucket bounds 1/3, 1/2 and 3/4
    marked. Draws into `ax` when given (and returns its figure).
    """
    if not isinstance(dist, EquityDistribution):
        raise TypeError(f"dist must be an EquityDistribution, not {type(dist).__name__}")
    from matplotlib.ticker import PercentFormatter

    figure, axes = new_axes(ax, (7.5, 4.8))
    for side, label, colour in ((dist.hero, "hero", "#1a8546"), (dist.villain, "villain", "#b03a2e")):
        share = side.range_share
        # Each combo covers its slice of the range: a step from the share before it to its own.
        x = [0.0]
        y = [float(side.equity[0])] if len(side.equity) else [0.0]
        for s, e in zip(share, side.equity):
            x += [x[-1], float(s)]
            y += [float(e), float(e)]
        axes.plot(x[1:], y[1:], color=colour, linewidth=2,
                  label=f"{label}: {side.range} ({100 * side.mean_equity:.1f}%)")
    for bound in (1 / 3, 1 / 2, 3 / 4):
        axes.axhline(bound, color="#999999", linewidth=0.8, linestyle="--")
    axes.set_xlim(0, 1)
    axes.set_ylim(0, 1)
    axes.xaxis.set_major_formatter(PercentFormatter(xmax=1.0))
    axes.yaxis.set_major_formatter(PercentFormatter(xmax=1.0))
    axes.set_xlabel("share of range (strongest first)")
    axes.set_ylabel("equity")
    axes.set_title(f"equity distribution on {dist.board or 'no board'}")
    axes.legend(loc="upper right", fontsize=8)
    axes.grid(alpha=0.3)
    return figure
