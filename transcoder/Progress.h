// transcoder/Progress.h — one progress report of a run as a value, and the
// engine's progress slot that takes it.
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

namespace tw {

class TCustomFFmpeg;

/// One progress report of a run, a value handed on whole (to the encoder,
/// then to the front ends). Times in microseconds.
struct TProgress {
    /// The input being read; -1 in the final report.
    int FileIndex = -1;
    /// Frames written to the first active video stream; -1 without video.
    int FrameNumber = -1;
    /// Frames per second since the run began (0 in its first second); -1
    /// without video.
    int FPS = -1;
    /// Quantizer of the last encoded picture; -1 for a copy or without video.
    float Quality = -1;
    /// Output kbit/s over the media time.
    float BitRate = 0;
    /// Bytes of the output written so far.
    int64_t TotalSize = 0;
    /// Media time written: the least time any output stream has reached
    /// (at least 10 ms). None while no output stream has a time yet.
    std::optional<int64_t> CurrentTime;
    /// The run's whole media time (joined: the sum of the inputs); -1 unknown.
    int64_t TotalDuration = -1;

    /// CurrentTime, or 0 while there is none.
    int64_t CurrentOrZero() const { return CurrentTime.value_or(0); }
};

/// The current time the callback with separate values gives while no output
/// stream has a time (the report's minimum over the streams starts at
/// 10^10 s): 10^16 microseconds.
constexpr int64_t kNoCurrentTime = 10000000000000000LL;

/// The engine's progress slot: called on the engine's thread with the
/// engine and one report. Also takes a callable of the older form with the
/// values one by one (engine, fileIndex, totalDuration, currentTime,
/// totalSize, bitRate, quality, fps, frameNumber), whose currentTime is
/// kNoCurrentTime while there is none.
class TProgressCallback : public std::function<void(TCustomFFmpeg*, const TProgress&)> {
    using Base = std::function<void(TCustomFFmpeg*, const TProgress&)>;

  public:
    using Base::Base;
    using Base::operator=;
    TProgressCallback() = default;
    template <typename F>
    requires std::invocable<F&, TCustomFFmpeg*, int, int64_t, int64_t, int64_t, float, float, int,
                            int>
    TProgressCallback(F byValues)
        : Base([f = std::move(byValues)](TCustomFFmpeg* engine, const TProgress& p) mutable {
              f(engine, p.FileIndex, p.TotalDuration, p.CurrentTime.value_or(kNoCurrentTime),
                p.TotalSize, p.BitRate, p.Quality, p.FPS, p.FrameNumber);
          }) {}
};

}  // namespace tw
