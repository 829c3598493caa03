// transcoder/paths/FilterGraph.h — the video filter graph of a re-encoded input
// stream: the "vf" chain, or with FitPictures the fit of every source into
// the output size (upright, aspect kept, padded black).
#pragma once

#include "diag/FFLog.h"
#include "transcoder/RunContext.h"
#include "transcoder/files/StreamTables.h"
#include "transcoder/paths/PacketWriter.h"

namespace tw {

/// Builds the graphs of one transcode. The graph, its source, sink and
/// picture belong to the input stream (TInputStream::FilterGraph ...).
/// Engine thread only.
class TVideoFilter {
  public:
    TVideoFilter(const TRunContext& run, const TEncoderRecords& encoderRecord)
        : FConfig(run.Config), FEncoderRecord(encoderRecord), FSender(run.Events.LogSender()) {}

    /// The graph from ist's decoder to the encoder ost feeds. The source
    /// takes the decoder's size and format, or those of `picture` when
    /// given. Sets the encoder's size from the graph unless ost is a later
    /// set of a join (whose size the first set fixed). 0 or a negative
    /// library code; the caller throws "Error opening filters!".
    int Build(TInputStream* ist, TOutputStream* ost, const AVFrame* picture = nullptr);
    /// FitPictures: a decoded picture of another size or format than the
    /// stream's graph was built for gets a new graph (the change is logged
    /// at llQuiet). Throws "Error opening filters!".
    void Refit(TInputStream* ist, const AVFrame* picture);
    /// Scaler flags as the "sws_flags" option left them when the run began.
    int SwsFlags() const { return FConfig.SwsFlags; }

  private:
    const TRunConfig& FConfig;
    const TEncoderRecords& FEncoderRecord;
    TLogSender FSender;
};

}  // namespace tw
