"""Array helpers for simulations: random deals (sound rows, uniform, the same
for a seed whatever the threads) and categories of whole score arrays."""

import numpy as np
import pytest

from tavrix_equity import _engine, category, category_name, deal_cards, parse_cards, score_cards


def assert_sound(rows, excluded=()):
    ordered = np.sort(rows.astype(np.int64), axis=1)
    assert rows.dtype == np.uint8 and (rows < 52).all()
    assert (ordered[:, 1:] != ordered[:, :-1]).all(), "a card twice in a row"
    assert not np.isin(rows, list(excluded)).any()


@pytest.mark.parametrize("n, k, exclude", [(50_000, 7, ""), (3, 52, ""), (20_000, 45, "AsKs 2c"), (0, 7, ""),
                                           (4, 0, "Ah"), (1, 50, [51, 0])])
def test_rows_are_distinct_cards_outside_exclude(n, k, exclude):
    rows = deal_cards(n, k, seed=5, exclude=exclude)
    assert rows.shape == (n, k)
    excluded = parse_cards(exclude) if isinstance(exclude, str) else exclude
    assert_sound(rows, excluded)


def test_same_seed_same_rows_whatever_the_threads():
    many = 3 * 8192 + 17  # several blocks
    first = _engine.deal_rows(many, 7, 1 << 51, 99, 1)
    assert np.array_equal(first, _engine.deal_rows(many, 7, 1 << 51, 99, 4))
    assert np.array_equal(first, deal_cards(many, 7, seed=99, exclude="As"))
    assert not np.array_equal(first, deal_cards(many, 7, seed=100, exclude="As"))
    assert not np.array_equal(deal_cards(1000, 7), deal_cards(1000, 7))


def test_deals_are_uniform():
    rows = deal_cards(208_000, 3, seed=3, exclude="Kd")
    # Every live card equally likely in every position (51 cards, about 4,078 each).
    for position in range(3):
        counts = np.bincount(rows[:, position], minlength=52)
        live = np.delete(counts, parse_cards("Kd"))
        assert counts[parse_cards("Kd")[0]] == 0
        assert np.abs(live - 208_000 / 51).max() < 5 * np.sqrt(208_000 / 51)
    # Categories of dealt 5-card hands match their known frequencies.
    five = category(score_cards(deal_cards(200_000, 5, seed=4)))
    pairs = np.mean(five == 1)
    assert abs(pairs - 0.422569) < 0.005 and abs(np.mean(five == 0) - 0.501177) < 0.005


@pytest.mark.parametrize("args, kwargs, error", [
    ((-1, 7), {}, ValueError), ((2, 53), {}, ValueError), ((2, 51), {"exclude": "AsKs"}, ValueError),
    ((2.0, 7), {}, TypeError), ((2, True), {}, TypeError), ((2, 7), {"seed": -1}, ValueError),
    ((2, 7), {"exclude": "AsAs"}, ValueError), ((2, 7), {"exclude": "Zz"}, ValueError),
])
def test_bad_arguments(args, kwargs, error):
    with pytest.raises(error):
        deal_cards(*args, **kwargs)


def test_category_of_arrays():
    scores = np.array([[0, 4095], [4096, 36863]], dtype=np.uint16)
    assert category(scores).tolist() == [[0, 0], [1, 8]] and category(scores).dtype == np.uint8
    assert category_name(scores).tolist() == [["high card", "high card"], ["one pair", "straight flush"]]
    assert category(scores[0, :1]).shape == (1,) and category([5000, 9000]).tolist() == [1, 2]
    assert category(np.int64(32777)) == 8 and category_name(32777) == "straight flush"
    assert category(np.array([], dtype=np.uint16)).shape == (0,)


@pytest.mark.parametrize("scores, error, text", [
    (np.array([1, 36864]), ValueError, "position 1"),
    (np.array([[1, 2], [-1, 3]]), ValueError, "position (1, 0)"),
    (np.array([1.0]), TypeError, "float"),
    (np.array([True]), TypeError, "bool"),
])
def test_category_of_bad_arrays(scores, error, text):
    for function in (category, category_name):
        with pytest.raises(error, match=text.replace("(", r"\(").replace(")", r"\)")):
            function(scores)
