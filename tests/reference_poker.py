"""A deliberately plain poker evaluator used to check the generated tables.

Classes are (category, ranks) with ranks a tuple, most significant first;
Python's tuple order then ranks hands, and a shorter tuple that is a prefix
of a longer one sorts first, which is exactly "a missing card ranks below
every card". Ranks are 0..12 for 2..A.
"""

from collections import Counter
from itertools import combinations

HIGH_CARD, ONE_PAIR, TWO_PAIR, TRIPS, STRAIGHT, FLUSH, FULL_HOUSE, QUADS, STRAIGHT_FLUSH = range(9)
CATEGORY_NAMES = (
    "high card", "one pair", "two pair", "three of a kind", "straight",
    "flush", "full house", "four of a kind", "straight flush",
)
ACE, FIVE = 12, 3


def _grouped(ranks):
    """Ranks ordered by (multiplicity, rank), both descending, with the multiplicities."""
    counts = Counter(ranks)
    order = sorted(counts, key=lambda r: (counts[r], r), reverse=True)
    return tuple(order), tuple(counts[r] for r in order)


def _straight_top(distinct_desc):
    if len(distinct_desc) != 5:
        return None
    if distinct_desc[0] - distinct_desc[4] == 4:
        return distinct_desc[0]
    if distinct_desc == (ACE, 3, 2, 1, 0):
        return FIVE  # the ace plays low: 5-4-3-2-A
    return None


def classify_five(ranks, suited):
    """Class of exactly five cards; `suited` means all five share a suit."""
    order, shape = _grouped(ranks)
    top = _straight_top(order) if shape == (1, 1, 1, 1, 1) else None
    if top is not None:
        return (STRAIGHT_FLUSH if suited else STRAIGHT, (top,))
    if suited:
        return (FLUSH, order)
    category = {
        (4, 1): QUADS, (3, 2): FULL_HOUSE, (3, 1, 1): TRIPS, (2, 2, 1): TWO_PAIR,
        (2, 1, 1, 1): ONE_PAIR, (1, 1, 1, 1, 1): HIGH_CARD,
    }[shape]
    return (category, order)


def classify_short(ranks):
    """Class of fewer than five cards: all of them, with no straight or flush."""
    order, shape = _grouped(ranks)
    category = {4: QUADS, 3: TRIPS, 2: TWO_PAIR if shape[:2] == (2, 2) else ONE_PAIR}.get(
        shape[0] if shape else 1, HIGH_CARD)
    return (category, order)


class Reference:
    """Best classes of hands and their dense scores."""

    def __init__(self):
        self._five = {}

    def _five_class(self, ranks, suited):
        key = (ranks, suited)
        found = self._five.get(key)
        if found is None:
            found = self._five[key] = classify_five(ranks, suited)
        return found

    def best_class(self, ranks, suited=False):
        """Best class of a hand given by its ranks (any order).

        suited=True means every card is in one suit (a flush hand).
        """
        ranks = tuple(sorted(ranks))
        if len(ranks) < 5:
            return classify_short(ranks)
        return max(self._five_class(five, suited) for five in combinations(ranks, 5))


def dense_scores(classes):
    """Map each class to category * 4096 + its dense position in its category."""
    by_category = {}
    for category, ranks in set(classes):
        by_category.setdefault(category, []).append(ranks)
    scores = {}
    for category, members in by_category.items():
        for index, ranks in enumerate(sorted(members)):
            scores[(category, ranks)] = category * 4096 + index
    return scores
