#include "equity_engine/deal_search.hpp"

#include <algorithm>
#include <numeric>

#include "equity_engine/parallel_runner.hpp"

namespace tavrix::equity {

void for_each_deal(const EquityRequest& request, const KeepGoing& keep_going, const DealVisitor& visit) {
    const std::uint64_t fixed = request.board_mask() | request.dead_mask;
    const std::size_t players = request.players.size();
    std::vector<std::vector<std::uint64_t>> masks(players);
    for (std::size_t p = 0; p < players; ++p) {
        masks[p].reserve(request.players[p].combos.size());
        for (const Combo combo : request.players[p].combos) masks[p].push_back(combo.mask());
    }
    for_each_deal(masks, fixed, keep_going, visit);
}

void for_each_deal(const std::vector<std::vector<std::uint64_t>>& hand_masks, std::uint64_t fixed,
                   const KeepGoing& keep_going, const DealVisitor& visit) {
    const std::size_t players = hand_masks.size();
    // Per player, the hands that miss the board and the dead cards.
    std::vector<std::vector<std::uint32_t>> open(players);
    for (std::size_t p = 0; p < players; ++p) {
        for (std::uint32_t i = 0; i < hand_masks[p].size(); ++i)
            if (!(hand_masks[p][i] & fixed)) open[p].push_back(i);
    }
    std::vector<std::size_t> order(players);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return open[a].size() < open[b].size(); });

    std::vector<std::uint32_t> chosen(players);
    std::uint64_t steps = 0;
    // Returns false once `visit` has asked to stop.
    auto search = [&](auto& self, std::size_t depth, std::uint64_t used) -> bool {
        if (depth == players) return visit(chosen);
        const std::size_t p = order[depth];
        for (const std::uint32_t i : open[p]) {
            if ((++steps & 0xFFFF) == 0 && !keep_going()) throw Cancelled();
            const std::uint64_t mask = hand_masks[p][i];
            if (used & mask) continue;
            chosen[p] = i;
            if (!self(self, depth + 1, used | mask)) return false;
        }
        return true;
    };
    search(search, 0, fixed);
}

}  // namespace tavrix::equity
