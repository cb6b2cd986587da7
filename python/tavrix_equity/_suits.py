"""Suit symmetry of heads-up matchups.

Relabelling the four suits changes no hand's strength, so two matchups that
differ by a permutation of suits have the same counts. A matchup of combo a
against combo b is reduced to a canonical key: the smallest key over all 24
suit permutations, where a key orders the two combos so the matchup is taken
unordered. The matrix computes each key once.
"""

from __future__ import annotations

import itertools

import numpy as np
import numpy.typing as npt

__all__ = ["canonical_matchups", "matchup_cards"]

_DECK = 52
# A combo's code is high card * 52 + low card, so codes below 2704 name combos
# and a matchup key is (smaller code) * 2704 + (larger code).
_COMBO_CODES = _DECK * _DECK

# Row p maps every card to the card of the same rank in suit permutation p.
_CARD_MAPS = np.array(
    [[4 * (card // 4) + perm[card % 4] for card in range(_DECK)]
     for perm in itertools.permutations(range(4))],
    dtype=np.int64,
)


def _combo_codes(first: npt.NDArray[np.int64], second: npt.NDArray[np.int64]) -> npt.NDArray[np.int64]:
    return np.maximum(first, second) * _DECK + np.minimum(first, second)


def canonical_matchups(
    a: npt.ArrayLike, b: npt.ArrayLike
) -> tuple[npt.NDArray[np.int64], npt.NDArray[np.bool_]]:
    """canonical_matchups(a, b) -> (keys, a_first).

    a and b are (n, 2) arrays of card indices, row i being the matchup of combo
    a[i] against combo b[i] (no card shared). keys[i] is the canonical key of
    the unordered matchup; a_first[i] tells whether a[i] becomes the first
    combo of the canonical matchup (matchup_cards(keys)[i, :2]) under the
    permutation that gives the key. Where two permutations give the key with
    the combos in either place, both combos have the same counts and either
    answer is right.
    """
    a = np.asarray(a, dtype=np.int64).reshape(-1, 2)
    b = np.asarray(b, dtype=np.int64).reshape(-1, 2)
    best = np.full(len(a), np.iinfo(np.int64).max, dtype=np.int64)
    a_first = np.zeros(len(a), dtype=np.bool_)
    for card_map in _CARD_MAPS:
        code_a = _combo_codes(card_map[a[:, 0]], card_map[a[:, 1]])
        code_b = _combo_codes(card_map[b[:, 0]], card_map[b[:, 1]])
        key = np.minimum(code_a, code_b) * _COMBO_CODES + np.maximum(code_a, code_b)
        better = key < best
        best[better] = key[better]
        a_first[better] = code_a[better] < code_b[better]
    return best, a_first


def matchup_cards(keys: npt.ArrayLike) -> npt.NDArray[np.uint8]:
    """matchup_cards(keys) -> (m, 4) uint8 array of rows [x1, x2, y1, y2].

    The cards of each canonical matchup, the first combo's (high card first)
    then the second's: the row layout the engine's heads_up_counts takes.
    """
    keys = np.asarray(keys, dtype=np.int64)
    first, second = np.divmod(keys, _COMBO_CODES)
    return np.stack(
        [first // _DECK, first % _DECK, second // _DECK, second % _DECK], axis=1
    ).astype(np.uint8)
