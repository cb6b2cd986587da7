"""Binding and converting arguments: every error a caller can meet, with its exact text."""

import collections

import pytest

import tavrix

Hand = tavrix.poker_hand.Hand
evaluate, evaluate_list = tavrix.evaluate, tavrix.evaluate_list
OUT_OF_RANGE = "out of range integral type conversion attempted"


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class RaisesUnprintable:
    def __index__(self):
        raise TypeError("outer") from KeyError("cause")


def raises(exc_type, message, call):
    with pytest.raises(exc_type) as info:
        call()
    assert type(info.value) is exc_type
    assert str(info.value) == message
    return info.value


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: Hand.from_hole_cards(1, 2, 3), "Hand.from_hole_cards() takes 2 positional arguments but 3 were given"),
        (lambda: Hand.from_hole_cards(1), "Hand.from_hole_cards() missing 1 required positional argument: 'c2'"),
        (lambda: Hand.from_hole_cards(), "Hand.from_hole_cards() missing 2 required positional arguments: 'c1' and 'c2'"),
        (lambda: Hand.from_hole_cards(c2=5), "Hand.from_hole_cards() missing 1 required positional argument: 'c1'"),
        (lambda: Hand.from_hole_cards(0, 1, c1=2), "Hand.from_hole_cards() got multiple values for argument 'c1'"),
        (lambda: Hand.from_hole_cards(c1=0, **{"c1 ": 1}), "Hand.from_hole_cards() got an unexpected keyword argument 'c1 '"),
        # The positional count is checked before any keyword.
        (lambda: Hand.from_hole_cards(1, 2, 3, c9=0), "Hand.from_hole_cards() takes 2 positional arguments but 3 were given"),
        # An unknown keyword is reported before missing parameters.
        (lambda: Hand.from_hole_cards(c9=0), "Hand.from_hole_cards() got an unexpected keyword argument 'c9'"),
        (lambda: Hand.from_hole_cards(c9=0, c1=[]), "Hand.from_hole_cards() got an unexpected keyword argument 'c9'"),
        (lambda: Hand(1), "Hand.__new__() takes 0 positional arguments but 1 was given"),
        (lambda: Hand(1, 2), "Hand.__new__() takes 0 positional arguments but 2 were given"),
        (lambda: Hand(x=1), "Hand.__new__() got an unexpected keyword argument 'x'"),
        (lambda: Hand.from_bit_mask(), "Hand.from_bit_mask() missing 1 required positional argument: 'mask'"),
        (lambda: Hand().suit_count(), "Hand.suit_count() missing 1 required positional argument: 'suit'"),
        (lambda: Hand().suit_count(0, suit=0), "Hand.suit_count() got multiple values for argument 'suit'"),
        (lambda: evaluate(), "evaluate() missing 1 required positional argument: 'hand'"),
        (lambda: evaluate(Hand(), Hand()), "evaluate() takes 1 positional arguments but 2 were given"),
        (lambda: evaluate(hands=Hand()), "evaluate() got an unexpected keyword argument 'hands'"),
        (lambda: evaluate_list([], []), "evaluate_list() takes 1 positional arguments but 2 were given"),
        (lambda: evaluate_list(lst=[]), "evaluate_list() got an unexpected keyword argument 'lst'"),
        # A keyword name with a lone surrogate matches nothing and is shown with replacement characters.
        (lambda: Hand.from_bit_mask(**{"m\udc80": 1}), "Hand.from_bit_mask() got an unexpected keyword argument 'm\ufffd\ufffd\ufffd'"),
    ],
)
def test_binding_errors(call, message):
    error = raises(TypeError, message, call)
    assert error.__cause__ is None


def test_keywords_and_index_objects_are_accepted():
    by_keyword = Hand.from_hole_cards(c1=0, c2=1)
    mixed = Hand.from_hole_cards(0, c2=1)
    assert (by_keyword.key, by_keyword.mask) == (mixed.key, mixed.mask) == (0x0011000200004000, 0x0001000100000000)
    assert Hand.from_bit_mask(mask=Index(5)).key == Hand.from_bit_mask(5).key
    assert Hand().suit_count(suit=Index(8)) == 0


def test_bools_are_integers():
    a, b = Hand.from_hole_cards(True, False), Hand.from_hole_cards(1, 0)
    assert (a.key, a.mask) == (b.key, b.mask)
    assert Hand().suit_count(True) == 0


@pytest.mark.parametrize(
    "call",
    [
        lambda: Hand.from_hole_cards(256, 0),
        lambda: Hand.from_hole_cards(-1, 0),
        lambda: Hand.from_hole_cards(0, 256),
        lambda: Hand.from_hole_cards(Index(300), 0),
        lambda: Hand().suit_count(256),
        lambda: Hand().suit_count(-5),
    ],
)
def test_small_integers_out_of_range(call):
    raises(OverflowError, OUT_OF_RANGE, call)


@pytest.mark.parametrize(
    "call",
    [
        lambda: Hand.from_hole_cards(2**70, 0),
        lambda: Hand.from_bit_mask(2**64),
        lambda: Hand.from_bit_mask(-1),
        lambda: Hand.from_bit_mask(Index(-1)),
        lambda: evaluate_list([(-1, 0)]),
        lambda: evaluate_list([(0, 2**64)]),
    ],
)
def test_the_interpreters_overflow_errors_pass_unprefixed(call):
    with pytest.raises(OverflowError) as info:
        call()
    assert not str(info.value).startswith("argument")


@pytest.mark.parametrize(
    "call, parameter",
    [
        (lambda: Hand.from_hole_cards("1", 0), "c1"),
        (lambda: Hand.from_hole_cards(1.0, 0), "c1"),
        (lambda: Hand.from_hole_cards(0, None), "c2"),
        (lambda: Hand.from_hole_cards(60, "x"), "c2"),  # conversion before the range check of c1
        (lambda: Hand.from_bit_mask(1.5), "mask"),
        (lambda: Hand().suit_count("0"), "suit"),
        (lambda: evaluate_list([(0, 0), ("k", 0)]), "list"),
        (lambda: evaluate_list([(0, 0.0)]), "list"),
    ],
)
def test_non_integers_are_prefixed_with_the_parameter(call, parameter):
    with pytest.raises(TypeError) as info:
        call()
    message = str(info.value)
    assert message.startswith(f"argument '{parameter}': ")
    assert message.endswith("cannot be interpreted as an integer")


@pytest.mark.parametrize("word", ["key", "mask"])
def test_attribute_assignment(word):
    h = Hand.from_hole_cards(3, 4)
    before = (h.key, h.mask)
    with pytest.raises(TypeError, match=f"^argument '{word}': "):
        setattr(h, word, "x")
    with pytest.raises(OverflowError):
        setattr(h, word, 2**64)
    with pytest.raises(OverflowError):
        setattr(h, word, -1)
    raises(AttributeError, "can't delete attribute", lambda: delattr(h, word))
    assert (h.key, h.mask) == before
    setattr(h, word, Index(7))
    assert getattr(h, word) == 7


def test_prefixed_error_keeps_the_original_cause():
    error = raises(TypeError, "argument 'c1': outer", lambda: Hand.from_hole_cards(RaisesUnprintable(), 0))
    assert type(error.__cause__) is KeyError and error.__cause__.args == ("cause",)


def test_other_exception_types_from_index_pass_through():
    class Boom:
        def __index__(self):
            raise ZeroDivisionError("inner")

    error = raises(ZeroDivisionError, "inner", lambda: Hand.from_hole_cards(Boom(), 0))
    assert error.__cause__ is None


def test_unprintable_error_text(run_python):
    result = run_python(
        """
        import sys, tavrix
        class NoText:
            def __str__(self):
                raise ValueError("no text")
        class Bad:
            def __index__(self):
                raise TypeError(NoText())
        reports = []
        sys.unraisablehook = lambda report: reports.append(type(report.exc_value).__name__)
        try:
            tavrix.poker_hand.Hand.from_hole_cards(Bad(), 0)
        except TypeError as e:
            print(type(e).__name__, str(e), reports)
        """
    )
    assert result.stdout == "TypeError argument 'c1': <unprintable TypeError object> ['ValueError']\n", result.stderr


@pytest.mark.parametrize(
    "argument, exc_type, message",
    [
        ("ab", TypeError, "argument 'list': Can't extract `str` to `Vec`"),
        ("", TypeError, "argument 'list': Can't extract `str` to `Vec`"),
        (type("S", (str,), {})("x"), TypeError, "argument 'list': Can't extract `str` to `Vec`"),
        (5, TypeError, "argument 'list': 'int' object cannot be converted to 'Sequence'"),
        ({(1, 2)}, TypeError, "argument 'list': 'set' object cannot be converted to 'Sequence'"),
        ({1: 2}, TypeError, "argument 'list': 'dict' object cannot be converted to 'Sequence'"),
        ((p for p in [(1, 2)]), TypeError, "argument 'list': 'generator' object cannot be converted to 'Sequence'"),
        ([Hand()], TypeError, "argument 'list': 'Hand' object cannot be converted to 'PyTuple'"),
        ([[1, 2]], TypeError, "argument 'list': 'list' object cannot be converted to 'PyTuple'"),
        (b"ab", TypeError, "argument 'list': 'int' object cannot be converted to 'PyTuple'"),
        ([(0, 0), 7], TypeError, "argument 'list': 'int' object cannot be converted to 'PyTuple'"),
        ([(1, 2, 3)], ValueError, "expected tuple of length 2, but got tuple of length 3"),
        ([()], ValueError, "expected tuple of length 2, but got tuple of length 0"),
        ([(0, 0), (1,)], ValueError, "expected tuple of length 2, but got tuple of length 1"),
    ],
)
def test_batch_argument_errors(argument, exc_type, message):
    raises(exc_type, message, lambda: evaluate_list(argument))


def test_empty_batches_score_nothing():
    assert evaluate_list([]) == [] and evaluate_list(()) == [] and evaluate_list(list=[]) == []
    assert evaluate_list(b"") == [] and evaluate_list(range(0)) == []


def test_errors_raised_while_iterating_pass_through():
    class Broken(collections.abc.Sequence):
        def __len__(self):
            raise RuntimeError("no length")  # only a hint: ignored

        def __getitem__(self, i):
            if i == 0:
                raise LookupError("item failed")
            raise IndexError

    raises(LookupError, "item failed", lambda: evaluate_list(Broken()))


@pytest.mark.parametrize(
    "value, message",
    [
        (3, "argument 'hand': 'int' object cannot be converted to 'Hand'"),
        (None, "argument 'hand': 'NoneType' object cannot be converted to 'Hand'"),
        ((0, 0), "argument 'hand': 'tuple' object cannot be converted to 'Hand'"),
        (collections.OrderedDict(), "argument 'hand': 'OrderedDict' object cannot be converted to 'Hand'"),
    ],
)
def test_evaluate_needs_a_hand(value, message):
    raises(TypeError, message, lambda: evaluate(value))


def test_writing_a_hand_while_it_is_read_is_refused():
    h = Hand()

    class Sneaky:
        def __index__(self):
            h.key = 1  # self is borrowed by suit_count while its argument converts
            return 0

    raises(RuntimeError, "Already borrowed", lambda: h.suit_count(Sneaky()))
    assert h.key == 0x3333000000000000
    h.key = 1  # the borrow was released
    assert h.key == 1


def test_named_tuples_are_pairs():
    Pair = collections.namedtuple("Pair", "key mask")
    with pytest.raises(ValueError, match="length 3"):
        evaluate_list([Pair(0, 0), (1, 2, 3)])
