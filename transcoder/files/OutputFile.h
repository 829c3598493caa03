// transcoder/files/OutputFile.h — creating the output file and its streams.
// OutputFile.cpp implements TFileSet::OpenOutputFile, CheckInputStreamTypes
// and the New*Stream methods (see FileSet.h) over these conversions of the
// option values into encoder and muxer settings.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/rational.h>
}

namespace tw {

/// A sample aspect ratio as a fraction with terms of at most 255.
AVRational AspectFraction(double value);
/// The sample aspect ratio that shows width x height pictures at the display
/// aspect `aspect` (4:3 pictures assumed when the size is unknown).
double SampleAspect(float aspect, int width, int height);
/// Seconds since 1970 as the muxers' creation time, ISO 8601 in UTC:
/// "2011-05-01T12:00:00.000000Z"; empty when the time cannot be expressed.
std::string CreationTimeText(int64_t seconds);
/// "start,end,q/start,end,q/...": the rate-control overrides of a video
/// encoder, stored in enc (freed with the context). Throws
/// "error parsing rc_override".
void ParseRcOverride(const std::string& text, AVCodecContext* enc);

}  // namespace tw
