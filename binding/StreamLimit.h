// binding/StreamLimit.h — how many streams a source may have: a file with
// more is refused before its streams are analysed, which costs memory and
// time for every stream (a decoder each).
#pragma once

#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

namespace tw {

/// More streams than any real video file carries (several languages of
/// sound and subtitles included).
constexpr unsigned kMaxSourceStreams = 64;

/// Caps the streams a demuxer may still create in an opened input
/// (AVFormatContext::max_streams) at one more than the limit, so that the
/// analysis of a file whose streams appear while it is read (MPEG-TS) stops
/// there too. Call after avformat_open_input, before the analysis.
void LimitStreams(AVFormatContext* ic);

/// Why the input must be refused, or "" when it has at most
/// kMaxSourceStreams streams: "<file>: 1000 streams, more than a video file
/// has (64 at most)". file is the name as the user gave it.
std::string TooManyStreams(const AVFormatContext* ic, const std::string& file);

}  // namespace tw
