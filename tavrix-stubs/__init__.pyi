# Types of the tavrix extension module, for type checkers (PEP 561).
import builtins
from collections.abc import Sequence
from typing import SupportsIndex

from . import poker_hand as poker_hand
from .poker_hand import Hand

__all__ = ["evaluate", "evaluate_list", "poker_hand"]

def evaluate(hand: Hand) -> int:
    """The 16-bit score of `hand`; `score >> 12` is its category."""

def evaluate_list(list: Sequence[tuple[SupportsIndex, SupportsIndex]]) -> builtins.list[int]:
    """The scores of a batch of (key, mask) pairs, in order.

    Every pair is converted before any is scored: a bad item raises and
    nothing is scored. A `str` is refused."""
