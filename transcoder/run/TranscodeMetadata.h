// transcoder/run/TranscodeMetadata.h — the last setup steps of a transcode:
// metadata and chapters as the maps ask, the output headers (with the SDP
// text of RTP outputs) and the stream-mapping log.
#pragma once

#include <string>

#include "transcoder/RunContext.h"
#include "transcoder/files/StreamTables.h"
#include "transcoder/run/InputQueue.h"
#include "transcoder/run/TranscodeTables.h"

namespace tw {

/// Engine thread only. Every failure logs the stream mapping, then the
/// message at llError, and throws FFmpegException with it.
class TOutputHeaders {
  public:
    TOutputHeaders(const TRunContext& run, TTranscodeTables& tables, TInputQueue& queue)
        : FConfig(run.Config),
          FCounters(run.Counters),
          FEvents(run.Events),
          FTables(tables),
          FQueue(queue) {}

    /// "map_meta_data", then the global metadata of input 0 (without
    /// overwriting). Throws "Invalid <kind> index <n> while processing
    /// metadata maps" (kinds "output file", "input file", "chapter",
    /// "program", "stream").
    void MapMetadata();
    /// "map_chapters", or without maps the chapters of the first input that
    /// has any (a joined output: none here, see JoinChapters). Throws "Invalid input file index <n>
    /// in chapter mapping.", "Invalid output file index <n> in chapter mapping.", "av_mallocz
    /// fail", "av_realloc fail".
    void MapChapters();
    /// Refuses copied codecs the container cannot hold, writes each header
    /// (one for a join) and makes the copy converters (tables.CopyForms).
    /// Reads the first packets of copied inputs ahead. Throws "Could not
    /// write header for output file #<n> (incorrect codec parameters ?)",
    /// alone or followed by ": <codec> cannot be stored in <format>" or ":
    /// <codec> of input #<n> cannot follow <codec>".
    void WriteHeaders();
    /// The outputs' descriptions and, unless "v" is negative, the mapping
    /// lines at llVerbose.
    void LogStreamMapping() const;
    [[noreturn]] void FailWithMapping(const std::string& message) const;

  private:
    void CopyChapters(int input, int output);
    void CheckCopiedCodecs() const;
    void PrepareCopyForms();

    const TRunConfig& FConfig;
    TRunCounters& FCounters;
    TRunEvents& FEvents;
    TTranscodeTables& FTables;
    TInputQueue& FQueue;
};

}  // namespace tw
