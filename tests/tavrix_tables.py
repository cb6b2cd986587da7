"""Reading the generated tables and scoring hands with them, for the tests."""

import re
import sys
from array import array
from pathlib import Path
from types import SimpleNamespace

REPO_ROOT = Path(__file__).resolve().parent.parent
TABLE_DIR = REPO_ROOT / "tables"
TABLE_FILES = ("h_eval_rank_table.dat", "h_eval_flush_table.dat", "h_eval_offsets.dat")
RANKS = "23456789TJQKA"
SUITS = "cdhs"


def rank_bases():
    """RANK_BASES as the C++ header defines them, so the tests never drift from it."""
    header = (REPO_ROOT / "src" / "hand_evaluator" / "hand_value.hpp").read_text()
    body = re.search(r"RANK_BASES\s*=\s*\{([^}]*)\}", header).group(1)
    bases = [int(token, 16) for token in re.findall(r"0x[0-9A-Fa-f]+", body)]
    assert len(bases) == 13
    return bases


def _read(path, typecode):
    values = array(typecode, path.read_bytes())
    if sys.byteorder == "big":
        values.byteswap()
    return values


def load_tables(directory):
    directory = Path(directory)
    missing = [name for name in TABLE_FILES if not (directory / name).is_file()]
    if missing:
        raise FileNotFoundError(f"{directory} lacks {', '.join(missing)}: build the tables first")
    return SimpleNamespace(
        rank=_read(directory / TABLE_FILES[0], "H"),
        flush=_read(directory / TABLE_FILES[1], "H"),
        offsets=_read(directory / TABLE_FILES[2], "I"),
        bases=rank_bases(),
    )


def rank_table_index(tables, ranks):
    key = sum(tables.bases[r] for r in ranks)
    return (key + tables.offsets[key >> 12]) & 0xFFFFFFFF


def rank_multisets(max_cards=7):
    """Every sorted tuple of 0..max_cards ranks, no rank more than four times."""
    result = []

    def extend(rank, prefix):
        if rank == 13:
            result.append(tuple(prefix))
            return
        for n in range(min(4, max_cards - len(prefix)) + 1):
            extend(rank + 1, prefix + [rank] * n)

    extend(0, [])
    return result


def parse_cards(text):
    """'AsKd' -> [(12, 3), (11, 1)]."""
    assert len(text) % 2 == 0, text
    return [(RANKS.index(text[i]), SUITS.index(text[i + 1])) for i in range(0, len(text), 2)]


def score(tables, text):
    """Score of a hand the way the module looks it up."""
    cards = parse_cards(text)
    assert len(set(cards)) == len(cards) <= 7, text
    for suit in range(4):
        suited = [r for r, s in cards if s == suit]
        if len(suited) >= 5:
            return tables.flush[sum(1 << r for r in suited)]
    return tables.rank[rank_table_index(tables, [r for r, _ in cards])]
