// The lookup tables read from the build's table directory, as the tavrix
// module reads them. Only builds that feed the engine crafted table files
// (the scratch copies the tests drive) take this instead of the linked-in data.
#include <cstddef>
#include <cstdint>
#include <limits>

#include "equity_engine/table_view.hpp"
#include "hand_evaluator/evaluator.hpp"

namespace tavrix::equity {
namespace {

template <typename Element>
std::uint32_t checked_size(const TableArray<Element>& table) {
    // Sizes past 2^32 cannot come from a sound table build; saturating keeps
    // the bounds checks meaningful rather than wrapping.
    constexpr std::size_t limit = std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(table.size < limit ? table.size : limit);
}

}  // namespace

TableView table_view() {
    const LookupTables& tables = lookup_tables();
    return {tables.rank_table.data.get(), tables.flush_table.data.get(), tables.offsets.data.get(),
            checked_size(tables.rank_table), checked_size(tables.flush_table), checked_size(tables.offsets)};
}

}  // namespace tavrix::equity
