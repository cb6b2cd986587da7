// A once-guard that stays poisoned for good after a failed initialiser
// (std::call_once would let the next caller retry instead).
#pragma once

#include <atomic>
#include <cstdint>

namespace tavrix {

class OnceGuard {
public:
    // One acquire load and compare: the check on every scored hand.
    bool is_complete() const noexcept { return state_.load(std::memory_order_acquire) == COMPLETE; }

    // Runs `initialise` if nobody has started it; callers that arrive while it
    // runs block (without spinning) until it ends. If it throws, the guard is
    // poisoned, the exception goes on, and every later call panics with
    // "Once instance has previously been poisoned".
    void call(void (*initialise)());

private:
    enum : std::uint32_t { NOT_STARTED, RUNNING, RUNNING_WITH_WAITERS, COMPLETE, POISONED };

    void finish(std::uint32_t final_state) noexcept;

    std::atomic<std::uint32_t> state_{NOT_STARTED};
};

}  // namespace tavrix
