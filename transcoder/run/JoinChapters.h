// transcoder/run/JoinChapters.h — the chapters of a joined output: every input's
// own chapters shifted to where that input starts in the output, and with
// SourceChapterTitles one chapter per input. Where an input starts is known
// only once the loop has placed it, so the chapters are given to the muxer
// just before the trailer: Matroska writes them there, MP4 and MOV as the
// chapter list of the movie header ("chpl", read by FFmpeg-based players
// and most others; their QuickTime chapter track would be written with the
// header, before any input is placed, so there is none).
// With one chapter per input, an input's own chapter that starts where the
// input starts is left out: readers keep one chapter per start time.
#pragma once

#include <cstdint>
#include <vector>

#include "transcoder/RunContext.h"
#include "transcoder/files/StreamTables.h"
#include "transcoder/run/TranscodeTables.h"

namespace tw {

/// Engine thread only. The chapters belong to the output context (freed
/// with it). Output chapter times are microseconds.
class TJoinChapters {
  public:
    TJoinChapters(const TRunContext& run, TTranscodeTables& tables)
        : FConfig(run.Config), FCounters(run.Counters), FEvents(run.Events), FTables(tables) {}

    /// Before the header, in join mode without chapter maps: which chapters
    /// the output will have. Nothing reaches the output yet.
    void Plan();
    /// The loop starts reading input k: its start time (the container's)
    /// lies at origin (µs) in the output.
    void InputStarts(int k, int64_t origin);
    /// Before the trailer: appends the chapters at the places the inputs
    /// took; end is where the output ends (µs). Throws "av_mallocz fail",
    /// "av_realloc fail".
    void Finish(int64_t end);

  private:
    /// One output chapter: of input Input, its chapter Chapter, or -1 for
    /// the chapter of the whole input.
    struct TEntry {
        int Input = 0;
        int Chapter = -1;
    };
    /// Sets out (numbered id) for entry e with the inputs' origins.
    void Fill(AVChapter* out, int id, const TEntry& e, const std::vector<int64_t>& origins,
              int64_t end) const;
    void Append(int count);

    const TRunConfig& FConfig;
    TRunCounters& FCounters;
    TRunEvents& FEvents;
    TTranscodeTables& FTables;
    std::vector<TEntry> FEntries;
    std::vector<int64_t> FOrigins;  // per input, AV_NOPTS_VALUE until it starts
    bool FPlanned = false, FWritten = false;
};

}  // namespace tw
