// transcoder/IOChecks.cpp — the interrupt checks the engine registers for a
// thread while it blocks in the libraries' I/O.
#include "binding/Entries.h"
#include "diag/FFLog.h"
#include "transcoder/CustomFFmpeg.h"

namespace tw {

bool TCustomFFmpeg::CheckIOTimeout(void* engine) {
    auto* self = static_cast<TCustomFFmpeg*>(engine);
    if (self->IOTimeout <= 0) return false;
    const int64_t start = self->IOStartTime.load();
    // INT64_MAX (no open in progress) never times out; the subtraction is
    // done without overflow for it.
    if (start == INT64_MAX) return false;
    const int64_t now = lib().av_gettime();
    if (now - start <= static_cast<int64_t>(self->IOTimeout) * 1000) return false;
    FFLogger()->Log(self, llInfo,
                    start == 0 ? "connecting/reading/writing canceled"
                               : "connecting/reading/writing timeout");
    return true;
}

bool TCustomFFmpeg::CheckStopRequest(void* engine) {
    return static_cast<TCustomFFmpeg*>(engine)->StopRequested.load();
}

}  // namespace tw
