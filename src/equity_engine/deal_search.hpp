// Every deal of a request: one combo per player, no card shared between
// players or with the board and the dead cards.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "equity_engine/equity_runs.hpp"

namespace tavrix::equity {

// Receives each player's combo index (in request order) for one deal; returns
// false to end the search.
using DealVisitor = std::function<bool(const std::vector<std::uint32_t>& combo_of_player)>;

// Calls `visit` for every deal, in an order fixed by the request alone. The
// most constrained players are chosen first, so that ranges which leave no
// deal (or few) are found out at once rather than after trying every
// combination of the wide ranges before them. keep_going is polled as the
// search goes: Cancelled ends a search that is still too long.
void for_each_deal(const EquityRequest& request, const KeepGoing& keep_going, const DealVisitor& visit);

// The same over plain card masks: hand_masks[p][i] holds the cards of player
// p's hand i; hands that meet `fixed` (the board and the dead cards) are
// skipped. combo_of_player then gives each player's hand index.
void for_each_deal(const std::vector<std::vector<std::uint64_t>>& hand_masks, std::uint64_t fixed,
                   const KeepGoing& keep_going, const DealVisitor& visit);

}  // namespace tavrix::equity
