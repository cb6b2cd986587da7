"""Out of memory, each case in a child process.

evaluate_list's batch buffers grow with the caller's input: an endless or
enormous one raises MemoryError and leaves the process usable. Failing the
interpreter's allocations one by one (_testcapi.set_nomemory) inside the
engine's binding gives a correct result or MemoryError, never a crash; inside
`tavrix` it gives what that module always gave: the allocator's MemoryError, the
panic "Python API call failed", or, when even the panic cannot be raised, the
abort of an uncaught panic.
"""

import os
import re
import textwrap
from collections import Counter

import pytest

from switches import DEEP, SANITIZED, record, run_child

PAIR = "(0x3333000000000000 + 0x0001000100494493 + 0x1000000100494493, 0x1000000000001000)"

# The address-space limit that makes the buffer fail. Under AddressSanitizer,
# which reserves terabytes of address space, its allocator's size limit does.
LIMIT_MEMORY = "" if SANITIZED else """
    import resource
    with open("/proc/self/statm") as statm:
        used = int(statm.read().split()[0]) * resource.getpagesize()
    resource.setrlimit(resource.RLIMIT_AS, (used + (256 << 20), resource.RLIM_INFINITY))
"""


def limit_env(tmp_path):
    if not SANITIZED:
        return {}
    # Its warning about the refused allocation goes to this test's folder, not
    # among the run's reports.
    return {"ASAN_OPTIONS": os.environ["ASAN_OPTIONS"] + ":allocator_may_return_null=1:max_allocation_size_mb=256"
                            f":log_path={tmp_path}/asan"}

ARGUMENTS = {
    # A sequence whose items never end, whatever length it claims.
    "endless": """
        class Endless:
            def __getitem__(self, index): return PAIR
            def __len__(self): return 1 << 62
            def __iter__(self): return itertools.repeat(PAIR)
        argument = Endless()
        """,
    # A real list whose pairs take more room than is left.
    "enormous": "argument = [PAIR] * 20_000_000",
}


@pytest.mark.parametrize("argument", ARGUMENTS)
def test_evaluate_list_raises_memory_error_when_its_buffer_cannot_grow(argument, tmp_path):
    child = run_child("\n".join(textwrap.dedent(part) for part in (f"""
        import itertools, tavrix
        PAIR = {PAIR}
    """, ARGUMENTS[argument], LIMIT_MEMORY, """
        try:
            tavrix.evaluate_list(argument)
        except MemoryError:
            print("MemoryError")
        del argument
        print(tavrix.evaluate_list([PAIR] * 3))
    """)), env=limit_env(tmp_path))
    assert child.returncode == 0, child.stderr
    assert child.stdout.split("\n")[0] == "MemoryError"
    assert re.fullmatch(r"\[(\d+), \1, \1\]\n", child.stdout.split("\n", 1)[1])
    assert "memory allocation" not in child.stderr
    record("out of memory", f"evaluate_list of an {argument} sequence: MemoryError, then the process scores on")


# Each case: the set-up, the call, and how to compare its result. Arrays are
# made before the sweep, so that only the call meets the failing allocations.
ENGINE_CASES = {
    "score_card_rows int64": ("a = np.array([[0, 1, 2, 3, 4], [51, 47, 43, 39, 35]], np.int64)",
                              "_engine.score_card_rows(a)"),
    "score_card_rows uint8": ("a = np.array([[0, 1, 2], [12, 25, 38]], np.uint8)", "_engine.score_card_rows(a)"),
    "score_card_rows bad row": ("a = np.array([[0, 1], [2, 2]], np.int64)", "_engine.score_card_rows(a)"),
    "score_word_pairs": ("k = np.array([0x3333000000000000, 5], np.uint64); m = np.zeros(2, np.uint64)",
                         "_engine.score_word_pairs(k, m)"),
    "exact_equity": ("p = [([(51, 47)], [1.0]), ([(42, 41), (43, 40)], [1.0, 0.5])]",
                     "_engine.exact_equity(p, [0, 21, 30, 9], 0, 2)"),
    "monte_carlo_equity": ("p = [([(51, 47)], [1.0]), ([(42, 41)], [1.0]), ([(3, 7)], [1.0])]",
                           "_engine.monte_carlo_equity(p, [0, 21, 30], 0, 2000, 7, 2)"),
    "exact_equity bad request": ("p = [([(51, 47)], [1.0])]", "_engine.exact_equity(p, [], 0, 2)"),
    "heads_up_counts": ("a = np.array([[51, 47, 42, 41], [0, 1, 2, 3]], np.uint8)", "_engine.heads_up_counts(a, 2)"),
    "table_digest": ("", "_engine.table_digest()"),
    "deal_rows": ("", "_engine.deal_rows(20, 7, 1 << 51, 5, 2)"),
}
TAVRIX_CASES = {
    "evaluate_list": ("pairs = [(0x1234, 0), (0x3333000000000000, 0)] * 3", "tavrix.evaluate_list(pairs)"),
    "evaluate": ("h = Hand.from_bit_mask(0x8888800000000)", "tavrix.evaluate(h)"),
    "Hand and from_bit_mask": ("", "(Hand(), Hand.from_bit_mask(0x8421))"),
    "get_cards": ("", "tavrix.poker_hand.get_cards()"),
    "queries": ("h = Hand.from_hole_cards(51, 47)", "(h.get_key(), h.get_counters(), h.suit_count(3))"),
}

SWEEP = """
import sys, _testcapi
import numpy as np
import tavrix
from tavrix_equity import _engine
Hand = tavrix.poker_hand.Hand
try:  # the first panic creates tavrix's PanicException type
    Hand.from_hole_cards(52, 0)
except BaseException:
    pass

def describe(value):
    if isinstance(value, np.ndarray):
        return repr((value.dtype.str, value.tolist()))
    if isinstance(value, Hand):
        return repr((value.key, value.mask))
    if isinstance(value, (list, tuple)):
        return "[" + ", ".join(map(describe, value)) + "]"
    return repr(value)

def outcome(function):
    try:
        return "value " + describe(function())
    except BaseException as error:
        return f"{type(error).__name__} {error}"

# In a function of its own: unwinding an exception pushes the offset of the
# instruction as an int, and at a large offset the interpreter itself loops
# for ever when it cannot allocate that int.
def attempt(n, last):
    _testcapi.set_nomemory(n, last)
    try:
        result, error = call(), None
    except BaseException as caught:
        result, error = None, caught
    _testcapi.remove_mem_hooks()
    return result, error

@SETUP@
call = lambda: @CALL@
expected = outcome(call)
print("expected", expected, flush=True)
calm = 0
for n in range(@START@, @START@ + 2000):
    for last in (@MODES@):
        print("try", n, flush=True)
        result, error = attempt(n, last)
        got = f"{type(error).__name__} {error}" if error is not None else "value " + describe(result)
        print(n, last, "same" if got == expected else got, flush=True)
        calm = calm + 1 if got == expected and last == 0 else 0
    if calm >= 20:
        break
print("after", "same" if outcome(call) == expected else outcome(call), flush=True)
"""
UNCAUGHT_PANIC = "uncaught panic at ffi boundary"
# When the one allocation that fails is the interpreter's own, made while an
# error raised by a C function travels up (int("x") gives it too).
INTERPRETERS_OWN = "SystemError error return without exception set"


def sweep(setup, call, allowed, may_abort=False):
    """Fails the interpreter's allocations from each n on (and, when deep, the
    n-th alone) during `call`; returns what the failures that did not give the
    result gave, by kind: an allowed error, or the abort `tavrix` gives when
    even its panic cannot be raised, after which the sweep goes on in a new
    child."""
    modes = "0, n + 1" if DEEP else "0,"
    start, errors = 0, Counter()
    while True:
        code = SWEEP.replace("@SETUP@", setup).replace("@CALL@", call).replace("@MODES@", modes)
        child = run_child(code.replace("@START@", str(start)))
        lines = child.stdout.splitlines()
        assert lines and lines[0].startswith("expected "), child.stdout + child.stderr
        results = [line.split(" ", 2) for line in lines[1:] if not line.startswith(("after", "try"))]
        for n, last, got in results:
            assert got == "same" or any(re.fullmatch(pattern, got) for pattern in allowed) or (
                last != "0" and got == INTERPRETERS_OWN), (n, last, got)
            if got != "same":
                errors[got.split(" ", 1)[0]] += 1
        if child.returncode == 0:
            assert lines[-1] == "after same"
            return errors
        # Only tavrix may end a sweep, by its abort after the panic report.
        assert child.returncode == -6 and UNCAUGHT_PANIC in child.stderr, (child.returncode, child.stderr[-2000:])
        assert may_abort, child.stderr[-2000:]
        start = int(lines[-1].split()[1]) + 1
        errors["abort of the uncaught panic"] += 1


def outcomes(failed):
    return f"allocations failing from {sum(failed.values())} points on gave " + ", ".join(
        f"{kind} {count}" for kind, count in failed.most_common())


@pytest.mark.parametrize("case", ENGINE_CASES)
def test_engine_binding_survives_failing_allocations(case):
    setup, call = ENGINE_CASES[case]
    documented = {"score_card_rows bad row": [r"ValueError row 1: .*"], "exact_equity bad request": [r"ValueError .*"]}
    failed = sweep(setup, call, [r"MemoryError.*", *documented.get(case, [])])
    record("out of memory", f"engine {case}: {outcomes(failed)}")
    assert failed["MemoryError"] > 0


@pytest.mark.parametrize("case", TAVRIX_CASES)
def test_tavrix_keeps_its_out_of_memory_behaviour(case):
    setup, call = TAVRIX_CASES[case]
    failed = sweep(setup, call, [r"MemoryError.*", r"PanicException Python API call failed"], may_abort=True)
    record("out of memory", f"tavrix {case}: {outcomes(failed)}")
    assert failed
