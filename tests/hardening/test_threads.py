"""Threads: Python threads calling the engine (which runs worker threads of its
own, with the interpreter's lock released) and tavrix at once, every result
checked; Ctrl-C in the middle of long multi-threaded calls leaves the process
usable and no thread behind."""

import os
import random
import threading
import time

import numpy as np

import tavrix
import tavrix_equity as te
from switches import record, run_child, scaled
from tavrix_equity import _engine

Hand = tavrix.poker_hand.Hand


def tasks(seed):
    """Calls of every kind, each with the result it gave in this thread alone."""
    rng = random.Random(seed)
    jobs = []
    for _ in range(4):
        deck = rng.sample(range(52), 52)
        players = [te.format_cards(deck[2 * i:2 * i + 2]) for i in range(rng.randint(2, 4))]
        board = deck[10:10 + rng.choice([3, 4, 5])]
        for threads in (1, 3):
            jobs.append((te.equity, (players, board), {"threads": threads}))
            jobs.append((te.equity, (players, board[:3]), {"trials": 70_000, "seed": rng.randrange(1 << 64),
                                                            "threads": threads}))
    jobs.append((te.equity, (["QQ+,AKs", "JJ-99,AQs"], "2c7d9h"), {"threads": 2}))
    rows = np.array([rng.sample(range(52), 7) for _ in range(20_000)], dtype=np.uint8)
    jobs.append((te.score_cards, (rows,), {}))
    hands = [Hand.from_bit_mask(sum(1 << int(c) for c in row)) for row in rows[:2000]]
    pairs = [(h.key, h.mask) for h in hands]
    jobs.append((te.score_words, (np.array([p[0] for p in pairs], np.uint64), np.array([p[1] for p in pairs], np.uint64)), {}))
    jobs.append((tavrix.evaluate_list, (pairs,), {}))
    jobs.append((lambda hs: [tavrix.evaluate(h) for h in hs], (hands[:300],), {}))
    jobs.append((_engine.heads_up_counts, (np.array([[51, 47, 42, 41]], np.uint8), 2), {}))
    jobs.append((te.deal_cards, (40_000, 7), {"seed": rng.randrange(1 << 64), "exclude": "AsKs"}))
    return [(function, args, kwargs, function(*args, **kwargs)) for function, args, kwargs in jobs]


def same(a, b):
    return bool(np.array_equal(a, b)) if isinstance(a, np.ndarray) else a == b


def task_count():
    return len(os.listdir("/proc/self/task"))


def test_python_threads_and_engine_threads_together():
    jobs = tasks(7)
    before = (threading.active_count(), task_count())
    workers, seconds = scaled(4, 8), scaled(2.0, 25.0)
    done, failures = [0] * workers, []
    stop = time.monotonic() + seconds

    def work(number):
        rng = random.Random(number)
        try:
            while time.monotonic() < stop:
                function, args, kwargs, expected = rng.choice(jobs)
                result = function(*args, **kwargs)
                if not same(result, expected):
                    failures.append((function, args, kwargs, result, expected))
                done[number] += 1
        except BaseException as error:  # noqa: BLE001 - reported below
            failures.append(error)

    pool = [threading.Thread(target=work, args=(n,)) for n in range(workers)]
    for thread in pool:
        thread.start()
    for thread in pool:
        thread.join()
    assert failures == []
    assert (threading.active_count(), task_count()) == before
    record("threads", f"{workers} Python threads for {seconds:.0f} s beside the engine's own: "
                      f"{sum(done)} checked calls ({', '.join(map(str, done))}), no wrong result, "
                      f"{before[1]} OS threads before and after")
    assert min(done) > 0


CTRL_C = """
import os, random, signal, sys, threading, time
import tavrix, tavrix_equity

def counts():
    return threading.active_count(), len(os.listdir("/proc/self/task"))

stop_busy = threading.Event()
def busy():  # another Python thread keeps calling tavrix throughout
    pairs = [(0x3333000000000000, 0)] * 1000
    while not stop_busy.is_set():
        assert tavrix.evaluate_list(pairs) == [0] * 1000
busy_thread = threading.Thread(target=busy)
busy_thread.start()
baseline = counts()
rng = random.Random(5)
for attempt in range(ROUNDS):
    threads = rng.choice([1, 2, 4, 8])
    delay = rng.uniform(0.05, 0.6)
    fired = []
    def interrupt():  # lateness counts from the signal, not from a timer that a loaded machine delays
        fired.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)
    timer = threading.Timer(delay, interrupt)
    timer.start()
    try:
        if attempt % 2:
            tavrix_equity.equity(["AsKs", "QhQd", "JcTc"], trials=10**12, seed=attempt, threads=threads)
        else:
            tavrix_equity.equity(["QQ+,AKs", "random", "AhKd"], "2c", threads=threads)  # exact, three players: long
        print("finished", flush=True)
    except KeyboardInterrupt:
        late = time.monotonic()
        timer.join()
        late -= fired[0]
        time.sleep(0.05)
        print("interrupted", threads, f"{late:.3f}", counts() == baseline, counts(), flush=True)
stop_busy.set()
busy_thread.join()
print("usable", tavrix_equity.equity(["AsKs", "QhQd"], "2c7d9hTs").boards, counts(), flush=True)
"""


def test_ctrl_c_in_long_multithreaded_calls_leaves_no_thread():
    rounds = scaled(4, 30)
    child = run_child(CTRL_C.replace("ROUNDS", str(rounds)), timeout=60 + 10 * rounds)
    assert child.returncode == 0, child.stderr
    lines = child.stdout.splitlines()
    assert lines[-1].startswith("usable 44 ") and len(lines) == rounds + 1, child.stdout
    lateness = []
    for line in lines[:-1]:
        word, threads, late, no_leak, *_ = line.split(" ", 4)
        assert word == "interrupted" and no_leak == "True", line
        lateness.append(float(late))
    assert max(lateness) < 2.0, lateness
    record("threads", f"Ctrl-C in {rounds} long calls on 1 to 8 engine threads (exact and Monte Carlo, another "
                      f"thread calling tavrix): stopped within {max(lateness):.3f} s, thread counts unchanged")
