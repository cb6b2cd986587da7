// Loading the lookup tables. The files live in the build's table directory,
// an absolute path compiled in: there is no search path and no fallback.
//
// Every failure here is a panic at a fixed source position of this file, so
// that a report always points at the same step for the same failure.
#include "hand_evaluator/evaluator.hpp"

#include <variant>

#ifndef TAVRIX_TABLE_DIR
#error "TAVRIX_TABLE_DIR must name the directory of the table files"
#endif

namespace tavrix {
namespace {

constexpr const char RANK_TABLE_PATH[] = TAVRIX_TABLE_DIR "/h_eval_rank_table.dat";
constexpr const char FLUSH_TABLE_PATH[] = TAVRIX_TABLE_DIR "/h_eval_flush_table.dat";
constexpr const char OFFSETS_PATH[] = TAVRIX_TABLE_DIR "/h_eval_offsets.dat";

constexpr const char EVALUATOR_SOURCE[] = "src/hand_evaluator/evaluator.cpp";
constexpr PanicLocation OPEN_RANK_TABLE = {EVALUATOR_SOURCE, 65, 18};
constexpr PanicLocation READ_RANK_TABLE = {EVALUATOR_SOURCE, 67, 18};
constexpr PanicLocation OPEN_FLUSH_TABLE = {EVALUATOR_SOURCE, 69, 18};
constexpr PanicLocation READ_FLUSH_TABLE = {EVALUATOR_SOURCE, 71, 18};
constexpr PanicLocation OPEN_OFFSETS = {EVALUATOR_SOURCE, 73, 18};
constexpr PanicLocation READ_OFFSETS = {EVALUATOR_SOURCE, 75, 18};
constexpr PanicLocation FLUSH_KEY_INDEX = {EVALUATOR_SOURCE, 87, 29};
constexpr PanicLocation RANK_INDEX = {EVALUATOR_SOURCE, 89, 28};
constexpr PanicLocation ROW_INDEX = {EVALUATOR_SOURCE, 96, 64};

template <typename T>
T unwrap(std::variant<T, IoError>&& result, PanicLocation where) {
    if (auto* error = std::get_if<IoError>(&result))
        panic_at("called `Result::unwrap()` on an `Err` value: " + error->render(), where);
    return std::move(std::get<T>(result));
}

template <typename Element>
TableArray<Element> read_table(const FileDescriptor& file, PanicLocation where) {
    ByteBuffer bytes = unwrap(read_file(file.get(), sizeof(Element)), where);
    TableArray<Element> table;
    table.size = bytes.size / sizeof(Element);
    table.data.reset(reinterpret_cast<Element*>(bytes.data.release()));
    return table;
}

// Opens, reads, and closes in reverse order of opening (the descriptors'
// destructors), also while a panic unwinds; publishes only a complete set.
void load_tables() {
    LookupTables loaded;
    const FileDescriptor rank_file(unwrap(open_for_reading(RANK_TABLE_PATH), OPEN_RANK_TABLE));
    loaded.rank_table = read_table<std::uint16_t>(rank_file, READ_RANK_TABLE);
    const FileDescriptor flush_file(unwrap(open_for_reading(FLUSH_TABLE_PATH), OPEN_FLUSH_TABLE));
    loaded.flush_table = read_table<std::uint16_t>(flush_file, READ_FLUSH_TABLE);
    const FileDescriptor offsets_file(unwrap(open_for_reading(OFFSETS_PATH), OPEN_OFFSETS));
    loaded.offsets = read_table<std::uint32_t>(offsets_file, READ_OFFSETS);
    detail::tables = std::move(loaded);
}

}  // namespace

namespace detail {

OnceGuard tables_once;
LookupTables tables;

const LookupTables& load_tables_once() {
    tables_once.call(load_tables);
    return tables;
}

void flush_key_out_of_bounds(std::size_t len, std::size_t index) {
    panic_index_out_of_bounds(len, index, FLUSH_KEY_INDEX);
}

void row_out_of_bounds(std::size_t len, std::size_t index) { panic_index_out_of_bounds(len, index, ROW_INDEX); }

void rank_index_out_of_bounds(std::size_t len, std::size_t index) {
    panic_index_out_of_bounds(len, index, RANK_INDEX);
}

}  // namespace detail
}  // namespace tavrix
