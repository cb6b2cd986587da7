#include "equity_engine/hand_strength.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "equity_engine/parallel_runner.hpp"
#include "equity_engine/river_sweep.hpp"
#include "equity_engine/table_view.hpp"

namespace tavrix::equity {
namespace {

constexpr unsigned VALUES = STRENGTH_UNITS + 1;
constexpr unsigned CLASSES = 169;

std::uint64_t card_bit(unsigned card) { return std::uint64_t{1} << card; }

void add_value(const StrengthSums& out, const std::uint32_t* bin_of, std::size_t row, unsigned value,
               std::uint64_t times = 1) {
    out.sum[row] += times * value;
    if (out.square_sum != nullptr) out.square_sum[row] += times * value * value;
    if (out.hist != nullptr) out.hist[row * out.bins + bin_of[value]] += times;
    out.completions[row] += times;
}

void clear_row(const StrengthSums& out, std::size_t row) {
    out.sum[row] = 0;
    out.completions[row] = 0;
    if (out.square_sum != nullptr) out.square_sum[row] = 0;
    if (out.hist != nullptr) std::fill_n(out.hist + row * out.bins, out.bins, 0);
}

// ---- Preflop: counts of each strength value per starting-hand class -------

// 13 * high + low for suited hands, 13 * low + high for offsuit ones, 14 * rank
// for pairs: a cell of the 13 x 13 grid, the same for every combo of a class.
unsigned class_cell(unsigned a, unsigned b) {
    const unsigned ra = a >> 2, rb = b >> 2;
    const unsigned high = std::max(ra, rb), low = std::min(ra, rb);
    if ((a & 3) == (b & 3)) return 13 * high + low;
    return 13 * low + high;
}

struct CanonicalBoard {
    std::uint64_t cards;
    std::uint32_t orbit;
};

// One board of five cards per class of boards equal under a permutation of
// suits: the one whose per-suit rank sets are in non-increasing order, with
// the size of its class. Class sums over all boards are the sums over these
// boards, each counted orbit times, since a class of combos maps onto itself.
const std::vector<CanonicalBoard>& canonical_rivers() {
    static const std::vector<CanonicalBoard> boards = [] {
        std::vector<CanonicalBoard> found;
        std::array<unsigned, 5> c{};
        for (c[0] = 0; c[0] < 52; ++c[0])
            for (c[1] = c[0] + 1; c[1] < 52; ++c[1])
                for (c[2] = c[1] + 1; c[2] < 52; ++c[2])
                    for (c[3] = c[2] + 1; c[3] < 52; ++c[3])
                        for (c[4] = c[3] + 1; c[4] < 52; ++c[4]) {
                            std::array<unsigned, 4> suit{};
                            std::uint64_t cards = 0;
                            for (const unsigned card : c) {
                                suit[card & 3] |= 1u << (card >> 2);
                                cards |= card_bit(card);
                            }
                            if (suit[0] < suit[1] || suit[1] < suit[2] || suit[2] < suit[3]) continue;
                            // 24 divided by the permutations among suits with equal rank sets.
                            unsigned same = 1, stabiliser = 1;
                            for (int s = 1; s < 4; ++s) {
                                same = suit[s] == suit[s - 1] ? same + 1 : 1;
                                stabiliser *= same;
                            }
                            found.push_back({cards, 24 / stabiliser});
                        }
        return found;
    }();
    return boards;
}

using ClassCounts = std::vector<std::uint64_t>;  // CLASSES x VALUES

std::shared_ptr<const ClassCounts> compute_class_counts(const TableView& tables, unsigned threads,
                                                        const KeepGoing& keep_going) {
    const std::vector<CanonicalBoard>& boards = canonical_rivers();
    std::array<std::uint8_t, CARD_COUNT * CARD_COUNT> cell{};
    for (unsigned a = 0; a < CARD_COUNT; ++a)
        for (unsigned b = 0; b < CARD_COUNT; ++b) cell[a * CARD_COUNT + b] = static_cast<std::uint8_t>(class_cell(a, b));
    auto totals = std::make_shared<ClassCounts>(std::size_t{CLASSES} * VALUES, 0);
    std::mutex merge;
    constexpr std::size_t per_item = 512;
    const std::size_t items = (boards.size() + per_item - 1) / per_item;
    run_parallel(
        items, threads,
        [&](std::size_t item) {
            // 512 boards, 24 each at most, 12 combos a class: well inside 32 bits.
            std::vector<std::uint32_t> counts(std::size_t{CLASSES} * VALUES, 0);
            RiverSweep sweep(tables);
            std::array<std::uint16_t, RIVER_COMBOS> value;
            const std::size_t last = std::min(boards.size(), (item + 1) * per_item);
            for (std::size_t i = item * per_item; i < last; ++i) {
                HandValue board = EMPTY_HAND;
                for (std::uint64_t rest = boards[i].cards; rest != 0; rest &= rest - 1)
                    board = combine(board, CARD_TABLE[std::countr_zero(rest)]);
                if (!sweep.run(board, boards[i].cards, value.data())) throw TableFault();
                const auto& cards = sweep.cards();
                std::size_t slot = 0;
                for (int x = 0; x < RIVER_DECK; ++x)
                    for (int y = x + 1; y < RIVER_DECK; ++y, ++slot)
                        counts[std::size_t{cell[cards[x] * CARD_COUNT + cards[y]]} * VALUES + value[slot]] +=
                            boards[i].orbit;
            }
            const std::lock_guard lock(merge);
            for (std::size_t k = 0; k < counts.size(); ++k) (*totals)[k] += counts[k];
        },
        keep_going);
    return totals;
}

// Computed once per process (a few hundred thousand sweeps) and kept: a
// cancelled computation leaves nothing behind and the next call starts again.
std::shared_ptr<const ClassCounts> class_counts(const TableView& tables, unsigned threads,
                                                const KeepGoing& keep_going) {
    static std::mutex mutex;
    static std::shared_ptr<const ClassCounts> cached;
    {
        const std::lock_guard lock(mutex);
        if (cached) return cached;
    }
    std::shared_ptr<const ClassCounts> counts = compute_class_counts(tables, threads, keep_going);
    const std::lock_guard lock(mutex);
    if (!cached) cached = std::move(counts);
    return cached;
}

// ---- States with a board: every completion, every opponent combo ----------

// The sums of one state of 5, 6 or 7 cards. Opponent combos are all pairs of
// cards outside the state; for each completion of the board those holding a
// completion card are skipped.
class StateWalk {
public:
    StateWalk(const TableView& tables, const std::uint32_t* bin_of) : tables_(tables), bin_of_(bin_of) {}

    void run(const std::uint8_t* state, std::size_t width, const StrengthSums& out, std::size_t row) {
        clear_row(out, row);
        std::uint64_t used = 0;
        board_ = EMPTY_HAND;
        for (std::size_t i = 0; i < width; ++i) used |= card_bit(state[i]);
        for (std::size_t i = 2; i < width; ++i) board_ = combine(board_, CARD_TABLE[state[i]]);
        hole_ = combine(CARD_TABLE[state[0]], CARD_TABLE[state[1]]);
        int n = 0;
        std::array<std::uint8_t, CARD_COUNT> rest{};
        for (unsigned c = 0; c < CARD_COUNT; ++c)
            if (!(used & card_bit(c))) rest[n++] = static_cast<std::uint8_t>(c);
        pairs_ = 0;
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j, ++pairs_) {
                pair_words_[pairs_] = combine(CARD_TABLE[rest[i]], CARD_TABLE[rest[j]]);
                pair_bits_[pairs_] = card_bit(rest[i]) | card_bit(rest[j]);
            }
        out_ = &out;
        row_ = row;
        fault_ = false;
        switch (width) {
            case 7: completion(board_, 0); break;
            case 6:
                for (int i = 0; i < n; ++i) completion(combine(board_, CARD_TABLE[rest[i]]), card_bit(rest[i]));
                break;
            default:
                for (int i = 0; i < n; ++i)
                    for (int j = i + 1; j < n; ++j)
                        completion(combine(combine(board_, CARD_TABLE[rest[i]]), CARD_TABLE[rest[j]]),
                                   card_bit(rest[i]) | card_bit(rest[j]));
        }
        if (fault_) throw TableFault();
    }

private:
    void completion(HandValue board, std::uint64_t added) {
        const std::uint16_t hero = tables_.score(combine(board, hole_), fault_);
        unsigned beaten = 0, tied = 0;
        for (std::size_t p = 0; p < pairs_; ++p) {
            if (pair_bits_[p] & added) continue;
            const std::uint16_t score = tables_.score(combine(board, pair_words_[p]), fault_);
            beaten += score < hero;
            tied += score == hero;
        }
        add_value(*out_, bin_of_, row_, 2 * beaten + tied);
    }

    TableView tables_;
    const std::uint32_t* bin_of_;
    HandValue board_{}, hole_{};
    std::array<HandValue, 1176> pair_words_{};
    std::array<std::uint64_t, 1176> pair_bits_{};
    std::size_t pairs_ = 0;
    const StrengthSums* out_ = nullptr;
    std::size_t row_ = 0;
    bool fault_ = false;
};

std::optional<BadRow> first_bad_row(const std::uint8_t* cards, std::size_t rows, std::size_t width) {
    for (std::size_t row = 0; row < rows; ++row) {
        std::uint64_t seen = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const unsigned card = cards[row * width + i];
            if (card >= CARD_COUNT) return BadRow{row, "card index " + std::to_string(card) + " is outside 0 to 51"};
            if (seen & card_bit(card)) return BadRow{row, "card index " + std::to_string(card) + " appears twice"};
            seen |= card_bit(card);
        }
    }
    return std::nullopt;
}

}  // namespace

std::vector<std::uint32_t> strength_bins(unsigned bins) {
    if (bins == 0) throw std::invalid_argument("bins must be at least 1");
    std::vector<std::uint32_t> bin_of(VALUES);
    for (unsigned v = 0; v < VALUES; ++v)
        bin_of[v] = static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{v} * bins / STRENGTH_UNITS, bins - 1));
    return bin_of;
}

std::optional<BadRow> state_strength(const std::uint8_t* cards, std::size_t rows, std::size_t width,
                                     const StrengthSums& out, unsigned threads, const KeepGoing& keep_going) {
    if (width != 2 && (width < 5 || width > 7)) throw std::invalid_argument("states have 2, 5, 6 or 7 cards");
    if (std::optional<BadRow> bad = first_bad_row(cards, rows, width)) return bad;
    const std::vector<std::uint32_t> bin_of = strength_bins(out.bins);
    const TableView tables = table_view();
    if (width == 2) {
        if (rows == 0) return std::nullopt;
        const std::shared_ptr<const ClassCounts> counts = class_counts(tables, threads, keep_going);
        for (std::size_t row = 0; row < rows; ++row) {
            clear_row(out, row);
            const std::uint64_t* of_class = counts->data() + std::size_t{class_cell(cards[2 * row], cards[2 * row + 1])} * VALUES;
            for (unsigned v = 0; v < VALUES; ++v)
                if (of_class[v] != 0) add_value(out, bin_of.data(), row, v, of_class[v]);
        }
        return std::nullopt;
    }
    // A flop state takes a few milliseconds: small items keep Ctrl-C quick.
    const std::size_t per_item = width == 5 ? 4 : width == 6 ? 256 : 4096;
    run_parallel(
        (rows + per_item - 1) / per_item, threads,
        [&](std::size_t item) {
            auto walk = std::make_unique<StateWalk>(tables, bin_of.data());
            const std::size_t last = std::min(rows, (item + 1) * per_item);
            for (std::size_t row = item * per_item; row < last; ++row) walk->run(cards + row * width, width, out, row);
        },
        keep_going);
    return std::nullopt;
}

void board_strength(const std::uint8_t* cards, std::size_t boards, std::size_t board_cards, const StrengthSums& out,
                    unsigned threads, const KeepGoing& keep_going) {
    if (board_cards < 3 || board_cards > 5) throw std::invalid_argument("boards have 3, 4 or 5 cards");
    if (std::optional<BadRow> bad = first_bad_row(cards, boards, board_cards))
        throw std::invalid_argument("board " + std::to_string(bad->row) + ": " + bad->reason);
    const std::vector<std::uint32_t> bin_of = strength_bins(out.bins);
    const TableView tables = table_view();
    const std::size_t combos = board_combos(board_cards);
    run_parallel(
        boards, threads,
        [&](std::size_t item) {
            const std::uint8_t* board_row = cards + item * board_cards;
            std::uint64_t used = 0;
            HandValue board = EMPTY_HAND;
            for (std::size_t i = 0; i < board_cards; ++i) {
                used |= card_bit(board_row[i]);
                board = combine(board, CARD_TABLE[board_row[i]]);
            }
            // slot_of[a * 52 + b]: the row of combo {a, b} (a < b) among this board's combos.
            std::array<std::uint16_t, CARD_COUNT * CARD_COUNT> slot_of{};
            std::array<std::uint8_t, CARD_COUNT> rest{};
            int n = 0;
            for (unsigned c = 0; c < CARD_COUNT; ++c)
                if (!(used & card_bit(c))) rest[n++] = static_cast<std::uint8_t>(c);
            std::uint16_t slot = 0;
            for (int i = 0; i < n; ++i)
                for (int j = i + 1; j < n; ++j) slot_of[rest[i] * CARD_COUNT + rest[j]] = slot++;
            const std::size_t first_row = item * combos;
            for (std::size_t s = 0; s < combos; ++s) clear_row(out, first_row + s);

            RiverSweep sweep(tables);
            std::array<std::uint16_t, RIVER_COMBOS> value;
            auto sweep_river = [&](HandValue river, std::uint64_t river_used) {
                if (!sweep.run(river, river_used, value.data())) throw TableFault();
                const auto& left = sweep.cards();
                std::size_t k = 0;
                for (int x = 0; x < RIVER_DECK; ++x)
                    for (int y = x + 1; y < RIVER_DECK; ++y, ++k)
                        add_value(out, bin_of.data(), first_row + slot_of[left[x] * CARD_COUNT + left[y]], value[k]);
            };
            if (board_cards == 5) {
                sweep_river(board, used);
            } else if (board_cards == 4) {
                for (int i = 0; i < n; ++i) sweep_river(combine(board, CARD_TABLE[rest[i]]), used | card_bit(rest[i]));
            } else {
                for (int i = 0; i < n; ++i) {
                    if (stop_requested()) throw Cancelled();
                    for (int j = i + 1; j < n; ++j)
                        sweep_river(combine(combine(board, CARD_TABLE[rest[i]]), CARD_TABLE[rest[j]]),
                                    used | card_bit(rest[i]) | card_bit(rest[j]));
                }
            }
        },
        keep_going);
}

}  // namespace tavrix::equity
