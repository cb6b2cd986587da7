#include "hand_evaluator/once.hpp"

#include "hand_evaluator/panic.hpp"

namespace tavrix {

void OnceGuard::finish(std::uint32_t final_state) noexcept {
    if (state_.exchange(final_state, std::memory_order_acq_rel) == RUNNING_WITH_WAITERS) state_.notify_all();
}

void OnceGuard::call(void (*initialise)()) {
    std::uint32_t state = state_.load(std::memory_order_acquire);
    for (;;) {
        switch (state) {
            case NOT_STARTED:
                if (!state_.compare_exchange_weak(state, RUNNING, std::memory_order_acquire)) continue;
                try {
                    initialise();
                } catch (...) {
                    finish(POISONED);
                    throw;
                }
                finish(COMPLETE);
                return;
            case RUNNING:
                if (!state_.compare_exchange_weak(state, RUNNING_WITH_WAITERS, std::memory_order_acquire)) continue;
                [[fallthrough]];
            case RUNNING_WITH_WAITERS:
                state_.wait(RUNNING_WITH_WAITERS, std::memory_order_acquire);
                state = state_.load(std::memory_order_acquire);
                continue;
            case COMPLETE:
                return;
            default:
                panic("Once instance has previously been poisoned");
        }
    }
}

}  // namespace tavrix
