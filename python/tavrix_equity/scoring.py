"""Scoring whole arrays safely: rows of card indices, or pairs of hand words.

Both refuse what would score meaninglessly (a card twice, an index outside the
deck, words outside the tables) with a ValueError that names the row or the
position, instead of returning a wrong score.
"""

from __future__ import annotations

import threading
from collections.abc import Sequence
from typing import Any, cast

import numpy as np
import numpy.typing as npt

from tavrix_equity import _engine
from tavrix_equity._cancel import checked_cancel
from tavrix_equity.all_in import default_threads
from tavrix_equity.cards import positive_int

__all__ = ["score_cards", "score_words"]

MAX_HAND_CARDS = 7


def _ragged_row(cards: object) -> int | None:
    """The first row of a nested sequence whose length differs from row 0's."""
    if not isinstance(cards, Sequence):
        return None
    lengths = [len(row) if isinstance(row, Sequence) else -1 for row in cards]
    return next((i for i, n in enumerate(lengths) if n != lengths[0]), None)


def _integer_array(values: object, what: str) -> npt.NDArray[np.integer[Any]]:
    if isinstance(values, np.ma.MaskedArray):
        # np.asarray drops the mask: masked entries would be scored as data.
        raise TypeError(f"{what} must not be a masked array: fill or drop the masked entries first")
    try:
        array = np.asarray(values)
    except (ValueError, OverflowError) as error:
        raise ValueError(f"{what} must be a rectangular array of integers: {error}") from None
    if array.size == 0 and array.dtype.kind in "fO":
        return array.astype(np.int64)
    if array.dtype.kind == "O":
        raise ValueError(f"{what} must be integers below 2**64, not Python objects of other kinds or sizes")
    if array.dtype.kind not in "iu":
        raise TypeError(f"{what} must be integers, not {array.dtype}")
    return cast("npt.NDArray[np.integer[Any]]", array)


def _threads(threads: object, default: int) -> int:
    return default if threads is None else min(positive_int(threads, "threads"), 1024)


def score_cards(
    cards: npt.ArrayLike, *, threads: int | None = None, cancel: threading.Event | None = None,
) -> npt.NDArray[np.uint16]:
    """score_cards(cards, *, threads=None, cancel=None) -> uint16 array of shape (n,).

    `cards` is an (n, k) integer array or nested sequence, 0 <= k <= 7, each
    row distinct card indices 0 to 51. Row i's score equals
    tavrix.evaluate(Hand.from_bit_mask(...)) of that row's cards. A bad row
    (a duplicate or out-of-range card) or a bad shape is a ValueError that
    names the row. A numpy masked array is a TypeError (its mask would be
    ignored). threads=None uses every core. cancel: a threading.Event that
    stops the call once set (concurrent.futures.CancelledError).
    """
    checked_cancel(cancel)
    thread_count = _threads(threads, default_threads())
    try:
        array = _integer_array(cards, "cards")
    except ValueError:
        row = _ragged_row(cards)
        if row is not None:
            raise ValueError(f"row {row}: it holds a different number of cards from row 0") from None
        raise
    if array.ndim == 1 and array.size == 0:
        array = array.reshape(0, 0)
    if array.ndim != 2:
        raise ValueError(f"cards must be a 2-D array of shape (n, k), not shape {array.shape}")
    if array.shape[1] > MAX_HAND_CARDS:
        raise ValueError(f"rows hold at most {MAX_HAND_CARDS} cards, not {array.shape[1]}")
    if array.dtype == np.uint64 and array.size and int(array.max()) > np.iinfo(np.int64).max:
        row = int(np.argmax((array > np.iinfo(np.int64).max).any(axis=1)))
        raise ValueError(f"row {row}: card index {int(array[row].max())} is outside 0 to 51")
    # uint8 is read as it is (the compact form); everything else as int64.
    if array.dtype == np.uint8:
        return _engine.score_card_rows(np.ascontiguousarray(array, dtype=np.uint8), thread_count, cancel)
    return _engine.score_card_rows(np.ascontiguousarray(array, dtype=np.int64), thread_count, cancel)


def _word_array(values: npt.ArrayLike, what: str) -> npt.NDArray[np.uint64]:
    array = _integer_array(values, what)
    if array.ndim != 1:
        raise ValueError(f"{what} must be a 1-D array, not shape {array.shape}")
    if array.dtype.kind == "i" and array.size and int(array.min()) < 0:
        raise ValueError(f"{what} must not be negative: position {int(np.argmax(array < 0))}")
    return np.ascontiguousarray(array, dtype=np.uint64)


def score_words(
    keys: npt.ArrayLike, masks: npt.ArrayLike, *, threads: int | None = None, cancel: threading.Event | None = None,
) -> npt.NDArray[np.uint16]:
    """score_words(keys, masks, *, threads=None, cancel=None) -> uint16 array of the scores of the hand words.

    `keys` and `masks` are equal-length arrays of uint64 hand words; each
    score equals tavrix.evaluate_list of the (key, mask) pair. A pair whose
    words would read outside a lookup table is a ValueError naming its
    position. A numpy masked array is a TypeError. threads=None uses one
    thread: reading the words is memory-bound, and one thread does it about
    as fast as several. cancel: as in score_cards.
    """
    checked_cancel(cancel)
    thread_count = _threads(threads, 1)
    key_array = _word_array(keys, "keys")
    mask_array = _word_array(masks, "masks")
    if key_array.shape != mask_array.shape:
        raise ValueError(f"keys and masks differ in length: {key_array.shape[0]} and {mask_array.shape[0]}")
    return _engine.score_word_pairs(key_array, mask_array, thread_count, cancel)
