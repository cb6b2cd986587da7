// deal_random_rows: random rows of distinct cards, as a new (n, k) uint8 array.
#include <nanobind/nanobind.h>

#include <bit>
#include <cstddef>
#include <cstdint>

#include "equity_binding/bind_parts.hpp"
#include "equity_binding/binding_support.hpp"
#include "equity_engine/random_deal.hpp"

namespace tavrix::binding {

namespace {

nb::object deal_rows(std::size_t rows, std::size_t width, std::uint64_t excluded_mask, std::uint64_t seed,
                     unsigned threads) {
    if (width > static_cast<std::size_t>(52 - std::popcount(excluded_mask & ((std::uint64_t{1} << 52) - 1))))
        throw nb::value_error("more cards per row than the deck has left");
    nb::object cards = new_matrix(rows, width, "uint8");
    const BufferView out(cards, "cards", true);
    without_lock([&](const KeepGoing& keep_going) {
        equity::deal_random_rows(out.data<std::uint8_t>(), rows, width, excluded_mask, seed, threads, keep_going);
        return 0;
    });
    return cards;
}

}  // namespace

void bind_deal(nb::module_& m) {
    using namespace nb::literals;
    m.def("deal_rows", &deal_rows, "rows"_a, "width"_a, "excluded_mask"_a, "seed"_a, "threads"_a = 1,
          nb::sig("def deal_rows(rows: int, width: int, excluded_mask: int, seed: int, threads: int = 1) "
                  "-> numpy.typing.NDArray[numpy.uint8]"),
          "Rows of `width` distinct random cards not in `excluded_mask`, the same for a seed whatever `threads`.");
}

}  // namespace tavrix::binding
