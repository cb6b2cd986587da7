"""Scoring throughput, side by side in one run.

    .venv/bin/python bench/bench_scoring.py [--hands N] [--repeat R]

Scores the same random seven-card hands four ways and prints hands per second:
- evaluate_list on (key, mask) pairs (one call per batch);
- evaluate on Hand objects, one call per hand;
- the same table lookups written in pure Python over the table files
  (the reference: what the tables alone give without the extension);
- building the pairs in Python from a board and hole cards, then evaluate_list
  (the cost a typical caller sees end to end).
"""

import argparse
import random
import sys
import time
from array import array
from pathlib import Path

import tavrix
from tavrix import evaluate, evaluate_list, poker_hand

Hand = poker_hand.Hand
TABLES = Path(__file__).resolve().parent.parent / "tables"


def read_array(name, typecode):
    values = array(typecode)
    values.frombytes((TABLES / name).read_bytes())
    if sys.byteorder != "little":
        values.byteswap()
    return values


def python_scorer():
    rank_table = read_array("h_eval_rank_table.dat", "H")
    flush_table = read_array("h_eval_flush_table.dat", "H")
    offsets = read_array("h_eval_offsets.dat", "I")

    def score(key, mask):
        if key & 0x8888000000000000:
            flags = (key >> 32) & 0x88880000
            shift = 4 * (32 - flags.bit_length())
            return flush_table[(mask >> shift) & 0xFFFF]
        rank = key & 0xFFFFFFFF
        return rank_table[(rank + offsets[rank >> 12]) & 0xFFFFFFFF]

    return score


def best_of(repeat, run):
    best = float("inf")
    result = None
    for _ in range(repeat):
        start = time.perf_counter()
        result = run()
        best = min(best, time.perf_counter() - start)
    return best, result


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--hands", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args(argv)

    rng = random.Random(20261207)
    deals = [rng.sample(range(52), 7) for _ in range(args.hands)]
    hands = [Hand.from_bit_mask(sum(1 << c for c in deal)) for deal in deals]
    pairs = [(h.key, h.mask) for h in hands]
    boards = [Hand.from_bit_mask(sum(1 << c for c in deal[2:])) for deal in deals]
    holes = [Hand.from_hole_cards(deal[0], deal[1]) for deal in deals]
    board_words = [(b.key, b.mask) for b in boards]
    hole_words = [(h.key, h.mask) for h in holes]
    python_score = python_scorer()

    def combine_and_score():
        return evaluate_list([((bk + hk) & 0xFFFFFFFFFFFFFFFF, bm | hm)
                              for (bk, bm), (hk, hm) in zip(board_words, hole_words)])

    runs = [
        ("evaluate_list on (key, mask) pairs", lambda: evaluate_list(pairs)),
        ("evaluate on Hand objects", lambda: [evaluate(h) for h in hands]),
        ("pure Python lookups in the same tables", lambda: [python_score(k, m) for k, m in pairs]),
        ("combine board + hole cards, then evaluate_list", combine_and_score),
    ]
    print(f"tavrix {tavrix.__file__}\n{args.hands:,} random 7-card hands, best of {args.repeat}")
    reference = None
    for name, run in runs:
        seconds, scores = best_of(args.repeat, run)
        if reference is None:
            reference = scores
        assert scores == reference, f"{name} disagrees with evaluate_list"
        print(f"{name:48s} {args.hands / seconds / 1e6:8.2f} M hands/s  ({seconds * 1e9 / args.hands:6.1f} ns/hand)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
