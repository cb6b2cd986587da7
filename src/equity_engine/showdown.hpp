// One board at showdown: score every player's seven cards, find the best,
// count wins, ties and shares. The player count is a template parameter so
// the per-player loops unroll.
#pragma once

#include <array>
#include <cstdint>

#include "equity_engine/deal.hpp"
#include "equity_engine/table_view.hpp"

namespace tavrix::equity {

// Integer counts of one deal (or one Monte Carlo block): exact whatever the
// order boards were visited in.
template <int Players>
struct ShowdownCounts {
    std::array<std::uint64_t, Players> wins{};
    std::array<std::uint64_t, Players> ties{};
    std::array<std::uint64_t, Players> shares{};
    std::array<std::uint64_t, Players> share_squares{};
    std::uint64_t boards = 0;
};

// unit_share[k] = SHARE_UNITS / k: the share of each of k players who tie.
inline constexpr std::array<std::uint64_t, MAX_PLAYERS + 1> UNIT_SHARE = {
    0, 2520, 1260, 840, 630, 504, 420, 360, 315, 280, 252};

template <int Players, bool TrackSquares>
struct Showdown {
    TableView tables;
    std::array<HandValue, Players> holes;
    ShowdownCounts<Players> counts;
    bool fault = false;

    // `board` is biased (starts from EMPTY_HAND) and holes are unbiased, so
    // their sum is the biased hand of the player's seven cards.
    void operator()(HandValue board) noexcept {
        std::array<std::uint16_t, Players> scores;
        std::uint16_t best = 0;
        for (int p = 0; p < Players; ++p) {
            scores[p] = tables.score(board.key + holes[p].key, board.mask | holes[p].mask, fault);
            best = scores[p] > best ? scores[p] : best;
        }
        unsigned winners = 0;
        for (int p = 0; p < Players; ++p) winners += scores[p] == best;
        const std::uint64_t share = UNIT_SHARE[winners];
        const std::uint64_t alone = winners == 1;
        for (int p = 0; p < Players; ++p) {
            const std::uint64_t top = scores[p] == best;
            counts.wins[p] += top & alone;
            counts.ties[p] += top & (alone ^ 1);
            counts.shares[p] += top * share;
            if constexpr (TrackSquares) counts.share_squares[p] += top * share * share;
        }
        ++counts.boards;
    }
};

// Calls `run.template operator()<P>()` with the player count as a constant.
template <typename Run>
decltype(auto) with_player_count(int players, Run&& run) {
    switch (players) {
        case 2: return run.template operator()<2>();
        case 3: return run.template operator()<3>();
        case 4: return run.template operator()<4>();
        case 5: return run.template operator()<5>();
        case 6: return run.template operator()<6>();
        case 7: return run.template operator()<7>();
        case 8: return run.template operator()<8>();
        case 9: return run.template operator()<9>();
        default: return run.template operator()<10>();
    }
}

}  // namespace tavrix::equity
