// transcoder/run/TranscodeSetup.h — the setup of a transcode and its release:
// the input and output tables, binding each output stream to an input
// stream, the copy and encode parameters, the two-pass statistics files,
// and opening (and closing) the encoders and decoders.
#pragma once

#include <string>
#include <vector>

#include "diag/FrameHook.h"
#include "transcoder/RunContext.h"
#include "transcoder/files/StreamTables.h"
#include "transcoder/paths/FilterGraph.h"
#include "transcoder/paths/PacketWriter.h"
#include "transcoder/run/TranscodeMetadata.h"
#include "transcoder/run/TranscodeTables.h"

namespace tw {

/// Engine thread only. The lists of opened codecs are this object's and
/// only this thread touches them: no lock guards them. Throws
/// FFmpegException with the texts of the setup ("Output file #<n> does not
/// contain any stream", "Number of stream maps must match number of output
/// streams", "Could not find input stream #<f>.<s>", "Could not find sync
/// stream #<f>.<s>", "Codec type mismatch for mapping ...", "Could not find
/// input stream matching output stream ...", "-vcodec copy and ... are
/// incompatible (frames are not decoded)", "Error opening filters!",
/// "Encoder (codec id <n>) not found for ...", "Error while opening encoder
/// for ...", "Cannot write log file <name> for pass-1 encoding", ...).
class TTranscodeSetup {
  public:
    TTranscodeSetup(const TRunContext& run, TTranscodeTables& tables,
                    const TEncoderRecords& encoderRecord, TVideoFilter& videoFilter,
                    const TOutputHeaders& headers, const TFrameHookList& frameHooks)
        : FConfig(run.Config),
          FCounters(run.Counters),
          FEvents(run.Events),
          FTables(tables),
          FEncoderRecord(encoderRecord),
          FVideoFilter(videoFilter),
          FHeaders(headers),
          FFrameHooks(frameHooks) {}

    /// Tables, binding, codec parameters, encoders and decoders opened, and
    /// the inputs' clocks set for the loop.
    void Build();
    /// Closes the encoders of the first set (the ones that run), after the
    /// loop.
    void CloseEncoders();
    /// Closes every codec still open (a decoder becomes a fresh, closed
    /// context of the file tables again), the statistics files and the
    /// records' converters, and empties the tables. Once; never throws.
    void Release();

  private:
    void BuildInputTables();
    void BuildOutputTables();
    void BindWithMap(TOutputStream& ost, int mapIndex);
    void BindWithoutMap(TOutputStream& ost, int entry);
    /// FillMissingAudio: binds the audio record `ost` (table index `index`)
    /// of input `entry`, which has no audio, to that input's video. False
    /// when the input has no video either.
    bool BindSilence(TOutputStream& ost, int entry, size_t index);
    void SetupCodec(TOutputStream& ost);
    void SetupCopy(TOutputStream& ost, TInputStream& ist);
    /// The input's parameters, tag and time base into the copied stream.
    void CopyParameters(TOutputStream& ost, TInputStream& ist);
    /// The input stream's display matrix (rotation), when it has one, onto
    /// the copied stream. Throws "av_mallocz fail".
    void CopyDisplayMatrix(TOutputStream& ost, TInputStream& ist);
    void SetupEncode(TOutputStream& ost, TInputStream& ist);
    void OpenPassLog(TOutputStream& ost, int index);
    void OpenEncoders();
    void OpenDecoders();
    /// Opens the decoder of input stream ist (table index i).
    void OpenDecoder(TInputStream& ist, size_t i);
    void InitInputTiming();

    const TRunConfig& FConfig;
    TRunCounters& FCounters;
    TRunEvents& FEvents;
    TTranscodeTables& FTables;
    const TEncoderRecords& FEncoderRecord;
    TVideoFilter& FVideoFilter;
    const TOutputHeaders& FHeaders;
    /// The "vhook" modules: a copied video stream refuses them.
    const TFrameHookList& FFrameHooks;
    std::vector<TOutputStream*> FOpenEncoders;
    std::vector<TInputStream*> FOpenDecoders;
    bool FReleased = false;
};

}  // namespace tw
