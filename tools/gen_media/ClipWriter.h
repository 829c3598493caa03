// tools/gen_media/ClipWriter.h — encodes and muxes one synthetic clip.
#pragma once

#include <string>

#include "ClipSpec.h"

namespace tw::gen {

/// Writes the clip described by spec to spec.path (spec.format must name a
/// muxer) and returns a one-line description of what was written.
///
/// The video has exactly spec.VideoFrames() frames, the audio exactly
/// spec.AudioSamples() samples per channel (the last audio frame is short when
/// the encoder accepts that, else padded with silence); both streams start at
/// spec.startTime. The file is written under a temporary name beside the
/// target and renamed when complete, so a failure never leaves a partial file
/// and never damages a file already at spec.path. Truncation (spec.truncate)
/// happens before the rename.
///
/// Throws std::runtime_error with a message for the user when an encoder is
/// missing or unsuitable, the container cannot hold a codec, or the file
/// cannot be written.
std::string WriteClip(const ClipSpec& spec);

}  // namespace tw::gen
