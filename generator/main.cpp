// Writes the hand lookup tables into the directory given as the only
// argument and prints one line with their sizes.
#include <exception>
#include <iostream>

#include "hand_tables.hpp"
#include "table_files.hpp"

int main(int argc, char** argv) {
    using namespace tavrix::generator;
    if (argc != 2) {
        std::cerr << "usage: tavrix_table_generator OUTPUT_DIRECTORY\n";
        return 2;
    }
    try {
        // Checked first so a bad path fails before seconds of packing.
        ensure_directory(argv[1]);
        const HandTables tables = build_hand_tables();
        write_files_atomically(argv[1], {
                                            {"h_eval_rank_table.dat", little_endian_bytes(tables.rank_table)},
                                            {"h_eval_flush_table.dat", little_endian_bytes(tables.flush_table)},
                                            {"h_eval_offsets.dat", little_endian_bytes(tables.offsets)},
                                        });
        std::cout << "tables: rank_table " << tables.rank_table.size() << " entries, flush_table "
                  << tables.flush_table.size() << ", offsets " << tables.offsets.size() << '\n';
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "tavrix_table_generator: error: " << e.what() << '\n';
        return 1;
    }
}
