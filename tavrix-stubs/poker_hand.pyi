# `poker_hand` is an attribute of the tavrix module, not an importable
# submodule: write `from tavrix import poker_hand`, never `import tavrix.poker_hand`.
from typing import SupportsIndex, final

__all__ = ["Hand", "get_cards"]

@final
class Hand:
    """A hand as two 64-bit words: `key` (rank key, card count, suit
    counters) and `mask` (one bit per card, one 16-bit group per suit)."""

    def __init__(self) -> None:
        """The empty hand (biased: every suit counter starts at 3)."""

    @staticmethod
    def from_hole_cards(c1: SupportsIndex, c2: SupportsIndex) -> Hand:
        """The unbiased hand of two cards 0..51, made to be added to a biased hand."""

    @staticmethod
    def from_bit_mask(mask: SupportsIndex) -> Hand:
        """The biased hand of the cards whose bits are set (bit j = card j)."""

    def get_key(self) -> int: ...
    def get_mask(self) -> int: ...
    def get_rank_key(self) -> int:
        """The low 32 bits of `key`."""

    def get_counters(self) -> int:
        """`key >> 32`: the card counter and the four suit counters."""

    def get_flush_key(self) -> int:
        """The ranks of the flush suit as a 13-bit set, 0 without a flush."""

    def has_flush(self) -> bool: ...
    def count(self) -> int:
        """The number of cards, modulo 16."""

    def suit_count(self, suit: SupportsIndex) -> int:
        """Cards of `suit` (0..3) in a biased hand; 3 less in an unbiased one."""

    @property
    def key(self) -> int: ...
    @key.setter
    def key(self, value: SupportsIndex, /) -> None: ...
    @property
    def mask(self) -> int: ...
    @mask.setter
    def mask(self, value: SupportsIndex, /) -> None: ...

def get_cards() -> list[Hand]:
    """A new list of the 52 unbiased single-card hands; element i is card i."""
