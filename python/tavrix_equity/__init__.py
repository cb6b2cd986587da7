"""tavrix_equity: poker equity at native speed on the tavrix scoring core.

Card text (parse_cards, format_cards), safe scoring of card arrays and hand
words (score_cards, score_words), exact and Monte Carlo equity of hands and
ranges (equity, Range, hand_grid), the preflop matrix on local processes or a
Dask cluster (preflop_matrix), charts (plot_grid), canonical state indices
(HandIndexer), buckets of states (emd_kmeans, quantile_buckets), and the hand
strength of states (hand_strength) with tables for every canonical state
(strength_table, plot_strength).
"""

from tavrix_equity.cards import (
    CARD_RANKS, CARD_SUITS, CATEGORY_NAMES, category, category_name, format_cards, parse_cards,
)
from tavrix_equity._version import __version__
from tavrix_equity.all_in import NoDealError, equity
from tavrix_equity.clustering import emd_kmeans, quantile_buckets
from tavrix_equity.grids import hand_grid
from tavrix_equity.indexing import ROUNDS, HandIndexer
from tavrix_equity.matrix import preflop_matrix
from tavrix_equity.plot import plot_grid
from tavrix_equity.ranges import HAND_CLASSES, Range, class_combos, grid_position, hand_class
from tavrix_equity.result import EquityResult
from tavrix_equity.scoring import score_cards, score_words
from tavrix_equity.strength import hand_strength
from tavrix_equity.strength_plot import plot_strength
from tavrix_equity.strength_tables import strength_table

__all__ = [
    "__version__",
    "CARD_RANKS", "CARD_SUITS", "CATEGORY_NAMES", "HAND_CLASSES",
    "EquityResult", "HandIndexer", "NoDealError", "ROUNDS", "Range",
    "category", "category_name", "class_combos", "emd_kmeans", "equity", "format_cards", "grid_position",
    "hand_class", "hand_grid", "hand_strength", "parse_cards", "plot_grid", "plot_strength", "preflop_matrix", "quantile_buckets",
    "score_cards", "score_words", "strength_table",
]
