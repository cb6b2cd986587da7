// The lookup tables linked into the program: the generator's three files,
// byte for byte, placed in read-only data by the assembler. An installed
// tavrix_equity then needs no table directory, and nothing can fail to load.
#include <cstddef>
#include <cstdint>

#include "equity_engine/table_view.hpp"

#ifndef TAVRIX_EMBEDDED_TABLE_DIR
#error "TAVRIX_EMBEDDED_TABLE_DIR must name the directory of the table files to link in"
#endif

// Each table gets a start label and its length in bytes. The labels are
// hidden so the module exports nothing new and the reads need no relocation.
// The path is read by the assembler only; it is not stored in the object.
#define TAVRIX_EMBED_TABLE(label, file)                           \
    ".balign 64\n"                                                \
    ".hidden " label "\n.globl " label "\n"                       \
    label ":\n"                                                   \
    ".incbin \"" TAVRIX_EMBEDDED_TABLE_DIR "/" file "\"\n"        \
    ".L" label "_end:\n"                                          \
    ".balign 8\n"                                                 \
    ".hidden " label "_bytes\n.globl " label "_bytes\n"           \
    label "_bytes:\n"                                             \
    ".8byte .L" label "_end - " label "\n"

asm(".pushsection .rodata.tavrix_tables, \"a\"\n"
    TAVRIX_EMBED_TABLE("tavrix_rank_table", "h_eval_rank_table.dat")
    TAVRIX_EMBED_TABLE("tavrix_flush_table", "h_eval_flush_table.dat")
    TAVRIX_EMBED_TABLE("tavrix_offsets", "h_eval_offsets.dat")
    ".popsection\n");

#define TAVRIX_LINKED [[gnu::visibility("hidden")]]
extern "C" {
TAVRIX_LINKED extern const std::uint16_t tavrix_rank_table[];
TAVRIX_LINKED extern const std::uint64_t tavrix_rank_table_bytes;
TAVRIX_LINKED extern const std::uint16_t tavrix_flush_table[];
TAVRIX_LINKED extern const std::uint64_t tavrix_flush_table_bytes;
TAVRIX_LINKED extern const std::uint32_t tavrix_offsets[];
TAVRIX_LINKED extern const std::uint64_t tavrix_offsets_bytes;
}

namespace tavrix::equity {

TableView table_view() {
    return {tavrix_rank_table, tavrix_flush_table, tavrix_offsets,
            static_cast<std::uint32_t>(tavrix_rank_table_bytes / sizeof(std::uint16_t)),
            static_cast<std::uint32_t>(tavrix_flush_table_bytes / sizeof(std::uint16_t)),
            static_cast<std::uint32_t>(tavrix_offsets_bytes / sizeof(std::uint32_t))};
}

}  // namespace tavrix::equity
