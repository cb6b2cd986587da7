// Turns hand classes into scores: category * 4096 + the dense position of
// the class among all classes of its category that some hand can have.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "hand_classes.hpp"

namespace tavrix::generator {

inline constexpr std::uint32_t SCORES_PER_CATEGORY = 4096;

class ScoreBook {
public:
    // `classes` are the classes of every possible hand; duplicates are fine.
    explicit ScoreBook(const std::vector<HandClass>& classes);

    // Throws std::logic_error for a class that was not in the list: a gap
    // here would mean the tables disagree with the classifier.
    std::uint16_t score(const HandClass& hand_class) const;

    std::size_t class_count(Category category) const;

private:
    std::array<std::vector<std::uint32_t>, CATEGORY_COUNT> tiebreaks_;
};

}  // namespace tavrix::generator
