// transcoder/run/ProgressReport.h — the progress reports of a run: the report
// line, the report handed to the run's events (transcoder/Progress.h), and
// the final report with the byte counts.
#pragma once

#include <cstdint>

#include "binding/Entries.h"
#include "transcoder/Progress.h"
#include "transcoder/RunContext.h"
#include "transcoder/files/StreamTables.h"
#include "transcoder/paths/PacketWriter.h"
#include "transcoder/run/TranscodeTables.h"

namespace tw {

/// Engine thread only. Reads the tables, the stream clocks and the run's
/// counters; hands each report to the run's events and logs as the run.
/// Never throws (but what the handler throws reaches the caller).
class TProgressReport {
  public:
    TProgressReport(const TRunContext& run, const TTranscodeTables& tables,
                    const TEncoderRecords& encoderRecord, const TStreamWriter& writer)
        : FConfig(run.Config),
          FCounters(run.Counters),
          FEvents(run.Events),
          FTables(tables),
          FEncoderRecord(encoderRecord),
          FWriter(writer) {}

    /// The run's clock starts (frames per second count from here); returns
    /// the library clock (µs).
    int64_t Start() { return FTimerStart = lib().av_gettime(); }
    /// One report; fileIndex is the input being read (-1 for the final one).
    /// Nothing before the first video frame.
    void Report(bool final, int fileIndex) const;

  private:
    const TRunConfig& FConfig;
    TRunCounters& FCounters;
    TRunEvents& FEvents;
    const TTranscodeTables& FTables;
    const TEncoderRecords& FEncoderRecord;
    const TStreamWriter& FWriter;
    int64_t FTimerStart = 0;
};

/// The quantizer histogram of option "qphist": one count per quantizer
/// 0..51, shared by every engine of the process (as the report line shows
/// it). Any thread.
void CountQuantizer(int qp);
int QuantizerCount(int qp);

}  // namespace tw
