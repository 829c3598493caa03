// transcoder/JoinChapters.h — the chapters of a joined output: every input's
// own chapters shifted to where that input starts in the output, and with
// SourceChapterTitles one chapter per input. Where an input starts is known
// only once the loop has placed it, so the times are final at the trailer.
// With one chapter per input, an input's own chapter that starts where the
// input starts is left out: readers keep one chapter per start time.
#pragma once

#include <cstdint>
#include <vector>

#include "transcoder/CustomFFmpeg.h"
#include "transcoder/StreamTables.h"

namespace tw {

/// Engine thread only. The chapters belong to the output context (freed
/// with it). Output chapter times are microseconds.
class TJoinChapters {
  public:
    TJoinChapters(TCustomFFmpeg& engine, TTranscodeTables& tables)
        : FEngine(engine), FTables(tables) {}

    /// Before the header, in join mode without chapter maps. Muxers that
    /// write chapters with the header and read them again at the trailer
    /// (MP4, MOV) get them now, placed by the inputs' durations; Matroska,
    /// which writes at the trailer what it did not have at the header, gets
    /// them only at Finish. Throws "av_mallocz fail", "av_realloc fail".
    void Plan();
    /// The loop starts reading input k, whose offset (µs added to its
    /// times) is final now.
    void InputStarts(int k, int64_t offset);
    /// Before the trailer: the chapters at the places the inputs took; end
    /// is where the output ends (µs). Throws as Plan.
    void Finish(int64_t end);

  private:
    /// One output chapter: of input Input, its chapter Chapter, or -1 for
    /// the chapter of the whole input.
    struct TEntry {
        int Input = 0;
        int Chapter = -1;
    };
    /// Sets the output chapter i of entry e with input offsets `offsets`.
    void Fill(AVChapter* out, int id, const TEntry& e, const std::vector<int64_t>& offsets,
              int64_t end) const;
    void Append(int count);

    TCustomFFmpeg& FEngine;
    TTranscodeTables& FTables;
    std::vector<TEntry> FEntries;
    std::vector<int64_t> FOffsets;  // per input, AV_NOPTS_VALUE until it starts
    bool FPlanned = false, FWritten = false;
};

}  // namespace tw
