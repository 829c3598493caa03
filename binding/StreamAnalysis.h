// binding/StreamAnalysis.h — the analysis of an opened input's streams
// (avformat_find_stream_info), the same for every opener: the survey, the
// probing component and the engine's first open and later reopens.
#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

namespace tw {

/// Analyses the streams of an opened input and returns what
/// avformat_find_stream_info returns. The decoders the analysis opens get
/// one thread each: they decode a handful of frames, fewer than threads
/// would take to start and fill (libavformat 5.1 asks for that itself; the
/// request keeps it so under other builds). Caller's thread; the context's
/// own limits (probesize, max_analyze_duration) apply as set.
int AnalyseStreams(AVFormatContext* ic);

/// Whether AnalyseStreams asks for one decoder thread (true, the default).
/// A test turns it off to show that the facts found do not depend on it.
/// Not for use while another thread analyses.
void SetSingleThreadAnalysis(bool on);
bool SingleThreadAnalysis();

}  // namespace tw
