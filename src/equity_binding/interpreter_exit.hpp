// Engine calls and interpreter exit. Once the interpreter finalises, a thread
// other than the finalising one that asks for the lock is ended on the spot
// (its stack unwound through our C++ frames, or left hanging, depending on
// the Python version), which aborts the process when it happens inside the
// engine. So the lock is asked for only through an ExitGate pass: an atexit
// hook, which runs before finalisation begins, closes the gate and waits for
// every engine call on other threads to stop or to park; from then on those
// threads never touch the interpreter again.
#pragma once

#include <nanobind/nanobind.h>

namespace tavrix::binding {

// Counts an engine call from its start (lock held) to its return to Python.
// Construction throws RuntimeError once the interpreter is exiting, unless
// on the thread that runs the exit.
class EngineCall {
public:
    EngineCall();
    ~EngineCall();
    EngineCall(const EngineCall&) = delete;
    EngineCall& operator=(const EngineCall&) = delete;

    // Whether this thread may take the interpreter's lock now. A call that
    // may stays counted, so the exit waits until it is back in Python.
    static bool may_take_lock() noexcept;

    // Never returns: the calling thread leaves the interpreter alone forever
    // and the process ends around it.
    [[noreturn]] void park() noexcept;

private:
    bool counted_ = true;
};

// Registers the atexit hook that closes the gate (called once from NB_MODULE).
void bind_interpreter_exit(nanobind::module_& m);

}  // namespace tavrix::binding
