// transcoder/run/TranscodePackets.h — one packet of an input stream: its clock,
// decoding when some output re-encodes it, and serving every output bound
// to it (stream copy, subtitles here; audio and video through their paths).
#pragma once

#include <cstdint>
#include <vector>

#include "binding/LibPtr.h"
#include "transcoder/RunContext.h"
#include "transcoder/files/StreamTables.h"
#include "transcoder/paths/AudioOut.h"
#include "transcoder/paths/PacketWriter.h"
#include "transcoder/paths/VideoOut.h"
#include "transcoder/run/TranscodeTables.h"

namespace tw {

/// A packet its decoder refused: the loop ends the run with it under
/// "xerror", else logs it and goes on.
class TDecodeError : public FFmpegException {
  public:
    using FFmpegException::FFmpegException;
};

/// Engine thread only. Reuses one frame, one packet and the audio buffer
/// for every packet. Throws TDecodeError (see Process) and the
/// FFmpegException texts of the paths: "Audio encoding failed", "Video
/// encoding failed", "Subtitle encoding failed", "Subtitle packets must have
/// a pts" (with "xerror"; logged without), "invalid codec_type",
/// "av_mallocz fail".
class TPacketProcessor {
  public:
    TPacketProcessor(const TRunContext& run, TTranscodeTables& tables,
                     const TEncoderRecords& encoderRecord, TPacketWriter& writer, TAudioOut& audio,
                     TVideoOut& video)
        : FConfig(run.Config),
          FCounters(run.Counters),
          FEvents(run.Events),
          FTables(tables),
          FEncoderRecord(encoderRecord),
          FWriter(writer),
          FAudio(audio),
          FVideo(video) {}

    /// The reused frame and packet; throws "av_mallocz fail".
    void AllocateBuffers();
    /// Decodes (or copies) one packet (input time base, offset applied) and
    /// serves its frames; a null packet drains the decoder and, with
    /// DrainEncoders, the encoders it feeds. Throws TDecodeError "Error
    /// while decoding stream #<file>.<stream> (<type>)" when the packet
    /// cannot be decoded (a drain never throws it).
    void Process(TInputStream& ist, AVPacket* pkt);
    /// False while a joined input ends that is not the last: its decoders
    /// are drained, the encoders go on with the next input.
    bool DrainEncoders = true;

  private:
    [[noreturn]] void DecodeFailed(const TInputStream& ist);
    /// Decoded samples into FAudioBuffer as interleaved bytes (FAudioBytes).
    void InterleaveAudio(const AVFrame* frame);
    /// Serves every picture the stream's filter graph has ready.
    template <typename Serve>
    void ServeFiltered(TInputStream& ist, Serve& serve);
    /// Writes a copy of pkt for ost; with take, pkt's data and side data
    /// move into the written packet and pkt is left blank.
    void CopyPacket(TOutputStream& ost, TInputStream& ist, AVPacket* pkt, bool take);
    /// The output records bound to ist, in table order (found once: the
    /// bindings are fixed when the loop runs).
    const std::vector<TOutputStream*>& BoundRecords(TInputStream& ist);
    void DrainEncoder(TOutputStream& ost, TInputStream& ist);
    void SubtitleOut(TOutputStream& ost, TInputStream& ist, AVSubtitle* sub, int64_t pts);

    const TRunConfig& FConfig;
    TRunCounters& FCounters;
    TRunEvents& FEvents;
    TTranscodeTables& FTables;
    const TEncoderRecords& FEncoderRecord;
    TPacketWriter& FWriter;
    TAudioOut& FAudio;
    TVideoOut& FVideo;
    FramePtr FFrame;
    PacketPtr FOutPacket;
    std::vector<uint8_t> FAudioBuffer;
    /// Bytes of the decoded samples in FAudioBuffer.
    size_t FAudioBytes = 0;
    /// Encoded subtitles (allocated with the first one).
    std::vector<uint8_t> FSubtitleBuffer;
};

}  // namespace tw
