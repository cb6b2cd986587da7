"""Arbitrary values into every callable and attribute of tavrix and tavrix_equity.

Ints of every size and sign, bools, floats, NaN, text, None, numpy arrays of
every dtype, shape, order and stride, and objects whose __index__, __len__,
__iter__ or __array__ raise or lie. Every call gives the right result or an
error its interface documents. tavrix is checked against a model of its words
and tables; tavrix_equity against tavrix and against brute force; the engine's
binding against both. make test runs a short seeded pass; make check-deep
(TAVRIX_DEEP=1) runs thousands of examples per callable.
"""

import faulthandler
import itertools
import math
import operator
import pickle
import re
from collections import Counter
from fractions import Fraction

import numpy as np
import pytest
from hypothesis import HealthCheck, example, given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

import tavrix
import tavrix_equity as te
import tavrix_tables
from switches import DEEP, record, scaled
from tavrix_equity import _engine

Hand = tavrix.poker_hand.Hand
TABLES = tavrix_tables.load_tables(tavrix_tables.TABLE_DIR)
RANK_BASES = tavrix_tables.rank_bases()
M64 = 1 << 64
EMPTY = (0x3333000000000000, 0)
CARD_WORDS = [(RANK_BASES[c >> 2] + (1 << 32) + (1 << (48 + 4 * (c & 3))), 1 << (16 * (3 - (c & 3)) + (c >> 2)))
              for c in range(52)]
CALLS = Counter()
HUGE = scaled(1 << 16, 1 << 21)


def _panic_type():
    try:
        Hand.from_hole_cards(52, 0)
    except BaseException as error:  # noqa: BLE001 - the panic is a BaseException
        return type(error)


PANIC = _panic_type()


def fuzz(short, deep):
    return settings(max_examples=scaled(short, deep), deadline=None, derandomize=True, database=None,
                    suppress_health_check=list(HealthCheck))


@pytest.fixture(autouse=True, scope="module")
def examples_per_callable():
    yield
    for name, count in sorted(CALLS.items()):
        record("fuzz examples per callable", f"{name:<40}{count:>8}")


@pytest.fixture(autouse=True)
def no_hang():
    # A hang fails the run with every thread's traceback instead of stalling it.
    faulthandler.dump_traceback_later(scaled(300, 1800), exit=True)
    yield
    faulthandler.cancel_dump_traceback_later()


# --- outcomes -----------------------------------------------------------------

class Lie(Exception):
    """Raised by the lying objects below."""


class Expected(Exception):
    """What a model predicts instead of a value: an exception type and a message pattern."""

    def __init__(self, kind, pattern=""):
        super().__init__(kind, pattern)
        self.kind, self.pattern = kind, pattern


def lies_about_length(value, depth=0):
    """Whether a Seq in value (nested up to a few levels) claims a length it does not have."""
    if isinstance(value, Seq):
        return value.length is not None and value.length != len(value.items) or any(
            lies_about_length(item, depth + 1) for item in value.items)
    if isinstance(value, (list, tuple)) and depth < 4:
        return any(lies_about_length(item, depth + 1) for item in value)
    return False


LYING_LENGTH = [False]


def attempt(name, function, *args, **kwargs):
    CALLS[name] += 1
    LYING_LENGTH[0] = lies_about_length([*args, *kwargs.values()])
    try:
        return function(*args, **kwargs), None
    except BaseException as error:  # noqa: BLE001 - panics and lies included
        if isinstance(error, (KeyboardInterrupt, SystemExit)):
            raise
        return None, error


def predict(model, *args):
    """The model's value, or Expected for the error it predicts (errors of
    lying objects predicted as themselves)."""
    try:
        return model(*args)
    except Expected as expected:
        return expected
    except Exception as error:  # noqa: BLE001 - the interpreter's own error, as the call must raise it
        return Expected(type(error))


def check(outcome, expected, same=operator.eq):
    value, error = outcome
    if isinstance(expected, Expected):
        assert type(error) is expected.kind, (error, expected.kind, expected.pattern)
        assert re.match(expected.pattern, str(error)), (str(error), expected.pattern)
    else:
        assert error is None, repr(error)
        assert same(value, expected), (value, expected)


def allowed(outcome, *kinds):
    """An outcome that may be any value or an error of these kinds (or a lie).
    A length that lies makes the interpreter's own list() and len() raise
    OverflowError or MemoryError, wherever they meet it."""
    _, error = outcome
    lies = (OverflowError, MemoryError, ValueError) if LYING_LENGTH[0] else ()
    assert error is None or isinstance(error, (*kinds, *lies, Lie)), repr(error)
    return outcome


# --- arbitrary values ------------------------------------------------------------

class Index:
    """An object whose __index__ returns `value`, or raises it."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value

    def __repr__(self):
        return f"Index({self.value!r})"


class Seq:
    """A sequence whose length may lie or fail and whose iteration may fail."""

    def __init__(self, items, length=None, fail_at=None):
        self.items, self.length, self.fail_at = list(items), length, fail_at

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return len(self.items) if self.length is None else self.length

    def __getitem__(self, index):
        return self.items[index]

    def __iter__(self):
        for i, item in enumerate(self.items):
            if i == self.fail_at:
                raise Lie("iteration failed")
            yield item
        if self.fail_at == len(self.items):
            raise Lie("iteration failed")

    def __repr__(self):
        return f"Seq({self.items!r}, length={self.length!r}, fail_at={self.fail_at!r})"


class ArrayLike:
    """An object whose __array__ returns `result`, or raises it."""

    def __init__(self, result):
        self.result = result

    def __array__(self, dtype=None, copy=None):
        if isinstance(self.result, BaseException):
            raise self.result
        return self.result

    def __repr__(self):
        return f"ArrayLike({self.result!r})"


class SneakyInt(int):
    """An int whose __index__ and str() fail: conversions must read the int itself."""

    def __index__(self):
        raise Lie("__index__ of an int subclass")

    def __str__(self):
        raise Lie("str of an int subclass")

    __repr__ = int.__repr__


class Opaque:
    """Fails every comparison and hash."""

    def __eq__(self, other):
        raise Lie("eq")

    def __hash__(self):
        raise Lie("hash")


BOUNDARY_INTS = [0, 1, 2, 3, 4, 7, 8, 51, 52, 255, 256, 36863, 36864, 2**31 - 1, 2**32, 2**40, 2**40 + 1,
                 2**63 - 1, 2**63, 2**64 - 1, 2**64, -1, -2, -2**63, -2**63 - 1, 2**200, -2**200]
ints = st.one_of(st.integers(), st.sampled_from(BOUNDARY_INTS), st.integers(-3, 60))
floats = st.one_of(st.floats(), st.sampled_from([math.nan, math.inf, -math.inf, 0.0, -0.0, 0.5, 1.0, 1e300]))
texts = st.one_of(st.text(max_size=12), st.text(alphabet="AKQJT9823scdh10o+-:., \u017f\u212a\u0660", max_size=14))
scalars = st.one_of(ints, st.booleans(), floats, texts, st.binary(max_size=6), st.none(), st.complex_numbers(),
                    st.sampled_from([SneakyInt(5), SneakyInt(2**70), object(), Ellipsis, np.int64(7),
                                     np.uint64(2**64 - 1), np.float64("nan"), np.bool_(True)]), st.builds(Opaque))
lying_index = st.one_of(st.builds(Index, ints), st.sampled_from([Index(Lie("index")), Index(TypeError("no index")),
                                                                  Index(1.5), Index("7"), Index(None)]))

DTYPES = st.one_of(
    hnp.integer_dtypes(endianness="?"), hnp.unsigned_integer_dtypes(endianness="?"),
    hnp.floating_dtypes(endianness="?"), hnp.complex_number_dtypes(endianness="?"), hnp.boolean_dtypes(),
    hnp.datetime64_dtypes(endianness="?"), hnp.timedelta64_dtypes(endianness="?"),
    hnp.byte_string_dtypes(endianness="?", max_len=3), hnp.unicode_string_dtypes(endianness="?", max_len=3),
)
LAYOUTS = ("C", "F", "T", "reversed", "strided", "broadcast", "readonly", "object", "list", "tuple")


def laid_out(array, layout):
    """The same values as another layout, order, stride or container."""
    if layout == "F":
        return np.asfortranarray(array)
    if layout == "T":
        return array.T
    if layout == "reversed" and array.ndim:
        return array[::-1]
    if layout == "strided" and array.ndim:
        return np.repeat(array, 2, axis=0)[::2]
    if layout == "broadcast" and array.ndim:
        return np.broadcast_to(array[:1], array.shape) if len(array) else array
    if layout == "readonly":
        array = array.copy()
        array.flags.writeable = False
        return array
    if layout == "object":
        return array.astype(object)
    if layout == "list":
        return array.tolist()
    if layout == "tuple":
        return tuple(map(tuple, array.tolist())) if array.ndim == 2 else tuple(np.atleast_1d(array).tolist())
    return array


arrays = st.builds(laid_out, hnp.arrays(DTYPES, hnp.array_shapes(min_dims=0, max_dims=3, min_side=0, max_side=8)),
                   st.sampled_from(LAYOUTS))
huge_arrays = st.sampled_from([
    np.zeros((HUGE, 7), np.uint8), np.broadcast_to(np.arange(7, dtype=np.int64), (HUGE, 7)),
    np.zeros(HUGE, np.uint64), np.zeros((HUGE, 0)), np.zeros((0, 8)), np.zeros((0,)), np.empty((3, 0, 2)),
])

anything = st.recursive(
    st.one_of(scalars, lying_index, arrays, huge_arrays),
    lambda inner: st.one_of(
        st.lists(inner, max_size=6), st.lists(inner, max_size=6).map(tuple),
        st.builds(Seq, st.lists(inner, max_size=5), st.one_of(st.none(), ints, st.just(Lie("len"))),
                  st.one_of(st.none(), st.integers(0, 5))),
        st.builds(ArrayLike, st.one_of(inner, st.just(Lie("array")))),
        st.dictionaries(texts, inner, max_size=3), st.frozensets(st.integers(0, 60), max_size=4),
    ),
    max_leaves=12,
)


# --- models of tavrix ------------------------------------------------------------

def index_of(value, parameter):
    """The boundary's integer conversion: a TypeError gets the argument's prefix."""
    try:
        return operator.index(value)
    except TypeError:
        raise Expected(TypeError, rf"argument '{parameter}': ") from None


def u8(value, parameter):
    v = index_of(value, parameter)
    if not -(1 << 63) <= v < 1 << 63:
        raise Expected(OverflowError)
    if not 0 <= v <= 255:
        raise Expected(OverflowError, "out of range integral type conversion attempted$")
    return v


def u64(value, parameter):
    v = index_of(value, parameter)
    if not 0 <= v < M64:
        raise Expected(OverflowError)
    return v


def out_of_bounds(length, index):
    return Expected(PANIC, re.escape(f"index out of bounds: the len is {length} but the index is {index}") + "$")


def combine(a, b):
    return (a[0] + b[0]) % M64, a[1] | b[1]


def flush_key(key, mask):
    if not key & 0x8888000000000000:
        return 0
    leading = 32 - ((key >> 32) & 0x88880000).bit_length()
    return (mask >> (4 * leading)) & 0xFFFF


def score(key, mask):
    if key & 0x8888000000000000:
        index, table = flush_key(key, mask), TABLES.flush
    else:
        rank = key & 0xFFFFFFFF
        if rank >> 12 >= len(TABLES.offsets):
            raise out_of_bounds(len(TABLES.offsets), rank >> 12)
        index, table = (rank + TABLES.offsets[rank >> 12]) & 0xFFFFFFFF, TABLES.rank
    if index >= len(table):
        raise out_of_bounds(len(table), index)
    return table[index]


def queries(key, mask):
    return {
        "get_key": key, "get_mask": mask, "get_rank_key": key & 0xFFFFFFFF, "get_counters": key >> 32,
        "count": (key >> 32) & 0xF, "has_flush": bool(key & 0x8888000000000000), "get_flush_key": flush_key(key, mask),
    }


def bit_mask_words(mask):
    words = EMPTY
    for card in range(52):
        if mask >> card & 1:
            words = combine(words, CARD_WORDS[card])
    return words


def words_of(hand):
    return hand.key, hand.mask


def is_sequence(value):
    return not isinstance(value, dict) and hasattr(type(value), "__getitem__")


def evaluate_list_model(argument):
    if isinstance(argument, str):
        raise Expected(TypeError, r"argument 'list': Can't extract `str` to `Vec`$")
    if not is_sequence(argument):
        raise Expected(TypeError, r"argument 'list': '.*' object cannot be converted to 'Sequence'$")
    pairs = []
    try:
        items = iter(argument)
        for item in items:
            if not isinstance(item, tuple):
                raise Expected(TypeError, r"argument 'list': '.*' object cannot be converted to 'PyTuple'$")
            if len(item) != 2:
                raise Expected(ValueError, rf"expected tuple of length 2, but got tuple of length {len(item)}$")
            pairs.append((u64(item[0], "list"), u64(item[1], "list")))
    except TypeError:
        raise Expected(TypeError, r"argument 'list': ") from None
    return [score(*pair) for pair in pairs]


# --- tavrix ------------------------------------------------------------------------

card_sets = st.lists(st.integers(0, 51), max_size=8, unique=True)
hand_words = card_sets.map(lambda cards: bit_mask_words(sum(1 << c for c in cards)))
words = st.one_of(st.integers(0, M64 - 1), hand_words.map(operator.itemgetter(0)), hand_words.map(operator.itemgetter(1)))
pairs = st.one_of(hand_words, st.tuples(words, words))
word_like = st.one_of(words, ints, lying_index, scalars, st.builds(Index, words))


@fuzz(300, 4000)
@given(c1=st.one_of(st.integers(0, 51), word_like), c2=st.one_of(st.integers(0, 51), word_like),
       mask=st.one_of(words, word_like), keywords=st.booleans(), extra=st.lists(scalars, max_size=2))
def test_hand_constructors(c1, c2, mask, keywords, extra):
    def hole(c1, c2):
        first, second = u8(c1, "c1"), u8(c2, "c2")
        for card in (first, second):
            if card >= 52:
                raise out_of_bounds(52, card)
        return combine(CARD_WORDS[first], CARD_WORDS[second])

    args, kwargs = ((), {"c1": c1, "c2": c2}) if keywords else ((c1, c2), {})
    check(attempt("Hand.from_hole_cards", Hand.from_hole_cards, *args, **kwargs), predict(hole, c1, c2),
          lambda h, expected: words_of(h) == expected)
    check(attempt("Hand.from_bit_mask", Hand.from_bit_mask, mask), predict(lambda m: bit_mask_words(u64(m, "mask")), mask),
          lambda h, expected: words_of(h) == expected)
    check(attempt("Hand()", Hand, *extra), Expected(TypeError, r"Hand.__new__\(\) takes 0") if extra else EMPTY,
          lambda h, expected: words_of(h) == expected)
    expected = Expected(TypeError, r"(poker_hand\.)?get_cards\(\) takes no arguments") if extra else CARD_WORDS
    check(attempt("poker_hand.get_cards", tavrix.poker_hand.get_cards, *extra), expected,
          lambda cards, expected: [words_of(h) for h in cards] == expected)


@fuzz(300, 4000)
@given(hand=st.one_of(hand_words, st.tuples(word_like, word_like)), suit=st.one_of(st.integers(0, 9), word_like),
       name=st.sampled_from(["key", "mask", "count", "other", "__class__", "__dict__"]), value=word_like)
@example(hand=(5, 2**64), suit=4, name="key", value=2**64)
def test_hand_words_queries_and_attributes(hand, suit, name, value):
    key, mask = hand
    h = Hand()
    words = list(EMPTY)
    for slot, new in ((0, key), (1, mask)):
        expected = predict(u64, new, ("key", "mask")[slot])
        outcome = attempt(f"Hand.{('key', 'mask')[slot]} =", setattr, h, ("key", "mask")[slot], new)
        check(outcome, expected if isinstance(expected, Expected) else None)
        if not isinstance(expected, Expected):
            words[slot] = expected
        assert words_of(h) == tuple(words)  # a failed assignment changes nothing
    for query, expected in queries(*words).items():
        check(attempt(f"Hand.{query}", getattr(h, query)), expected, lambda a, b: a == b and type(a) is type(b))
    suit_model = lambda s: (((words[0] >> 32) >> ((16 + 4 * u8(s, "suit")) % 32)) & 0xF) - 3  # noqa: E731
    check(attempt("Hand.suit_count", h.suit_count, suit), predict(suit_model, suit))
    check(attempt("tavrix.evaluate", tavrix.evaluate, h), predict(score, *words))
    check(attempt("tavrix.evaluate", tavrix.evaluate, hand=h), predict(score, *words))
    # Instance attributes: only key and mask can be set, and never deleted.
    if name in ("key", "mask"):
        check(attempt("del Hand attribute", delattr, h, name), Expected(AttributeError, "can't delete attribute$"))
    else:
        assert isinstance(attempt("del Hand attribute", delattr, h, name)[1], (AttributeError, TypeError))
        assert isinstance(attempt("Hand attribute =", setattr, h, name, value)[1], (AttributeError, TypeError))
    assert words_of(h) == tuple(words)


@fuzz(300, 4000)
@given(argument=st.one_of(
    st.lists(pairs, max_size=8),
    st.lists(st.one_of(pairs, st.tuples(word_like, word_like), st.lists(words, max_size=2),
                       st.tuples(words), st.tuples(words, words, words), scalars), max_size=5),
    st.builds(Seq, st.lists(pairs, max_size=4), st.one_of(st.none(), ints, st.just(Lie("len"))),
              st.one_of(st.none(), st.integers(0, 4))),
    st.lists(pairs, max_size=4).map(tuple), anything,
))
def test_evaluate_list(argument):
    check(attempt("tavrix.evaluate_list", tavrix.evaluate_list, argument), predict(evaluate_list_model, argument))


@fuzz(100, 4000)
@given(hand=anything)
def test_evaluate_refuses_what_is_not_a_hand(hand):
    check(attempt("tavrix.evaluate", tavrix.evaluate, hand),
          Expected(TypeError, r"argument 'hand': '.*' object cannot be converted to 'Hand'$"))


# --- tavrix_equity: card text, categories, array scoring ------------------------------

def reference_cards(text):
    """Cards by the written rules: a rank (2-9, T, J, Q, K, A in either case, or
    10) then a suit (c, d, h, s in either case); separators are whitespace and commas."""
    cards, pieces = [], re.split(r"[\s,]+", text)
    for piece in pieces:
        i = 0
        while i < len(piece):
            rank_length = 2 if piece[i:i + 2] == "10" else 1
            rank, suit = piece[i:i + rank_length].upper(), piece[i + rank_length:i + rank_length + 1].lower()
            if not (rank.isascii() and suit.isascii() and rank in te.CARD_RANKS + "10" and rank != "1"
                    and suit and suit in te.CARD_SUITS):
                raise Expected(ValueError, "unknown card")
            card = 4 * (8 if rank == "10" else te.CARD_RANKS.index(rank)) + te.CARD_SUITS.index(suit)
            if card in cards:
                raise Expected(ValueError, "duplicate card")
            cards.append(card)
            i += rank_length + 1
    return tuple(cards)


@st.composite
def card_text(draw):
    cards = draw(st.lists(st.integers(0, 51), max_size=7, unique=True))
    parts = []
    for card in cards:
        rank = "10" if card >> 2 == 8 and draw(st.booleans()) else te.CARD_RANKS[card >> 2]
        text = rank + te.CARD_SUITS[card & 3]
        parts.append(text.lower() if draw(st.booleans()) else text)
        parts.append(draw(st.sampled_from(["", " ", ",", " , ", "\t\n", "\u00a0"])))
    return "".join(parts)


@fuzz(300, 4000)
@given(text=st.one_of(card_text(), texts, scalars))
@example(text="A\u017f")
@example(text="\u212as")
def test_parse_cards(text):
    model = (lambda t: reference_cards(t)) if isinstance(text, str) else (lambda t: (_ for _ in ()).throw(
        Expected(TypeError)))
    check(attempt("parse_cards", te.parse_cards, text), predict(model, text))


def card_model(cards):
    if isinstance(cards, str):
        return reference_cards(cards)
    indices = []
    for card in cards:
        if isinstance(card, bool):
            raise Expected(TypeError)
        index = operator.index(card) if hasattr(type(card), "__index__") else None
        if index is None:
            raise Expected(TypeError)
        if not 0 <= index < 52:
            raise Expected(ValueError, "card index")
        indices.append(index)
    return indices


@fuzz(300, 4000)
@given(cards=st.one_of(st.lists(st.integers(0, 51), max_size=8), st.lists(word_like, max_size=4), anything),
       score_value=st.one_of(st.integers(0, 36863), word_like))
def test_format_cards_and_categories(cards, score_value):
    def formatted(cards):
        return "".join(te.CARD_RANKS[c >> 2] + te.CARD_SUITS[c & 3] for c in card_model(cards if not isinstance(
            cards, str) else list(cards)))

    outcome = attempt("format_cards", te.format_cards, cards)
    if isinstance(cards, (list, tuple)) or isinstance(cards, str):
        expected = predict(formatted, cards)
        if isinstance(expected, Expected) and expected.kind is TypeError:
            allowed(outcome, TypeError)
        else:
            check(outcome, expected)
    else:
        allowed(outcome, TypeError, ValueError)

    def category(s):
        if isinstance(s, bool) or not hasattr(type(s), "__index__"):
            raise Expected(TypeError)
        value = operator.index(s)
        if not 0 <= value < 36864:
            raise Expected(ValueError, "score")
        return value >> 12

    check(attempt("category", te.category, score_value), predict(category, score_value))
    expected = predict(category, score_value)
    check(attempt("category_name", te.category_name, score_value),
          expected if isinstance(expected, Expected) else te.CATEGORY_NAMES[expected])


INT_DTYPES = [np.int8, np.int16, np.int32, np.int64, np.uint8, np.uint16, np.uint32, np.uint64, ">i8", "<i2", ">u4"]


@st.composite
def card_rows(draw):
    """(n, k) card indices in some integer dtype and layout, maybe with bad rows,
    and the rows that are bad."""
    width, count = draw(st.integers(0, 7)), draw(st.integers(0, 30))
    rows = [draw(st.lists(st.integers(0, 51), min_size=width, max_size=width, unique=True)) for _ in range(count)]
    dtype = np.dtype(draw(st.sampled_from(INT_DTYPES)))
    for _ in range(draw(st.integers(0, 2)) if count and width else 0):
        row, column = draw(st.integers(0, count - 1)), draw(st.integers(0, width - 1))
        low = int(np.iinfo(dtype).min) if dtype.kind == "i" else 52
        rows[row][column] = draw(st.one_of(st.integers(low, int(np.iinfo(dtype).max)), st.sampled_from(rows[row])))
    array = np.array(rows, dtype=np.int64 if dtype.kind == "i" else np.uint64).reshape(count, width).astype(dtype)
    return laid_out(array, draw(st.sampled_from(["C", "F", "reversed", "strided", "readonly", "list", "tuple"]))), True


def tavrix_score_of_row(row):
    return tavrix.evaluate(Hand.from_bit_mask(sum(1 << int(c) for c in row)))


@fuzz(300, 4000)
@given(data=st.one_of(card_rows(), anything.map(lambda value: (value, None))))
def test_score_cards(data):
    cards, bad = data
    value, error = allowed(attempt("score_cards", te.score_cards, cards), ValueError, TypeError)
    if bad is None:  # arbitrary input: any result must still be the rows' scores
        if error is None:  # scores of the rows, checked on the first rows of huge arrays
            rows = np.asarray(cards).reshape(len(value), -1)[:64] if len(value) else []
            assert value.dtype == np.uint16 and value[:64].tolist() == [tavrix_score_of_row(r) for r in rows]
        return
    rows = np.asarray(cards).tolist()
    bad = {i for i, row in enumerate(rows) if len(set(row)) < len(row) or not all(0 <= c < 52 for c in row)}
    if bad:
        assert isinstance(error, ValueError), repr(error)
        assert int(re.match(r"row (\d+): ", str(error)).group(1)) in bad, (error, bad)
    else:
        assert error is None, repr(error)
        assert value.dtype == np.uint16 and value.tolist() == [tavrix_score_of_row(r) for r in rows]


@st.composite
def word_arrays(draw):
    pairs = draw(st.lists(globals()["pairs"], max_size=20))
    keys = np.array([key for key, _ in pairs], dtype=np.uint64)
    masks = np.array([mask for _, mask in pairs], dtype=np.uint64)
    layout = draw(st.sampled_from(["C", "reversed", "strided", "readonly", "list", "object", "int64"]))
    if layout == "int64":
        return keys.view(np.int64), masks.view(np.int64), pairs
    if layout == "reversed":
        pairs = pairs[::-1]
    return laid_out(keys, layout), laid_out(masks, layout), pairs


@fuzz(300, 4000)
@given(data=st.one_of(word_arrays(), st.tuples(anything, anything, st.none())))
def test_score_words(data):
    keys, masks, pairs = data
    value, error = allowed(attempt("score_words", te.score_words, keys, masks), ValueError, TypeError)
    if pairs is None:
        if error is None:
            assert value.dtype == np.uint16 and len(value) == len(np.asarray(keys))
        return
    arrays = [a for a in (np.asarray(keys), np.asarray(masks)) if a.size]  # empty ones are fine as any dtype
    if any(a.dtype == object or (a.dtype.kind == "i" and (a < 0).any()) for a in arrays):
        assert isinstance(error, ValueError), repr(error)  # Python objects, or words below 0
        return
    if any(a.dtype.kind == "f" for a in arrays):  # a list that numpy reads as floats
        assert isinstance(error, TypeError), repr(error)
        return
    expected = []
    for position, (key, mask) in enumerate(pairs):
        try:
            expected.append(tavrix.evaluate_list([(key, mask)])[0])
        except PANIC:
            assert isinstance(error, ValueError) and f"position {position} " in str(error), repr(error)
            return
    assert error is None and value.tolist() == expected, (error, value)


# --- tavrix_equity: equity against brute force ---------------------------------------

def brute_force(players, board, dead):
    """wins, ties, equity shares and boards of weighted players (lists of
    ((c1, c2), weight)), every deal and every completion, scored by tavrix."""
    fixed = set(board) | set(dead)
    wins, ties = [0.0] * len(players), [0.0] * len(players)
    shares, boards = [Fraction(0)] * len(players), Fraction(0)
    for deal in itertools.product(*players):
        cards = [c for combo, _ in deal for c in combo]
        if len(set(cards)) < len(cards) or fixed & set(cards):
            continue
        weight = Fraction(math.prod(w for _, w in deal))
        deck = [c for c in range(52) if c not in fixed and c not in cards]
        for extra in itertools.combinations(deck, 5 - len(board)):
            table = sum(1 << c for c in (*board, *extra))
            scores = [tavrix.evaluate(Hand.from_bit_mask(table | (1 << a) | (1 << b))) for (a, b), _ in deal]
            top = [i for i, s in enumerate(scores) if s == max(scores)]
            for i in top:
                (wins if len(top) == 1 else ties)[i] += float(weight)
                shares[i] += weight / len(top)
            boards += weight
    return wins, ties, shares, boards


@st.composite
def deals(draw, max_players=4, max_combos=3):
    """Players (hands or small weighted ranges), a board of 4 or 5 cards and
    dead cards, as the engine's weighted combos and as equity() arguments."""
    deck = draw(st.permutations(range(52)))
    count = draw(st.integers(2, max_players))
    board, deck = deck[:draw(st.integers(4, 5))], deck[5:]
    dead, deck = deck[:2][:draw(st.integers(0, 2))], deck[2:]
    players, arguments = [], []
    for _ in range(count):
        if draw(st.booleans()):  # a hand
            a, b, deck = deck[0], deck[1], deck[2:]
            players.append([((max(a, b), min(a, b)), 1.0)])
            arguments.append(draw(st.sampled_from([te.format_cards((a, b)), (a, b), [b, a], np.array([a, b])])))
        else:  # a range of specific hands with weights
            combos = draw(st.lists(st.tuples(st.sampled_from(range(52)), st.sampled_from(range(52))).filter(
                lambda c: c[0] != c[1]).map(lambda c: (max(c), min(c))), min_size=1, max_size=max_combos, unique=True))
            weights = [draw(st.sampled_from([1.0, 0.5, 0.25, 0.75])) for _ in combos]
            players.append(list(zip(combos, weights)))
            text = ",".join(te.format_cards(c) + ("" if w == 1.0 else f":{w}") for c, w in zip(combos, weights))
            # Text of exactly two cards is a hand, not a range.
            as_text = draw(st.booleans()) and not re.fullmatch(r"\w{4}", text)
            arguments.append(text if as_text else te.Range(text))
    board_argument = draw(st.sampled_from([te.format_cards(board), list(board), tuple(board)]))
    return players, arguments, board, dead, board_argument


@fuzz(60, 2000)
@given(deal=deals(), threads=st.sampled_from([None, 1, 2, 3]))
def test_exact_equity_matches_brute_force(deal, threads):
    players, arguments, board, dead, board_argument = deal
    wins, ties, shares, boards = brute_force(players, board, dead)
    result, error = attempt("equity (exact)", te.equity, arguments, board_argument, list(dead), threads=threads)
    if boards == 0:
        assert isinstance(error, te.NoDealError), repr(error)
        return
    assert error is None, repr(error)
    assert result.exact and result.std_error == (0.0,) * len(players)
    assert result.boards == pytest.approx(float(boards), rel=1e-12)
    assert result.wins == pytest.approx(wins, rel=1e-12) and result.ties == pytest.approx(ties, rel=1e-12)
    assert result.equity == pytest.approx([float(s / boards) for s in shares], rel=1e-9, abs=1e-12)
    # The engine's own entry point gives the same totals as the package.
    engine_players = [([c for c, _ in p], [w for _, w in p]) for p in players]
    mask = sum(1 << c for c in dead)
    totals, error = attempt("_engine.exact_equity", _engine.exact_equity, engine_players, list(board), mask, 2)
    assert error is None and totals[4] == pytest.approx(float(boards), rel=1e-12)


@fuzz(60, 2000)
@given(deal=deals(), trials=st.integers(1, 3000), seed=st.integers(0, M64 - 1))
def test_monte_carlo_equity_is_reproducible_and_sound(deal, trials, seed):
    players, arguments, board, dead, board_argument = deal
    one, error = attempt("equity (Monte Carlo)", te.equity, arguments, board_argument, dead, trials=trials, seed=seed,
                         threads=1)
    if isinstance(error, te.NoDealError):
        assert brute_force(players, board, dead)[3] == 0
        return
    assert error is None, repr(error)
    two = te.equity(arguments, board_argument, dead, trials=trials, seed=seed, threads=2)
    # Heads-up ranges may be sampled board by board, every pair of combos
    # counted: boards is then their weight, not the trials.
    assert one == two and (one.boards == trials or len(players) == 2) and not one.exact and one.seed == seed
    assert sum(one.equity) == pytest.approx(1.0) and all(0 <= e <= 1 for e in one.equity)
    assert all(w + t <= one.boards + 1e-9 for w, t in zip(one.wins, one.ties))


@fuzz(300, 4000)
@given(hands=st.one_of(st.lists(anything, max_size=4), anything), board=st.one_of(card_text(), anything),
       dead=st.one_of(st.just(""), anything), trials=st.one_of(st.none(), st.integers(-2, 3000), word_like),
       seed=st.one_of(st.none(), word_like), threads=st.one_of(st.none(), st.integers(-1, 4), word_like))
@example(hands=["AsKs", "QhQd"], board="2c7d9h", dead="", trials=2**41, seed=None, threads=None)
def test_equity_refuses_what_it_cannot_count(hands, board, dead, trials, seed, threads):
    # Trials that are valid but would run for long are kept out; the rest is arbitrary.
    if isinstance(trials, int) and not isinstance(trials, bool) and 3000 < trials <= _engine.MAX_TRIALS:
        trials = 3000
    value, error = allowed(attempt("equity (arbitrary)", te.equity, hands, board, dead, trials=trials, seed=seed,
                                   threads=threads), ValueError, TypeError)
    if error is None:
        assert isinstance(value, te.EquityResult) and sum(value.equity) == pytest.approx(1.0)


# --- ranges and classes ---------------------------------------------------------------

RANK_ORDER = te.CARD_RANKS


def reference_range(text):
    """Combos and weights of a range by the written rules."""
    def rank(r):
        return 8 if r == "10" else RANK_ORDER.index(r.upper())

    def classes(high, low, suffix):
        if high == low:
            return [(high, high, None)]
        return [(high, low, s) for s in ((True, False) if not suffix else (suffix.lower() == "s",))]

    def combos(high, low, suited):
        return [(a, b) for a in range(4 * high, 4 * high + 4) for b in range(4 * low, 4 * low + 4)
                if a > b and (suited is None or (a & 3 == b & 3) == suited)]

    weights = {}
    if not text.strip():
        return weights
    r = r"(10|[2-9TJQKA])"
    for raw in text.split(","):
        item = raw.strip()
        body, colon, weight_text = item.partition(":")
        body = body.strip()
        if colon:
            if not re.fullmatch(r"(?:\d+\.?\d*|\.\d+)(?:e[+-]?\d+)?", weight_text.strip(), re.I | re.A):
                raise Expected(ValueError, "bad range item")
            weight = float(weight_text)
            if not 0 <= weight <= 1:
                raise Expected(ValueError, "bad range item")
        else:
            weight = 1.0
        found = []
        if body.lower() == "random":
            found = [(a, b) for a in range(52) for b in range(a)]
        elif m := re.fullmatch(rf"{r}{r}([so])?(\+)?", body, re.I | re.A):
            high, low = rank(m[1]), rank(m[2])
            if high < low or (high == low and m[3]):
                raise Expected(ValueError, "bad range item")
            lows = range(low, (12 if high == low else high - 1) + 1) if m[4] else [low]
            for lo in lows:
                for h, l, s in classes(lo if high == low else high, lo, m[3]):
                    found += combos(h, l, s)
        elif m := re.fullmatch(rf"{r}{r}([so])?(?u:\s*)-(?u:\s*){r}{r}([so])?", body, re.I | re.A):
            ends = [(rank(m[1]), rank(m[2]), (m[3] or "").lower()), (rank(m[4]), rank(m[5]), (m[6] or "").lower())]
            if any(h < lo or (h == lo and s) for h, lo, s in ends):
                raise Expected(ValueError, "bad range item")
            pairs = [h == lo for h, lo, _ in ends]
            if all(pairs):
                for p in range(min(ends[0][0], ends[1][0]), max(ends[0][0], ends[1][0]) + 1):
                    found += combos(p, p, None)
            elif any(pairs) or ends[0][0] != ends[1][0] or ends[0][2] != ends[1][2]:
                raise Expected(ValueError, "bad range item")
            else:
                for lo in range(min(ends[0][1], ends[1][1]), max(ends[0][1], ends[1][1]) + 1):
                    for h, l, s in classes(ends[0][0], lo, ends[0][2]):
                        found += combos(h, l, s)
        elif re.fullmatch(r"(?:(?:10|[2-9TJQKA])[CDHS])+", body, re.I | re.A):
            cards = reference_cards(body)
            if len(cards) != 2:
                raise Expected(ValueError, "bad range item")
            found = [(max(cards), min(cards))]
        else:
            raise Expected(ValueError, "bad range item")
        for combo in found:
            weights[combo] = weight
    return {c: w for c, w in weights.items() if w > 0}


rank_text = st.sampled_from(list("23456789TJQKAtjqka") + ["10"])
range_items = st.one_of(
    st.builds(lambda a, b, s, p: a + b + s + p, rank_text, rank_text, st.sampled_from(["", "s", "o", "S", "\u017f"]),
              st.sampled_from(["", "+"])),
    st.builds(lambda a, b, s, c, d, t: f"{a}{b}{s}-{c}{d}{t}", rank_text, rank_text, st.sampled_from(["", "s", "o"]),
              rank_text, rank_text, st.sampled_from(["", "s", "o"])),
    card_text(), st.sampled_from(["random", "RANDOM", "", " "]), texts,
)
range_text = st.builds(
    lambda items, weights: ", ".join(i + w for i, w in zip(items, weights)),
    st.lists(range_items, min_size=1, max_size=4),
    st.lists(st.sampled_from(["", "", ":0.5", ":0", ":1", ":.25", ":1e-1", ":2", ":-1", ":nan", ":\u0660.5"]),
             min_size=4, max_size=4),
)

# Ranges that parse, so that the checks of a parsed range get examples too.
sound_range_text = st.lists(st.tuples(st.sampled_from(te.HAND_CLASSES), st.sampled_from(["", "+"]),
                                      st.sampled_from(["", ":0.5", ":1", ":.25"])),
                            min_size=1, max_size=4).map(lambda items: ",".join(map("".join, items)))


@fuzz(300, 4000)
@given(text=st.one_of(range_text, sound_range_text, texts, scalars), other=anything, name=st.sampled_from(["_combos", "combos", "x"]))
@example(text="AK\u017f", other=None, name="x")
@example(text="QQ\u00a0-\u00a099", other=None, name="x")
def test_ranges(text, other, name):
    value, error = attempt("Range", te.Range, text)
    if not isinstance(text, str):
        assert isinstance(error, TypeError), repr(error)
        return
    check((value, error), predict(reference_range, text), lambda r, expected: dict(r.combos) == expected)
    if error is not None:
        return
    r = value
    again = te.Range(str(r))
    assert again == r and hash(again) == hash(r) and repr(r) == f"Range({str(r)!r})"
    assert pickle.loads(pickle.dumps(r)) == r and len(r) == len(r.combos)
    grid = attempt("Range.grid", r.grid)[0]
    assert grid.shape == (13, 13) and np.all((grid >= 0) & (grid <= 1))
    assert math.isclose(float(sum(grid[te.grid_position(n)] * len(te.class_combos(n)) for n in te.HAND_CLASSES)),
                        sum(w for _, w in r.combos), abs_tol=1e-9)
    allowed(attempt("Range ==", operator.eq, r, other))
    check(attempt("Range attribute =", setattr, r, name, other), Expected(AttributeError))
    check(attempt("del Range attribute", delattr, r, name), Expected(AttributeError))


@fuzz(300, 4000)
@given(name=st.one_of(st.sampled_from(te.HAND_CLASSES), texts, scalars), c1=st.one_of(st.integers(0, 51), word_like),
       c2=st.one_of(st.integers(0, 51), word_like))
def test_hand_classes(name, c1, c2):
    combos, error = attempt("class_combos", te.class_combos, name)
    position = attempt("grid_position", te.grid_position, name)
    if isinstance(name, str) and name in te.HAND_CLASSES:
        assert error is None and position[1] is None
        assert all(te.hand_class(a, b) == name for a, b in combos)
        row, column = position[0]
        high, low = sorted((12 - RANK_ORDER.index(name[0]), 12 - RANK_ORDER.index(name[1])))
        assert (row, column) == ((high, low) if name.endswith("s") else (low, high) if name.endswith("o") else (high, high))
    else:
        assert type(error) is type(position[1]) is (TypeError if not isinstance(name, str) else ValueError), repr(error)
    value, error = allowed(attempt("hand_class", te.hand_class, c1, c2), ValueError, TypeError)
    if error is None:
        cards = (operator.index(c1), operator.index(c2))  # the indices, whatever integer type carried them
        assert value in te.HAND_CLASSES and cards in [(a, b) for p in te.class_combos(value) for a, b in (p, p[::-1])]


@fuzz(3, 200)
@given(deck=st.permutations(range(52)), junk=st.one_of(st.none(), anything), trials=st.sampled_from([None, 400]))
def test_hand_grid(deck, junk, trials):
    if junk is not None:  # arbitrary arguments: refused or counted, never a crash
        allowed(attempt("hand_grid", te.hand_grid, junk, junk, junk), ValueError, TypeError)
        return
    vs, board_argument, dead = te.format_cards(deck[:2]), te.format_cards(deck[2:7]), deck[7:9]
    grid, error = attempt("hand_grid", te.hand_grid, vs, board_argument, list(dead), trials=trials, seed=3)
    assert error is None and grid.shape == (13, 13), repr(error)
    for name in te.HAND_CLASSES[::41]:
        try:
            expected = te.equity([te.Range(name), vs], board_argument, list(dead), trials=trials, seed=3)
        except te.NoDealError:
            assert math.isnan(grid[te.grid_position(name)])
        else:
            assert grid[te.grid_position(name)] == expected.equity[0]


@fuzz(3, 60)
@given(grid=st.one_of(hnp.arrays(np.float64, (13, 13), elements=st.floats(-2, 2)), anything),
       title=st.one_of(st.none(), texts, scalars))
def test_plot_grid(grid, title, tmp_path_factory):
    path = tmp_path_factory.mktemp("plot") / "grid.png"
    _, error = allowed(attempt("plot_grid", te.plot_grid, grid, path, title=title), ValueError, TypeError)
    if error is None:
        assert path.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


SMALL_CLASSES = [n for n in te.HAND_CLASSES if not n.endswith("o")]


@fuzz(3, 60)
@given(classes=st.one_of(st.lists(st.sampled_from(SMALL_CLASSES), min_size=1, max_size=2, unique=True),
                         st.lists(st.one_of(st.sampled_from(te.HAND_CLASSES), texts, scalars), max_size=3), anything),
       workers=st.one_of(st.none(), st.just(1), word_like), progress=st.sampled_from([None, False, "yes", 3, print]),
       checkpoint=st.booleans())
def test_preflop_matrix(classes, workers, progress, checkpoint, tmp_path_factory):
    valid = isinstance(classes, list) and all(isinstance(c, str) and c in SMALL_CLASSES for c in classes)
    if valid and not (workers is None or (type(workers) is int and workers == 1)):
        workers = 1  # more chunks than one would start processes
    path = tmp_path_factory.mktemp("matrix") / "checkpoint" if checkpoint else None
    value, error = allowed(attempt("preflop_matrix", te.preflop_matrix, classes, workers=workers, progress=progress,
                                   checkpoint=path), ValueError, TypeError)
    if not valid or progress in ("yes", 3) or error is not None:
        return
    assert value.shape == (len(classes), len(classes)) and np.all(value + value.T == 1.0)
    for i, j in itertools.permutations(range(len(classes)), 2):
        rows = [a + b for a in te.class_combos(classes[i]) for b in te.class_combos(classes[j]) if not set(a) & set(b)]
        counts = _engine.heads_up_counts(np.array(rows, dtype=np.uint8), 2).astype(np.float64)
        assert value[i, j] == pytest.approx(np.mean((counts[:, 0] + counts[:, 2] / 2) / counts.sum(axis=1)), abs=1e-12)


plain = st.recursive(st.one_of(scalars, lying_index, arrays), lambda inner: st.one_of(
    st.lists(inner, max_size=4), st.lists(inner, max_size=4).map(tuple)), max_leaves=8)


@fuzz(100, 3000)
@given(fields=st.fixed_dictionaries({f: plain for f in te.EquityResult.__dataclass_fields__}), name=texts,
       value=anything)
def test_equity_result(fields, name, value):
    result, error = attempt("EquityResult", te.EquityResult, **fields)
    assert error is None, repr(error)
    allowed(attempt("EquityResult repr", repr, result), TypeError, ValueError)
    assert attempt("EquityResult.as_dict", result.as_dict)[0].keys() == fields.keys()
    allowed(attempt("EquityResult hash", hash, result), TypeError)
    assert isinstance(attempt("EquityResult attribute =", setattr, result, name, value)[1], (AttributeError, TypeError))
    assert isinstance(te.NoDealError(value), ValueError)


# --- the engine's binding, called directly ---------------------------------------------

@fuzz(300, 4000)
@given(cards=st.one_of(card_rows().map(lambda d: d[0]), arrays, huge_arrays, anything),
       keys=st.one_of(arrays, huge_arrays, anything, word_arrays().map(lambda d: d[0])),
       masks=st.one_of(arrays, huge_arrays, anything, word_arrays().map(lambda d: d[1])))
def test_engine_array_scoring(cards, keys, masks):
    value, error = allowed(attempt("_engine.score_card_rows", _engine.score_card_rows, cards), TypeError, ValueError)
    array = cards if isinstance(cards, np.ndarray) else None
    takes = array is not None and array.ndim == 2 and array.flags.c_contiguous and array.dtype in (
        np.dtype(np.int64), np.dtype(np.uint8))
    assert (error is None or isinstance(error, ValueError)) == takes, repr(error)
    if error is None:
        assert value.tolist() == [tavrix_score_of_row(r) for r in array[:64]] + value.tolist()[64:]
    value, error = allowed(attempt("_engine.score_word_pairs", _engine.score_word_pairs, keys, masks), TypeError,
                           ValueError)
    if error is None:
        pairs = list(zip(keys[:64].tolist(), masks[:64].tolist()))
        assert value.tolist()[:64] == [predict(score, k, m) for k, m in pairs]


@st.composite
def engine_requests(draw):
    """Players, board, dead mask and threads as the binding takes them, often malformed."""
    def combo():
        return draw(st.tuples(st.integers(0, 60), st.integers(0, 60)))

    players = [([combo() for _ in range(n)], [draw(floats) for _ in range(n + draw(st.sampled_from([0, 0, 0, 1])))])
               for n in draw(st.lists(st.integers(0, 3), min_size=1, max_size=4))]
    board = draw(st.lists(st.integers(0, 60), min_size=3, max_size=6))
    dead = draw(st.one_of(st.just(0), st.integers(0, M64 - 1), st.integers(0, (1 << 52) - 1)))
    return players, board, dead


def native_uint(value):
    """The binding's unsigned 32-bit argument, or None when it refuses it. Like
    int(), it takes text ("3") and anything with __int__ or __index__, but no
    float."""
    if isinstance(value, float):
        return None
    try:
        number = int(value)
    except Exception:  # noqa: BLE001 - whatever the conversion raises, the binding refuses
        return None
    return number if 0 <= number < 1 << 32 else None


def valid_request(players, board, dead):
    cards = set(board)
    return (2 <= len(players) <= 10 and len(board) <= 5 and len(cards) == len(board) and max(board) < 52
            and dead < 1 << 52 and not sum(1 << c for c in cards) & dead
            and all(combos and len(combos) == len(weights) for combos, weights in players)
            and all(a < 52 and b < 52 and a != b for combos, _ in players for a, b in combos)
            and all(0 < w <= 1e300 for _, weights in players for w in weights)
            and 52 - len(cards) - bin(dead).count("1") - 2 * len(players) >= 5 - len(board))


@fuzz(300, 4000)
@given(request=engine_requests(), threads=st.one_of(st.integers(1, 3), word_like), trials=st.integers(1, 2000),
       seed=st.integers(0, M64 - 1), junk=st.one_of(st.none(), anything))
def test_engine_equity(request, threads, trials, seed, junk):
    players, board, dead = request
    if junk is not None:
        allowed(attempt("_engine.exact_equity", _engine.exact_equity, junk, junk, junk, junk), TypeError, ValueError)
        return
    exact = allowed(attempt("_engine.exact_equity", _engine.exact_equity, players, board, dead, threads), TypeError,
                    ValueError)
    sampled = allowed(attempt("_engine.monte_carlo_equity", _engine.monte_carlo_equity, players, board, dead, trials,
                              seed, threads), TypeError, ValueError)
    if native_uint(threads) is None:
        assert isinstance(exact[1], TypeError) and isinstance(sampled[1], TypeError)
        return
    threads = native_uint(threads)
    if not valid_request(players, board, dead):
        assert isinstance(exact[1], ValueError) and isinstance(sampled[1], ValueError), (exact, sampled)
        return
    weighted = [list(zip([(max(c), min(c)) for c in combos], weights)) for combos, weights in players]
    wins, ties, shares, boards = brute_force(weighted, board, [c for c in range(52) if dead >> c & 1])
    if boards == 0:
        assert "no possible deal" in str(exact[1]) and sampled[1] is not None
        return
    assert exact[1] is None, repr(exact[1])
    assert exact[0][4] == pytest.approx(float(boards), rel=1e-9) and exact[0][0] == pytest.approx(wins, rel=1e-9)
    assert [s / _engine.SHARE_UNITS for s in exact[0][2]] == pytest.approx([float(s) for s in shares], rel=1e-9)
    if sampled[1] is None:
        assert sampled[0][4] == trials and sampled == attempt("_engine.monte_carlo_equity",
                                                              _engine.monte_carlo_equity, players, board, dead,
                                                              trials, seed, threads % 3 + 1)
    else:  # the ranges almost never leave a deal
        assert "almost never" in str(sampled[1])


@fuzz(60, 1500)
@given(rows=st.one_of(st.lists(st.lists(st.integers(0, 60), min_size=4, max_size=4), min_size=0, max_size=3),
                      st.permutations(range(52)).map(lambda deck: [deck[:4]])),
       shape=st.sampled_from(["C", "wrong", "F"]), threads=st.one_of(st.integers(1, 3), word_like))
def test_engine_heads_up_counts(rows, shape, threads):
    array = np.array(rows, dtype=np.uint8).reshape(len(rows), 4)
    array = {"C": array, "wrong": array.reshape(-1), "F": np.asfortranarray(array) if len(rows) > 1 else array.T}[shape]
    value, error = allowed(attempt("_engine.heads_up_counts", _engine.heads_up_counts, array, threads), TypeError,
                           ValueError)
    if shape != "C" or native_uint(threads) is None:
        assert isinstance(error, TypeError) or (shape == "F" and len(rows) <= 1 and error is None), repr(error)
        return
    if any(len(set(r)) < 4 or max(r) >= 52 for r in rows):
        assert isinstance(error, ValueError), repr(error)
        return
    assert error is None and value.shape == (len(rows), 3) and np.all(value.sum(axis=1) == 1_712_304)
    for (a1, a2, b1, b2), (a_wins, b_wins, ties) in zip(rows, value.tolist()):
        result = te.equity([(a1, a2), (b1, b2)], threads=2)
        assert (result.wins, result.ties[0]) == ((a_wins, b_wins), ties)
    assert attempt("_engine.table_digest", _engine.table_digest)[0] == _engine.table_digest()
    assert re.fullmatch("[0-9a-f]{16}", _engine.table_digest())


# --- the command line ------------------------------------------------------------------

CLI_TOKENS = ["AsKs", "QhQd", "7c7d", "QQ+", "AKs", "JJ-99,AQs:0.5", "random", "AsAs", "XX", "", "-", "--json",
              "--board", "2c7d9h", "2c7d9hTsJs", "AhAcAd", "--dead", "3s", "--trials", "--seed", "--threads",
              "1", "400", "0", "-3", "2.5", "99999999999999999999", "x", "--png", "--out", "--workers",
              "--checkpoint", "--scheduler", "--help", "--bogus"]
cli_words = st.lists(st.one_of(st.sampled_from(CLI_TOKENS), st.text(max_size=6)), max_size=8)


@fuzz(100, 2000)
@given(command=st.sampled_from([None, "grid", "matrix"]), words=cli_words)
@example(command=None, words=["AsKs", "--png", "\n"])  # the error must stay one line
def test_command_line(command, words, tmp_path_factory, capsys):
    from tavrix_equity import cli

    argv = ([command] if command else []) + words
    if command == "grid":  # a grid counts every class: sampled and small, so each example stays short
        argv += ["--trials", "50", "--png", str(tmp_path_factory.mktemp("grid") / "grid.png")]
    elif command == "matrix":  # never a whole matrix: its output goes nowhere
        argv += ["--out", str(tmp_path_factory.mktemp("matrix") / "missing" / "m.npy"), "--workers", "x"]
    elif "--trials" not in words:
        argv += ["--trials", "300"]  # an exact count of wide ranges preflop takes seconds
    def main():
        try:
            return cli.main(argv)
        except SystemExit as leaving:  # attempt() lets it through, as it must for pytest's own
            return leaving

    status, error = attempt("tavrix_equity.cli.main", main)
    out, err = capsys.readouterr()
    if isinstance(status, SystemExit):  # --help, and only that
        assert status.code == 0 and "--help" in argv and out.startswith("usage:"), (argv, err)
        return
    assert error is None, (argv, repr(error))
    assert status in (0, 2), (argv, status, err)
    if status == 2:
        assert err.startswith(f"{cli.PROGRAM}: error: ") and err.count("\n") == 1 and out == "", (argv, err)
    else:
        assert err == "" and out, argv
