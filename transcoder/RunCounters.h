// transcoder/RunCounters.h — what one run has written and changed, read by
// its progress report and final report.
#pragma once

#include <cstdint>

namespace tw {

/// Reset by the transcode when it begins; written and read only on the
/// thread that runs the engine.
struct TRunCounters {
    /// Bytes of encoded or copied video, audio, and the encoders' global
    /// headers written to the outputs.
    int64_t VideoSize = 0;
    int64_t AudioSize = 0;
    int64_t ExtraSize = 0;
    /// Pictures written more than once, and dropped, by the video output.
    int DupFrames = 0;
    int DropFrames = 0;
    /// Frames were dropped or duplicated since the last report line was
    /// logged: the next report with a progress handler logs its line too.
    bool ReportLogRequested = false;
    /// Bytes of the output bit buffer (grows with the largest picture).
    int BitBufferSize = 262144;
};

}  // namespace tw
