"""The result of an equity run."""

from __future__ import annotations

from dataclasses import dataclass

__all__ = ["EquityResult"]


@dataclass(frozen=True, slots=True)
class EquityResult:
    """Per-player shares of the boards counted, in the order the players were given.

    equity: the player's share of the pot, each board split equally among the
        players with the best score (sums to 1 over the players).
    win: share of boards where the player alone has the best score.
    tie: share of boards where the player shares the best score with others.
    wins, ties: the same as board counts (ints for hands; sums of deal weights,
        floats, when a player is a range).
    std_error: Monte Carlo only: the sample standard deviation of the player's
        per-board share divided by sqrt(trials); 0.0 when exact.
    boards: boards counted: every completion (exact) or the trials.
    exact: whether every completion was counted.
    players: each player as text (a hand such as "AsKs", or a range).
    seed: the Monte Carlo seed (given or drawn), None when exact.
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

    def __repr__(self) -> str:
        shares = ", ".join(
            f"{name or i}: {100 * e:.3f}%" + ("" if self.exact else f" ± {100 * s:.3f}")
            for i, (name, e, s) in enumerate(zip(self.players or ("",) * len(self.equity), self.equity, self.std_error))
        )
        how = "exact" if self.exact else f"Monte Carlo, seed {self.seed}"
        boards = f"{self.boards:,}" if isinstance(self.boards, int) else f"{self.boards:,.6g}"
        return f"EquityResult({shares}; {how}, {boards} boards)"

    def _repr_html_(self) -> str:
        from tavrix_equity.notebook_views import result_html

        return result_html(self)

    def as_dict(self) -> dict[str, object]:
        """The result as plain JSON-ready values."""
        return {field: getattr(self, field) for field in self.__dataclass_fields__}
