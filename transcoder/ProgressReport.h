// transcoder/ProgressReport.h — the progress reports of a run: the report
// line, the progress callback, and the final report with the byte counts.
#pragma once

#include <cstdint>

#include "binding/Entries.h"
#include "transcoder/CustomFFmpeg.h"
#include "transcoder/PacketWriter.h"
#include "transcoder/StreamTables.h"

namespace tw {

/// Engine thread only. Reads the tables, the stream clocks and the
/// engine's counters; calls ProgressCallback and logs as the engine. Never
/// throws (but what the callback throws reaches the caller).
class TProgressReport {
  public:
    TProgressReport(TCustomFFmpeg& engine, const TTranscodeTables& tables,
                    const TEncoderRecords& encoderRecord, const TStreamWriter& writer)
        : FEngine(engine), FTables(tables), FEncoderRecord(encoderRecord), FWriter(writer) {}

    /// The run's clock starts (frames per second count from here); returns
    /// the library clock (µs).
    int64_t Start() { return FTimerStart = lib().av_gettime(); }
    /// One report; fileIndex is the input being read (-1 for the final one).
    /// Nothing before the first video frame.
    void Report(bool final, int fileIndex) const;

  private:
    TCustomFFmpeg& FEngine;
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
