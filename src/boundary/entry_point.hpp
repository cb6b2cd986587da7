// The wrapper that every entry point of the module runs its work through.
//
// Inside the work region a PyError is set in the interpreter and a Panic
// becomes PanicException; the entry point then returns the interpreter's
// failure value. Anything thrown outside that region (while raising, or while
// entering or leaving the nesting guard) cannot be turned into an exception
// any more and aborts the process.
#pragma once

#include <Python.h>

#include <exception>

#include "boundary/errors.hpp"
#include "boundary/uncaught_panic.hpp"
#include "boundary/panic_exception.hpp"

namespace tavrix {

// Counts nested entries into the module per thread. A negative count would mark
// a thread on which calling into the interpreter is forbidden (a collector
// traversal callback); the module has no such callback, so this never fires.
class GilNestingGuard {
public:
    GilNestingGuard() {
        if (depth_ < 0)
            panic(depth_ == -1 ? "Access to the GIL is prohibited while a __traverse__ implmentation is running."
                               : "Access to the GIL is currently prohibited.");
        ++depth_;
    }
    ~GilNestingGuard() { --depth_; }
    GilNestingGuard(const GilNestingGuard&) = delete;
    GilNestingGuard& operator=(const GilNestingGuard&) = delete;

private:
    static inline thread_local long depth_ = 0;
};

template <typename Result, typename Work>
Result run_entry_point(Result failure, Work&& work) noexcept {
    try {
        GilNestingGuard guard;
        try {
            return work();
        } catch (PyError& error) {
            std::move(error).restore();
        } catch (const Panic& p) {
            raise_panic_exception(p.message());
        } catch (const std::exception& e) {
            // A broken invariant of the standard library: report it like any panic.
            write_panic_report(e.what(), {__FILE__, __LINE__, 0});
            raise_panic_exception(e.what());
        }
        return failure;
    } catch (...) {
        abort_uncaught_panic();
    }
}

// The release slot runs under the trap and the nesting guard but catches nothing.
template <typename Work>
void run_unprotected(Work&& work) noexcept {
    try {
        GilNestingGuard guard;
        work();
    } catch (...) {
        abort_uncaught_panic();
    }
}

}  // namespace tavrix
