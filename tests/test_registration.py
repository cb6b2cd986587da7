"""The module tree as Python sees it: names, documentation, signatures, the class."""

import importlib
import sys
import textwrap
import weakref

import pytest

import tavrix

Hand = tavrix.poker_hand.Hand

CLASS_DOC = (
    "64 bit representation of poker hand for use in evaluator\n\n"
    "Bits 0-31: key to non flush lookup table\n"
    "Bits 32-35: card counter\n"
    "Bits 48-63: suit counter\n"
    "Bits 64-128: Bit mask for all cards (suits in 16 bit groups)"
)

METHODS = [
    # name, text signature, doc
    ("from_hole_cards", "(c1, c2)", "Create hand from hole cards"),
    ("from_bit_mask", "(mask)", "construct a Hand object from board mask"),
    ("get_key", "($self)", "Return first 64 bits"),
    ("get_mask", "($self)", "Return last 64 bits"),
    ("get_rank_key", "($self)", "get rank key of card for lookup table"),
    ("get_counters", "($self)", "Return counter bits"),
    ("get_flush_key", "($self)", "Get flush key of card for lookup table\n\nReturns 0 if there is no flush"),
    ("has_flush", "($self)", None),
    ("count", "($self)", None),
    ("suit_count", "($self, suit)", "Get the number of cards for a suit"),
]


def test_module_tree():
    assert tavrix.__all__ == ["evaluate", "evaluate_list", "poker_hand"]
    assert tavrix.poker_hand.__all__ == ["Hand", "get_cards"]
    assert tavrix.__doc__ == "" and tavrix.poker_hand.__doc__ is None
    assert tavrix.__name__ == "tavrix" and tavrix.poker_hand.__name__ == "poker_hand"
    assert "poker_hand" not in sys.modules and "tavrix.poker_hand" not in sys.modules
    from tavrix import poker_hand

    assert poker_hand is tavrix.poker_hand
    with pytest.raises(ModuleNotFoundError):
        importlib.import_module("tavrix.poker_hand")


@pytest.mark.parametrize(
    "function, module, signature, doc",
    [
        (tavrix.evaluate, tavrix, "(hand)", "Evaluates a single hand and returns score"),
        (tavrix.evaluate_list, tavrix, "(list)", None),
        (tavrix.poker_hand.get_cards, tavrix.poker_hand, "()", None),
    ],
)
def test_module_functions(function, module, signature, doc):
    assert function.__text_signature__ == signature
    assert function.__doc__ == doc
    assert function.__self__ is module
    assert function.__module__ == module.__name__
    assert type(function).__name__ == "builtin_function_or_method"


@pytest.mark.parametrize("name, signature, doc", METHODS)
def test_methods(name, signature, doc):
    method = getattr(Hand, name)
    assert method.__text_signature__ == signature
    assert method.__doc__ == doc


def test_methods_are_in_order():
    names = [name for name in Hand.__dict__ if not name.startswith("__") and name not in ("key", "mask")]
    assert names == [name for name, _, _ in METHODS]


def test_static_methods_work_through_class_and_instance():
    assert isinstance(Hand.__dict__["from_hole_cards"], staticmethod)
    a, b = Hand.from_hole_cards(0, 1), Hand().from_hole_cards(c1=0, c2=1)
    assert (a.key, a.mask) == (b.key, b.mask)
    assert Hand().from_bit_mask(mask=1).count() == 1


@pytest.mark.parametrize("name", ["get_key", "has_flush", "count"])
def test_no_argument_methods_refuse_arguments(name):
    with pytest.raises(TypeError, match="takes no arguments"):
        getattr(Hand(), name)(1)


def test_class_object():
    assert type(Hand()) is Hand
    assert (Hand.__name__, Hand.__qualname__, Hand.__module__) == ("Hand", "Hand", "builtins")
    assert repr(Hand) == "<class 'builtins.Hand'>"
    assert repr(Hand()).startswith("<builtins.Hand object at ")
    assert Hand.__text_signature__ == "()"
    assert Hand.__doc__ == CLASS_DOC
    assert Hand.__base__ is object
    # Mutable like any heap type, but neither collected nor subclassable.
    assert not Hand.__flags__ & (1 << 10)  # BASETYPE
    assert not Hand.__flags__ & (1 << 14)  # HAVE_GC
    assert not Hand.__flags__ & (1 << 8)  # IMMUTABLETYPE


def test_class_cannot_be_subclassed():
    with pytest.raises(TypeError):
        type("Sub", (Hand,), {})


def test_instances_have_no_dict_and_no_weakrefs():
    h = Hand()
    with pytest.raises(AttributeError):
        h.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(h)


@pytest.mark.parametrize("name", ["key", "mask"])
def test_attribute_descriptors(name):
    descriptor = Hand.__dict__[name]
    assert type(descriptor).__name__ == "getset_descriptor"
    assert descriptor.__doc__ == ""
    assert name in dir(Hand())


def test_dir_lists_every_method():
    assert {name for name, _, _ in METHODS} | {"key", "mask"} <= set(dir(Hand()))


def test_instances_release_their_type_reference():
    before = sys.getrefcount(Hand)
    hands = [Hand() for _ in range(1000)] + tavrix.poker_hand.get_cards()
    hands += [Hand.from_hole_cards(1, 2), Hand.from_bit_mask(7)]
    assert sys.getrefcount(Hand) > before
    del hands
    assert sys.getrefcount(Hand) == before


def test_reimport_returns_the_same_module(run_python):
    result = run_python(
        """
        import sys, tavrix
        first, evaluate, hand_type = tavrix, tavrix.evaluate, tavrix.poker_hand.Hand
        del sys.modules["tavrix"]
        import tavrix
        assert tavrix is first and tavrix.evaluate is evaluate
        assert tavrix.poker_hand.Hand is hand_type
        assert tavrix.__all__ == ["evaluate", "evaluate_list", "poker_hand"]
        print("same")
        """
    )
    assert result.stdout == "same\n", result.stderr


SUBINTERPRETER_IMPORT = {
    (3, 12): """
        import _xxsubinterpreters as interpreters
        interp = interpreters.create(isolated=False)
        try:
            interpreters.run_string(interp, "import tavrix")
        except interpreters.RunFailedError as e:
            print(e)
        """,
    (3, 13): """
        import _interpreters
        interp = _interpreters.create("legacy")
        failure = _interpreters.run_string(interp, "import tavrix")
        print(failure.formatted)
        """,
}


@pytest.mark.skipif(sys.version_info[:2] not in SUBINTERPRETER_IMPORT, reason="no known sub-interpreter API")
def test_second_interpreter_cannot_import(run_python):
    result = run_python(
        "import tavrix\n"
        + textwrap.dedent(SUBINTERPRETER_IMPORT[sys.version_info[:2]])
        + "\nprint(tavrix.poker_hand.Hand.from_hole_cards(0, 1).count())\n"
    )
    lines = result.stdout.splitlines()
    assert "ImportError" in lines[0], result.stderr
    assert lines[0].endswith(
        "PyO3 modules do not yet support subinterpreters, see "
        "https://docs.python.org/3/c-api/init.html#sub-interpreter-support"
    )
    assert lines[1] == "2"  # the first interpreter's module keeps working
