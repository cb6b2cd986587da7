"""Hand words: building hands and reading the quantities that scoring uses."""

import itertools

import pytest

import tavrix

Hand = tavrix.poker_hand.Hand
EMPTY_KEY = 0x3333000000000000


def cards_added_to_empty(indices):
    cards = tavrix.poker_hand.get_cards()
    key, mask = EMPTY_KEY, 0
    for i in indices:
        key = (key + cards[i].key) % 2**64
        mask |= cards[i].mask
    return key, mask


def hand_with(key, mask):
    h = Hand()
    h.key, h.mask = key, mask
    return h


@pytest.mark.parametrize(
    "indices, key, mask, count, suits, flush, flush_key",
    [
        ([], 0x3333000000000000, 0, 0, [0, 0, 0, 0], False, 0),
        ([0, 4, 8, 12, 16], 0x33380005000E6001, 0x001F000000000000, 5, [5, 0, 0, 0], True, 0x1F),
        ([3, 7, 11, 15, 19, 50, 51], 0x9433000700A0E927, 0x000000001000101F, 7, [0, 0, 1, 6], True, 0x101F),
        # Ten cards: suits 0 and 3 both flagged; the highest suit decides.
        ([0, 4, 8, 12, 16, 3, 7, 11, 15, 19], None, None, 10, [5, 0, 0, 5], True, 0x1F),
    ],
)
def test_cards_added_to_the_empty_hand(indices, key, mask, count, suits, flush, flush_key):
    k, m = cards_added_to_empty(indices)
    if key is not None:
        assert (k, m) == (key, mask)
    h = hand_with(k, m)
    assert h.count() == count
    assert [h.suit_count(s) for s in range(4)] == suits
    assert h.has_flush() is flush
    assert h.get_flush_key() == flush_key
    # The same cards as a card-index mask give the same words.
    bits = sum(1 << i for i in set(indices))
    assert (Hand.from_bit_mask(bits).key, Hand.from_bit_mask(bits).mask) == (k, m)


def test_all_52_cards_wrap_without_error():
    k, m = cards_added_to_empty(range(52))
    assert (k, m) == (0x11100034081F20DC, 0x1FFF1FFF1FFF1FFF)
    h = Hand.from_bit_mask(2**64 - 1)
    assert (h.key, h.mask) == (k, m)
    assert h.count() == 4 and not h.has_flush()


def test_empty_hand_queries():
    h = Hand()
    assert (h.get_key(), h.get_mask(), h.get_rank_key(), h.get_counters()) == (3689292519746568192, 0, 0, 0x33330000)
    assert (h.count(), h.has_flush(), h.get_flush_key()) == (0, False, 0)
    # Suit numbers wrap modulo 8: 4 reads the card counter, 5-7 the unused bits.
    assert [h.suit_count(s) for s in (0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 255)] == [0, 0, 0, 0, -3, -3, -3, -3, 0, -3, -3]


@pytest.mark.parametrize(
    "c1, c2, key, mask, count, suits",
    [
        (0, 1, 0x0011000200004000, 0x0001000100000000, 2, [-2, -2, -3, -3]),
        (0, 0, 0x0002000200004000, 0x0001000000000000, 2, [-1, -3, -3, -3]),
        (51, 0, 0x1001000200496493, 0x0001000000001000, 2, [-2, -3, -3, -2]),
    ],
)
def test_hole_cards_are_unbiased(c1, c2, key, mask, count, suits):
    h = Hand.from_hole_cards(c1, c2)
    assert (h.get_key(), h.get_mask()) == (key, mask)
    assert h.count() == count
    assert [h.suit_count(s) for s in range(4)] == suits
    assert not h.has_flush() and h.get_flush_key() == 0
    swapped = Hand.from_hole_cards(c2=c1, c1=c2)
    assert (swapped.key, swapped.mask) == (key, mask)


def test_duplicate_hole_cards_count_twice_but_set_one_bit():
    h = Hand.from_hole_cards(5, 5)
    assert h.count() == 2 and bin(h.get_mask()).count("1") == 1


@pytest.mark.parametrize("mask", [0, 0xFFF0000000000000])
def test_bit_mask_ignores_bits_above_51(mask):
    h = Hand.from_bit_mask(mask)
    assert (h.key, h.mask) == (EMPTY_KEY, 0)


def test_board_plus_hole_cards_is_the_biased_hand_of_all_cards():
    board = Hand.from_bit_mask((1 << 10) | (1 << 20) | (1 << 30) | (1 << 40) | (1 << 50))
    hole = Hand.from_hole_cards(7, 33)
    all_seven = Hand.from_bit_mask(sum(1 << i for i in (10, 20, 30, 40, 50, 7, 33)))
    assert ((board.key + hole.key) % 2**64, board.mask | hole.mask) == (all_seven.key, all_seven.mask)


def test_get_cards_is_the_card_table():
    cards = tavrix.poker_hand.get_cards()
    assert len(cards) == 52 and all(type(c) is Hand for c in cards)
    assert (cards[0].key, cards[0].mask) == (0x0001000100002000, 0x0001000000000000)
    assert (cards[4].key, cards[4].mask) == (0x0001000100008001, 0x0002000000000000)
    assert (cards[48].key, cards[48].mask) == (0x0001000100494493, 0x1000000000000000)
    assert (cards[51].key, cards[51].mask) == (0x1000000100494493, 0x0000000000001000)
    for i, card in enumerate(cards):
        rank, suit = i >> 2, i & 3
        assert card.mask == 1 << (16 * (3 - suit) + rank)
        assert card.count() == 1 and card.suit_count(suit) == -2
    again = tavrix.poker_hand.get_cards()
    assert again is not cards and all(a is not b for a, b in zip(cards, again))


def test_rank_keys_of_up_to_seven_cards_are_distinct():
    # Every multiset of 0-7 ranks, no rank more than four times, has its own sum.
    bases = [tavrix.poker_hand.get_cards()[4 * r].get_rank_key() for r in range(13)]
    multisets = [
        ranks
        for n in range(8)
        for ranks in itertools.combinations_with_replacement(range(13), n)
        if all(ranks.count(r) <= 4 for r in set(ranks))
    ]
    sums = {sum(bases[r] for r in ranks) for ranks in multisets}
    assert len(multisets) == len(sums) == 76155
    assert max(sums) == 0x1FFE87F


@pytest.mark.parametrize(
    "key, expected",
    [
        (5, dict(get_key=5, get_rank_key=5, get_counters=0, has_flush=False, count=0)),
        (0x8000000000000000, dict(get_rank_key=0, get_counters=0x80000000, has_flush=True)),
        (2**64 - 1, dict(get_rank_key=0xFFFFFFFF, get_counters=0xFFFFFFFF, count=15)),
    ],
)
def test_assigned_words_are_stored_as_given(key, expected):
    h = Hand.from_hole_cards(0, 1)
    mask_before = h.mask
    h.key = key
    assert h.mask == mask_before
    for query, value in expected.items():
        assert getattr(h, query)() == value


def test_flush_key_takes_the_highest_flagged_suit():
    h = hand_with(0x8008000000000000, 0x001F00000000007C)
    assert h.get_flush_key() == 0x7C
    h.key = 0x0008000000000000
    assert h.get_flush_key() == 0x1F
