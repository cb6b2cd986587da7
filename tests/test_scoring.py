"""Scoring: the lookup path of score_hand, observed through crafted tables in
the scratch copy of the module, then the real module on the real tables."""

import importlib
import itertools
import random
from collections import Counter
from pathlib import Path

import pytest

from scratch_module import (
    FLUSH_INDEX,
    RANK_INDEX,
    ROW_INDEX,
    POISONED,
    assert_panic,
    assert_reports,
    out_of_bounds,
    run_child,
    scratch_dir,
    tables,  # noqa: F401  (fixture)
    write_tables,
)

# These tests share the scratch module's table folder: one worker runs them all.
pytestmark = pytest.mark.xdist_group("scratch_tables")

# ---------------------------------------------------------------------------
# Crafted tables. With identity-like contents a score shows which entry was
# read: flush_table[k] = k, rank_table[i] = i & 0xFFFF.

RANK_IDENTITY = [i & 0xFFFF for i in range(0x20000)]
FLUSH_IDENTITY = list(range(0x10000))


def identity_tables():
    return {"rank": RANK_IDENTITY, "flush": FLUSH_IDENTITY, "offsets": [0] * 32}


def short_flush_tables():
    return {"rank": RANK_IDENTITY, "flush": list(range(0x1F00)), "offsets": [0] * 32}


# Row displacements: -1, +100, -1, wrap to the start, up to the end of rank_table.
DISPLACEMENTS = [0xFFFFFFFF, 100, 0xFFFFFFFF, 2**32 - 0x3000 + 5, 0x10000 - 0x4000]


def displaced_tables():
    return {"rank": RANK_IDENTITY[:0x10000], "flush": FLUSH_IDENTITY, "offsets": DISPLACEMENTS}


def all_rows_tables(rows):
    # The last row moves rank key 0xFFFFFFFF round to index 1.
    offsets = [0] * rows
    offsets[-1] = 2
    return {"rank": RANK_IDENTITY, "flush": FLUSH_IDENTITY, "offsets": offsets}


TABLE_SETS = {
    "identity": identity_tables,
    "short-flush": short_flush_tables,
    "displaced": displaced_tables,
    "all-rows": lambda: all_rows_tables(1 << 20),
    "one-row-short": lambda: all_rows_tables((1 << 20) - 1),
}

GROUPS = 0x4444_3333_2222_1111  # a different 16-bit value in each suit group of the mask


def panics(where, message):
    return ("panic", where, message)


# id: (tables, key, mask, expected score or panic)
SCORING_CASES = {
    # Flush path: the highest flagged suit counter picks the mask group.
    "flush-bit63": ("identity", 0x8000_0000_0000_0000, 0x1F00, 0x1F00),
    "flush-bit63-groups": ("identity", 0x8000_0000_0000_0000, GROUPS, 0x1111),
    "flush-bit59-groups": ("identity", 0x0800_0000_0000_0000, GROUPS, 0x2222),
    "flush-bit55-groups": ("identity", 0x0080_0000_0000_0000, GROUPS, 0x3333),
    "flush-bit51-groups": ("identity", 0x0008_0000_0000_0000, GROUPS, 0x4444),
    "flush-bit51-other-group": ("identity", 0x0008_0000_0000_0000, 0x1F00, 0),
    "flush-bit51-full-group": ("identity", 0x0008_0000_0000_0000, 0xFFFF_0000_0000_0000, 0xFFFF),
    "flush-bits63-51": ("identity", 0x8008_0000_0000_0000, GROUPS, 0x1111),
    "flush-bits59-55": ("identity", 0x0880_0000_0000_0000, GROUPS, 0x2222),
    "flush-bits55-51": ("identity", 0x0088_0000_0000_0000, GROUPS, 0x3333),
    "flush-all-flags": ("identity", 0x8888_0000_0000_0000, GROUPS, 0x1111),
    # A rank key that the rank path could not look up: the flush path ignores it.
    "flush-ignores-rank-key": ("identity", 0x8777_000F_FFFF_FFFF, GROUPS, 0x1111),
    "flush-ignores-counters": ("identity", 0x0800_FFFF_0000_0000, GROUPS, 0x2222),
    "flush-last-entry": ("short-flush", 0x8000_0000_0000_0000, 0x1EFF, 0x1EFF),
    "flush-past-table": ("short-flush", 0x8000_0000_0000_0000, 0x1F00, panics(FLUSH_INDEX, out_of_bounds(0x1F00, 0x1F00))),
    "flush-max-key-past-table": ("short-flush", 0x8000_0000_0000_0000, 0xFFFF, panics(FLUSH_INDEX, out_of_bounds(0x1F00, 0xFFFF))),
    # Only the selected group is checked against the table length.
    "flush-other-group-large": ("short-flush", 0x8000_0000_0000_0000, 0xFFFF_FFFF_FFFF_0000, 0),
    # Rank path.
    "rank-plain": ("identity", 0x1234, 0, 0x1234),
    "rank-ignores-mask": ("identity", 0x1234, 0xFFFF_FFFF_FFFF_FFFF, 0x1234),
    # Suit counters without a flag bit and the card counter are not part of the rank key.
    "rank-ignores-high-words": ("identity", 0x7777_FFFF_0000_1234, 0, 0x1234),
    "rank-reads-the-entry": ("identity", 0x1ABCD, 0, 0xABCD),
    "rank-last-row": ("identity", 0x1FFFF, 0, 0xFFFF),
    "rank-row-past-offsets": ("identity", 0x20000, 0, panics(ROW_INDEX, out_of_bounds(32, 32))),
    "rank-max-key-row": ("identity", 0xFFFF_FFFF, 0, panics(ROW_INDEX, out_of_bounds(32, 0xFFFFF))),
    # Displaced rows.
    "displaced-minus-one": ("displaced", 0x2000, 0, 0x1FFF),
    "displaced-plus-100": ("displaced", 0x1005, 0, 0x1005 + 100),
    "displaced-wraps": ("displaced", 0x3000, 0, 5),
    "displaced-wraps-row-end": ("displaced", 0x3FFF, 0, 0xFFF + 5),
    "displaced-zero-minus-one": ("displaced", 0, 0, panics(RANK_INDEX, out_of_bounds(0x10000, 0xFFFFFFFF))),
    "displaced-past-rank-table": ("displaced", 0x4000, 0, panics(RANK_INDEX, out_of_bounds(0x10000, 0x10000))),
    "displaced-row-past-offsets": ("displaced", 0x5000, 0, panics(ROW_INDEX, out_of_bounds(5, 5))),
    # Rank key 0xFFFFFFFF is in row 0xFFFFF: it needs 2^20 offsets entries.
    "all-rows-max-key": ("all-rows", 0xFFFF_FFFF, 0, 1),
    "all-rows-max-key-minus-one": ("all-rows", 0xFFFF_FFFE, 0, 0),
    "all-rows-first-row": ("all-rows", 0x0FFF, 0, 0x0FFF),
    "one-row-short-max-key": ("one-row-short", 0xFFFF_FFFF, 0, panics(ROW_INDEX, out_of_bounds(0xFFFFF, 0xFFFFF))),
}


@pytest.mark.parametrize("case", SCORING_CASES.values(), ids=SCORING_CASES.keys())
def test_score_reads_the_expected_entry(tables, case):
    table_set, key, mask, expected = case
    write_tables(tables, **TABLE_SETS[table_set]())
    # The same pair through evaluate (a Hand with both words assigned) and
    # through evaluate_list on a list and on a tuple.
    out, stderr = run_child(f"""
        out["evaluate"] = attempt(score, {key}, {mask})
        out["list"] = attempt(tavrix.evaluate_list, [({key}, {mask})])
        out["tuple"] = attempt(tavrix.evaluate_list, (({key}, {mask}),))
    """)
    if isinstance(expected, tuple):
        _, where, message = expected
        for call in ("evaluate", "list", "tuple"):
            assert_panic(out[call], message)
        assert_reports(stderr, [(where, message)] * 3)
    else:
        assert out == {"evaluate": {"value": expected}, "list": {"value": [expected]}, "tuple": {"value": [expected]}}
        assert stderr == ""


def test_out_of_bounds_panics_poison_nothing(tables):
    write_tables(tables, **displaced_tables())
    out, stderr = run_child("""
        out["flush"] = attempt(score, 1 << 63, 0xFFFF)
        out["row"] = attempt(tavrix.evaluate_list, [(0x2000, 0), (0x5000, 0)])
        out["rank"] = attempt(score, 0, 0)
        out["after"] = attempt(tavrix.evaluate_list, [(0x2000, 0), (1 << 63, 0x1F00)])
        out["after_single"] = attempt(score, 0x1005, 0)
    """)
    # Flush table of the displaced set has 0x10000 entries, so 0xFFFF is valid.
    assert out["flush"] == {"value": 0xFFFF}
    assert_panic(out["row"], out_of_bounds(5, 5))
    assert_panic(out["rank"], out_of_bounds(0x10000, 0xFFFFFFFF))
    assert out["after"] == {"value": [0x1FFF, 0x1F00]}
    assert out["after_single"] == {"value": 0x1005 + 100}
    assert POISONED not in stderr
    assert_reports(stderr, [(ROW_INDEX, out_of_bounds(5, 5)), (RANK_INDEX, out_of_bounds(0x10000, 0xFFFFFFFF))])


PAIRS = "[(0x1234, 0), (1 << 63, 0x1F00), (0x0008 << 48, 0x1F00), (True, 0), (1 << 63, True)]"
PAIR_SCORES = [0x1234, 0x1F00, 0, 1, 1]

# Argument forms of evaluate_list that must all score the pairs above.
BATCH_FORMS = {
    "list": "PAIRS",
    "tuple": "tuple(PAIRS)",
    "named-tuples": "[Pair(*p) for p in PAIRS]",
    "custom-sequence": "Items(PAIRS)",
    "user-list": "collections.UserList(PAIRS)",
}


@pytest.mark.parametrize("form", BATCH_FORMS.values(), ids=BATCH_FORMS.keys())
def test_evaluate_list_accepts_sequences_of_pairs(tables, form):
    write_tables(tables, **identity_tables())
    out, stderr = run_child(f"""
        import collections
        Pair = collections.namedtuple("Pair", "key mask")

        class Items:
            def __init__(self, items):
                self.items = items
            def __len__(self):
                return len(self.items)
            def __getitem__(self, i):
                return self.items[i]

        PAIRS = {PAIRS}
        out["scores"] = attempt(tavrix.evaluate_list, {form})
    """)
    assert out["scores"] == {"value": PAIR_SCORES}
    assert stderr == ""


def test_evaluate_list_matches_evaluate_on_a_large_batch(tables):
    write_tables(tables, **displaced_tables())
    out, stderr = run_child("""
        import random
        rng = random.Random(20240611)
        pairs = []
        for _ in range(3000):
            if rng.random() < 0.5:
                key = 1 << rng.choice([63, 59, 55, 51]) | rng.getrandbits(64)
            else:
                key = rng.getrandbits(64) & 0x7777_FFFF_0000_0000 | rng.randrange(0x1000, 0x4000)
            pairs.append((key, rng.getrandbits(64)))
        out["batch"] = tavrix.evaluate_list(pairs)
        out["single"] = [score(k, m) for k, m in pairs]
        out["flush_keys"] = [hand(k, m).get_flush_key() for k, m in pairs]
        out["flags"] = [hand(k, m).has_flush() for k, m in pairs]
    """)
    assert out["batch"] == out["single"]
    assert len(out["batch"]) == 3000
    # Under an identity flush table a flush hand scores its own flush key.
    flush_scores = [s for s, f in zip(out["batch"], out["flags"]) if f]
    flush_keys = [k for k, f in zip(out["flush_keys"], out["flags"]) if f]
    assert 1000 < len(flush_scores) < 2000
    assert flush_scores == flush_keys
    assert stderr == ""


@pytest.mark.parametrize("position", [0, 1, 4])
def test_panic_at_any_pair_returns_no_list(tables, position):
    write_tables(tables, **identity_tables())
    out, stderr = run_child(f"""
        pairs = [(1, 0), (2, 0), (3, 0), (4, 0), (5, 0)]
        pairs[{position}] = (0x20000, 0)
        out["call"] = attempt(tavrix.evaluate_list, pairs)
        out["after"] = attempt(tavrix.evaluate_list, [(1, 0), (2, 0)])
    """)
    assert_panic(out["call"], out_of_bounds(32, 32))
    assert out["after"] == {"value": [1, 2]}
    assert_reports(stderr, [(ROW_INDEX, out_of_bounds(32, 32))])


# A failing conversion anywhere in the argument stops the call before any pair
# is scored, even when an earlier pair would panic.
BAD_ITEMS = {
    "short-tuple": ("(1,)", "ValueError"),
    "list-item": ("[0, 0]", "TypeError"),
    "str-item": ("'x'", "TypeError"),
    "negative-key": ("(-1, 0)", "OverflowError"),
    "wide-mask": ("(0, 2**64)", "OverflowError"),
    "float-mask": ("(0, 1.0)", "TypeError"),
}


@pytest.mark.parametrize("item", BAD_ITEMS.values(), ids=BAD_ITEMS.keys())
def test_whole_argument_is_converted_before_scoring(tables, item):
    expression, error = item
    write_tables(tables, **identity_tables())
    out, stderr = run_child(f"""
        out["warm"] = score(1, 0)
        out["call"] = attempt(tavrix.evaluate_list, [(0x20000, 0), (1 << 63, 0xFFFF), {expression}])
        out["after"] = tavrix.evaluate_list([(0x1234, 0)])
    """)
    assert out["warm"] == 1
    assert out["call"]["raised"] == error
    assert out["after"] == [0x1234]
    assert stderr == ""


# ---------------------------------------------------------------------------
# The real module with the real tables, in this process.

RANKS = "23456789TJQKA"
SUITS = "cdhs"


def card(text):
    return 4 * RANKS.index(text[0]) + SUITS.index(text[1])


def bits(cards):
    return sum(1 << c for c in cards)


@pytest.fixture(scope="module")
def real():
    try:
        module = importlib.import_module("tavrix")
    except ImportError as error:
        pytest.fail(f"the real tavrix module is not installed (run `make build`): {error}", pytrace=False)
    if Path(module.__file__).resolve().parent == scratch_dir():
        pytest.fail("the in-process tavrix is the scratch copy, not the installed module", pytrace=False)
    return module


def real_score(real, text):
    return real.evaluate(real.poker_hand.Hand.from_bit_mask(bits(card(c) for c in text.split())))


def test_empty_hand_scores_zero(real):
    assert real.evaluate(real.poker_hand.Hand()) == 0
    assert real.evaluate_list([(real.poker_hand.Hand().key, 0)]) == [0]


def test_batch_and_single_scores_agree_on_random_hands(real):
    Hand = real.poker_hand.Hand
    rng = random.Random(7919)
    hands = [Hand.from_bit_mask(bits(rng.sample(range(52), rng.randint(0, 7)))) for _ in range(4000)]
    singles = [real.evaluate(h) for h in hands]
    assert real.evaluate_list([(h.key, h.mask) for h in hands]) == singles
    assert real.evaluate_list(tuple((h.key, h.mask) for h in hands)) == singles
    # A hand whose words were assigned directly scores like the original.
    copies = []
    for h in hands[:500]:
        copy = Hand()
        copy.key, copy.mask = h.key, h.mask
        copies.append(real.evaluate(copy))
    assert copies == singles[:500]
    assert all(0 <= s >> 12 <= 8 for s in singles)


def test_board_plus_hole_cards_equals_the_seven_card_hand(real):
    Hand = real.poker_hand.Hand
    rng = random.Random(104729)
    boards, holes, pairs, expected, expected_words = [], [], [], [], []
    for _ in range(1500):
        cards = rng.sample(range(52), 7)
        board, (c1, c2) = cards[:5][: rng.randint(0, 5)], cards[5:]
        b = Hand.from_bit_mask(bits(board))
        h = Hand.from_hole_cards(c1, c2)
        key, mask = (b.key + h.key) % 2**64, b.mask | h.mask
        whole = Hand.from_bit_mask(bits(board + [c1, c2]))
        pairs.append((key, mask))
        expected_words.append((whole.key, whole.mask))
        expected.append(real.evaluate(whole))
    assert pairs == expected_words
    assert real.evaluate_list(pairs) == expected


HIGH_CARD, PAIR, TWO_PAIR, TRIPS, STRAIGHT, FLUSH, FULL_HOUSE, QUADS, STRAIGHT_FLUSH = range(9)

# Concrete seven-card hands, weakest category first.
CATEGORY_HANDS = {
    "high-card": ("Ac Qd 9h 7s 5c 3d 2h", HIGH_CARD),
    "pair": ("Ac Ad 9h 7s 5c 3d 2h", PAIR),
    "two-pair": ("Ac Ad 9h 9s 5c 3d 2h", TWO_PAIR),
    "three-pairs": ("Ac Ad 9h 9s 5c 5d 2h", TWO_PAIR),
    "trips": ("Ac Ad Ah 9s 5c 3d 2h", TRIPS),
    "straight": ("9c Td Jh Qs Kc 3d 2h", STRAIGHT),
    "wheel": ("Ac 2d 3h 4s 5c 9d Kh", STRAIGHT),
    "broadway": ("Tc Jd Qh Ks Ac 3d 2h", STRAIGHT),
    "flush": ("Ah Jh 9h 6h 3h 2c 2d", FLUSH),
    "flush-and-straight": ("4h 5h 6h 7h 8c 2h Kd", FLUSH),
    "full-house": ("Ac Ad Ah 9s 9c 3d 2h", FULL_HOUSE),
    "two-trips": ("Ac Ad Ah 9s 9c 9d 2h", FULL_HOUSE),
    "quads": ("Ac Ad Ah As 9c 3d 2h", QUADS),
    "quads-and-pair": ("Ac Ad Ah As Kc Kd 2h", QUADS),
    "straight-flush": ("5h 6h 7h 8h 9h Ac Ad", STRAIGHT_FLUSH),
    "steel-wheel": ("Ah 2h 3h 4h 5h Kc Kd", STRAIGHT_FLUSH),
    "royal-flush": ("As Ks Qs Js Ts 2c 3d", STRAIGHT_FLUSH),
}


@pytest.mark.parametrize("case", CATEGORY_HANDS.values(), ids=CATEGORY_HANDS.keys())
def test_category_of_seven_card_hands(real, case):
    text, category = case
    assert real_score(real, text) >> 12 == category


def test_categories_rank_in_poker_order(real):
    by_category = {}
    for text, category in CATEGORY_HANDS.values():
        by_category.setdefault(category, []).append(real_score(real, text))
    for lower in range(8):
        assert max(by_category[lower]) < min(by_category[lower + 1])


@pytest.mark.parametrize("suit", SUITS)
def test_royal_flush_scores_32777(real, suit):
    text = " ".join(r + suit for r in "AKQJT")
    others = [c for c in ("2c", "7d", "3h", "8s") if c[1] != suit][:2]
    assert real_score(real, text) == 32777
    assert real_score(real, text + " " + " ".join(others)) == 32777


# (better, worse) seven-card hands of the same category.
WITHIN_CATEGORY = {
    "higher-pair": ("Kc Kd 9h 7s 5c 3d 2h", "Qc Qd Ah 9s 7c 3d 2h"),
    "pair-kicker": ("Ac Ad Kh 7s 5c 3d 2h", "Ah As Qh 7c 5d 3h 2c"),
    "six-high-beats-wheel": ("2c 3d 4h 5s 6c Jd Kh", "Ac 2d 3h 4s 5c 9d Jh"),
    "higher-straight-flush": ("6h 7h 8h 9h Th 2c 2d", "5h 6h 7h 8h 9h Ac Ad"),
    "ace-high-flush": ("Ah 9h 7h 5h 3h Kc Kd", "Kh Qh Jh 9h 7h Ac Ad"),
    "full-house-trips-decide": ("Kc Kd Kh 2s 2c 5d 7h", "Qc Qd Qh As Ac 5d 7h"),
}


@pytest.mark.parametrize("case", WITHIN_CATEGORY.values(), ids=WITHIN_CATEGORY.keys())
def test_better_hand_of_a_category_scores_higher(real, case):
    better, worse = (real_score(real, text) for text in case)
    assert better >> 12 == worse >> 12
    assert better > worse


# Seven-card hands that differ only outside their best five cards.
SAME_BEST_FIVE = {
    "high-card": ("Ac Qd 9h 7s 5c 4d 2h", "Ac Qd 9h 7s 5c 3d 2h"),
    "quads-kicker": ("9c 9d 9h 9s Ac 3d 2h", "9c 9d 9h 9s Ac Kd Qh"),
    "flush-sixth-card": ("Ah Jh 9h 6h 4h 3h 2c", "Ah Jh 9h 6h 4h 2h Kc"),
}


@pytest.mark.parametrize("case", SAME_BEST_FIVE.values(), ids=SAME_BEST_FIVE.keys())
def test_cards_outside_the_best_five_do_not_count(real, case):
    first, second = (real_score(real, text) for text in case)
    assert first == second


def poker_value(cards):
    """Reference value of a hand of five or more cards: the best five-card
    (category, tie-break ranks) tuple under the usual poker rules."""
    return max(five_card_value(five) for five in itertools.combinations(cards, 5))


def five_card_value(cards):
    ranks = sorted((c >> 2 for c in cards), reverse=True)
    counts = Counter(ranks)
    # Ranks ordered by how often they occur, then by rank: the tie-break order.
    grouped = sorted(counts, key=lambda r: (counts[r], r), reverse=True)
    shape = sorted(counts.values(), reverse=True)
    flush = len({c & 3 for c in cards}) == 1
    straight_high = None
    if len(counts) == 5:
        if ranks[0] - ranks[4] == 4:
            straight_high = ranks[0]
        elif ranks == [12, 3, 2, 1, 0]:
            straight_high = 3  # the wheel: the ace plays low
    if straight_high is not None:
        return (STRAIGHT_FLUSH if flush else STRAIGHT, straight_high)
    if flush:
        return (FLUSH, *ranks)
    category = {
        (4, 1): QUADS,
        (3, 2): FULL_HOUSE,
        (3, 1, 1): TRIPS,
        (2, 2, 1): TWO_PAIR,
        (2, 1, 1, 1): PAIR,
        (1, 1, 1, 1, 1): HIGH_CARD,
    }[tuple(shape)]
    return (category, *grouped)


def test_scores_order_random_hands_like_poker_rules(real):
    Hand = real.poker_hand.Hand
    rng = random.Random(1299709)
    deals = [rng.sample(range(52), rng.choice([5, 6, 7, 7, 7])) for _ in range(2500)]
    # A few of every category, so rare ones are compared too.
    deals += [[card(c) for c in text.split()] for text, _ in CATEGORY_HANDS.values()]
    scores = real.evaluate_list([(h.key, h.mask) for h in (Hand.from_bit_mask(bits(d)) for d in deals)])
    score_of = {}
    for deal, score in zip(deals, scores):
        value = poker_value(deal)
        assert score >> 12 == value[0], (deal, score, value)
        # Hands of equal value score the same.
        assert score_of.setdefault(value, score) == score, (deal, value)
    ordered = [score_of[v] for v in sorted(score_of)]
    assert ordered == sorted(set(ordered)), "scores do not rise strictly with the hands' values"
