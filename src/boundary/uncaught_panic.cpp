#include "boundary/uncaught_panic.hpp"

#include <cstdlib>
#include <source_location>

namespace tavrix {

void abort_uncaught_panic() noexcept {
    const auto here = std::source_location::current();
    write_panic_report("uncaught panic at ffi boundary", {here.file_name(), here.line(), here.column()});
    write_stderr("panic while unwinding across the Python boundary is not possible: aborting\n");
    std::abort();
}

}  // namespace tavrix
