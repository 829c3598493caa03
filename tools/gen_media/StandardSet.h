// tools/gen_media/StandardSet.h — the standard set of test clips.
#pragma once

#include <string>
#include <vector>

#include "ClipSpec.h"

namespace tw::gen {

/// One clip of the standard set: its file name and how it differs from the
/// generator's defaults (2 s, 320x240, 25 fps, H.264 + AAC 44100 Hz stereo).
struct SetEntry {
    const char* name;
    const char* purpose;
    std::vector<std::string> args;  ///< generator options, without the output
};

/// The standard set, in the order it is written:
///   a.flv b.flv c.flv  same encoding, patterns 0/1/2 (joins without re-encoding)
///   a.mp4 a.ts a.mkv   pattern 0 in the other containers
///   noaudio.flv        video only
///   novideo.flv        audio only
///   size640.flv        640x360
///   rate48k.flv        48000 Hz audio
///   start10.ts         every timestamp shifted by 10 s
///   chapters.mkv       3 chapters "Chapter 1".."Chapter 3"
///   metadata.flv       title, artist and comment
///   truncated.flv      a.flv's encoding cut to 60 % of its bytes
///   bframes.mp4        2 B-frames (decode and presentation order differ)
const std::vector<SetEntry>& StandardSet();

/// Writes every clip of the standard set into dir (created when missing) and
/// prints one line per file unless quiet. Throws std::runtime_error on the
/// first clip that cannot be written.
void WriteStandardSet(const std::string& dir, bool quiet);

}  // namespace tw::gen
