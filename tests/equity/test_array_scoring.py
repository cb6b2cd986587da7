"""Card text, categories and array scoring against the tavrix module."""

import random

import numpy as np
import pytest

import tavrix
from tavrix_equity import (
    CATEGORY_NAMES, category, category_name, format_cards, parse_cards, score_cards, score_words,
)

Hand = tavrix.poker_hand.Hand


@pytest.mark.parametrize("text, cards", [
    ("AsKs", (51, 47)), ("As Ks", (51, 47)), ("as, kd,10c", (51, 45, 32)), ("", ()), (" ,\t", ()),
    ("2c3D\nTh", (0, 5, 34)),
])
def test_parse_cards(text, cards):
    assert parse_cards(text) == cards
    assert parse_cards(format_cards(cards)) == cards


@pytest.mark.parametrize("text, message", [
    ("AsXs", "unknown card 'Xs' in 'AsXs'"), ("AsAs", "duplicate card As"), ("As K", "unknown card 'K' in 'As K'"),
    ("1c", "unknown card '1c'"),
])
def test_parse_cards_errors(text, message):
    with pytest.raises(ValueError, match=message):
        parse_cards(text)


def test_format_cards_and_categories():
    assert format_cards((51, 47)) == "AsKs" and format_cards(np.array([0, 34])) == "2cTh"
    for bad in (52, -1):
        with pytest.raises(ValueError):
            format_cards((bad,))
    assert category(32777) == 8 and category_name(32777) == "straight flush" and CATEGORY_NAMES[1] == "one pair"
    assert category_name(0) == "high card" and category(36863) == 8
    for bad in (-1, 36864):
        with pytest.raises(ValueError):
            category(bad)


def random_rows(count, width, seed):
    rng = random.Random(seed)
    return np.array([rng.sample(range(52), width) for _ in range(count)], dtype=np.int64).reshape(count, width)


@pytest.mark.parametrize("width", range(8))
def test_scores_match_tavrix(width):
    rows = random_rows(300, width, width)
    expected = [tavrix.evaluate(Hand.from_bit_mask(sum(1 << int(c) for c in row))) for row in rows]
    scores = score_cards(rows)
    assert scores.dtype == np.uint16 and scores.shape == (300,) and scores.tolist() == expected
    assert score_cards(rows.astype(np.uint8).tolist()).tolist() == expected
    hands = [Hand.from_bit_mask(sum(1 << int(c) for c in row)) for row in rows]
    keys = np.array([h.key for h in hands], dtype=np.uint64)
    masks = np.array([h.mask for h in hands], dtype=np.uint64)
    assert score_words(keys, masks).tolist() == tavrix.evaluate_list([(h.key, h.mask) for h in hands])


@pytest.mark.parametrize("cards, message", [
    ([[0, 1], [2, 2]], "row 1: card index 2 appears twice"),
    ([[0, 1], [2, 52]], "row 1: card index 52 is outside"),
    ([[0, 1], [-3, 4], [9, 9]], "row 1: card index -3 is outside"),
    ([[0, 1], [2]], "row 1"),
    ([0, 1, 2], "2-D"),
    (np.zeros((1, 8), np.int64), "at most 7"),
    (np.array([[2**64 - 1]], dtype=np.uint64), "row 0"),
])
def test_bad_rows_are_named(cards, message):
    with pytest.raises(ValueError, match=message):
        score_cards(cards)


def test_bad_words_are_refused_by_position():
    with pytest.raises(ValueError, match="differ in length"):
        score_words(np.zeros(3, np.uint64), np.zeros(2, np.uint64))
    keys = np.array([Hand().key, 0xFFFF_FFFF], dtype=np.uint64)  # rank key past every row
    with pytest.raises(ValueError, match="position 1"):
        score_words(keys, np.zeros(2, np.uint64))


def test_the_first_bad_row_is_named_when_large_arrays_are_split_over_threads():
    rows = np.tile(np.arange(7, dtype=np.uint8), (300_000, 1))
    rows[250_000, 3] = 60
    rows[70_000, 1] = 0
    with pytest.raises(ValueError, match="row 70000: card index 0 appears twice"):
        score_cards(rows)
    rows[70_000, 1] = 1
    with pytest.raises(ValueError, match="row 250000: card index 60 is outside"):
        score_cards(rows.astype(np.int64))
