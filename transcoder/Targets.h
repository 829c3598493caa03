// transcoder/Targets.h — disc and camcorder targets: one option that sets the
// codecs, container, picture, rates and muxer settings of a format for its
// television norm.
#pragma once

#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/rational.h>
}

#include "transcoder/Presets.h"

namespace tw {

/// The television norm of a target.
enum class TTargetNorm { PAL, NTSC, Film };

/// What applying a target needs of the engine, beyond the preset host.
class TTargetHost : public TPresetHost {
  public:
    /// The frame rate option value (FrameRate).
    virtual AVRational FrameRate() const = 0;
    /// Frame rates of the opened inputs' video streams, files and streams in
    /// order (a stream's average or real frame rate; {0, 0} when unknown).
    virtual std::vector<AVRational> InputVideoFrameRates() const = 0;
    virtual int Verbose() const = 0;
    virtual float FrameAspectRatio() const = 0;
    virtual int AudioChannels() const = 0;
    virtual void SetForcedFormatName(const std::string& name) = 0;
    virtual void SetFrameSize(const std::string& size) = 0;
    virtual void SetFrameRate(const std::string& rate) = 0;
    virtual void SetAspectRatio(const std::string& aspect) = 0;
    /// The "pix_fmt" option.
    virtual void SetPixelFormat(const std::string& name) = 0;
    /// Hz; ignored unless > 0.
    virtual void SetAudioSampleRate(int rate) = 0;
    /// Ignored unless > 0.
    virtual void SetAudioChannels(int channels) = 0;
    /// Seconds; ignored unless > 0.
    virtual void SetMuxPreload(float seconds) = 0;
};

/// Chooses the norm: "pal", "ntsc", "film" name it; any other text means
/// automatic: from FrameRate (25000 PAL, 29970 or 23976 NTSC, in 1/1000 frames
/// per second rounded half to even), else from the first input video stream
/// giving one of those, else the fallback ("film" film, "ntsc" NTSC, else
/// PAL). Throws FFmpegException "frame_rate is invalid." when automatic and
/// FrameRate has denominator 0. Logs "Assuming PAL|NTSC for target." at
/// llVerbose when automatic and Verbose > 0.
TTargetNorm ChooseTargetNorm(const TTargetHost& host, const std::string& norm,
                             const std::string& fallback);

/// Applies target "vcd", "svcd", "dvd", "dv" or "dv50" for `norm` (see
/// ChooseTargetNorm). Generic options set here are not checked. Throws
/// FFmpegException "Unknown target type" for another name, and what the
/// host's setters throw.
void ApplyTargetOn(TTargetHost& host, const std::string& target, const std::string& norm,
                   const std::string& fallback);

/// Splits a "target" option value: trimmed of blanks; a "pal-", "ntsc-" or
/// "film-" prefix gives that norm and the rest as target name; else the norm
/// is "auto". Returns (norm, target name). The fallback for the option is "ntsc".
std::pair<std::string, std::string> SplitTargetOptionValue(const std::string& value);

}  // namespace tw
