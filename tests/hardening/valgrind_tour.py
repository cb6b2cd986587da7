"""Every entry point of tavrix and tavrix_equity once or twice, with their error
paths, small enough to run under valgrind (test_valgrind.py runs it there)."""

import pickle

import numpy as np

import tavrix
import tavrix_equity as te
from tavrix_equity import _engine

Hand = tavrix.poker_hand.Hand


def fails(call, *args, **kwargs):
    try:
        call(*args, **kwargs)
    except BaseException as error:  # noqa: BLE001 - panics are BaseExceptions
        return type(error).__name__
    raise AssertionError(f"{call} did not fail")


# tavrix: every method and attribute, the errors of the boundary and a panic.
h = Hand()
h.key, h.mask = 0x3333000000000000 + 0x1000000100494493, 0x1000
assert (h.get_key(), h.get_mask(), h.key, h.mask) == (0x4333000100494493, 0x1000, 0x4333000100494493, 0x1000)
queries = (h.get_rank_key(), h.get_counters(), h.count(), h.suit_count(3), h.has_flush(), h.get_flush_key())
hole = Hand.from_hole_cards(51, 47)
board = Hand.from_bit_mask((1 << 0) | (1 << 21) | (1 << 30))
cards = tavrix.poker_hand.get_cards()
seven = ((board.key + hole.key) % 2**64, board.mask | hole.mask)
scores = tavrix.evaluate_list([seven, (h.key, h.mask), (hole.key, hole.mask)] * 50)
assert scores[0] == tavrix.evaluate(Hand.from_bit_mask((1 << 51) | (1 << 47) | (1 << 0) | (1 << 21) | (1 << 30)))
assert tavrix.evaluate(hand=board) >= 0 and len(cards) == 52 and tavrix.evaluate_list(()) == []
errors = [
    fails(Hand.from_hole_cards, 52, 0), fails(Hand.from_hole_cards, 256, 0), fails(Hand.from_hole_cards, "x", 1),
    fails(Hand.from_bit_mask, 2**64), fails(Hand, 1), fails(setattr, h, "key", -1), fails(delattr, h, "mask"),
    fails(tavrix.evaluate, 3), fails(tavrix.evaluate_list, "ab"), fails(tavrix.evaluate_list, [(1, 2, 3)]),
    fails(tavrix.evaluate_list, [seven, (0, 2**64)]), fails(tavrix.evaluate_list, [(0xFFFFFFFF, 0)]),
    fails(h.suit_count, 300), fails(Hand.from_hole_cards, c3=1),
]
assert errors.count("PanicException") == 2, errors

# tavrix_equity: card text, categories, array scoring (both element types, a bad row, a bad pair).
assert te.parse_cards("as, kd,10c") == (51, 45, 32) and te.format_cards((51, 47)) == "AsKs"
assert te.category(32777) == 8 and te.category_name(4096) == "one pair"
rows = np.array([[51, 47, 43, 39, 35, 3, 7], [0, 4, 8, 12, 17, 21, 25]], np.int64)
assert te.score_cards(rows).tolist() == te.score_cards(rows.astype(np.uint8)).tolist()
keys = np.array([hole.key, board.key, seven[0]], np.uint64)
masks = np.array([hole.mask, board.mask, seven[1]], np.uint64)
assert te.score_words(keys, masks).tolist() == tavrix.evaluate_list(list(zip(keys.tolist(), masks.tolist())))
errors += [fails(te.parse_cards, "AsAs"), fails(te.score_cards, [[1, 1]]), fails(te.score_words, [0xFFFFFFFF], [0]),
          fails(te.format_cards, [52]), fails(te.category, -1)]

# Equity: exact, Monte Carlo on engine threads, ranges, the chart, the matrix, Ctrl-C's path.
exact = te.equity(["AsKs", "QhQd", (12, 13)], "2c7d9hTs", threads=2)
sampled = te.equity(["AsKs", "QQ+,AKs"], "2c7d9h", trials=5000, seed=1, threads=2)
ranged = te.equity([te.Range("AKs, QQ:0.5"), "JJ"], "2c7d9hTs", "3s")
assert exact.boards == 42 and sampled.boards == 5000 and ranged.exact
r = te.Range("QQ+, A5s-A2s, KQo:0.5, AhKh")
assert te.Range(str(r)) == r and pickle.loads(pickle.dumps(r)) == r and r.grid().shape == (13, 13)
assert te.hand_class(51, 47) == "AKs" and te.grid_position("AKo") == (1, 0) and len(te.class_combos("AA")) == 6
grid = te.hand_grid("AsKs", "2c7d9hTsJs")
assert grid.shape == (13, 13)
errors += [fails(te.equity, ["AsKs"]), fails(te.equity, ["AsKs", "AsQd"]), fails(te.Range, "XX"),
           fails(te.equity, ["AA", "AsAd"], "AhAc"), fails(te.equity, ["AsKs", "QhQd"], trials=0)]
matchups = np.array([[51, 47, 42, 41], [51, 50, 47, 46]], np.uint8)
counts = _engine.heads_up_counts(matchups, 2)
assert counts.sum(axis=1).tolist() == [1_712_304] * 2
assert te.preflop_matrix(["AA", "KK"], workers=1).shape == (2, 2)
totals = _engine.exact_equity([([(51, 47)], [1.0]), ([(42, 41), (43, 40)], [1.0, 0.5])], [0, 21, 30], 0, 2)
assert totals[4] > 0 and len(_engine.table_digest()) == 16
assert te.deal_cards(20_000, 7, seed=3, exclude="AsKs").shape == (20_000, 7)
errors += [fails(_engine.score_card_rows, np.zeros((2, 2), np.float64)), fails(_engine.heads_up_counts, matchups.T),
           fails(_engine.exact_equity, [([(51, 51)], [1.0])] * 2, [], 0, 1)]
print("tour done:", len(errors), "error paths")
