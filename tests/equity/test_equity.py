"""Equity of hands: exact counts against a plain loop over tavrix.evaluate,
Monte Carlo against exact, reproducibility, the lock and Ctrl-C, bad input."""

import itertools
import signal
import subprocess
import sys
import threading
import time
from fractions import Fraction

import pytest

import tavrix
from tavrix_equity import EquityResult, equity, parse_cards

Hand = tavrix.poker_hand.Hand


def brute_force(hands, board):
    """Wins, ties and exact equity shares by scoring every completion with tavrix."""
    players = [parse_cards(h) for h in hands]
    fixed = parse_cards(board)
    used = set(fixed).union(*players)
    deck = [c for c in range(52) if c not in used]
    wins, ties = [0] * len(players), [0] * len(players)
    shares = [Fraction(0)] * len(players)
    boards = 0
    for extra in itertools.combinations(deck, 5 - len(fixed)):
        scores = [tavrix.evaluate(Hand.from_bit_mask(sum(1 << c for c in (*fixed, *extra, *p)))) for p in players]
        best = max(scores)
        top = [i for i, s in enumerate(scores) if s == best]
        for i in top:
            (wins if len(top) == 1 else ties)[i] += 1
            shares[i] += Fraction(1, len(top))
        boards += 1
    return wins, ties, shares, boards


@pytest.mark.parametrize("hands, board", [
    (["AsKs", "QhQd"], "2h7d9sTc"),
    (["AhKd", "AcKs"], "2h7h9h"),              # split pots and flush draws
    (["7c7d", "AsKs", "JhTh"], "8h9h2c"),
    (["2c3c", "4d5d", "AhAs", "KhKs"], "6c7dQs"),
])
def test_exact_counts_match_a_brute_force_loop(hands, board):
    wins, ties, shares, boards = brute_force(hands, board)
    result = equity(hands, board)
    assert (result.wins, result.ties, result.boards, result.exact) == (tuple(wins), tuple(ties), boards, True)
    assert result.equity == pytest.approx([float(s / boards) for s in shares], abs=1e-12)
    assert result.std_error == (0.0,) * len(hands)


@pytest.mark.parametrize("threads", [1, 2, 3])
def test_preflop_figures_do_not_depend_on_threads(threads):
    result = equity(["AsKs", "QhQd"], threads=threads)
    assert result.wins == (787966, 917606) and result.ties == (6732, 6732) and result.boards == 1712304
    assert sum(result.equity) == pytest.approx(1.0)


def test_inputs_as_card_indices_give_the_same_result():
    assert equity([(51, 47), [42, 41]], [0, 21, 30], ()) == equity(["AsKs", "QhQd"], "2c7d9h")
    assert equity([["As", "Ks"], "QhQd"], ["2c", "7d", "9h"]) == equity(["AsKs", "QhQd"], "2c7d9h")


def test_monte_carlo_is_within_four_standard_errors_and_reproducible():
    hands, board = ["AsKs", "QhQd", "JcTc"], "2h7d"
    exact = equity(hands, board)
    sampled = equity(hands, board, trials=300_000, seed=11, threads=1)
    assert sampled.boards == 300_000 and not sampled.exact
    for e, s, err in zip(exact.equity, sampled.equity, sampled.std_error):
        assert 0 < err < 0.01 and abs(e - s) < 4 * err
    assert equity(hands, board, trials=300_000, seed=11, threads=2) == sampled
    assert equity(hands, board, trials=300_000, seed=12) != sampled


@pytest.mark.parametrize("args, kwargs, message", [
    ((["AsKs", "AsQd"],), {}, "duplicate card As"),
    ((["AsKs", "QhQd"], "Ks2c3c"), {}, "duplicate card Ks"),
    ((["AsKs", "QhQd"], "", "Qh"), {}, "duplicate card Qh"),
    ((["AsKs", "QhQdJc"],), {}, "a hand is two cards"),
    ((["AsKs", (12,)],), {}, "a hand is two cards"),
    ((["AsKs", "QhQd"], "2c3c4c5c6c7c"), {}, "at most 5"),
    ((["AsKs"],), {}, "2 to 10 players"),
    (([f"{r}c{r}d" for r in "23456789TJQ"],), {}, "2 to 10 players"),
    ((["AsKs", (52, 1)],), {}, "outside 0 to 51"),
    ((["AsKs", "QhQd"], [-1]), {}, "outside 0 to 51"),
    ((["AsKs", "QhQd"], "", [c for c in range(48) if c not in (47, 42, 41)]), {}, "too few cards left"),
    ((["AsKs", "QhQd"],), {"trials": 0}, "trials must be at least 1"),
    ((["AsKs", "QhQd"],), {"threads": 0}, "threads must be at least 1"),
    ((["AsKs", "QhQd"],), {"trials": 10, "seed": -1}, "seed -1 is outside"),
])
def test_bad_input_is_a_value_error(args, kwargs, message):
    with pytest.raises(ValueError, match=message):
        equity(*args, **kwargs)


def test_result_is_immutable_and_readable():
    result = equity(["AsKs", "QhQd"], "2c7d9hTs")
    with pytest.raises(AttributeError):
        result.boards = 0
    assert isinstance(result, EquityResult) and "AsKs" in repr(result) and "exact" in repr(result)


def test_other_threads_run_while_the_engine_computes():
    ticks = 0
    done = threading.Event()

    def count():
        nonlocal ticks
        while not done.is_set():
            ticks += 1
            time.sleep(0.001)

    counter = threading.Thread(target=count)
    counter.start()
    try:
        start = time.perf_counter()
        equity(["AsKs", "QhQd", "JcTc"], trials=20_000_000, seed=1, threads=1)
        elapsed = time.perf_counter() - start
    finally:
        done.set()
        counter.join()
    # A thread shut out by a held lock ticks not at all during the call; on a
    # loaded machine a 1 ms sleep can last tens of ms, so ask for a tick per 50 ms.
    assert elapsed > 0.2 and ticks >= max(5, elapsed * 1000 / 50)


@pytest.mark.parametrize("call", [
    "equity(['AsKs', 'QhQd'], trials=10**12 // 1000, seed=1)",
    # Ranges that rarely leave a deal: one block of trials takes minutes of
    # redrawn deals, so the engine must stop inside a block.
    "equity(['AA,KK,QQ,JJ'] * 8, trials=10**6, seed=1, threads=1)",
    "equity(['AsAhKsKh', 'random'], game='omaha-hi-lo', trials=10**11, seed=1)",
    "equity(['AsAhKsKh', 'random'], '2c7d9h', game='omaha')",
    # Preflop board sweeps: seconds of work in items of a few milliseconds.
    "equity(['random', 'random'], threads=1)",
    "tavrix_equity.combo_equity('random', 'random:0.5', threads=2)",
])
def test_ctrl_c_stops_a_long_call_quickly(call):
    code = (
        "import time, tavrix_equity\n"
        "from tavrix_equity import equity\n"
        "print('ready', flush=True)\n"
        "try:\n"
        f"    {call}\n"
        "except KeyboardInterrupt:\n"
        "    print(f'interrupted {time.monotonic()!r}', flush=True)\n"
        "print(tavrix_equity.equity(['AsKs', 'QhQd'], '2c7d9hTs').boards)\n"
    )
    with subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True) as child:
        try:
            assert child.stdout.readline().strip() == "ready"
            time.sleep(0.5)
            sent = time.monotonic()
            child.send_signal(signal.SIGINT)
            out, _ = child.communicate(timeout=60)
        finally:
            child.kill()  # a child that ignored the signal must not outlive the test
    word, when = out.splitlines()[0].split()
    assert word == "interrupted" and out.splitlines()[1] == "44"
    # The time from the signal to KeyboardInterrupt in the child (one
    # system-wide clock), not the child's exit and leak check: about 0.05 s
    # unloaded, with a margin for a loaded machine and the sanitizers.
    assert float(when) - sent < 2
