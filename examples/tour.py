"""A short tour of tavrix_equity: card text, safe scoring and equity.

    python examples/tour.py
"""

import numpy as np

from tavrix_equity import (
    Range, category_name, equity, format_cards, parse_cards, score_cards, score_words,
)


def main() -> None:
    royal = parse_cards("As Ks Qs Js Ts")
    scores = score_cards(np.array([royal, parse_cards("2c3d4h5s7c")], dtype=np.uint8))
    for cards, score in zip((royal, parse_cards("2c3d4h5s7c")), scores.tolist()):
        print(f"{format_cards(cards)}: {score} ({category_name(score)})")

    try:
        score_cards([[51, 51, 0]])
    except ValueError as error:
        print(f"refused: {error}")

    keys = np.array([0x3333000000000000], dtype=np.uint64)
    print("empty hand scores", score_words(keys, np.zeros(1, dtype=np.uint64)).tolist())

    exact = equity(["AsKs", "QhQd"])
    print(exact)
    print("wins", exact.wins, "ties", exact.ties, "of", exact.boards)
    sampled = equity(["AsKs", "QhQd", "JcTc"], board="2h7d", trials=200_000, seed=7)
    print(sampled)
    three_bet = Range("QQ+,AKs")
    print(f"{len(three_bet)} combos in {three_bet}:", equity(["AsKs", three_bet]).equity)


if __name__ == "__main__":
    main()
