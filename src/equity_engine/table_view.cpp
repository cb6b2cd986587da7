#include "equity_engine/table_view.hpp"

#include <cstdio>
#include <limits>
#include <string>

namespace tavrix::equity {
namespace {

template <typename Element>
std::uint32_t checked_size(const TableArray<Element>& table) {
    // Sizes past 2^32 cannot come from a sound table build; saturating keeps
    // the bounds checks meaningful rather than wrapping.
    constexpr std::size_t limit = std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(table.size < limit ? table.size : limit);
}

template <typename Element>
void hash_table(std::uint64_t& hash, const TableArray<Element>& table) {
    auto mix = [&hash](unsigned char byte) {
        hash ^= byte;
        hash *= 0x100000001B3ULL;
    };
    const std::uint64_t size = table.size;
    for (unsigned i = 0; i < 8; ++i) mix(static_cast<unsigned char>(size >> (8 * i)));
    const auto* bytes = reinterpret_cast<const unsigned char*>(table.data.get());
    for (std::size_t i = 0; i < table.size * sizeof(Element); ++i) mix(bytes[i]);
}

}  // namespace

TableView table_view() {
    const LookupTables& tables = lookup_tables();
    return {tables.rank_table.data.get(), tables.flush_table.data.get(), tables.offsets.data.get(),
            checked_size(tables.rank_table), checked_size(tables.flush_table), checked_size(tables.offsets)};
}

std::string table_digest() {
    const LookupTables& tables = lookup_tables();
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    hash_table(hash, tables.rank_table);
    hash_table(hash, tables.flush_table);
    hash_table(hash, tables.offsets);
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

}  // namespace tavrix::equity
