// Omaha equity. Exact runs list the deals (one hand per player, no card
// shared), count every completion of the board for each in integers, and sum
// the deals' weighted counts in work items fixed by the request alone, then
// the items in order: the same result for any number of threads. Monte Carlo
// runs draw trials in blocks seeded by (seed, block), as for hold'em.
#include "equity_engine/omaha_equity.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <mutex>
#include <stdexcept>
#include <string>

#include "equity_engine/board_walk.hpp"
#include "equity_engine/deal.hpp"
#include "equity_engine/deal_search.hpp"
#include "equity_engine/omaha_showdown.hpp"
#include "equity_engine/parallel_runner.hpp"
#include "equity_engine/random.hpp"

namespace tavrix::equity {
namespace {

void check_card(unsigned card, const char* what) {
    if (card >= CARD_COUNT)
        throw std::invalid_argument(std::string(what) + " card index " + std::to_string(card) + " is outside 0 to 51");
}

std::uint64_t cards_mask(const std::uint8_t* cards, int count) noexcept {
    std::uint64_t mask = 0;
    for (int i = 0; i < count; ++i) mask |= std::uint64_t{1} << cards[i];
    return mask;
}

std::uint64_t board_mask(const OmahaRequest& request) noexcept {
    return cards_mask(request.board.data(), static_cast<int>(request.board.size()));
}

BoardCards known_board(const OmahaRequest& request) noexcept {
    BoardCards board{};
    for (const std::uint8_t card : request.board) board = combine(board, card);
    return board;
}

int cards_to_deal(const OmahaRequest& request) noexcept { return OMAHA_BOARD - static_cast<int>(request.board.size()); }

bool is_hand(const OmahaPlayer& player) noexcept { return !player.random && player.hands() == 1; }

// Each player's hand masks; random players get none (they fit any deal).
std::vector<std::vector<std::uint64_t>> hand_masks(const OmahaRequest& request) {
    std::vector<std::vector<std::uint64_t>> masks(request.players.size());
    for (std::size_t p = 0; p < request.players.size(); ++p) {
        const OmahaPlayer& player = request.players[p];
        masks[p].reserve(player.hands());
        for (std::size_t i = 0; i < player.hands(); ++i)
            masks[p].push_back(cards_mask(player.cards.data() + i * request.hole_cards, request.hole_cards));
    }
    return masks;
}

[[noreturn]] void no_possible_deal() { throw NoDeal(); }

// Every hand of `hole_cards` cards outside `excluded`, each of weight 1.
OmahaPlayer every_hand(int hole_cards, std::uint64_t excluded) {
    std::uint8_t deck[CARD_COUNT];
    const int n = remaining_cards(excluded, deck);
    const std::uint64_t count = choose(n, hole_cards);
    if (count > MAX_EXACT_DEALS)
        throw std::invalid_argument("a random player has " + std::to_string(count) +
                                    " possible hands: too many to count exactly, use trials");
    OmahaPlayer player;
    player.cards.reserve(count * static_cast<std::uint64_t>(hole_cards));
    player.weights.assign(count, 1.0);
    std::uint8_t chosen[MAX_OMAHA_HOLE];
    auto pick = [&](auto& self, int depth, int from) -> void {
        if (depth == hole_cards) {
            player.cards.insert(player.cards.end(), chosen, chosen + hole_cards);
            return;
        }
        for (int i = from; i <= n - (hole_cards - depth); ++i) {
            chosen[depth] = deck[i];
            self(self, depth + 1, i + 1);
        }
    };
    pick(pick, 0, 0);
    return player;
}

// Runs the items on worker threads, reporting finished items to `progress`
// from the waiting thread.
template <typename Work>
void run_items(std::size_t items, unsigned threads, Work&& work, const KeepGoing& keep_going, const Progress& progress) {
    std::atomic<std::size_t> done{0};
    if (progress && !progress(0, items)) throw Cancelled();
    run_parallel(
        items, threads,
        [&](std::size_t item) {
            work(item);
            done.fetch_add(1, std::memory_order_relaxed);
        },
        [&] { return (!progress || progress(done.load(std::memory_order_relaxed), items)) && keep_going(); });
    if (progress && !progress(items, items)) throw Cancelled();
}

struct DealList {
    std::vector<std::uint32_t> hands;  // players hand indices per deal
    std::vector<double> weight;

    std::size_t size() const noexcept { return weight.size(); }
};

DealList list_deals(const OmahaRequest& request, const KeepGoing& keep_going) {
    DealList deals;
    const std::uint64_t fixed = board_mask(request) | request.dead_mask;
    for_each_deal(hand_masks(request), fixed, keep_going, [&](const std::vector<std::uint32_t>& hand_of_player) {
        if (deals.size() >= MAX_EXACT_DEALS)
            throw std::invalid_argument("more than " + std::to_string(MAX_EXACT_DEALS) +
                                        " deals to enumerate exactly: use trials for ranges this wide");
        double weight = 1.0;
        for (std::size_t p = 0; p < hand_of_player.size(); ++p) {
            deals.hands.push_back(hand_of_player[p]);
            weight *= request.players[p].weights[hand_of_player[p]];
        }
        deals.weight.push_back(weight);
        return true;
    });
    return deals;
}

// Item i covers deals [first, last), or with `positions`, deal i / positions
// and only the boards whose first new card is deck position i % positions.
struct WorkPlan {
    int positions = 0;
    std::size_t deals_per_item = 1;
    std::size_t items = 0;
};

WorkPlan plan_work(std::size_t deals, std::uint64_t boards, int deck_size, int to_deal) {
    WorkPlan plan;
    // Few deals with many boards each: split them so that every thread gets
    // work and a cancellation is seen within a few milliseconds.
    if (to_deal >= 4 && deals < 1024) {
        plan.positions = deck_size - to_deal + 1;
        plan.items = deals * static_cast<std::size_t>(plan.positions);
        return plan;
    }
    plan.deals_per_item = boards >= 16384 ? 1 : static_cast<std::size_t>(16384 / boards);
    plan.items = (deals + plan.deals_per_item - 1) / plan.deals_per_item;
    return plan;
}

// Per item: wins, ties, shares, high wins, high ties, low wins, low ties per
// player, then boards, each weighted by its deal's weight.
constexpr std::size_t ITEM_FIELDS = 7;

template <int Players, bool HighLow>
void count_item(const OmahaRequest& request, const DealList& deals, const WorkPlan& plan, const OmahaScorer& scorer,
                std::size_t item, double* out) {
    const std::size_t first = plan.positions ? item / plan.positions : item * plan.deals_per_item;
    const std::size_t last = plan.positions ? first + 1 : std::min(first + plan.deals_per_item, deals.size());
    const int to_deal = cards_to_deal(request);
    const BoardCards board = known_board(request);
    const std::uint64_t fixed = board_mask(request) | request.dead_mask;
    const int k = request.hole_cards;

    for (std::size_t deal = first; deal < last; ++deal) {
        OmahaShowdown<Players, HighLow, false> showdown{scorer, {}, {}};
        std::uint64_t used = fixed;
        for (int p = 0; p < Players; ++p) {
            const std::uint8_t* cards = request.players[p].cards.data() + deals.hands[deal * Players + p] * k;
            showdown.holes[p] = make_hole(cards, k);
            used |= cards_mask(cards, k);
        }
        std::uint8_t deck[CARD_COUNT];
        const int n = remaining_cards(used, deck);
        if (plan.positions) {
            const int position = static_cast<int>(item % plan.positions);
            walk_boards(to_deal - 1, deck, n, position + 1, combine(board, deck[position]), showdown);
        } else {
            walk_boards(to_deal, deck, n, 0, board, showdown);
        }
        const double w = deals.weight[deal];
        const OmahaCounts<Players>& c = showdown.counts;
        for (int p = 0; p < Players; ++p) {
            double* slot = out + ITEM_FIELDS * p;
            slot[0] += w * static_cast<double>(c.wins[p]);
            slot[1] += w * static_cast<double>(c.ties[p]);
            slot[2] += w * static_cast<double>(c.shares[p]);
            slot[3] += w * static_cast<double>(c.high_wins[p]);
            slot[4] += w * static_cast<double>(c.high_ties[p]);
            slot[5] += w * static_cast<double>(c.low_wins[p]);
            slot[6] += w * static_cast<double>(c.low_ties[p]);
        }
        out[ITEM_FIELDS * Players] += w * static_cast<double>(c.boards);
    }
}

// Calls `run.template operator()<P, HighLow>()` with both as constants.
template <typename Run>
void with_game(int players, bool high_low, Run&& run) {
    with_player_count(players, [&]<int P>() {
        if (high_low)
            run.template operator()<P, true>();
        else
            run.template operator()<P, false>();
    });
}

// Draws a hand index with probability proportional to its weight.
struct HandSampler {
    std::vector<double> cumulative;

    explicit HandSampler(const OmahaPlayer& player) : cumulative(player.hands()) {
        double sum = 0;
        for (std::size_t i = 0; i < player.hands(); ++i) cumulative[i] = sum += player.weights[i];
    }

    std::size_t draw(BlockRandom& random) const noexcept {
        const double target = random.unit() * cumulative.back();
        const auto it = std::upper_bound(cumulative.begin(), cumulative.end(), target);
        return std::min<std::size_t>(static_cast<std::size_t>(it - cumulative.begin()), cumulative.size() - 1);
    }
};

// After this many deals in a row that share a card, the ranges are taken to
// leave (almost) no possible deal.
constexpr unsigned MAX_REJECTED_DEALS = 1'000'000;

// Sums over all blocks. Squared shares (up to 5040^2 per trial) can pass 64
// bits over 2^40 trials, so their total is kept in 128.
struct BlockSums {
    std::mutex mutex;
    std::vector<std::uint64_t> values;  // ITEM_FIELDS per player, then boards
    std::vector<unsigned __int128> share_squares;

    explicit BlockSums(std::size_t players) : values(ITEM_FIELDS * players + 1), share_squares(players) {}
};

template <int Players, bool HighLow>
void deal_to_hands(const OmahaRequest& request, std::uint64_t trials, BlockRandom& random,
                   OmahaShowdown<Players, HighLow, true>& showdown) {
    std::uint64_t used = board_mask(request) | request.dead_mask;
    for (int p = 0; p < Players; ++p) {
        const std::uint8_t* cards = request.players[p].cards.data();
        showdown.holes[p] = make_hole(cards, request.hole_cards);
        used |= cards_mask(cards, request.hole_cards);
    }
    std::uint8_t deck[CARD_COUNT];
    const auto n = static_cast<std::uint32_t>(remaining_cards(used, deck));
    const auto to_deal = static_cast<std::uint32_t>(cards_to_deal(request));
    const BoardCards known = known_board(request);
    for (std::uint64_t t = 0; t < trials; ++t) {
        BoardCards board = known;
        for (std::uint32_t k = 0; k < to_deal; ++k) {
            std::swap(deck[k], deck[k + random.below(n - k)]);
            board = combine(board, deck[k]);
        }
        showdown(board);
    }
}

std::uint8_t draw_card(BlockRandom& random, std::uint64_t& used) noexcept {
    unsigned card;
    do card = random.below(CARD_COUNT);
    while ((used >> card) & 1);
    used |= std::uint64_t{1} << card;
    return static_cast<std::uint8_t>(card);
}

// Ranges drawn by weight, the deal drawn again when two of them share a card;
// random players then draw their cards from what is left, which leaves every
// deal's probability proportional to the product of its weights.
template <int Players, bool HighLow>
void deal_to_ranges(const OmahaRequest& request, const std::vector<HandSampler>& samplers, std::uint64_t trials,
                    BlockRandom& random, OmahaShowdown<Players, HighLow, true>& showdown) {
    const std::uint64_t fixed = board_mask(request) | request.dead_mask;
    const int k = request.hole_cards;
    const BoardCards known = known_board(request);
    std::uint64_t draws = 0;
    for (std::uint64_t t = 0; t < trials; ++t) {
        std::uint64_t used = fixed;
        for (unsigned rejected = 0;; ++rejected) {
            if (rejected == MAX_REJECTED_DEALS)
                throw std::invalid_argument("the players' ranges almost never leave a possible deal");
            if ((++draws & 0xFFF) == 0 && stop_requested()) throw Cancelled();
            used = fixed;
            int p = 0;
            for (; p < Players; ++p) {
                const OmahaPlayer& player = request.players[p];
                if (player.random) continue;
                const std::uint8_t* cards = player.cards.data() + samplers[p].draw(random) * k;
                const std::uint64_t mask = cards_mask(cards, k);
                if (used & mask) break;
                used |= mask;
                showdown.holes[p] = make_hole(cards, k);
            }
            if (p == Players) break;
        }
        for (int p = 0; p < Players; ++p) {
            if (!request.players[p].random) continue;
            std::uint8_t cards[MAX_OMAHA_HOLE];
            for (int i = 0; i < k; ++i) cards[i] = draw_card(random, used);
            showdown.holes[p] = make_hole(cards, k);
        }
        BoardCards board = known;
        while (board.count < OMAHA_BOARD) board = combine(board, draw_card(random, used));
        showdown(board);
    }
}

template <int Players, bool HighLow>
void run_block(const OmahaRequest& request, const std::vector<HandSampler>& samplers, const OmahaScorer& scorer,
               std::uint64_t seed, std::uint64_t block, std::uint64_t trials, BlockSums& sums) {
    BlockRandom random(seed, block);
    OmahaShowdown<Players, HighLow, true> showdown{scorer, {}, {}};
    if (std::all_of(request.players.begin(), request.players.end(), is_hand))
        deal_to_hands(request, trials, random, showdown);
    else
        deal_to_ranges(request, samplers, trials, random, showdown);

    const OmahaCounts<Players>& c = showdown.counts;
    const std::lock_guard lock(sums.mutex);
    for (int p = 0; p < Players; ++p) {
        std::uint64_t* slot = sums.values.data() + ITEM_FIELDS * p;
        slot[0] += c.wins[p];
        slot[1] += c.ties[p];
        slot[2] += c.shares[p];
        slot[3] += c.high_wins[p];
        slot[4] += c.high_ties[p];
        slot[5] += c.low_wins[p];
        slot[6] += c.low_ties[p];
        sums.share_squares[p] += c.share_squares[p];
    }
    sums.values[ITEM_FIELDS * Players] += c.boards;
}

// Totals from per-player field sums laid out as the items' and blocks' are.
template <typename Value>
OmahaTotals to_totals(const Value* values, std::size_t players) {
    OmahaTotals totals(players);
    for (std::size_t p = 0; p < players; ++p) {
        const Value* slot = values + ITEM_FIELDS * p;
        totals.pot.wins[p] = static_cast<double>(slot[0]);
        totals.pot.ties[p] = static_cast<double>(slot[1]);
        totals.pot.shares[p] = static_cast<double>(slot[2]);
        totals.high_wins[p] = static_cast<double>(slot[3]);
        totals.high_ties[p] = static_cast<double>(slot[4]);
        totals.low_wins[p] = static_cast<double>(slot[5]);
        totals.low_ties[p] = static_cast<double>(slot[6]);
    }
    totals.pot.boards = static_cast<double>(values[ITEM_FIELDS * players]);
    return totals;
}

}  // namespace

void OmahaRequest::validate() const {
    if (players.size() < 2 || players.size() > MAX_PLAYERS)
        throw std::invalid_argument("equity needs 2 to 10 players, got " + std::to_string(players.size()));
    if (hole_cards < MIN_OMAHA_HOLE || hole_cards > MAX_OMAHA_HOLE)
        throw std::invalid_argument("an Omaha hand holds 4, 5 or 6 hole cards, not " + std::to_string(hole_cards));
    if (board.size() > OMAHA_BOARD)
        throw std::invalid_argument("a board has at most 5 cards, got " + std::to_string(board.size()));
    for (const std::uint8_t card : board) check_card(card, "board");
    if (dead_mask >> CARD_COUNT) throw std::invalid_argument("dead cards must be card indices 0 to 51");
    const std::uint64_t fixed = board_mask(*this);
    if (std::popcount(fixed) != static_cast<int>(board.size()) || (fixed & dead_mask))
        throw std::invalid_argument("the board and the dead cards share a card");
    const auto k = static_cast<std::size_t>(hole_cards);
    for (const OmahaPlayer& player : players) {
        if (player.random) {
            if (!player.cards.empty() || !player.weights.empty())
                throw std::invalid_argument("a random player lists no hands");
            continue;
        }
        if (player.weights.empty() || player.cards.size() != k * player.hands())
            throw std::invalid_argument("every player needs at least one hand of " + std::to_string(k) +
                                        " cards, each with a weight");
        for (std::size_t i = 0; i < player.hands(); ++i) {
            const std::uint8_t* cards = player.cards.data() + i * k;
            for (std::size_t c = 0; c < k; ++c) check_card(cards[c], "hole");
            if (std::popcount(cards_mask(cards, hole_cards)) != hole_cards)
                throw std::invalid_argument("a hand holds " + std::to_string(k) + " different cards");
            if (!(player.weights[i] > 0) || player.weights[i] > 1e300)
                throw std::invalid_argument("hand weights must be positive and finite");
        }
    }
    const int left = CARD_COUNT - std::popcount(fixed | dead_mask) - hole_cards * static_cast<int>(players.size());
    if (left < OMAHA_BOARD - static_cast<int>(board.size()))
        throw std::invalid_argument("too few cards left to complete the board");
}

OmahaTotals omaha_exact_equity(const OmahaRequest& request, unsigned threads, const KeepGoing& keep_going,
                               const Progress& progress) {
    request.validate();
    const OmahaScorer scorer;
    const std::size_t players = request.players.size();
    const std::uint64_t fixed = board_mask(request) | request.dead_mask;

    // Random players hold any hand of the cards that no board, dead card or
    // fixed hand takes.
    OmahaRequest expanded = request;
    std::uint64_t taken = fixed;
    for (const OmahaPlayer& player : request.players)
        if (is_hand(player)) taken |= cards_mask(player.cards.data(), request.hole_cards);
    for (OmahaPlayer& player : expanded.players)
        if (player.random) player = every_hand(request.hole_cards, taken);

    const DealList deals = list_deals(expanded, keep_going);
    if (deals.size() == 0) no_possible_deal();
    const int to_deal = cards_to_deal(request);
    const int deck_size = CARD_COUNT - std::popcount(fixed) - request.hole_cards * static_cast<int>(players);
    const std::uint64_t boards = choose(deck_size, to_deal);
    const double showdowns = static_cast<double>(deals.size()) * static_cast<double>(boards) * static_cast<double>(players);
    if (showdowns > MAX_OMAHA_SHOWDOWNS)
        throw std::invalid_argument("counting exactly would score " + std::to_string(static_cast<std::uint64_t>(showdowns)) +
                                    " hands (" + std::to_string(deals.size()) + " deals of " + std::to_string(boards) +
                                    " boards): use trials");

    const WorkPlan plan = plan_work(deals.size(), boards, deck_size, to_deal);
    const std::size_t stride = ITEM_FIELDS * players + 1;
    std::vector<double> item_sums(plan.items * stride, 0.0);
    run_items(
        plan.items, threads,
        [&](std::size_t item) {
            with_game(static_cast<int>(players), request.high_low, [&]<int P, bool HighLow>() {
                count_item<P, HighLow>(expanded, deals, plan, scorer, item, item_sums.data() + item * stride);
            });
        },
        keep_going, progress);

    std::vector<double> sums(stride, 0.0);
    for (std::size_t item = 0; item < plan.items; ++item)
        for (std::size_t f = 0; f < stride; ++f) sums[f] += item_sums[item * stride + f];
    return to_totals(sums.data(), players);
}

OmahaTotals omaha_monte_carlo_equity(const OmahaRequest& request, std::uint64_t trials, std::uint64_t seed,
                                     unsigned threads, const KeepGoing& keep_going, const Progress& progress) {
    request.validate();
    if (trials == 0) throw std::invalid_argument("trials must be at least 1");
    if (trials > MAX_TRIALS) throw std::invalid_argument("trials must be at most 2^40");
    const OmahaScorer scorer;
    const std::uint64_t fixed = board_mask(request) | request.dead_mask;

    // Random players fit any deal of the others: the search covers the rest.
    std::vector<std::vector<std::uint64_t>> masks = hand_masks(request);
    std::erase_if(masks, [](const std::vector<std::uint64_t>& m) { return m.empty(); });
    bool found = false;
    for_each_deal(masks, fixed, keep_going, [&found](const std::vector<std::uint32_t>&) { return !(found = true); });
    if (!found) no_possible_deal();

    std::vector<HandSampler> samplers;
    samplers.reserve(request.players.size());
    for (const OmahaPlayer& player : request.players) samplers.emplace_back(player);

    const std::size_t players = request.players.size();
    const std::uint64_t blocks = (trials + TRIALS_PER_BLOCK - 1) / TRIALS_PER_BLOCK;
    BlockSums sums(players);
    run_items(
        blocks, threads,
        [&](std::size_t block) {
            const std::uint64_t count = std::min(TRIALS_PER_BLOCK, trials - block * TRIALS_PER_BLOCK);
            with_game(static_cast<int>(players), request.high_low, [&]<int P, bool HighLow>() {
                run_block<P, HighLow>(request, samplers, scorer, seed, block, count, sums);
            });
        },
        keep_going, progress);

    OmahaTotals totals = to_totals(sums.values.data(), players);
    for (std::size_t p = 0; p < players; ++p) totals.pot.share_squares[p] = static_cast<double>(sums.share_squares[p]);
    return totals;
}

}  // namespace tavrix::equity
