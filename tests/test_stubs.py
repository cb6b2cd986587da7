"""mypy reads the installed stubs: right uses pass --strict, wrong ones are caught."""

import re
import subprocess
import sys
import textwrap

# A line that mypy must flag ends with "# expect: <error code>".
SCRIPT = textwrap.dedent("""\
    import tavrix
    from tavrix import evaluate, evaluate_list, poker_hand

    Hand = poker_hand.Hand
    board = Hand.from_bit_mask(sum(1 << c for c in (0, 21, 30)))
    hole = Hand.from_hole_cards(c1=51, c2=47)
    board.key = (board.key + hole.key) % 2**64
    board.mask |= hole.mask
    scores: list[int] = evaluate_list([(board.key, board.mask), (hole.get_key(), hole.get_mask())])
    score: int = evaluate(board) + tavrix.evaluate(hand=hole) + board.suit_count(0) + board.count()
    words: list[int] = [board.get_rank_key(), board.get_counters(), board.get_flush_key()]
    flush: bool = board.has_flush()
    reveal_type(poker_hand.get_cards())
    reveal_type(tavrix.evaluate_list)

    evaluate((board.key, board.mask))  # expect: arg-type
    evaluate_list([board])  # expect: list-item
    evaluate_list("AsKs")  # expect: arg-type
    Hand.from_hole_cards("As", 47)  # expect: arg-type
    Hand(0)  # expect: call-arg
    board.key = "0x3333"  # expect: assignment
    text: str = board.count()  # expect: assignment
    class Mine(Hand): ...  # expect: misc
    from tavrix import Hand as NotExported  # expect: attr-defined
""")
REVEALED = [
    'Revealed type is "list[tavrix.poker_hand.Hand]"',
    'Revealed type is "def (list: typing.Sequence[tuple[typing.SupportsIndex, typing.SupportsIndex]]) -> list[int]"',
]


def test_mypy_strict_uses_the_installed_stubs(tmp_path):
    (tmp_path / "user.py").write_text(SCRIPT)
    # From an empty folder, so only the installed stub package can answer for tavrix.
    run = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--show-error-codes",
         "--cache-dir", str(tmp_path / "cache"), "user.py"],
        cwd=tmp_path, capture_output=True, text=True, timeout=120,
    )
    lines = SCRIPT.splitlines()
    expected = {(n, line.rsplit("# expect: ", 1)[1]) for n, line in enumerate(lines, 1) if "# expect: " in line}
    errors = {(int(n), code) for n, code in re.findall(r"^user\.py:(\d+): error: .*\[([\w-]+)\]$", run.stdout, re.M)}
    assert errors == expected, run.stdout + run.stderr
    notes = re.findall(r"^user\.py:\d+: note: (.*)$", run.stdout, re.M)
    assert notes == REVEALED
