// transcoder/VideoOut.h — re-encoding video: how many output frames a
// decoded picture becomes, scaling to the encoder's size and format, the
// output hook and the preview, forced key frames, encoding and the video
// statistics file.
#pragma once

#include <atomic>
#include <cstdint>

#include "binding/LibPtr.h"
#include "diag/FFLog.h"
#include "transcoder/AudioOut.h"
#include "transcoder/EngineOptions.h"
#include "transcoder/FilterGraph.h"
#include "transcoder/PacketWriter.h"
#include "transcoder/RunCounters.h"
#include "transcoder/StreamTables.h"
#include "transcoder/VideoHooks.h"

namespace tw {

/// The video path of one transcode; engine thread only. Reads the options,
/// adds to the counters (video bytes, duplicated and dropped frames) and
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
    TVideoOut(const TEngineOptions& options, TRunCounters& counters,
              const std::atomic<bool>& stopRequested, const TEncoderRecords& encoderRecord,
              TParts parts, TLogSender sender)
        : FOptions(options),
          FCounters(counters),
          FStopRequested(stopRequested),
          FEncoderRecord(encoderRecord),
          FParts(parts),
          FSender(sender) {}

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
    const TEngineOptions& FOptions;
    TRunCounters& FCounters;
    const std::atomic<bool>& FStopRequested;
    const TEncoderRecords& FEncoderRecord;
    TParts FParts;
    TLogSender FSender;
    FilePtr FVstats;
};

}  // namespace tw
