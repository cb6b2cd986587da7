"""The result of an equity run."""

from __future__ import annotations

from dataclasses import dataclass

__all__ = ["EquityResult", "count_text"]


def count_text(count: int | float) -> str:
    """A board count for people: an integer with thousands separators, a
    weighted sum to three decimals at most (never in scientific notation)."""
    if isinstance(count, int) or float(count).is_integer():
        return f"{int(count):,}"
    return f"{count:,.3f}".rstrip("0").rstrip(".")


@dataclass(frozen=True, slots=True)
class EquityResult:
    """Per-player shares of the boards counted, in the order the players were given.

    equity: the player's share of the pot, each board split equally among the
        players with the best score (sums to 1 over the players).
    win: share of boards where the player alone has the best score.
    tie: share of boards where the player shares the best score with others.
    wins, ties: the same as board counts (ints for hands and for Monte Carlo;
        sums of deal weights, floats, when a player is a range and every
        deal is counted exactly).
    std_error: Monte Carlo only: the sample standard deviation of the player's
        per-board share divided by sqrt(trials); 0.0 when exact.
    boards: boards counted: every completion (exact; a float sum of deal
        weights with ranges) or the trials (an int).
    exact: whether every completion was counted.
    players: each player as text (a hand such as "AsKs", or a range).
    seed: the Monte Carlo seed (given or drawn), None when exact.
    high_wins, high_ties, low_wins, low_ties: high-low games only (else
        None): the (weighted) number of boards on which the player alone has,
        or shares, the best high and the best qualifying low.
    scoops: high-low games only: boards on which the player takes the whole
        pot. In those games wins and ties count the boards where the player
        takes the whole pot and a part of it.
    """

    equity: tuple[float, ...]
    win: tuple[float, ...]
    tie: tuple[float, ...]
    wins: tuple[int | float, ...]
    ties: tuple[int | float, ...]
    std_error: tuple[float, ...]
    boards: int | float
    exact: bool
    players: tuple[str, ...] = ()
    seed: int | None = None
    high_wins: tuple[int | float, ...] | None = None
    high_ties: tuple[int | float, ...] | None = None
    low_wins: tuple[int | float, ...] | None = None
    low_ties: tuple[int | float, ...] | None = None
    scoops: tuple[int | float, ...] | None = None

    def __repr__(self) -> str:
        shares = ", ".join(
            f"{name or i}: {100 * e:.3f}%" + ("" if self.exact else f" ± {100 * s:.3f}")
            for i, (name, e, s) in enumerate(zip(self.players or ("",) * len(self.equity), self.equity, self.std_error))
        )
        how = "exact" if self.exact else f"Monte Carlo, seed {self.seed}"
        boards = "board" if self.boards == 1 else "boards"
        return f"EquityResult({shares}; {how}, {count_text(self.boards)} {boards})"

    def _repr_html_(self) -> str:
        from tavrix_equity.notebook_views import result_html

        return result_html(self)

    def as_dict(self) -> dict[str, object]:
        """The result as plain JSON-ready values."""
        return {field: getattr(self, field) for field in self.__dataclass_fields__}
