// Every completion of a board, one per class of completions equal under a
// group of suit maps, cut into fixed work items; and a pool of per-thread
// worker states. Shared by the sweeps that sum over boards.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "equity_engine/deal.hpp"
#include "equity_engine/suit_symmetry.hpp"

namespace tavrix::equity {

// The completion of the board: the free cards, and how the work is cut.
struct CompletionPlan {
    std::vector<std::uint8_t> deck;
    int to_deal = 0;
    int prefix = 0;  // cards fixed per work item
    std::vector<std::array<std::uint8_t, 3>> items;  // deck positions of each item's prefix
};

inline CompletionPlan plan_completions(std::uint64_t fixed, int board_cards) {
    CompletionPlan plan;
    for (std::uint8_t c = 0; c < CARD_COUNT; ++c)
        if (!((fixed >> c) & 1)) plan.deck.push_back(c);
    plan.to_deal = BOARD_CARDS - board_cards;
    // Items of at most C(n, 2) completions (about a thousand boards), so a
    // worker sees a stop within milliseconds; the flop gets one item per
    // first card so that it spreads over threads.
    plan.prefix = plan.to_deal >= 3 ? plan.to_deal - 2 : plan.to_deal == 2 ? 1 : 0;
    const int n = static_cast<int>(plan.deck.size());
    const int rest = plan.to_deal - plan.prefix;
    std::array<std::uint8_t, 3> positions{};
    auto list = [&](auto& self, int depth, int start) -> void {
        if (depth == plan.prefix) {
            plan.items.push_back(positions);
            return;
        }
        for (int i = start; i <= n - rest - (plan.prefix - depth); ++i) {
            positions[depth] = static_cast<std::uint8_t>(i);
            self(self, depth + 1, i + 1);
        }
    };
    list(list, 0, 0);
    return plan;
}

// Per suit map, per card: the bit of the card's image.
using ImageBits = std::vector<std::array<std::uint64_t, CARD_COUNT>>;

inline ImageBits image_bits_of(const std::vector<CardMap>& maps) {
    ImageBits bits(maps.size());
    for (std::size_t g = 0; g < maps.size(); ++g)
        for (int c = 0; c < CARD_COUNT; ++c) bits[g][c] = std::uint64_t{1} << maps[g][c];
    return bits;
}

// Walks the completions below one item's prefix and calls
// visit(board, multiplicity) on the smallest of each class of completions
// equal under the suit maps (the identity first; at most 24): `images[g]` is
// the image under map g of the cards added so far, as a card mask, and the
// smallest is the one whose mask is.
template <typename Visit>
struct CompletionWalk {
    const CompletionPlan& plan;
    const ImageBits& image_bits;
    Visit& visit;

    template <int Depth>
    void walk(int start, HandValue partial, std::uint64_t added, const std::uint64_t* images) {
        if constexpr (Depth == 0) {
            const std::size_t group_size = image_bits.size();
            unsigned fixed_by = 1;
            for (std::size_t g = 1; g < group_size; ++g) {
                if (images[g] < added) return;
                fixed_by += images[g] == added;
            }
            visit(partial, static_cast<unsigned>(group_size / fixed_by));
        } else {
            const int n = static_cast<int>(plan.deck.size());
            const std::size_t group_size = image_bits.size();
            std::uint64_t next[24];
            for (int i = start; i <= n - Depth; ++i) {
                const std::uint8_t card = plan.deck[i];
                for (std::size_t g = 1; g < group_size; ++g) next[g] = images[g] | image_bits[g][card];
                walk<Depth - 1>(i + 1, combine(partial, CARD_TABLE[card]), added | std::uint64_t{1} << card, next);
            }
        }
    }

    void item(const std::array<std::uint8_t, 3>& prefix, HandValue board) {
        const std::size_t group_size = image_bits.size();
        std::uint64_t added = 0, images[24] = {};
        int start = 0;
        for (int d = 0; d < plan.prefix; ++d) {
            const std::uint8_t card = plan.deck[prefix[d]];
            board = combine(board, CARD_TABLE[card]);
            added |= std::uint64_t{1} << card;
            for (std::size_t g = 1; g < group_size; ++g) images[g] |= image_bits[g][card];
            start = prefix[d] + 1;
        }
        switch (plan.to_deal - plan.prefix) {
            case 0: return walk<0>(start, board, added, images);
            case 1: return walk<1>(start, board, added, images);
            default: return walk<2>(start, board, added, images);
        }
    }
};

// Hands workers to items: a thread takes one for an item and gives it back,
// so there are never more than there are threads.
template <typename State>
class WorkerPool {
public:
    template <typename Make>
    explicit WorkerPool(Make make) : make_(std::move(make)) {}

    State* take() {
        const std::lock_guard lock(mutex_);
        if (idle_.empty()) {
            all_.push_back(make_());
            return all_.back().get();
        }
        State* state = idle_.back();
        idle_.pop_back();
        return state;
    }
    void give(State* state) {
        const std::lock_guard lock(mutex_);
        idle_.push_back(state);
    }
    const std::vector<std::unique_ptr<State>>& all() const noexcept { return all_; }

private:
    std::function<std::unique_ptr<State>()> make_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<State>> all_;
    std::vector<State*> idle_;
};

}  // namespace tavrix::equity
