// transcoder/paths/PacketWriter.cpp — output packets through their bitstream
// filters into the interleaving muxer, and the clock of each stream.
#include "transcoder/paths/PacketWriter.h"

#include <algorithm>

#include "binding/Entries.h"
#include "diag/FFUtils.h"
#include "transcoder/FFmpegException.h"

namespace tw {

void TStreamWriter::WritePacket(AVFormatContext* s, AVPacket* pkt, AVCodecContext* avctx,
                                TBitstreamFilterChain& bsfs) {
    WriteFiltered(s, pkt, avctx, bsfs, 0);
}

void TStreamWriter::WriteFiltered(AVFormatContext* s, AVPacket* pkt, AVCodecContext* avctx,
                                  TBitstreamFilterChain& bsfs, size_t firstFilter) {
    for (size_t i = firstFilter; i < bsfs.Filters.size(); ++i) {
        AVBSFContext* ctx = bsfs.Filters[i].get();
        auto fail = [&](int code) {
            const std::string text = std::string(ctx->filter->name) + " failed for stream " +
                                     std::to_string(pkt->stream_index) + ", codec " +
                                     (avctx && avctx->codec ? avctx->codec->name : "copy") + ": " +
                                     ErrorMessage(code);
            if (FConfig.ExitOnError) throw FFmpegException(text);
            FFLogger()->Log(FSender, llError, text);
        };
        // A filter learns its input when it first sees a packet of the stream.
        if (!ctx->par_in->codec_id || ctx->par_in->codec_type == AVMEDIA_TYPE_UNKNOWN) {
            lib().avcodec_parameters_copy(ctx->par_in, s->streams[pkt->stream_index]->codecpar);
            ctx->time_base_in = s->streams[pkt->stream_index]->time_base;
            const int ret = lib().av_bsf_init(ctx);
            if (ret < 0) {
                fail(ret);
                continue;
            }
        }
        PacketPtr copy(lib().av_packet_clone(pkt));
        int ret = copy ? lib().av_bsf_send_packet(ctx, copy.get()) : AVERROR(ENOMEM);
        if (ret < 0) {
            fail(ret);
            continue;  // a filter that fails passes the packet on unchanged
        }
        // One packet in may give none (held for now), one or several out;
        // each goes on through the rest of the chain.
        bool gave = false;
        while (true) {
            PacketPtr out(lib().av_packet_alloc());
            ret = out ? lib().av_bsf_receive_packet(ctx, out.get()) : AVERROR(ENOMEM);
            if (ret < 0) break;
            gave = true;
            out->stream_index = pkt->stream_index;
            WriteFiltered(s, out.get(), avctx, bsfs, i + 1);
        }
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF || gave) {
            if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF) fail(ret);
            return;
        }
        fail(ret);  // nothing came out: the packet goes on unchanged
    }
    // What the muxer has reached on this stream, for the loop and reports.
    AVStream* st = s->streams[pkt->stream_index];
    const int64_t t = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
    if (t != AV_NOPTS_VALUE) {
        const int64_t end = t + std::max<int64_t>(pkt->duration, 0);
        int64_t& cur = FStreamEnd[st];
        cur = std::max(cur, end);
    }
    if (pkt->dts != AV_NOPTS_VALUE) {
        TLastDts& last = FStreamLastDts[st];
        if (last.Dts == AV_NOPTS_VALUE || pkt->dts > last.Dts) {
            // A short last frame (trimmed in its source) still decodes
            // whole where the container cannot trim: the longer of its
            // duration and the step to it.
            const int64_t step = std::max<int64_t>(
                pkt->duration, last.Dts != AV_NOPTS_VALUE ? pkt->dts - last.Dts : 0);
            if (step > 0) last.Step = step;
            last.Dts = pkt->dts;
        }
    }
    const AVMediaType type = st->codecpar->codec_type;
    const bool media = (type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_VIDEO) &&
                       !(st->disposition & AV_DISPOSITION_ATTACHED_PIC);
    const int ret = lib().av_interleaved_write_frame(s, pkt);
    if (ret < 0) throw FFmpegException(ErrorText("av_interleaved_write_frame()", ret));
    if (media) FEvents.MediaPacketWritten();
}

double TStreamWriter::CurrentTime(const TOutputStream& ost) const {
    auto it = FStreamEnd.find(ost.Stream);
    if (it == FStreamEnd.end()) return 0.0;
    return it->second * av_q2d(ost.Stream->time_base);
}

const TStreamWriter::TLastDts* TStreamWriter::LastDts(const AVStream* st) const {
    auto it = FStreamLastDts.find(st);
    return it == FStreamLastDts.end() ? nullptr : &it->second;
}

}  // namespace tw
