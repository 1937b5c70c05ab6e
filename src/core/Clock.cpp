#include "core/Clock.h"

#include <chrono>
#include <utility>

namespace t5170 {

std::int64_t monotonicMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

MsClock orMonotonic(MsClock clock) {
    return clock ? std::move(clock) : MsClock(monotonicMs);
}

} // namespace t5170
