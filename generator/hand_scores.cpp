#include "hand_scores.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace tavrix::generator {

ScoreBook::ScoreBook(const std::vector<HandClass>& classes) {
    for (const HandClass& c : classes) tiebreaks_[static_cast<int>(c.category)].push_back(c.tiebreak);
    for (auto& sorted : tiebreaks_) {
        std::sort(sorted.begin(), sorted.end());
        sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
        if (sorted.size() > SCORES_PER_CATEGORY)
            throw std::logic_error("a category has more classes than fit in 12 bits");
    }
}

std::uint16_t ScoreBook::score(const HandClass& hand_class) const {
    const int category = static_cast<int>(hand_class.category);
    const auto& sorted = tiebreaks_[category];
    const auto it = std::lower_bound(sorted.begin(), sorted.end(), hand_class.tiebreak);
    if (it == sorted.end() || *it != hand_class.tiebreak)
        throw std::logic_error("hand class missing from the score book (category " + std::to_string(category) + ")");
    return static_cast<std::uint16_t>(category * SCORES_PER_CATEGORY + static_cast<std::uint32_t>(it - sorted.begin()));
}

std::size_t ScoreBook::class_count(Category category) const { return tiebreaks_[static_cast<int>(category)].size(); }

}  // namespace tavrix::generator
