"""Range text beyond single classes: connector runs, set operations and their
weights, per-class counts, and errors that say what is wrong."""

import pytest

from tavrix_equity import Range
from tavrix_equity.ranges import class_combos


def combos(*names):
    return {c for name in names for c in class_combos(name)}


@pytest.mark.parametrize("text, names", [
    ("T9s-65s", ["T9s", "98s", "87s", "76s", "65s"]),
    ("65s-T9s", ["T9s", "98s", "87s", "76s", "65s"]),
    ("KQo-87o", ["KQo", "QJo", "JTo", "T9o", "98o", "87o"]),
    ("T8s-64s", ["T8s", "97s", "86s", "75s", "64s"]),
    ("QJ-T9", ["QJs", "QJo", "JTs", "JTo", "T9s", "T9o"]),
    ("AKs-32s", ["AKs", "KQs", "QJs", "JTs", "T9s", "98s", "87s", "76s", "65s", "54s", "43s", "32s"]),
])
def test_connector_runs(text, names):
    r = Range(text)
    assert {c for c, _ in r.combos} == combos(*names) and len(r) == len(combos(*names))


A = Range("QQ+:0.5, AKs, 76s:0.25")
B = Range("KK+, AKs:0.25, AQo")


@pytest.mark.parametrize("result, expected", [
    # |: either range, the larger weight where both have a combo.
    (A | B, "KK+, QQ:0.5, AKs, AQo, 76s:0.25"),
    # &: both ranges, the smaller weight.
    (A & B, "KK+:0.5, AKs:0.25"),
    # -: removed whatever the weight on the right; the left keeps its own weights.
    (A - B, "QQ:0.5, 76s:0.25"),
    (A - Range("AsKs:0.1"), "QQ+:0.5, AhKh, AdKd, AcKc, 76s:0.25"),
    (A | "JJ", "QQ+:0.5, JJ, AKs, 76s:0.25"),
    ("JJ" | A, "QQ+:0.5, JJ, AKs, 76s:0.25"),
    ("random" - A, "random, QQ+:0, AKs:0, 76s:0"),
    (A & "", ""),
])
def test_set_operations_and_their_weights(result, expected):
    assert isinstance(result, Range) and result == Range(expected)


def test_set_operations_refuse_other_types():
    with pytest.raises(TypeError):
        A | ["AA"]
    with pytest.raises(ValueError, match="bad range item"):
        A - "AKx"


def test_class_counts():
    r = Range("QQ+:0.5, AsKs, AKo, T9s-98s, AhAd:0")
    assert r.class_counts() == {"AA": 5, "AKs": 1, "AKo": 12, "KK": 6, "QQ": 6, "T9s": 4, "98s": 4}
    assert list(r.class_counts()) == ["AA", "AKs", "AKo", "KK", "QQ", "T9s", "98s"]
    assert r.class_counts(weighted=True)["AA"] == 2.5 and r.class_counts(weighted=True)["AKo"] == 12
    assert Range("").class_counts() == {}


@pytest.mark.parametrize("text, reason", [
    ("AsKx", "unknown card 'Kx'"),
    ("AA-KK-QQ", "two ends"),
    ("T9s-64s", "same gap"),
    ("T9s-65o", "same suffix"),
    ("KQo-77", "pairs"),
    ("AKx", "expected a class"),
])
def test_errors_give_a_reason(text, reason):
    with pytest.raises(ValueError) as error:
        Range(text)
    assert reason in str(error.value) and str(error.value).count(reason) == 1


def test_long_text_is_quoted_by_its_start():
    text = "AA," + "x" * 100_000
    with pytest.raises(ValueError) as error:
        Range(text)
    message = str(error.value)
    assert len(message) < 400 and "'AA,xxx" in message and "100,003 characters" in message
