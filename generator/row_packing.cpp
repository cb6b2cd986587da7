#include "row_packing.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <exception>
#include <stdexcept>
#include <thread>

namespace tavrix::generator {
namespace {

struct Row {
    std::uint32_t row;
    std::uint32_t first_column;
    std::uint32_t span;                  // last column - first column
    std::vector<std::uint32_t> spread;   // columns - first_column, ascending
};

// One bit per table slot, read 64 slots at a time.
class Occupancy {
public:
    explicit Occupancy(std::size_t slots) : words_(slots / 64 + 2, 0) {}

    // Bit i of the result is slot pos + i.
    std::uint64_t window(std::size_t pos) const {
        const std::size_t word = pos / 64;
        const unsigned shift = pos % 64;
        if (shift == 0) return words_[word];
        return (words_[word] >> shift) | (words_[word + 1] << (64 - shift));
    }
    bool taken(std::size_t pos) const { return (words_[pos / 64] >> (pos % 64)) & 1u; }
    void take(std::size_t pos) { words_[pos / 64] |= std::uint64_t{1} << (pos % 64); }

private:
    std::vector<std::uint64_t> words_;
};

struct Layout {
    std::vector<std::uint32_t> starts;  // slot of each row's first column, indexed like rows
    std::size_t extent = 0;             // highest used slot + 1
};

std::vector<Row> split_into_rows(const std::vector<std::uint32_t>& keys, std::size_t row_count) {
    std::vector<std::vector<std::uint32_t>> columns(row_count);
    for (std::uint32_t key : keys) {
        const std::size_t row = key >> ROW_BITS;
        if (row >= row_count) throw std::invalid_argument("rank key beyond the last row");
        columns[row].push_back(key & (ROW_WIDTH - 1));
    }
    std::vector<Row> rows;
    for (std::size_t r = 0; r < row_count; ++r) {
        auto& cols = columns[r];
        if (cols.empty()) continue;
        std::sort(cols.begin(), cols.end());
        if (std::adjacent_find(cols.begin(), cols.end()) != cols.end())
            throw std::invalid_argument("duplicate rank key");
        Row row{static_cast<std::uint32_t>(r), cols.front(), cols.back() - cols.front(), {}};
        for (std::uint32_t c : cols) row.spread.push_back(c - cols.front());
        rows.push_back(std::move(row));
    }
    return rows;
}

// Places rows in the given order, each at the lowest start where all its
// cells are free.
Layout first_fit(const std::vector<Row>& rows, const std::vector<std::uint32_t>& order) {
    // A row never starts past the current extent, so the extent grows by at
    // most span + 1 per row: this bound always suffices.
    std::size_t capacity = 0;
    for (const Row& row : rows) capacity += row.span + 1;
    Occupancy occupancy(capacity + ROW_WIDTH);

    Layout layout;
    layout.starts.assign(rows.size(), 0);
    std::size_t lowest_free = 0;
    for (std::uint32_t index : order) {
        const Row& row = rows[index];
        while (occupancy.taken(lowest_free)) ++lowest_free;
        // Test 64 candidate starts per step: a start is blocked if any of
        // the row's cells would land on a taken slot.
        std::size_t start = 0;
        for (std::size_t base = lowest_free & ~std::size_t{63};; base += 64) {
            std::uint64_t blocked = 0;
            for (std::uint32_t offset : row.spread) {
                blocked |= occupancy.window(base + offset);
                if (blocked == ~std::uint64_t{0}) break;
            }
            if (blocked != ~std::uint64_t{0}) {
                start = base + static_cast<std::size_t>(std::countr_one(blocked));
                break;
            }
        }
        for (std::uint32_t offset : row.spread) occupancy.take(start + offset);
        layout.starts[index] = static_cast<std::uint32_t>(start);
        layout.extent = std::max(layout.extent, start + row.span + 1);
    }
    return layout;
}

// Settings of one search chain. Rows are placed by decreasing priority;
// after each pass the rows that ended within `tail_slots` of the extent get
// their priority raised by 1/boost_divisor, so the next pass places them
// before the rows that crowded them out.
struct ChainSettings {
    std::size_t passes;
    std::size_t tail_slots;
    std::uint64_t boost_divisor;
};

// Fuller rows are the hard ones to fit, so they go first; among rows of
// equal size the wider ones are harder. Priority = keys * (span + 1)^(3/32),
// in 16-bit fixed point. The power is built from sqrt and one product,
// which IEEE arithmetic rounds exactly, so every machine gets the same order.
std::vector<std::uint64_t> initial_priorities(const std::vector<Row>& rows) {
    std::vector<std::uint64_t> priorities;
    for (const Row& row : rows) {
        const double root16 = std::sqrt(std::sqrt(std::sqrt(std::sqrt(row.span + 1.0))));
        const double width_weight = root16 * std::sqrt(root16);
        priorities.push_back(row.spread.size() * static_cast<std::uint64_t>(width_weight * 65536.0));
    }
    return priorities;
}

Layout run_chain(const std::vector<Row>& rows, const ChainSettings& settings) {
    std::vector<std::uint64_t> priorities = initial_priorities(rows);
    std::vector<std::uint32_t> order(rows.size());
    Layout best;
    for (std::size_t pass = 0; pass < settings.passes; ++pass) {
        for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
        // Ties go to the lower row, which keeps the order a total one.
        std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            return priorities[a] != priorities[b] ? priorities[a] > priorities[b] : a < b;
        });
        Layout layout = first_fit(rows, order);
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (layout.starts[i] + rows[i].span + 1 + settings.tail_slots > layout.extent)
                priorities[i] += priorities[i] / settings.boost_divisor;
        if (pass == 0 || layout.extent < best.extent) best = std::move(layout);
    }
    return best;
}

}  // namespace

RowPacking pack_rows(const std::vector<std::uint32_t>& keys, std::size_t row_count) {
    const std::vector<Row> rows = split_into_rows(keys, row_count);

    // Two independent chains, one per core. Each is deterministic and the
    // winner is picked by (extent, chain), so threads never change the result.
    const ChainSettings chains[2] = {{40, 100, 20}, {40, 300, 20}};
    Layout results[2];
    std::exception_ptr failures[2];
    std::thread helper([&] {
        try {
            results[1] = run_chain(rows, chains[1]);
        } catch (...) {
            failures[1] = std::current_exception();
        }
    });
    try {
        results[0] = run_chain(rows, chains[0]);
    } catch (...) {
        failures[0] = std::current_exception();
    }
    helper.join();
    for (const auto& failure : failures)
        if (failure) std::rethrow_exception(failure);
    const Layout& best = results[1].extent < results[0].extent ? results[1] : results[0];

    RowPacking packing;
    packing.table_size = best.extent;
    // A row without keys maps onto slots 0..4095, so even a stray lookup in
    // it stays inside the table.
    packing.offsets.resize(row_count);
    for (std::size_t r = 0; r < row_count; ++r) packing.offsets[r] = -static_cast<std::uint32_t>(r << ROW_BITS);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        packing.offsets[row.row] = best.starts[i] - row.first_column - (row.row << ROW_BITS);
    }
    return packing;
}

}  // namespace tavrix::generator
