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
/// happens before the rename. The same spec always gives the same bytes.
///
/// How the containers keep what is asked of them:
///  - start time: FLV, Matroska and MPEG-TS store the shifted times as they
///    are; MP4 stores an empty edit before the media, and its audio keeps the
///    AAC priming (1024 samples) before the start, so it reads back as a start
///    23 ms early at 44100 Hz.
///  - audio priming: MP4 hides it with an edit list (the audio's first packet
///    is stamped before the video's); elsewhere no container can say so, and
///    the audio's first packet is put at the start time like the first
///    picture, the priming being decoded as a short silence.
///  - B-frames: the first decode times come before the start. MP4 keeps them
///    so; Matroska stores no decode times; FLV and MPEG-TS cannot store them,
///    and the muxer shifts both streams later by the reorder delay (80 ms for
///    two B-frames at 25 fps).
///  - chapters: Matroska and MP4 only (others fail with an error). MP4 keeps
///    them in a text track, which reads back as a data stream, and its first
///    chapter always starts at 0.
///  - further audio tracks, subtitles, cover: see ClipSpec and ExtraStreams.h;
///    the cover and the cues are written right after the header.
///  - metadata: FLV, Matroska and MP4 keep arbitrary keys (Matroska upper-cases
///    all but "title"); MPEG-TS keeps none of them.
///
/// Throws std::runtime_error with a message for the user when an encoder is
/// missing or unsuitable, the container cannot hold a codec, or the file
/// cannot be written.
std::string WriteClip(const ClipSpec& spec);

}  // namespace tw::gen
