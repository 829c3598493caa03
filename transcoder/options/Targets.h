// transcoder/options/Targets.h — disc and camcorder targets: one option that sets the
// codecs, container, picture, rates and muxer settings of a format for its
// television norm.
#pragma once

#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/rational.h>
}

#include "transcoder/options/EngineOptions.h"
#include "transcoder/options/OptionState.h"

namespace tw {

/// The television norm of a target.
enum class TTargetNorm { PAL, NTSC, Film };

/// Chooses the norm: "pal", "ntsc", "film" name it; any other text means
/// automatic: from FrameRate (25000 PAL, 29970 or 23976 NTSC, in 1/1000 frames
/// per second rounded half to even), else from the first of inputRates (the
/// opened inputs' video streams, see TOptionFiles::InputVideoFrameRates)
/// giving one of those, else the fallback ("film" film, "ntsc" NTSC, else
/// PAL). Throws FFmpegException "frame_rate is invalid." when automatic and
/// FrameRate has denominator 0. Logs "Assuming PAL|NTSC for target." at
/// llVerbose when automatic and Verbose > 0.
TTargetNorm ChooseTargetNorm(const TOptionState& options, const std::vector<AVRational>& inputRates,
                             const std::string& norm, const std::string& fallback);

/// Applies target "vcd", "svcd", "dvd", "dv" or "dv50" for `norm` (see
/// ChooseTargetNorm) to the option values through their operations.
/// Generic options set here are not checked. Throws FFmpegException
/// "Unknown target type" for another name, and what the setters throw.
void ApplyTargetOn(TEngineOptions& options, const std::vector<AVRational>& inputRates,
                   const std::string& target, const std::string& norm, const std::string& fallback);

/// Splits a "target" option value: trimmed of blanks; a "pal-", "ntsc-" or
/// "film-" prefix gives that norm and the rest as target name; else the norm
/// is "auto". Returns (norm, target name). The fallback for the option is "ntsc".
std::pair<std::string, std::string> SplitTargetOptionValue(const std::string& value);

}  // namespace tw
