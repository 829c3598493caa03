// transcoder/RateEmulation.h — reading inputs no faster than they play ("re").
#pragma once

#include <atomic>
#include <cstdint>

namespace tw {

/// Sleeps about `us` microseconds on the calling thread, in steps of 20 ms,
/// returning early once stopRequested is set. Never throws.
void WaitForRateEmulation(const std::atomic<bool>& stopRequested, int64_t us);

}  // namespace tw
