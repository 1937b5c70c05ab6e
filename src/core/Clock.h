#pragma once
// The program's one time source for pacing and scheduling: milliseconds from a
// monotonic clock. Whatever is paced by it takes an MsClock so that tests and
// benchmarks can run it on a clock of their own.

#include <cstdint>
#include <functional>

namespace t5170 {

// Milliseconds from a monotonic source; tests inject their own.
using MsClock = std::function<std::int64_t()>;

// Milliseconds of the system's monotonic clock (never goes back, unaffected
// by changes of the wall clock).
std::int64_t monotonicMs();

// `clock`, or the monotonic clock when `clock` is empty.
MsClock orMonotonic(MsClock clock);

} // namespace t5170
