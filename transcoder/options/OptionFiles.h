// transcoder/options/OptionFiles.h — the few options that reach beyond the option
// values into the opened files: the scale of the next input, a stream of
// the last output, the expected duration, the inputs' frame rates.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/rational.h>
}

namespace tw {

/// Implemented by the file set and handed to the option operations
/// (TEngineOptions::AttachFiles); called on the configuring thread while the
/// engine is idle. Failures are FFmpegException with the user-facing text.
class TOptionFiles {
  public:
    virtual ~TOptionFiles() = default;
    /// "itsscale" "index:scale" for the input opened next.
    virtual void SetInputTsScale(const std::string& text) = 0;
    /// "newvideo", "newaudio", "newsubtitle": a stream of the type on the
    /// last output file.
    virtual void NewStream(AVMediaType type) = 0;
    /// "t" set the recording time (µs): the expected output duration.
    virtual void RecordingTimeSet(int64_t us) = 0;
    /// The video streams of the opened inputs, files and streams in order:
    /// average frame rate, else real frame rate, else {0, 0}.
    virtual std::vector<AVRational> InputVideoFrameRates() const = 0;
};

}  // namespace tw
