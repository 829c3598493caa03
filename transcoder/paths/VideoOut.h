// transcoder/paths/VideoOut.h — re-encoding video: how many output frames a
// decoded picture becomes, scaling to the encoder's size and format, the
// output hook and the preview, forced key frames, encoding and the video
// statistics file.
#pragma once

#include <cstdint>

#include "binding/LibPtr.h"
#include "diag/FFLog.h"
#include "transcoder/RunContext.h"
#include "transcoder/files/StreamTables.h"
#include "transcoder/paths/AudioOut.h"
#include "transcoder/paths/FilterGraph.h"
#include "transcoder/paths/PacketWriter.h"
#include "transcoder/paths/VideoHooks.h"

namespace tw {

/// The video path of one transcode; engine thread only. Reads the run's
/// configuration, stops repeating a picture once a stop is requested, adds
/// to the run's counters (video bytes, duplicated and dropped frames) and
/// writes through `writer`; owns the video statistics file (closed with the
/// path). The scaler and the scaled picture belong to the output records.
/// Throws FFmpegException: "Video encoding failed", "Cannot get resampling
/// context", "Cannot allocate temp picture, check pix fmt", "Assertion
/// failure" (a picture changes size without scaling set up), "fopen fail:
/// <name>", and those of TVideoFilter::Refit and TAudioOut::FillSilence.
class TVideoOut {
  public:
    struct TParts {
        TPacketWriter& Writer;
        TAudioOut& Audio;
        TVideoHooks& Hooks;
        TVideoFilter& Filter;
    };
    TVideoOut(const TRunContext& run, const TEncoderRecords& encoderRecord, TParts parts)
        : FConfig(run.Config),
          FCounters(run.Counters),
          FEvents(run.Events),
          FEncoderRecord(encoderRecord),
          FParts(parts),
          FSender(run.Events.LogSender()) {}

    /// A decoded picture before it is served: counts it, refits the stream's
    /// graph to a new picture size (FitPictures), deinterlaces and runs the
    /// input hooks.
    void PreProcess(TInputStream& ist, AVFrame* picture);
    /// Encodes the picture for ost (0, 1 or several frames by the video sync
    /// method). Returns the bytes of the last packet that came out, 0 when
    /// none did. A FillsSilence record gets the set's missing audio instead.
    int Encode(AVFormatContext* s, TOutputStream* ost, TInputStream* ist, AVFrame* picture);
    /// One line of the statistics file ("vstats_file") after an output of
    /// frameSize bytes; the file is created on first use.
    void WriteStats(TOutputStream* ost, int frameSize);

  private:
    const TRunConfig& FConfig;
    TRunCounters& FCounters;
    const TRunEvents& FEvents;
    const TEncoderRecords& FEncoderRecord;
    TParts FParts;
    TLogSender FSender;
    FilePtr FVstats;
};

}  // namespace tw
