"""HandIndexer: canonical state indices, checked against a brute-force canonical form."""

import itertools

import numpy as np
import pytest

from tavrix_equity import HandIndexer, parse_cards

SIZES = {"preflop": 169, "flop": 1_286_792, "turn": 55_190_538, "river": 2_428_287_420}
# Where each round's cards sit in a row.
ROUND_COLUMNS = {
    "preflop": [(0, 2)], "flop": [(0, 2), (2, 5)], "turn": [(0, 2), (2, 5), (5, 6)],
    "river": [(0, 2), (2, 5), (5, 6), (6, 7)],
}
SUIT_PERMUTATIONS = np.array(list(itertools.permutations(range(4))))


def permute_suits(cards, permutation):
    return (cards // 4 * 4 + permutation[cards % 4]).astype(np.uint8)


def canonical_codes(cards, round):
    """The least encoding of the rows over all 24 suit permutations, each
    round's cards sorted: equal exactly for states equal up to suits."""
    best = None
    for permutation in SUIT_PERMUTATIONS:
        mapped = permute_suits(cards, permutation).astype(np.int64)
        code = np.zeros(len(cards), dtype=np.int64)
        for first, last in ROUND_COLUMNS[round]:
            for column in np.sort(mapped[:, first:last], axis=1).T:
                code = code * 52 + column
        best = code if best is None else np.minimum(best, code)
    return best


def random_states(round, count, seed):
    rng = np.random.default_rng(seed)
    return np.argsort(rng.random((count, 52)), axis=1)[:, :HandIndexer(round).cards].astype(np.uint8)


@pytest.mark.parametrize("round, size", SIZES.items())
def test_sizes_and_text(round, size):
    indexer = HandIndexer(round)
    assert indexer.size == size and isinstance(indexer.size, int) and indexer.round == round
    assert repr(indexer) == f"HandIndexer({round!r}, size={size:,})"
    with pytest.raises(AttributeError):
        indexer.size = 3


@pytest.mark.parametrize("round", ["preflop", "flop"])
def test_every_state_of_small_rounds(round):
    indexer = HandIndexer(round)
    everything = np.arange(indexer.size, dtype=np.uint64)
    states = indexer.unindex(everything)
    assert states.dtype == np.uint8 and states.shape == (indexer.size, indexer.cards)
    assert states.max() < 52 and all(len(set(row)) == indexer.cards for row in states[:: max(1, indexer.size // 5000)])
    np.testing.assert_array_equal(indexer.index(states), everything)
    # Pairwise inequivalent representatives, so size is the number of canonical states.
    assert len(np.unique(canonical_codes(states, round))) == indexer.size


@pytest.mark.parametrize("round", ["turn", "river"])
def test_random_states_of_large_rounds(round):
    indexer = HandIndexer(round)
    states = random_states(round, 20_000, seed=len(round))
    indices = indexer.index(states)
    assert indices.dtype == np.uint64 and int(indices.max()) < indexer.size
    back = indexer.unindex(indices)
    np.testing.assert_array_equal(indexer.index(back), indices)
    np.testing.assert_array_equal(canonical_codes(back, round), canonical_codes(states, round))
    # Suits relabelled and cards reordered within each round: the same state.
    rng = np.random.default_rng(7)
    shuffled = permute_suits(states, SUIT_PERMUTATIONS[rng.integers(24)])
    for first, last in ROUND_COLUMNS[round]:
        shuffled[:, first:last] = rng.permuted(shuffled[:, first:last], axis=1)
    np.testing.assert_array_equal(indexer.index(shuffled), indices)
    # Distinct canonical states, distinct indices.
    codes = canonical_codes(states, round)
    assert len(np.unique(indices)) == len(np.unique(codes))
    random_indices = rng.integers(0, indexer.size, 20_000, dtype=np.uint64)
    np.testing.assert_array_equal(indexer.index(indexer.unindex(random_indices)), random_indices)


@pytest.mark.parametrize("round, text, index", [
    ("preflop", "2c2d", 0), ("preflop", "AsAh", 90), ("preflop", "3d2c", 1), ("preflop", "KhAh", 168),
    ("flop", "AsKsQsJsTs", 1_286_791), ("flop", "2c2d2h3c3d", 461_032),
    ("turn", "AcKdQhJs9c8d", 15_422_718), ("river", "AcKdQhJs9c8d7h", 566_646_466),
])
def test_pinned_numbering(round, text, index):
    indexer = HandIndexer(round)
    assert indexer.index(parse_cards(text)) == index
    assert indexer.index(indexer.unindex(index)) == index


def test_representatives_and_input_forms():
    preflop = HandIndexer("preflop")
    np.testing.assert_array_equal(preflop.unindex([0, 90, 168]), [[0, 1], [48, 49], [44, 48]])
    listed = [list(parse_cards("AsKd")), list(parse_cards("7h7c"))]
    expected = preflop.index(np.array(listed, dtype=np.uint8))
    for form in (listed, np.array(listed, dtype=np.int16), np.array(listed, dtype=np.uint64)):
        np.testing.assert_array_equal(preflop.index(form), expected)
    assert preflop.index(np.empty((0, 2), np.uint8)).shape == (0,)
    assert preflop.unindex([]).shape == (0, 2)


@pytest.mark.parametrize("round, cards, message", [
    ("preflop", [[0, 1], [5, 5]], "row 1: card index 5 appears twice"),
    ("preflop", [[0, 1], [2, 3], [4, 52]], "row 2: card index 52 is outside 0 to 51"),
    ("flop", [[0, 1, 2, 3, -1]], "row 0: card index -1 is outside 0 to 51"),
    ("flop", np.array([[0, 1, 2, 3, 2**63]], dtype=np.uint64), "row 0: card index 9223372036854775808"),
    ("flop", [[0, 1, 2, 3, 4], [0, 1, 2, 3]], "row 1: it holds 4 cards; a flop state holds 5"),
    ("river", np.zeros((3, 6), np.uint8), "row 0: it holds 6 cards; a river state holds 7"),
    ("turn", np.zeros((2, 3, 6), np.uint8), r"2-D array of shape \(n, 6\)"),
])
def test_bad_rows(round, cards, message):
    with pytest.raises(ValueError, match=message):
        HandIndexer(round).index(cards)


@pytest.mark.parametrize("indices, message", [
    ([0, 169], r"index 169 at position 1 is outside \[0, 169\)"),
    ([3, -1], r"index -1 at position 1 is outside \[0, 169\)"),
    ([[1]], "1-D array"),
])
def test_bad_indices(indices, message):
    with pytest.raises(ValueError, match=message):
        HandIndexer("preflop").unindex(indices)


@pytest.mark.parametrize("round", ["Flop", "showdown", 3])
def test_unknown_round(round):
    with pytest.raises(ValueError, match="unknown round"):
        HandIndexer(round)
