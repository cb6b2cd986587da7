"""No Python object is leaked: calling an entry point again and again, on its
error paths too, leaves the interpreter's count of allocated blocks where it
was. (The sanitizers' leak check cannot see objects the collector tracks, and
valgrind's only sees what is lost at exit.)"""

import json

import pytest

from switches import run_child

# Run in a fresh interpreter: the test runner's own bookkeeping comes and goes
# in bursts that would hide a small leak or fake one.
CHILD = """
import gc, json, sys
import numpy as np
import tavrix
import tavrix_equity as te
from tavrix_equity import _engine

Hand = tavrix.poker_hand.Hand
HAND = Hand.from_hole_cards(51, 47)
ROWS = np.array([[51, 47, 43, 39, 35], [0, 4, 8, 12, 17]], np.int64)
KEYS, MASKS = np.array([HAND.key, 0xFFFFFFFF], np.uint64), np.zeros(2, np.uint64)
PLAYERS = [([(51, 47)], [1.0]), ([(42, 41), (43, 40)], [1.0, 0.5])]
CLASS_COMBOS = np.array([(51, 50), (51, 49), (51, 48), (50, 49), (50, 48), (49, 48)], np.uint8)  # AA


def fails(call, *args):
    try:
        call(*args)
    except BaseException:  # panics are BaseExceptions
        return
    raise AssertionError("no error")


CALLS = {
    "Hand and queries": lambda: (Hand(), HAND.get_key(), HAND.get_counters(), HAND.suit_count(2), HAND.has_flush(),
                                 HAND.get_flush_key(), Hand.from_bit_mask(0x1F)),
    "key and mask": lambda: (setattr(HAND, "key", HAND.key), setattr(HAND, "mask", HAND.mask)),
    "get_cards": tavrix.poker_hand.get_cards,
    "evaluate_list": lambda: tavrix.evaluate_list([(HAND.key + 0x3333000000000000, HAND.mask)] * 20),
    "binding errors": lambda: (fails(Hand.from_hole_cards, "x", 1), fails(tavrix.evaluate_list, [(1, 2, 3)]),
                               fails(setattr, HAND, "key", 2**64), fails(tavrix.evaluate, 5)),
    "panics": lambda: (fails(Hand.from_hole_cards, 52, 0), fails(tavrix.evaluate_list, [(0xFFFFFFFF, 0)])),
    "score_card_rows": lambda: (_engine.score_card_rows(ROWS), fails(_engine.score_card_rows, ROWS[:, :1] * 0 + 99)),
    "score_word_pairs": lambda: (_engine.score_word_pairs(KEYS[:1], MASKS[:1]),
                                 fails(_engine.score_word_pairs, KEYS, MASKS)),
    "exact_equity": lambda: (_engine.exact_equity(PLAYERS, [0, 21, 30, 9], 0, 2),
                             fails(_engine.exact_equity, PLAYERS[:1], [], 0, 1)),
    "monte_carlo_equity": lambda: _engine.monte_carlo_equity(PLAYERS, [0, 21, 30], 0, 100, 5, 2),
    "combo_sweep": lambda: (_engine.combo_sweep(*PLAYERS[0], *PLAYERS[1], [0, 21, 30, 9], 0, 2),
                            fails(_engine.combo_sweep, [(51, 47)], [1.0], [(51, 46)], [1.0], [], 0, 1)),
    "class_sweep": lambda: (_engine.class_sweep(CLASS_COMBOS, np.zeros(6, np.uint16), 1, 0, 2),
                            fails(_engine.class_sweep, CLASS_COMBOS[:5], np.zeros(5, np.uint16), 1, 0, 2)),
    "heads_up_counts": lambda: (_engine.heads_up_counts(np.zeros((0, 4), np.uint8)),
                                fails(_engine.heads_up_counts, np.array([[51, 51, 1, 2]], np.uint8))),
    "deal_rows": lambda: (_engine.deal_rows(50, 7, 1, 5, 2), fails(_engine.deal_rows, 1, 52, 1, 5)),
    "package": lambda: (te.equity(["AsKs", "QQ+"], "2c7d9hTs"), te.score_cards(ROWS),
                        te.score_words(KEYS[:1], MASKS[:1]), te.Range("QQ+, AKs:0.5").grid()),
}

# The first round fills the interpreter's caches and free lists; a leak keeps
# growing in every later round, by at least one block a call, where caches
# and free lists settle or come and go by a few dozen blocks.
growth = {}
for name, call in CALLS.items():
    blocks = []
    for _ in range(3):
        gc.collect()
        before = sys.getallocatedblocks()
        for _ in range(ROUNDS):
            call()
        gc.collect()
        blocks.append(sys.getallocatedblocks() - before)
    growth[name] = blocks
print(json.dumps(growth))
"""
ROUNDS = 300


@pytest.mark.skipif(__import__("os").environ.get("PYTHONMALLOC") == "malloc",
                    reason="the interpreter's own allocator, whose blocks are counted, is off")
def test_repeated_calls_leave_no_object_behind():
    child = run_child(CHILD.replace("ROUNDS", str(ROUNDS)), timeout=300)
    assert child.returncode == 0, child.stderr[-3000:]
    growth = json.loads(child.stdout)
    assert {name: blocks for name, blocks in growth.items() if min(blocks[1:]) >= ROUNDS // 2} == {}
