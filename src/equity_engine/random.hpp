// Random numbers for Monte Carlo: a stream per block of trials, derived from
// (seed, block) alone, so results do not depend on which thread ran a block.
#pragma once

#include <cstdint>

namespace tavrix::equity {

constexpr std::uint64_t splitmix64(std::uint64_t& state) noexcept {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// xoshiro256**: fast, 256 bits of state, passes the usual statistical batteries.
class BlockRandom {
public:
    BlockRandom(std::uint64_t seed, std::uint64_t block) noexcept {
        std::uint64_t mixer = seed;
        std::uint64_t stream = splitmix64(mixer) ^ block;
        for (auto& word : state_) word = splitmix64(stream);
    }

    std::uint64_t next() noexcept {
        const std::uint64_t result = rotl(state_[1] * 5, 7) * 9;
        const std::uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = rotl(state_[3], 45);
        return result;
    }

    // Uniform in [0, bound) without modulo bias (widening multiply, rejecting
    // the few low products that would favour some values).
    std::uint32_t below(std::uint32_t bound) noexcept {
        std::uint64_t product = static_cast<std::uint64_t>(static_cast<std::uint32_t>(next() >> 32)) * bound;
        auto low = static_cast<std::uint32_t>(product);
        if (low < bound) {
            const std::uint32_t threshold = static_cast<std::uint32_t>(-bound) % bound;
            while (low < threshold) {
                product = static_cast<std::uint64_t>(static_cast<std::uint32_t>(next() >> 32)) * bound;
                low = static_cast<std::uint32_t>(product);
            }
        }
        return static_cast<std::uint32_t>(product >> 32);
    }

    // Uniform in [0, 1) with 53 random bits.
    double unit() noexcept { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

private:
    static constexpr std::uint64_t rotl(std::uint64_t x, int k) noexcept { return (x << k) | (x >> (64 - k)); }

    std::uint64_t state_[4];
};

}  // namespace tavrix::equity
