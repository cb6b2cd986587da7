#include "equity_engine/table_view.hpp"

#include <cstdio>
#include <string>

namespace tavrix::equity {
namespace {

template <typename Element>
void hash_table(std::uint64_t& hash, const Element* table, std::uint32_t size) {
    auto mix = [&hash](unsigned char byte) {
        hash ^= byte;
        hash *= 0x100000001B3ULL;
    };
    const std::uint64_t length = size;
    for (unsigned i = 0; i < 8; ++i) mix(static_cast<unsigned char>(length >> (8 * i)));
    const auto* bytes = reinterpret_cast<const unsigned char*>(table);
    for (std::size_t i = 0; i < std::size_t{size} * sizeof(Element); ++i) mix(bytes[i]);
}

}  // namespace

std::string table_digest() {
    const TableView tables = table_view();
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    hash_table(hash, tables.rank_table, tables.rank_size);
    hash_table(hash, tables.flush_table, tables.flush_size);
    hash_table(hash, tables.offsets, tables.offsets_size);
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

}  // namespace tavrix::equity
