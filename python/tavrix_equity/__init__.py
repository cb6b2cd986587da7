"""tavrix_equity: poker equity at native speed on the tavrix scoring core.

Card text (parse_cards, format_cards), safe scoring of card arrays and hand
words (score_cards, score_words), random deals (deal_cards), exact and Monte Carlo equity of hands and
ranges (equity, Range, hand_grid), Omaha high and high-low (score_omaha,
equity(..., game="omaha"), OmahaRange), the preflop matrix on local processes or a
Dask cluster (preflop_matrix) and charts (plot_grid).
"""

from tavrix_equity.cards import (
    CARD_RANKS, CARD_SUITS, CATEGORY_NAMES, category, category_name, format_cards, parse_cards,
)
from tavrix_equity._version import __version__
from tavrix_equity._checkpoint import CheckpointInUseError
from tavrix_equity.all_in import NoDealError, equity
from tavrix_equity.dealing import deal_cards
from tavrix_equity.combo_tables import ComboEquity, ComboTable, combo_equity
from tavrix_equity.clustering import emd_kmeans, quantile_buckets
from tavrix_equity.grids import hand_grid
from tavrix_equity.indexing import ROUNDS, HandIndexer
from tavrix_equity.matrix import preflop_matrix
from tavrix_equity.omaha_range import OmahaRange
from tavrix_equity.omaha_scoring import score_omaha
from tavrix_equity.distribution import EquityDistribution, RangeEquity, equity_distribution
from tavrix_equity.distribution_plot import plot_equity_distribution
from tavrix_equity.plot import plot_grid
from tavrix_equity.range_breakdown import BREAKDOWN_CLASSES, Breakdown, breakdown
from tavrix_equity.showdowns import ShowdownCategories, showdown_categories
from tavrix_equity.starting_hands import starting_hand_ranking
from tavrix_equity.ranges import HAND_CLASSES, Range, class_combos, grid_position, hand_class
from tavrix_equity.result import EquityResult
from tavrix_equity.scoring import score_cards, score_words
from tavrix_equity.strength import hand_strength
from tavrix_equity.strength_plot import plot_strength
from tavrix_equity.strength_tables import strength_table

__all__ = [
    "__version__",
    "BREAKDOWN_CLASSES",
    "CARD_RANKS",
    "CARD_SUITS",
    "CATEGORY_NAMES",
    "HAND_CLASSES",
    "ROUNDS",
    "Breakdown",
    "CheckpointInUseError",
    "ComboEquity",
    "ComboTable",
    "EquityDistribution",
    "EquityResult",
    "HandIndexer",
    "NoDealError",
    "OmahaRange",
    "Range",
    "RangeEquity",
    "ShowdownCategories",
    "breakdown",
    "category",
    "category_name",
    "class_combos",
    "combo_equity",
    "deal_cards",
    "emd_kmeans",
    "equity",
    "equity_distribution",
    "format_cards",
    "grid_position",
    "hand_class",
    "hand_grid",
    "hand_strength",
    "parse_cards",
    "plot_equity_distribution",
    "plot_grid",
    "plot_strength",
    "preflop_matrix",
    "quantile_buckets",
    "score_cards",
    "score_omaha",
    "score_words",
    "showdown_categories",
    "starting_hand_ranking",
    "strength_table",
]
