"""The engine's equity calls read their players and board themselves: wrong
shapes are TypeErrors naming the part, and any sequence is taken."""

import pytest

from tavrix_equity import _engine

HEADS_UP = [([(51, 47)], [1.0]), ([(42, 41)], [1.0])]


@pytest.mark.parametrize("players, board, message", [
    ("AsKs QhQd", [], "players must be a sequence"),
    ([([(51, 47)], [1.0]), 7], [], "each player must be a sequence"),
    ([([(51, 47)], [1.0], 3), ([(42, 41)], [1.0])], [], r"each player must be a \(combos, weights\) pair"),
    ([([(51, 47, 43)], [1.0]), ([(42, 41)], [1.0])], [], "each combo must be a pair of cards"),
    ([([(51, 256)], [1.0]), ([(42, 41)], [1.0])], [], "combos must hold card indices 0 to 255"),
    (HEADS_UP, [0, -1], "board must hold card indices 0 to 255"),
    (HEADS_UP, [0, 2**70], "board must hold card indices 0 to 255"),
    (HEADS_UP, [0, 1.5], "'float' object cannot be interpreted as an integer"),
    ([([(51, 47)], ["x"]), ([(42, 41)], [1.0])], [], "must be real number"),
])
def test_malformed_arguments_are_type_errors(players, board, message):
    for call in (lambda: _engine.exact_equity(players, board, 0, 1),
                 lambda: _engine.monte_carlo_equity(players, board, 0, 10, 1, 1)):
        with pytest.raises(TypeError, match=message):
            call()


def test_any_sequence_is_taken():
    as_lists = _engine.exact_equity(HEADS_UP, [0, 21, 30], 0, 1)
    as_tuples = _engine.exact_equity(tuple((tuple(c), tuple(w)) for c, w in HEADS_UP), (0, 21, 30), 0, 1)
    assert as_lists == as_tuples and as_lists[4] == 990
