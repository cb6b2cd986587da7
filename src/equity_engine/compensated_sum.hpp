// A sum of doubles that carries its rounding error along (Neumaier's
// variant of Kahan summation): millions of weighted counts add up to within
// a unit or two in the last place instead of drifting with their number.
#pragma once

#include <cmath>

namespace tavrix::equity {

class CompensatedSum {
public:
    void add(double x) noexcept {
        const double t = sum_ + x;
        carry_ += std::fabs(sum_) >= std::fabs(x) ? (sum_ - t) + x : (x - t) + sum_;
        sum_ = t;
    }
    double value() const noexcept { return sum_ + carry_; }

private:
    double sum_ = 0;
    double carry_ = 0;
};

}  // namespace tavrix::equity
