// Panics: internal failures that stop an operation at once.
//
// A panic writes its report to standard error at the moment it happens, then
// unwinds as a C++ exception; each extension's entry points turn it into a
// Python exception. Nothing here knows about Python, so the pure core
// (hand values, tables, scoring) can panic too.
#pragma once

#include <cstddef>
#include <source_location>
#include <string>
#include <string_view>

namespace tavrix {

struct PanicLocation {
    const char* file;
    unsigned line;
    unsigned column;
};

class Panic {
public:
    explicit Panic(std::string message) : message_(std::move(message)) {}
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// Writes all of `text` to file descriptor 2, unbuffered.
void write_stderr(std::string_view text) noexcept;

void write_panic_report(std::string_view message, PanicLocation where) noexcept;

// Reports, then throws a Panic.
[[noreturn]] void panic_at(std::string message, PanicLocation where);
[[noreturn]] void panic(std::string message, std::source_location where = std::source_location::current());

// Continues a panic that was already reported elsewhere: throws without a report.
[[noreturn]] void resume_panic(std::string message);

// "index out of bounds: the len is {len} but the index is {index}"
[[noreturn]] void panic_index_out_of_bounds(std::size_t len, std::size_t index, PanicLocation where);

}  // namespace tavrix
