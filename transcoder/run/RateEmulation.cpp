// transcoder/run/RateEmulation.cpp — reading inputs no faster than they play.
#include "transcoder/run/RateEmulation.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace tw {

void WaitForRateEmulation(const TRunEvents& events, int64_t us) {
    // Short steps: a stop must not wait for a long gap in the input to pass.
    constexpr int64_t kStepUs = 20000;
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
    while (!events.StopRequested()) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
                              until - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return;
        std::this_thread::sleep_for(std::chrono::microseconds(std::min(left, kStepUs)));
    }
}

}  // namespace tw
