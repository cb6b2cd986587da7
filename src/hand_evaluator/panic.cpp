// Panic reports on file descriptor 2, written with plain write() so they are
// neither buffered nor reordered against the interpreter's own output.
#include "hand_evaluator/panic.hpp"

#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace tavrix {
namespace {

std::atomic<bool> hint_shown{false};

}  // namespace

void write_stderr(std::string_view text) noexcept {
    while (!text.empty()) {
        const ssize_t n = ::write(2, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

void write_panic_report(std::string_view message, PanicLocation where) noexcept {
    try {
        std::string report = "thread '<unnamed>' panicked at ";
        report += where.file;
        report += ':' + std::to_string(where.line) + ':' + std::to_string(where.column) + ":\n";
        report += message;
        report += '\n';
        if (!hint_shown.exchange(true))
            report += "note: tavrix records no backtrace; run Python under gdb with `catch throw` to see one\n";
        write_stderr(report);
    } catch (...) {
        write_stderr("thread '<unnamed>' panicked\n");
    }
}

void panic_at(std::string message, PanicLocation where) {
    write_panic_report(message, where);
    throw Panic(std::move(message));
}

void panic(std::string message, std::source_location where) {
    panic_at(std::move(message), {where.file_name(), where.line(), where.column()});
}

void resume_panic(std::string message) { throw Panic(std::move(message)); }

void panic_index_out_of_bounds(std::size_t len, std::size_t index, PanicLocation where) {
    panic_at("index out of bounds: the len is " + std::to_string(len) + " but the index is " + std::to_string(index),
             where);
}

}  // namespace tavrix
