// The class sweep: the per-board walk of board_sweep.hpp with counters per
// class instead of per combo. Walking a group of equal scores, each combo
// adds to its class's row, for every class j, the combos of j below it that
// share no card with it (wins); then the group joins the counters and each
// combo adds the same again (wins once more, and the ties): 2 * wins + ties.
// Counters are uint16 per class, in rows of W so the per-class loops run
// as vector adds; a board's sums are at most 2 * 24 * 12 * 12 = 6,912 per
// pair of classes, so eight boards are summed in uint16 before going to uint64.
#include "equity_engine/class_sweep.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>
#include <string>

#include "equity_engine/board_completions.hpp"
#include "equity_engine/board_sweep.hpp"
#include "equity_engine/parallel_runner.hpp"
#include "equity_engine/suit_symmetry.hpp"

namespace tavrix::equity {
namespace {

constexpr int BOARDS_PER_FLUSH = 8;

CompletionPlan preflop_plan() { return plan_completions(0, 0); }

class ClassBoardSweep {
public:
    ClassBoardSweep(const SweepSlots& slots, const std::vector<std::uint16_t>& class_of, std::size_t classes,
                    TableView tables)
        : slots_(slots), class_of_(class_of), classes_(classes), width_((classes + 15) / 16 * 16), tables_(tables),
          keys_(slots.size()), scratch_(slots.size()), total_(width_), card_(CARD_COUNT * width_),
          pending_(classes * width_), sums_(classes * classes) {}

    void sweep(HandValue board, std::uint16_t multiplicity) noexcept {
        std::size_t n = 0;
        std::array<std::uint32_t, CARD_COUNT> holding{};
        for (std::size_t s = 0; s < slots_.size(); ++s) {
            const HandValue hole = slots_.holes[s];
            if (hole.mask & board.mask) continue;
            const std::uint32_t score = tables_.score(board.key + hole.key, board.mask | hole.mask, fault);
            keys_[n++] = score << 16 | static_cast<std::uint32_t>(s);
            ++holding[slots_.combos[s].first];
            ++holding[slots_.combos[s].second];
        }
        // Ordered pairs of live combos that share no card: all pairs, less
        // those that share a card (a combo with itself shares two).
        std::uint64_t sharing = 0;
        for (const std::uint32_t h : holding) sharing += std::uint64_t{h} * h;
        pairs_ += multiplicity * (std::uint64_t{n} * n + n - sharing);
        sort_by_score(keys_.data(), scratch_.data(), n);
        std::fill(total_.begin(), total_.end(), 0);
        std::fill(card_.begin(), card_.end(), 0);
        for (std::size_t i = 0; i < n;) {
            const std::uint32_t score = keys_[i] >> 16;
            std::size_t j = i;
            while (j < n && (keys_[j] >> 16) == score) ++j;
            for (std::size_t k = i; k < j; ++k) add_beaten(keys_[k] & 0xFFFF);
            for (std::size_t k = i; k < j; ++k) {
                const std::uint32_t s = keys_[k] & 0xFFFF;
                const std::uint16_t cls = class_of_[s];
                total_[cls] = static_cast<std::uint16_t>(total_[cls] + multiplicity);
                std::uint16_t* first = card_.data() + slots_.combos[s].first * width_;
                std::uint16_t* second = card_.data() + slots_.combos[s].second * width_;
                first[cls] = static_cast<std::uint16_t>(first[cls] + multiplicity);
                second[cls] = static_cast<std::uint16_t>(second[cls] + multiplicity);
            }
            for (std::size_t k = i; k < j; ++k) {
                const std::uint32_t s = keys_[k] & 0xFFFF;
                add_beaten(s);
                // The combo itself is now counted once in the total and once
                // per card: the subtraction took it away once too often.
                std::uint16_t& own = pending_[class_of_[s] * width_ + class_of_[s]];
                own = static_cast<std::uint16_t>(own + multiplicity);
            }
            i = j;
        }
        if (++boards_pending_ == BOARDS_PER_FLUSH) flush();
    }

    // Moves the uint16 sums into the uint64 ones.
    void flush() noexcept {
        for (std::size_t i = 0; i < classes_; ++i)
            for (std::size_t j = 0; j < classes_; ++j) sums_[i * classes_ + j] += pending_[i * width_ + j];
        std::fill(pending_.begin(), pending_.end(), 0);
        boards_pending_ = 0;
    }

    const std::vector<std::uint64_t>& sums() const noexcept { return sums_; }
    std::uint64_t pairs() const noexcept { return pairs_; }
    bool fault = false;

private:
    // row(class of s) += total - card[x] - card[y], class by class (mod 2^16:
    // every true sum is in range once the group is complete).
    void add_beaten(std::uint32_t s) noexcept {
        std::uint16_t* __restrict row = pending_.data() + class_of_[s] * width_;
        const std::uint16_t* __restrict total = total_.data();
        const std::uint16_t* __restrict first = card_.data() + slots_.combos[s].first * width_;
        const std::uint16_t* __restrict second = card_.data() + slots_.combos[s].second * width_;
        for (std::size_t j = 0; j < width_; ++j)
            row[j] = static_cast<std::uint16_t>(row[j] + total[j] - first[j] - second[j]);
    }

    const SweepSlots& slots_;
    const std::vector<std::uint16_t>& class_of_;
    std::size_t classes_, width_;
    TableView tables_;
    std::vector<std::uint32_t> keys_, scratch_;
    std::vector<std::uint16_t> total_, card_, pending_;
    std::vector<std::uint64_t> sums_;
    int boards_pending_ = 0;
    std::uint64_t pairs_ = 0;
};

// Every suit permutation must map the combos onto combos of the same class.
void check_closed(const SweepSlots& slots, const std::vector<std::uint16_t>& class_of, const std::vector<CardMap>& maps) {
    std::vector<int> class_at(CARD_COUNT * CARD_COUNT, -1);
    for (std::size_t s = 0; s < slots.size(); ++s) {
        const Combo c = slots.combos[s];
        class_at[c.first * CARD_COUNT + c.second] = class_at[c.second * CARD_COUNT + c.first] = class_of[s];
    }
    for (const CardMap& map : maps)
        for (std::size_t s = 0; s < slots.size(); ++s) {
            const Combo c = slots.combos[s];
            if (class_at[map[c.first] * CARD_COUNT + map[c.second]] != class_of[s])
                throw std::invalid_argument("combo " + std::to_string(s) +
                                            ": a permutation of the suits maps it outside its class");
        }
}

}  // namespace

std::size_t class_sweep_items() { return preflop_plan().items.size(); }

std::uint64_t class_sweep(const std::vector<Combo>& combos, const std::vector<std::uint16_t>& class_of,
                          std::size_t classes, std::size_t first, std::size_t last, std::uint64_t* out,
                          unsigned threads, const KeepGoing& keep_going) {
    if (combos.size() != class_of.size()) throw std::invalid_argument("every combo needs a class");
    if (combos.size() > 0xFFFF || classes > 4096) throw std::invalid_argument("too many combos or classes");
    SweepSlots slots;
    std::vector<bool> known(CARD_COUNT * CARD_COUNT);
    for (std::size_t s = 0; s < combos.size(); ++s) {
        const Combo c = combos[s];
        if (c.first >= CARD_COUNT || c.second >= CARD_COUNT || c.first == c.second)
            throw std::invalid_argument("combo " + std::to_string(s) + " is not two different cards 0 to 51");
        if (class_of[s] >= classes) throw std::invalid_argument("combo " + std::to_string(s) + " has no such class");
        if (known[c.first * CARD_COUNT + c.second] || known[c.second * CARD_COUNT + c.first])
            throw std::invalid_argument("combo " + std::to_string(s) + " is given twice");
        known[c.first * CARD_COUNT + c.second] = true;
        slots.add(c);
    }
    const std::vector<CardMap> maps = symmetries(0, 0);
    check_closed(slots, class_of, maps);
    const CompletionPlan plan = preflop_plan();
    if (first > last || last > plan.items.size()) throw std::invalid_argument("items outside the plan");
    const ImageBits image_bits = image_bits_of(maps);
    const TableView tables = table_view();

    WorkerPool<ClassBoardSweep> pool([&] { return std::make_unique<ClassBoardSweep>(slots, class_of, classes, tables); });
    run_parallel(
        last - first, threads,
        [&](std::size_t offset) {
            ClassBoardSweep* worker = pool.take();
            auto visit = [worker](HandValue board, unsigned multiplicity) {
                worker->sweep(board, static_cast<std::uint16_t>(multiplicity));
            };
            CompletionWalk<decltype(visit)>{plan, image_bits, visit}.item(plan.items[first + offset], EMPTY_HAND);
            const bool fault = worker->fault;
            pool.give(worker);
            if (fault) throw TableFault();
        },
        keep_going);
    std::uint64_t pairs = 0;
    for (const auto& worker : pool.all()) {
        worker->flush();
        for (std::size_t k = 0; k < classes * classes; ++k) out[k] += worker->sums()[k];
        pairs += worker->pairs();
    }
    return pairs;
}

}  // namespace tavrix::equity
