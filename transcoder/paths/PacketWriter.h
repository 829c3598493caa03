// transcoder/paths/PacketWriter.h — what the encode and copy paths hand their
// packets to, and which record of a joined output holds the encoder.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "diag/FFLog.h"
#include "transcoder/RunContext.h"
#include "transcoder/files/StreamTables.h"

namespace tw {

/// Writes output packets: the record's bitstream filters, then the
/// interleaving muxer; keeps the stream's clock (how far the muxer has got,
/// its last decode time). Implemented by the running transcode; engine
/// thread only.
class TPacketWriter {
  public:
    /// pkt is in the output stream's time base and stays the caller's (the
    /// muxer takes its data; the caller unrefs it). avctx is the encoder, or
    /// null for a copy: it only names the codec in messages. Throws
    /// "av_interleaved_write_frame(): <reason>"; a failing bitstream filter
    /// throws "<filter> failed for stream <n>, codec <name>: <reason>" with
    /// "xerror" and is logged and passed over without.
    virtual void WritePacket(AVFormatContext* s, AVPacket* pkt, AVCodecContext* avctx,
                             TBitstreamFilterChain& bsfs) = 0;

  protected:
    ~TPacketWriter() = default;
};

/// The transcode's writer. Keeps, per output stream, how far the muxer has
/// got and its last decode time.
class TStreamWriter final : public TPacketWriter {
  public:
    /// Reads "xerror" from the run's configuration; logs as the run; tells
    /// the run's events of every audio and video packet a muxer took.
    explicit TStreamWriter(const TRunContext& run)
        : FConfig(run.Config), FEvents(run.Events), FSender(run.Events.LogSender()) {}
    void WritePacket(AVFormatContext* s, AVPacket* pkt, AVCodecContext* avctx,
                     TBitstreamFilterChain& bsfs) override;

    /// End of what the muxer has of ost's stream, in seconds (0 before the
    /// first packet).
    double CurrentTime(const TOutputStream& ost) const;
    /// Last decode time written to a stream and the step before it (its
    /// time base): where the next input's first packet may go. Null before
    /// the first packet with a decode time.
    struct TLastDts {
        int64_t Dts = AV_NOPTS_VALUE;
        int64_t Step = 0;
    };
    const TLastDts* LastDts(const AVStream* st) const;

  private:
    /// The packet from filter firstFilter of the chain on.
    void WriteFiltered(AVFormatContext* s, AVPacket* pkt, AVCodecContext* avctx,
                       TBitstreamFilterChain& bsfs, size_t firstFilter);

    const TRunConfig& FConfig;
    TRunEvents& FEvents;
    TLogSender FSender;
    // In the stream's time base.
    std::map<const AVStream*, int64_t> FStreamEnd;
    std::map<const AVStream*, TLastDts> FStreamLastDts;
};

/// The record holding the encoder a record feeds: itself, or in join mode
/// the first set's record of the same output stream (the sets of a join
/// share one encoder). Reads the engine's tables at each call; they outlive
/// the transcode.
class TEncoderRecords {
  public:
    TEncoderRecords(const TFileTables& tables, const bool& joinMode)
        : FTables(tables), FJoinMode(joinMode) {}
    TOutputStream* operator()(TOutputStream* ost) const {
        if (ost->Encoder || !FJoinMode) return ost;
        const auto& first = FTables.OutputStreams[0];
        if (ost->StreamIndex < static_cast<int>(first.size()) && first[ost->StreamIndex])
            return first[ost->StreamIndex].get();
        return ost;
    }

  private:
    const TFileTables& FTables;
    const bool& FJoinMode;
};

}  // namespace tw
