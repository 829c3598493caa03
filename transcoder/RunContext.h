// transcoder/RunContext.h — what every part of one transcode works with:
// the frozen configuration, the run's counters and its owner's events.
#pragma once

#include "transcoder/FFmpegException.h"
#include "transcoder/RunConfig.h"
#include "transcoder/RunCounters.h"
#include "transcoder/RunEvents.h"

namespace tw {

/// References only (the parts raise FFmpegException, declared beside): the owner of the run keeps
/// all three alive while the run's parts exist. Engine thread only.
struct TRunContext {
    const TRunConfig& Config;
    TRunCounters& Counters;
    TRunEvents& Events;
};

}  // namespace tw
