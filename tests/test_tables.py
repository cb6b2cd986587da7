"""Checks the generated lookup tables against an independent evaluator."""

import re
import shutil
import subprocess
from collections import Counter
from types import SimpleNamespace

import pytest

import tavrix_tables as tt
from reference_poker import Reference, dense_scores

RANK_MULTISETS = 76_155
MAX_RANK_TABLE = 86_000
CLASSES_PER_CATEGORY = [2370, 3887, 936, 1027, 10, 1277, 156, 169, 10]
# The classic counts of distinct five-card hands, 7,462 in all.
FIVE_CARD_CLASSES = [1277, 2860, 858, 858, 10, 1277, 156, 156, 10]


@pytest.fixture(scope="module")
def tables():
    try:
        return tt.load_tables(tt.TABLE_DIR)
    except FileNotFoundError as error:
        pytest.fail(str(error))


def ranks_of(bits):
    return tuple(r for r in range(13) if bits >> r & 1)


@pytest.fixture(scope="module")
def reference():
    ref = Reference()
    plain = {ranks: ref.best_class(ranks) for ranks in tt.rank_multisets()}
    suited = {bits: ref.best_class(ranks_of(bits), suited=True) for bits in range(1 << 13)}
    # A hand of up to seven cards has either no flush (any rank multiset can
    # be dealt that way) or a flush of 5..7 cards in one suit.
    reachable = list(plain.values()) + [c for b, c in suited.items() if 5 <= b.bit_count() <= 7]
    return SimpleNamespace(plain=plain, suited=suited, scores=dense_scores(reachable))


def test_file_lengths(tables):
    assert len(tables.flush) == 8192
    assert len(tables.offsets) == 8191
    assert RANK_MULTISETS <= len(tables.rank) <= MAX_RANK_TABLE


def test_every_rank_multiset_scores_as_reference(tables, reference):
    assert len(reference.plain) == RANK_MULTISETS
    wrong, used = [], set()
    for ranks, hand_class in reference.plain.items():
        index = tt.rank_table_index(tables, ranks)
        assert index < len(tables.rank), ranks
        assert index not in used, f"{ranks} shares slot {index}"
        used.add(index)
        if tables.rank[index] != reference.scores[hand_class]:
            wrong.append((ranks, tables.rank[index], reference.scores[hand_class]))
    assert not wrong, f"{len(wrong)} wrong, e.g. {wrong[:5]}"
    # Slots no key uses hold 0, and the table ends at its last used slot.
    assert max(used) == len(tables.rank) - 1
    assert all(tables.rank[i] == 0 for i in range(len(tables.rank)) if i not in used)


def test_every_flush_set_scores_as_reference(tables, reference):
    wrong = [(ranks_of(bits), tables.flush[bits], reference.scores[c])
             for bits, c in reference.suited.items() if tables.flush[bits] != reference.scores[c]]
    assert not wrong, f"{len(wrong)} wrong, e.g. {wrong[:5]}"


@pytest.fixture(scope="module")
def indices_by_category(tables, reference):
    scores = [tables.rank[tt.rank_table_index(tables, r)] for r in reference.plain] + list(tables.flush)
    found = {}
    for s in scores:
        found.setdefault(s >> 12, set()).add(s & 0xFFF)
    return found


@pytest.mark.parametrize("category,count", list(enumerate(CLASSES_PER_CATEGORY)))
def test_category_indices_are_dense(indices_by_category, category, count):
    assert indices_by_category[category] == set(range(count))


def test_five_card_classes_in_strict_order(tables, reference):
    hands = [(reference.plain[r], tables.rank[tt.rank_table_index(tables, r)])
             for r in reference.plain if len(r) == 5]
    hands += [(c, tables.flush[b]) for b, c in reference.suited.items() if b.bit_count() == 5]
    by_class = {}
    for hand_class, table_score in hands:
        assert by_class.setdefault(hand_class, table_score) == table_score, hand_class
    ordered = [by_class[c] for c in sorted(by_class)]
    assert len(ordered) == 7462
    assert all(a < b for a, b in zip(ordered, ordered[1:]))
    assert sorted(Counter(c[0] for c in by_class).items()) == list(enumerate(FIVE_CARD_CLASSES))


@pytest.mark.parametrize("hand,expected", [
    ("", 0),
    ("2c", 1),
    ("AcKdQhJs9c", 2369),           # best high card
    ("AcAdKhQsJc", 1 * 4096 + 3886),
    ("AcAdKhKsQc", 2 * 4096 + 935),
    ("AcAdAhKsQc", 3 * 4096 + 1026),
    ("5c4d3h2sAc", 4 * 4096),       # the wheel is the lowest straight
    ("AcKdQhJsTc", 4 * 4096 + 9),
    ("AcKcQcJc9c", 5 * 4096 + 1276),
    ("AcAdAhKcKd", 6 * 4096 + 155),
    ("AcAdAhAsKc", 7 * 4096 + 168),
    ("5s4s3s2sAs", 8 * 4096),
    ("AsKsQsJsTs", 32777),
])
def test_known_scores(tables, hand, expected):
    assert tt.score(tables, hand) == expected


@pytest.mark.parametrize("weaker,stronger", [
    ("AcAd", "AcAd2h"),                       # a missing card ranks below every card
    ("AcAd2h", "AcAd3h2s"),
    ("AcKd", "AcKd2h"),
    ("KcKdQhQs", "KcKdQhQs2c"),
    ("5c4d3h2sAc", "6c5d4h3s2c"),             # wheel below six-high straight
    ("AcAdAh2c3d", "5c4d3h2sAc"),             # straight beats trips
    ("AcKdQhJsTc", "7c5c4c3c2c"),             # flush beats straight
    ("AcKcQcJc9c", "2c2d2h3s3c"),             # full house beats flush
    ("AdAhAsKcKdKhQc", "2c2d2h2s3c"),         # quads beat any full house
    ("AcAdAhAsKc", "5s4s3s2sAs"),             # straight flush beats quads
    ("KcKdQhQs2c2d4h", "KcKdQhQs2c2d5h"),
])
def test_order(tables, weaker, stronger):
    assert tt.score(tables, weaker) < tt.score(tables, stronger)


@pytest.mark.parametrize("seven,five", [
    ("KcKdQhQs4c4d3h", "KcKdQhQs4h"),         # the third pair is the best kicker
    ("KcKdQhQs2c2d3h", "KcKdQhQs3c"),
    ("9c9d9h8c8d8hAs", "9c9d9h8s8d"),         # two trips: higher as trips, lower as pair
    ("5c5d5h5sKcKdKh", "5c5d5h5sKs"),         # quads take the single best kicker
    ("AcKcQcJc9c3c2c", "AdKdQdJd9d"),         # a seven-card flush plays its top five
    ("5c6d7h8s9cTdTh", "6c7d8h9sTc"),         # straight over a pair
    ("9s8s7s6s5sAsAd", "9c8c7c6c5c"),         # straight flush over a suited ace
])
def test_seven_cards_play_their_best_five(tables, seven, five):
    assert tt.score(tables, seven) == tt.score(tables, five)


def test_rows_without_keys_stay_inside_the_table(tables, reference):
    occupied = {sum(tables.bases[r] for r in ranks) >> 12 for ranks in reference.plain}
    for row in set(range(len(tables.offsets))) - occupied:
        for column in (0, 4095):
            assert ((row << 12) + column + tables.offsets[row]) & 0xFFFFFFFF < len(tables.rank)


@pytest.fixture(scope="module")
def generator(tmp_path_factory):
    if shutil.which("cmake") is None:
        pytest.fail("cmake is needed to build the table generator")
    build = tmp_path_factory.mktemp("generator-build")
    subprocess.run(["cmake", "-S", tt.REPO_ROOT / "generator", "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                    "-DTAVRIX_WERROR=ON", f"-DTAVRIX_TABLE_DIR={build / 'unused'}"], check=True, capture_output=True)
    subprocess.run(["cmake", "--build", build, "--target", "tavrix_table_generator", "-j2"],
                   check=True, capture_output=True)
    return build / "tavrix_table_generator"


def test_generator_is_deterministic(generator, tmp_path):
    outputs = []
    for run in ("first", "second"):
        result = subprocess.run([generator, tmp_path / run / "new"], check=True, capture_output=True, text=True)
        outputs.append({name: (tmp_path / run / "new" / name).read_bytes() for name in tt.TABLE_FILES})
        rank_entries = len(outputs[-1][tt.TABLE_FILES[0]]) // 2
        assert result.stdout == f"tables: rank_table {rank_entries} entries, flush_table 8192, offsets 8191\n"
        assert sorted(p.name for p in (tmp_path / run / "new").iterdir()) == sorted(tt.TABLE_FILES)
    assert outputs[0] == outputs[1]
    committed = {name: (tt.TABLE_DIR / name).read_bytes() for name in tt.TABLE_FILES}
    assert committed == outputs[0], "tables/ is stale: rebuild it"


@pytest.mark.parametrize("arguments", [[], ["a", "b"], ["{file}"], ["{file}/sub"]])
def test_generator_fails_loudly(generator, tmp_path, arguments):
    blocker = tmp_path / "file"
    blocker.write_text("not a directory")
    result = subprocess.run([generator] + [a.format(file=blocker) for a in arguments], capture_output=True, text=True)
    assert result.returncode != 0
    assert result.stdout == ""
    assert re.search(r"usage|error", result.stderr)
    assert blocker.read_text() == "not a directory"
