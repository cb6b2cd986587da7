// The last resort of the tavrix module's entry points: a panic that escaped the
// region that catches panics is reported and the process aborts.
#pragma once

#include "hand_evaluator/panic.hpp"

namespace tavrix {

[[noreturn]] void abort_uncaught_panic() noexcept;

}  // namespace tavrix
