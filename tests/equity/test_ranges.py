"""Range notation: parsing by form, weights, canonical text, the chart, errors."""

import copy
import pickle
import random

import numpy as np
import pytest

from tavrix_equity import HAND_CLASSES, Range
from tavrix_equity.ranges import class_combos, grid_position, hand_class

RANKS = "23456789TJQKA"


def class_of(c1, c2):
    """The class of two card indices, worked out from the card rules alone."""
    high, low = sorted((c1 >> 2, c2 >> 2), reverse=True)
    name = RANKS[high] + RANKS[low]
    if high == low:
        return name
    return name + ("s" if c1 & 3 == c2 & 3 else "o")


def combos_of(*names):
    return {c for name in names for c in class_combos(name)}


def test_hand_classes_order_and_combos():
    assert len(set(HAND_CLASSES)) == 169
    assert HAND_CLASSES[:5] == ("AA", "AKs", "AKo", "AQs", "AQo")
    assert HAND_CLASSES[24:28] == ("A2o", "KK", "KQs", "KQo")
    assert HAND_CLASSES[-4:] == ("33", "32s", "32o", "22")
    every = [c for name in HAND_CLASSES for c in class_combos(name)]
    assert len(every) == len(set(every)) == 1326
    for name in HAND_CLASSES:
        combos = class_combos(name)
        assert len(combos) == {2: 6, 3: (4 if name.endswith("s") else 12)}[len(name)]
        assert list(combos) == sorted(combos, reverse=True)
        assert all(c1 > c2 and class_of(c1, c2) == name == hand_class(c2, c1) for c1, c2 in combos)


@pytest.mark.parametrize("text, names", [
    ("QQ", ["QQ"]),
    ("QQ+", ["QQ", "KK", "AA"]),
    ("QQ-99", ["QQ", "JJ", "TT", "99"]),
    ("99-QQ", ["QQ", "JJ", "TT", "99"]),
    ("AKs", ["AKs"]),
    ("AKo", ["AKo"]),
    ("AK", ["AKs", "AKo"]),
    ("ATs+", ["ATs", "AJs", "AQs", "AKs"]),
    ("T8+", ["T8s", "T8o", "T9s", "T9o"]),
    ("AKs+", ["AKs"]),
    ("32s+", ["32s"]),
    ("A5s-A2s", ["A5s", "A4s", "A3s", "A2s"]),
    ("A2s-A5s", ["A5s", "A4s", "A3s", "A2s"]),
    ("K9o-K8o", ["K9o", "K8o"]),
    ("aks, 1010, a10o", ["AKs", "TT", "ATo"]),
    ("random", list(HAND_CLASSES)),
])
def test_class_forms(text, names):
    r = Range(text)
    assert {c for c, _ in r.combos} == combos_of(*names)
    assert len(r) == len(combos_of(*names))
    assert all(w == 1.0 for _, w in r.combos)


@pytest.mark.parametrize("text, combos", [
    ("AhKh", [((50, 46), 1.0)]),
    ("10c9c, 2d2c", [((32, 28), 1.0), ((1, 0), 1.0)]),
    ("AA:0.5, AKs:0.25", [(c, 0.5) for c in class_combos("AA")] + [(c, 0.25) for c in class_combos("AKs")]),
    ("AsKs:0.5, AKs:1e-1", [(c, 0.1) for c in class_combos("AKs")]),
    ("AKs:0.1, AsKs:.5", [((51, 47), 0.5)] + [(c, 0.1) for c in class_combos("AKs")[1:]]),
    ("QQ+:0, AA", [(c, 1.0) for c in class_combos("AA")]),
    ("KK+, AdAc:0, KK:0", [(c, 1.0) for c in class_combos("AA") if c != (49, 48)]),
    ("AA:0", []),
    (" ", []),
])
def test_hands_and_weights(text, combos):
    assert Range(text).combos == tuple(combos)


def test_combo_order_and_removal_from_random():
    r = Range("random, AhKh:0, 72o:0.5")
    assert len(r) == 1325
    expected = sorted((c for c in combos_of(*HAND_CLASSES) if c != (50, 46)),
                      key=lambda c: (HAND_CLASSES.index(class_of(*c)), -c[0], -c[1]))
    assert [c for c, _ in r.combos] == expected
    assert {c for c, w in r.combos if w != 1.0} == combos_of("72o")


@pytest.mark.parametrize("text, canonical", [
    ("AA, KK, QQ", "QQ+"),
    ("TT, 99, JJ", "JJ-99"),
    ("AKs, AQs, AJs, ATs", "ATs+"),
    ("A2s, A4s, A3s, A5s", "A5s-A2s"),
    ("AKo, AKs", "AK"),
    ("AhKh, AsKs, AdKd, AcKc", "AKs"),
    ("ATs+, AKo", "ATs+,AKo"),
    ("AK:0.5, AsKs", "AsKs,AhKh:0.5,AdKd:0.5,AcKc:0.5,AKo:0.5"),
    ("AKs, QQ-JJ:0.25, 22", "QQ-JJ:0.25,22,AKs"),
    ("random", "random"),
    ("", ""),
])
def test_canonical_text(text, canonical):
    r = Range(text)
    assert str(r) == canonical
    assert repr(r) == f"Range({canonical!r})"
    assert Range(canonical) == r


def card_text(c):
    return RANKS[c >> 2] + "cdhs"[c & 3]


@pytest.mark.parametrize("seed", range(6))
def test_canonical_text_round_trip(seed):
    rng = random.Random(seed)
    weights = [1.0, 1.0, 0.5, 0.25, 1 / 3, 1e-3]
    items = [f"{name}:{rng.choice(weights)!r}" for name in rng.sample(HAND_CLASSES, rng.randrange(1, 80))]
    items += [f"{card_text(c1)}{card_text(c2)}:{rng.choice(weights + [0.0])!r}"
              for c1, c2 in rng.sample(sorted(combos_of(*HAND_CLASSES)), 40)]
    r = Range(", ".join(items))
    again = Range(str(r))
    assert again == r and str(again) == str(r) and hash(again) == hash(r)
    # The same combos and weights named one by one, in any order: the same text.
    single = [f"{card_text(c1)}{card_text(c2)}:{w!r}" for (c1, c2), w in r.combos]
    rng.shuffle(single)
    assert str(Range(",".join(single))) == str(r)


def test_equality_hash_immutability_pickle():
    r = Range("QQ+, AKs")
    assert r == Range("AA,KK,QQ,AhKh,AsKs,AdKd,AcKc") and hash(r) == hash(Range(str(r)))
    assert r != Range("QQ+, AKs:0.5") and r != "QQ+,AKs"
    assert len({r, Range("AKs, QQ+"), Range("QQ+")}) == 2
    with pytest.raises(AttributeError):
        r.combos = ()
    with pytest.raises(AttributeError):
        r.anything = 1
    odd = Range("AA:0.1, KK:0.3333333333333333")
    assert pickle.loads(pickle.dumps(odd)) == odd == copy.deepcopy(odd)


def test_grid_layout():
    assert np.array_equal(Range("").grid(), np.zeros((13, 13)))
    assert np.array_equal(Range("random").grid(), np.ones((13, 13)))
    cells = {grid_position(name) for name in HAND_CLASSES}
    assert len(cells) == 169
    for name in ("AKs", "AKo", "72s", "72o", "QQ", "32o"):
        g = Range(name).grid()
        assert g.dtype == np.float64 and g.shape == (13, 13)
        assert g[grid_position(name)] == 1.0 and g.sum() == 1.0
    assert grid_position("AKs") == (0, 1) and grid_position("AKo") == (1, 0)
    assert grid_position("72s") == (7, 12) and grid_position("72o") == (12, 7)
    g = Range("AhKh, AcKd, AsKd, QQ:0.5, JsJh:0.3").grid()
    assert g[0, 1] == 0.25 and g[1, 0] == pytest.approx(2 / 12)
    assert g[2, 2] == 0.5 and g[3, 3] == pytest.approx(0.05)


@pytest.mark.parametrize("text, item, reason", [
    ("AA,,KK", "", "empty item"),
    (" QQ+, ", "", "empty item"),
    ("QQ+,AKx", "AKx", None),
    ("AA-KK+", "AA-KK+", None),
    ("randomly", "randomly", None),
    ("QQs", "QQs", "pair"),
    ("KAs", "KAs", "higher rank first"),
    ("AA-AK", "AA-AK", "both ends"),
    ("A5s-A2o", "A5s-A2o", "both ends"),
    ("AsAs", "AsAs", "duplicate card As"),
    ("KK, AhKhQh", "AhKhQh", "two cards"),
    ("AA:nan", "AA:nan", "weight"),
    ("AA:1e999", "AA:1e999", "weight"),
    ("AA:1.5", "AA:1.5", "weight"),
    ("AA:-0.5", "AA:-0.5", "weight"),
    ("AA:", "AA:", "weight"),
    ("AA:1_0", "AA:1_0", "weight"),
    (":0.5", ":0.5", None),
])
def test_bad_text(text, item, reason):
    with pytest.raises(ValueError) as error:
        Range(text)
    message = str(error.value)
    assert message.startswith(f"bad range item {item!r} in {text!r}")
    if reason:
        assert reason in message


@pytest.mark.parametrize("call, error", [
    (lambda: Range(None), TypeError),
    (lambda: Range(["AA"]), TypeError),
    (lambda: class_combos("aks"), ValueError),
    (lambda: grid_position("AKx"), ValueError),
    (lambda: hand_class(51, 51), ValueError),
    (lambda: hand_class(52, 0), ValueError),
])
def test_bad_arguments(call, error):
    with pytest.raises(error):
        call()


def test_hand_class_takes_what_format_cards_takes():
    class Index:  # an integer type that only converts, like many array scalars' wrappers
        def __init__(self, value):
            self.value = value

        def __index__(self):
            return self.value

    assert hand_class(Index(47), Index(51)) == "AKs"
