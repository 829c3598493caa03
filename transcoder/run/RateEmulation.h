// transcoder/run/RateEmulation.h — reading inputs no faster than they play ("re").
#pragma once

#include <cstdint>

#include "transcoder/RunEvents.h"

namespace tw {

/// Sleeps about `us` microseconds on the calling thread, in steps of 20 ms,
/// returning early once the run's events report a stop request. Never
/// throws.
void WaitForRateEmulation(const TRunEvents& events, int64_t us);

}  // namespace tw
