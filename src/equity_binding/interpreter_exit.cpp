#include "equity_binding/interpreter_exit.hpp"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace nb = nanobind;

namespace tavrix::binding {
namespace {

struct ExitState {
    std::mutex mutex;
    std::condition_variable calls_ended;
    bool exiting = false;
    std::thread::id exiting_thread;
    unsigned active_calls = 0;
};

// Never destroyed: parked threads and late callers may read it while static
// destructors run at process exit.
ExitState& state() {
    static ExitState* const shared = new ExitState;
    return *shared;
}

bool refused(const ExitState& s) { return s.exiting && std::this_thread::get_id() != s.exiting_thread; }

// A call stops within a poll of the engine and one work item; the bound only
// keeps a wedged thread from holding up the exit for ever.
constexpr auto EXIT_WAIT_LIMIT = std::chrono::seconds(10);

// The atexit hook, on the thread that runs the exit, with the lock held.
void close_gate() {
    ExitState& s = state();
    {
        const std::lock_guard lock(s.mutex);
        s.exiting = true;
        s.exiting_thread = std::this_thread::get_id();
    }
    Py_BEGIN_ALLOW_THREADS;
    {
        std::unique_lock lock(s.mutex);
        s.calls_ended.wait_for(lock, EXIT_WAIT_LIMIT, [&s] { return s.active_calls == 0; });
    }
    Py_END_ALLOW_THREADS;
}

}  // namespace

EngineCall::EngineCall() {
    ExitState& s = state();
    const std::lock_guard lock(s.mutex);
    if (refused(s)) throw std::runtime_error("the interpreter is exiting: no new engine call starts");
    ++s.active_calls;
}

EngineCall::~EngineCall() {
    if (!counted_) return;
    ExitState& s = state();
    const std::lock_guard lock(s.mutex);
    if (--s.active_calls == 0) s.calls_ended.notify_all();
}

bool EngineCall::may_take_lock() noexcept {
    ExitState& s = state();
    const std::lock_guard lock(s.mutex);
    return !refused(s);
}

void EngineCall::park() noexcept {
    {
        ExitState& s = state();
        const std::lock_guard lock(s.mutex);
        counted_ = false;
        if (--s.active_calls == 0) s.calls_ended.notify_all();
    }
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

void bind_interpreter_exit(nb::module_& m) {
    // Registered at import, so it runs after the atexit hooks of the user's
    // code (which may still use the engine freely) and before finalisation.
    const nb::object atexit = nb::module_::import_("atexit");
    atexit.attr("register")(nb::cpp_function(&close_gate));
    (void)m;
}

}  // namespace tavrix::binding
