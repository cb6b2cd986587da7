"""Panics: PanicException, the report on standard error, and panics coming back from Python."""

import pytest

import tavrix

Hand = tavrix.poker_hand.Hand

REPORT_HEADER = "thread '<unnamed>' panicked at {}:"


def catch_panic(call):
    try:
        call()
    except Exception:  # noqa: BLE001 - a panic must not be caught here
        pytest.fail("PanicException was caught by 'except Exception'")
    except BaseException as e:  # noqa: BLE001
        return e
    pytest.fail("no panic")


@pytest.mark.parametrize(
    "c1, c2, index",
    [(52, 0, 52), (0, 255, 255), (52, 60, 52), (0, 52, 52), (255, 255, 255)],
)
def test_card_index_out_of_bounds(c1, c2, index):
    e = catch_panic(lambda: Hand.from_hole_cards(c1, c2))
    assert type(e).__name__ == "PanicException" and type(e).__module__ == "pyo3_runtime"
    assert type(e).__bases__ == (BaseException,)
    assert str(e) == e.args[0] == f"index out of bounds: the len is 52 but the index is {index}"
    assert e.args == (str(e),)


def test_panic_type_is_one_object_and_not_exported():
    first = catch_panic(lambda: Hand.from_hole_cards(60, 0))
    second = catch_panic(lambda: Hand.from_hole_cards(0, 60))
    assert type(first) is type(second)
    assert type(first).__doc__.strip()
    for module in (tavrix, tavrix.poker_hand):
        assert not hasattr(module, "PanicException")


def test_panic_reports_on_standard_error(run_python):
    result = run_python(
        """
        import tavrix
        Hand = tavrix.poker_hand.Hand
        for c1, c2 in [(52, 0), (0, 60)]:
            try:
                Hand.from_hole_cards(c1, c2)
            except BaseException as e:
                print(type(e).__name__, e)
        """
    )
    assert result.stdout.splitlines() == [
        "PanicException index out of bounds: the len is 52 but the index is 52",
        "PanicException index out of bounds: the len is 52 but the index is 60",
    ]
    lines = result.stderr.splitlines()
    # The backtrace hint follows the first report only.
    assert len(lines) == 5, result.stderr
    assert lines[0] == REPORT_HEADER.format("src/hand_evaluator/hand.cpp:41:9")
    assert lines[1] == "index out of bounds: the len is 52 but the index is 52"
    assert lines[2].startswith("note: ")
    assert lines[3] == REPORT_HEADER.format("src/hand_evaluator/hand.cpp:41:34")
    assert lines[4] == "index out of bounds: the len is 52 but the index is 60"


def test_ordinary_errors_write_nothing(run_python):
    result = run_python(
        """
        import tavrix
        Hand = tavrix.poker_hand.Hand
        for call in [lambda: Hand(1), lambda: Hand.from_hole_cards("x", 0), lambda: Hand.from_bit_mask(-1),
                     lambda: tavrix.evaluate(5), lambda: tavrix.evaluate_list([(1, 2, 3)])]:
            try:
                call()
            except Exception:
                pass
        """
    )
    assert result.returncode == 0 and result.stderr == ""


RESUME_BANNER = [
    "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---",
    "Python stack trace below:",
]


@pytest.mark.parametrize(
    "raise_again, message",
    [
        ("raise caught", "index out of bounds: the len is 52 but the index is 99"),
        ("raise type(caught)(NoText())", "Unwrapped panic from Python code"),
    ],
)
def test_panic_coming_back_from_python_is_resumed(run_python, raise_again, message):
    result = run_python(
        f"""
        import sys, tavrix
        Hand = tavrix.poker_hand.Hand
        try:
            Hand.from_hole_cards(99, 0)
        except BaseException as e:
            caught = e
        class NoText:
            def __str__(self):
                raise ValueError("no text")
        class Again:
            def __index__(self):
                {raise_again}
        hand = Hand()
        try:
            hand.suit_count(Again())
        except BaseException as e:
            print(type(e).__name__, e is caught, type(e) is type(caught), "|", str(e))
        hand.key = 1  # the shared borrow of hand was released while unwinding
        print(hand.key, hasattr(sys, "last_exc"))
        """
    )
    assert result.stdout.splitlines() == [f"PanicException False True | {message}", "1 False"], result.stderr
    stderr = result.stderr.splitlines()
    banner_at = stderr.index(RESUME_BANNER[0])
    assert stderr[banner_at + 1] == RESUME_BANNER[1]
    assert stderr[banner_at + 2] == "Traceback (most recent call last):"
    assert "in __index__" in result.stderr
    # Resuming writes no second panic report.
    assert sum(line.startswith("thread '<unnamed>' panicked") for line in stderr) == 1


def test_panic_coming_back_through_iteration(run_python):
    result = run_python(
        """
        import tavrix
        try:
            tavrix.poker_hand.Hand.from_hole_cards(77, 0)
        except BaseException as e:
            caught = e
        def pairs():
            yield (0, 0)
            raise caught
        class Pairs(list):
            def __iter__(self):
                return pairs()
        try:
            tavrix.evaluate_list(Pairs())
        except BaseException as e:
            print(type(e).__name__, str(e))
        """
    )
    assert result.stdout == "PanicException index out of bounds: the len is 52 but the index is 77\n"
    assert RESUME_BANNER[0] in result.stderr
