// The board sweep against the deal-by-deal path on random small spots: the
// same integers without weights, the same sums to 1e-14 with them, per-combo
// rows that add up to the totals, and the same result for any thread count.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "check.hpp"
#include "equity_engine/class_sweep.hpp"
#include "equity_engine/equity_runs.hpp"
#include "equity_engine/sweep_equity.hpp"

namespace {

using test_support::failed;
using test_support::passed;

using namespace tavrix::equity;
using tavrix::CARD_COUNT;

const KeepGoing always = [] { return true; };

bool close(double a, double b, double relative = 1e-14) {
    return std::fabs(a - b) <= relative * std::max(std::fabs(a), std::fabs(b));
}

// A random spot: `board_cards` board cards, a dead card or none, and two
// ranges drawn from the cards left, weighted or not. `symmetric` ranges are
// whole hand classes (every suit combination of two ranks).
EquityRequest random_spot(std::mt19937& random, int board_cards, bool weighted, bool symmetric, int range_size) {
    std::vector<std::uint8_t> deck(CARD_COUNT);
    for (int c = 0; c < CARD_COUNT; ++c) deck[c] = static_cast<std::uint8_t>(c);
    std::shuffle(deck.begin(), deck.end(), random);
    EquityRequest request;
    request.board.assign(deck.begin(), deck.begin() + board_cards);
    if (random() % 2) request.dead_mask = std::uint64_t{1} << deck[board_cards];
    const double weights[] = {0.1, 0.3, 0.25, 0.7, 1.0};
    for (int p = 0; p < 2; ++p) {
        PlayerCombos player;
        while (static_cast<int>(player.combos.size()) < range_size) {
            const unsigned a = random() % CARD_COUNT, b = random() % CARD_COUNT;
            if (a == b) continue;
            std::vector<Combo> add;
            if (symmetric) {
                for (unsigned s = 0; s < 4; ++s)
                    for (unsigned t = 0; t < 4; ++t)
                        if ((a & ~3u) + s != (b & ~3u) + t) add.push_back({static_cast<std::uint8_t>((a & ~3u) + s),
                                                                         static_cast<std::uint8_t>((b & ~3u) + t)});
            } else {
                add.push_back({static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b)});
            }
            const double w = weighted ? weights[random() % 5] : 1.0;
            for (const Combo c : add) {
                const bool known = std::any_of(player.combos.begin(), player.combos.end(), [&](Combo d) {
                    return c.mask() == d.mask();
                });
                if (known) continue;
                player.combos.push_back(c);
                player.weights.push_back(w);
            }
        }
        request.players.push_back(std::move(player));
    }
    // Both paths count only combos that miss the fixed cards.
    const std::uint64_t fixed = request.board_mask() | request.dead_mask;
    for (PlayerCombos& player : request.players) {
        PlayerCombos kept;
        for (std::size_t i = 0; i < player.combos.size(); ++i)
            if (!(player.combos[i].mask() & fixed)) {
                kept.combos.push_back(player.combos[i]);
                kept.weights.push_back(player.weights[i]);
            }
        player = kept;
    }
    return request;
}

bool same_totals(const EquityTotals& a, const EquityTotals& b, bool exact) {
    bool same = true;
    for (int p = 0; p < 2; ++p) {
        if (exact)
            same = same && a.wins[p] == b.wins[p] && a.ties[p] == b.ties[p] && a.shares[p] == b.shares[p];
        else
            same = same && close(a.wins[p], b.wins[p]) && close(a.ties[p], b.ties[p]) && close(a.shares[p], b.shares[p]);
    }
    return same && (exact ? a.boards == b.boards : close(a.boards, b.boards));
}

// The weighted sum of a table's rows is the player's total.
bool rows_add_up(const PlayerCombos& player, const ComboSums& rows, double wins, double ties, double boards) {
    double w = 0, t = 0, m = 0;
    for (std::size_t i = 0; i < player.combos.size(); ++i) {
        w += player.weights[i] * rows.wins[i];
        t += player.weights[i] * rows.ties[i];
        m += player.weights[i] * rows.boards[i];
    }
    return close(w, wins, 1e-12) && close(t, ties, 1e-12) && close(m, boards, 1e-12);
}

void sweep_matches_deals(int board_cards, bool weighted, bool symmetric, int range_size, int spots) {
    std::mt19937 random(1000 * board_cards + 10 * weighted + symmetric);
    for (int spot = 0; spot < spots; ++spot) {
        const EquityRequest request = random_spot(random, board_cards, weighted, symmetric, range_size);
        if (request.players[0].combos.empty() || request.players[1].combos.empty()) continue;
        EquityTotals deals;
        try {
            deals = exact_equity(request, 2, always);
        } catch (const NoDeal&) {
            bool refused = false;
            try {
                sweep_equity(request, true, 2, always);
            } catch (const NoDeal&) {
                refused = true;
            }
            CHECK(refused);
            continue;
        }
        const SweepEquity swept = sweep_equity(request, true, 3, always);
        if (!same_totals(swept.totals, deals, !weighted))
            std::printf("  spot %d: %d board cards, weighted %d, symmetric %d\n", spot, board_cards, weighted, symmetric);
        CHECK(same_totals(swept.totals, deals, !weighted));
        CHECK(rows_add_up(request.players[0], swept.hero, deals.wins[0], deals.ties[0], deals.boards));
        CHECK(rows_add_up(request.players[1], swept.villain, deals.wins[1], deals.ties[1], deals.boards));
        CHECK(same_totals(sweep_equity(request, false, 1, always).totals, swept.totals, true));
        // A row is the equity of that one combo against the villain's range.
        EquityRequest one = request;
        one.players[0] = {{request.players[0].combos[0]}, {1.0}};
        try {
            const EquityTotals alone = exact_equity(one, 2, always);
            CHECK(close(swept.hero.wins[0], alone.wins[0]) && close(swept.hero.ties[0], alone.ties[0]) &&
                  close(swept.hero.boards[0], alone.boards));
        } catch (const NoDeal&) {
            CHECK(swept.hero.boards[0] == 0);
        }
    }
}

void both_paths_agree_on_weights() {
    // The deal-by-deal path used to drift by about 1e-11 here.
    EquityRequest request;
    for (const double w : {0.1, 0.3}) {
        PlayerCombos player;
        for (std::uint8_t a = 0; a < CARD_COUNT; ++a)
            for (std::uint8_t b = 0; b < a; ++b) {
                player.combos.push_back({a, b});
                player.weights.push_back(w);
            }
        request.players.push_back(player);
    }
    request.board = {29, 6, 20, 15, 28};  // 9d 3h 7c 5s 9c
    for (PlayerCombos& player : request.players) {
        PlayerCombos kept;
        for (std::size_t i = 0; i < player.combos.size(); ++i)
            if (!(player.combos[i].mask() & request.board_mask())) {
                kept.combos.push_back(player.combos[i]);
                kept.weights.push_back(player.weights[i]);
            }
        player = kept;
    }
    for (const EquityTotals& t : {exact_equity(request, 2, always), sweep_equity(request, false, 2, always).totals}) {
        CHECK(std::fabs(t.shares[0] / (SHARE_UNITS * t.boards) - 0.5) < 1e-15);
        CHECK(std::fabs((t.shares[0] + t.shares[1]) / (SHARE_UNITS * t.boards) - 1) < 1e-15);
    }
}

// Class sums against heads-up counts of every pair of combos: AKs, QQ and AA,
// with the card removal between AKs and AA.
void class_sums_match_pairs() {
    std::vector<Combo> combos;
    std::vector<std::uint16_t> class_of;
    auto add = [&](unsigned hi, unsigned lo, bool suited, std::uint16_t cls) {
        for (unsigned s = 0; s < 4; ++s)
            for (unsigned t = 0; t < 4; ++t)
                if (hi == lo ? s > t : (s == t) == suited) {
                    combos.push_back({static_cast<std::uint8_t>(4 * hi + s), static_cast<std::uint8_t>(4 * lo + t)});
                    class_of.push_back(cls);
                }
    };
    add(12, 11, true, 0);
    add(10, 10, false, 1);
    add(12, 12, false, 2);
    std::vector<std::uint64_t> sums(9, 0);
    const std::size_t items = class_sweep_items();
    const std::uint64_t pairs = class_sweep(combos, class_of, 3, 0, items / 3, sums.data(), 2, always) +
                                class_sweep(combos, class_of, 3, items / 3, items, sums.data(), 1, always);
    std::uint64_t added = 0;
    for (const std::uint64_t s : sums) added += s;
    CHECK(pairs == added);
    std::vector<std::uint64_t> expected(9, 0);
    for (std::size_t a = 0; a < combos.size(); ++a)
        for (std::size_t b = 0; b < combos.size(); ++b) {
            if (class_of[a] >= class_of[b] || (combos[a].mask() & combos[b].mask())) continue;
            const std::uint8_t row[4] = {combos[a].first, combos[a].second, combos[b].first, combos[b].second};
            std::uint64_t counts[3];
            heads_up_counts(row, 1, counts, 1, always);
            expected[class_of[a] * 3 + class_of[b]] += 2 * counts[0] + counts[2];
            expected[class_of[b] * 3 + class_of[a]] += 2 * counts[1] + counts[2];
        }
    for (int k = 0; k < 9; ++k)
        if (k % 4) CHECK(sums[k] == expected[k]);
}

}  // namespace

int main() {
    class_sums_match_pairs();
    for (const bool weighted : {false, true}) {
        for (const bool symmetric : {false, true}) {
            sweep_matches_deals(5, weighted, symmetric, 40, 6);
            sweep_matches_deals(4, weighted, symmetric, 30, 4);
            sweep_matches_deals(3, weighted, symmetric, 12, 3);
        }
        sweep_matches_deals(0, weighted, true, 1, 1);
    }
    sweep_matches_deals(0, false, false, 2, 1);
    both_paths_agree_on_weights();
    std::printf("sweep tests: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
