// transcoder/run/TranscodePackets.cpp — one packet of an input stream: its
// clock, decoding when some output re-encodes it, and serving every output
// bound to it (stream copy here; re-encoding through the audio and video
// outputs).
#include "transcoder/run/TranscodePackets.h"

#include <algorithm>
#include <cstring>

#include "binding/Entries.h"
#include "diag/FFLog.h"
#include "diag/FFUtils.h"
#include "transcoder/paths/AudioVolume.h"
#include "transcoder/paths/DecoderStart.h"
#include "transcoder/run/RateEmulation.h"

namespace tw {

namespace {

// Picture times of a decoder: the reordered presentation time when it has
// proved more reliable than the decoding time, else the decoding time.
int64_t CorrectTimestamp(TPtsCorrection& c, int64_t dts, int64_t pts) {
    if (dts != AV_NOPTS_VALUE) {
        if (dts <= c.LastDts) ++c.NumFaultyDts;
        c.LastDts = dts;
    }
    if (pts != AV_NOPTS_VALUE) {
        if (pts <= c.LastPts) ++c.NumFaultyPts;
        c.LastPts = pts;
    }
    if (pts != AV_NOPTS_VALUE && (c.NumFaultyPts <= c.NumFaultyDts || dts == AV_NOPTS_VALUE))
        return pts;
    return dts;
}

}  // namespace

void TPacketProcessor::AllocateBuffers() {
    FFrame.reset(lib().av_frame_alloc());
    FOutPacket.reset(lib().av_packet_alloc());
    if (!FFrame || !FOutPacket) throw FFmpegException("av_mallocz fail");
}

void TPacketProcessor::CopyPacket(TOutputStream& ost, TInputStream& ist, AVPacket* pkt, bool take) {
    const AVRational us{1, 1000000};
    AVStream* out = ost.Stream;
    const AVRational itb = ist.Stream->time_base;
    const AVRational otb = out->time_base;
    const int64_t startOffset = lib().av_rescale_q(FConfig.StartTime, us, otb);
    // One cover picture, the first input's; an attachment has none to write.
    if (ost.Cover && (ost.FileIndex != 0 || ost.FrameNumber > 0 ||
                      out->codecpar->codec_type == AVMEDIA_TYPE_ATTACHMENT))
        return;
    if (ost.FrameNumber == 0 && !(pkt->flags & AV_PKT_FLAG_KEY) && !FConfig.CopyInitialNonKeyframes)
        return;
    const bool video = out->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    if (video) {
        FCounters.VideoSize += pkt->size;
        ++ost.SyncOpts;
    } else if (out->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
        FCounters.AudioSize += pkt->size;
    }
    const int64_t pts = pkt->pts != AV_NOPTS_VALUE
                            ? lib().av_rescale_q(pkt->pts, itb, otb) - startOffset
                            : AV_NOPTS_VALUE;
    const int64_t dts = (pkt->dts != AV_NOPTS_VALUE ? lib().av_rescale_q(pkt->dts, itb, otb)
                                                    : lib().av_rescale_q(ist.Pts, us, otb)) -
                        startOffset;
    const int64_t duration = lib().av_rescale_q(pkt->duration, itb, otb);
    AVPacket* opkt = FOutPacket.get();
    lib().av_packet_unref(opkt);  // what a failed write may have left
    // The last taker gets the packet itself: its buffer is then the
    // packet's alone and can be converted in place.
    if (take)
        lib().av_packet_move_ref(opkt, pkt);
    else if (lib().av_packet_ref(opkt, pkt) < 0)
        throw FFmpegException("av_mallocz fail");
    opkt->stream_index = ost.StreamIndex;
    opkt->pts = pts;
    opkt->dts = dts;
    opkt->duration = duration;
    opkt->pos = -1;
    // Into the bitstream form the output's header announces.
    if (auto form = FTables.CopyForms.find(&ost); form != FTables.CopyForms.end())
        form->second->Convert(opkt);
    AVFormatContext* s = FTables.Output(ost.FileIndex);
    // A source's open-GOP key frames stay key frames where the container
    // only marks them; an index of places to start playing lists only
    // pictures a decoder can start from.
    if (video && (opkt->flags & AV_PKT_FLAG_KEY) && out->codecpar->codec_id == AV_CODEC_ID_H264 &&
        IndexesEveryKeyFlag(s->oformat) &&
        !H264StartsDecoding(opkt->data, size_t(opkt->size), H264LengthSize(out->codecpar)))
        opkt->flags &= ~AV_PKT_FLAG_KEY;
    FWriter.WritePacket(s, opkt, nullptr, ost.BitstreamFilters);
    lib().av_packet_unref(opkt);
    ++ost.FrameNumber;
}
void TPacketProcessor::InterleaveAudio(const AVFrame* frame) {
    // The audio output counts bytes of interleaved samples.
    const int bps = lib().av_get_bytes_per_sample(static_cast<AVSampleFormat>(frame->format));
    const int ch = frame->ch_layout.nb_channels;
    const size_t size = static_cast<size_t>(frame->nb_samples) * bps * ch;
    if (FAudioBuffer.size() < std::max<size_t>(size, 192000))
        FAudioBuffer.resize(std::max<size_t>(size, 192000));
    if (lib().av_sample_fmt_is_planar(static_cast<AVSampleFormat>(frame->format)) && ch > 1) {
        for (int n = 0; n < frame->nb_samples; ++n)
            for (int c = 0; c < ch; ++c)
                std::memcpy(&FAudioBuffer[(size_t(n) * ch + c) * bps],
                            frame->extended_data[c] + size_t(n) * bps, bps);
    } else {
        std::memcpy(FAudioBuffer.data(), frame->extended_data[0], size);
    }
    FAudioBytes = size;
}
template <typename Serve>
void TPacketProcessor::ServeFiltered(TInputStream& ist, Serve& serve) {
    AVFrame* picture = ist.FilterPicture.get();
    while (lib().av_buffersink_get_frame(ist.FilterOutput, picture) >= 0) {
        if (picture->pts != AV_NOPTS_VALUE)
            ist.Pts = lib().av_rescale_q(picture->pts,
                                         lib().av_buffersink_get_time_base(ist.FilterOutput),
                                         AVRational{1, 1000000});
        serve(picture, nullptr);
        lib().av_frame_unref(picture);
    }
}
namespace {

// Decode errors tolerated while a decoder gives what it still holds; a
// decoder that only fails is given up after these.
constexpr int MaxDrainFailures = 64;

}  // namespace

const std::vector<TOutputStream*>& TPacketProcessor::BoundRecords(TInputStream& ist) {
    if (!ist.RecordsKnown) {
        ist.Records.clear();
        for (TOutputStream* ost : FTables.Outputs)
            if (ost->SourceIndex >= 0 && FTables.Inputs[ost->SourceIndex].get() == &ist)
                ist.Records.push_back(ost);
        ist.RecordsKnown = true;
    }
    return ist.Records;
}

void TPacketProcessor::Process(TInputStream& ist, AVPacket* pkt) {
    const AVRational us{1, 1000000};
    if (ist.NextPts == AV_NOPTS_VALUE) ist.NextPts = ist.Pts;
    const AVRational tb = ist.Stream->time_base;
    const AVCodecParameters* par = ist.Stream->codecpar;
    if (pkt && pkt->dts != AV_NOPTS_VALUE)
        ist.Pts = ist.NextPts = lib().av_rescale_q(pkt->dts, tb, us);

    auto serve = [&](AVFrame* frame, AVSubtitle* sub) {
        if (FConfig.StartTime != 0 && ist.Pts < FConfig.StartTime) return;
        const std::vector<TOutputStream*>& records = BoundRecords(ist);
        for (size_t r = 0; r < records.size(); ++r) {
            TOutputStream* ost = records[r];
            AVFormatContext* s = FTables.Output(ost->FileIndex);
            if (!ost->EncodingNeeded) {
                // A copy-only stream is served once per packet: its last
                // record may take the packet.
                if (pkt) CopyPacket(*ost, ist, pkt, !ist.DecodingNeeded && r + 1 == records.size());
                continue;
            }
            switch (par->codec_type) {
                case AVMEDIA_TYPE_AUDIO:
                    if (frame)
                        FAudio.Encode(s, ost, &ist, FAudioBuffer.data(),
                                      static_cast<int>(FAudioBytes));
                    break;
                case AVMEDIA_TYPE_VIDEO:
                    if (frame) {
                        if (ist.FilterOutput && frame->sample_aspect_ratio.num)
                            FEncoderRecord(ost)->Encoder->sample_aspect_ratio =
                                frame->sample_aspect_ratio;
                        const int bytes = FVideo.Encode(s, ost, &ist, frame);
                        if (bytes > 0 && !FConfig.VstatsFileName.empty())
                            FVideo.WriteStats(ost, bytes);
                    }
                    break;
                case AVMEDIA_TYPE_SUBTITLE:
                    if (sub) SubtitleOut(*ost, ist, sub, pkt ? pkt->pts : AV_NOPTS_VALUE);
                    break;
                default:
                    throw FFmpegException("invalid codec_type");
            }
        }
    };

    auto rateEmulation = [&] {
        if (!FConfig.RateEmulation) return;
        const int64_t elapsed = lib().av_gettime() - ist.RateEmuStart;
        if (ist.Pts - elapsed > 1000) WaitForRateEmulation(FEvents, ist.Pts - elapsed);
    };

    if (!ist.DecodingNeeded) {
        if (!pkt) return;
        // The clock moves by one frame of the stream.
        ist.Pts = ist.NextPts;
        if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0 && par->frame_size > 0)
            ist.NextPts += int64_t(1000000) * par->frame_size / par->sample_rate;
        else if (par->codec_type == AVMEDIA_TYPE_VIDEO && ist.Stream->r_frame_rate.num)
            ist.NextPts += lib().av_rescale_q(1, av_inv_q(ist.Stream->r_frame_rate), us);
        rateEmulation();
        serve(nullptr, nullptr);
        return;
    }

    AVCodecContext* dec = ist.Decoder;
    if (par->codec_type == AVMEDIA_TYPE_SUBTITLE) {
        if (!pkt) return;
        // Freed also when serving it throws.
        SubtitlePtr sub = MakeSubtitle();
        int got = 0;
        if (lib().avcodec_decode_subtitle2(dec, sub.get(), &got, pkt) < 0) DecodeFailed(ist);
        if (got) serve(nullptr, sub.get());
        return;
    }
    if (par->codec_type != AVMEDIA_TYPE_AUDIO && par->codec_type != AVMEDIA_TYPE_VIDEO) {
        if (!pkt) return;
        DecodeFailed(ist);
    }

    // One packet may give several frames; without a packet the decoder gives
    // what it still holds.
    int ret = lib().avcodec_send_packet(dec, pkt);
    // Decoder threads report a damaged packet late, even on the drain's
    // empty one: the drain goes on regardless.
    if (ret < 0 && ret != AVERROR_EOF && ret != AVERROR(EAGAIN) && pkt) DecodeFailed(ist);
    AVFrame* frame = FFrame.get();
    int drainFailures = 0;
    for (int frames = 0;; ++frames) {
        ret = lib().avcodec_receive_frame(dec, frame);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
        if (ret < 0) {
            if (pkt) DecodeFailed(ist);
            // A damaged picture at the end of a source: the pictures behind
            // it still come out, and the encoders are drained after them,
            // or everything the encoders hold back would be lost.
            if (++drainFailures > MaxDrainFailures) break;
            continue;
        }
        ist.Pts = ist.NextPts;
        if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
            // A video packet is one picture; an audio packet may carry several
            // frames, which older muxers did not expect.
            if (pkt && frames > 0 &&
                (FConfig.Verbose > 1 || (FConfig.Verbose > 0 && !ist.MultiFrameWarned))) {
                FFLogger()->LogFmt(FEvents.LogSender(), llError,
                                   "Multiple frames in a packet from stream %d", pkt->stream_index);
                ist.MultiFrameWarned = true;
            }
            if (dec->sample_rate > 0)
                ist.NextPts += int64_t(1000000) * frame->nb_samples / dec->sample_rate;
            InterleaveAudio(frame);
            const AVSampleFormat packed =
                lib().av_get_packed_sample_fmt(static_cast<AVSampleFormat>(frame->format));
            if (FEvents.HasAudioHook())
                FEvents.AudioHook(FAudioBuffer.data(), packed, frame->ch_layout.nb_channels,
                                  frame->sample_rate, static_cast<int>(FAudioBytes), ist.Pts);
            ApplyVolume(FAudioBuffer.data(), FAudioBytes, packed, FConfig.AudioVolume);
        } else {
            const int64_t t = CorrectTimestamp(
                ist.PtsCorrection, frame->pkt_dts,
                frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp);
            if (t != AV_NOPTS_VALUE) ist.Pts = ist.NextPts = lib().av_rescale_q(t, tb, us);
            if (ist.Stream->r_frame_rate.num) {
                const int ticks = 1 + frame->repeat_pict;
                ist.NextPts += lib().av_rescale_q(ticks, av_inv_q(ist.Stream->r_frame_rate), us);
            }
            FVideo.PreProcess(ist, frame);
            if (ist.FilterInput) {
                // The graph scales; its pictures are served as they come out.
                frame->pts = ist.Pts;
                frame->sample_aspect_ratio = dec->sample_aspect_ratio;
                if (lib().av_buffersrc_add_frame_flags(ist.FilterInput, frame, 0) < 0) {
                    // A drain gives up here too, without a word.
                    if (!pkt) return;
                    DecodeFailed(ist);
                }
                rateEmulation();
                ServeFiltered(ist, serve);
                continue;
            }
        }
        rateEmulation();
        serve(frame, nullptr);
        lib().av_frame_unref(frame);
    }
    if (!pkt && ist.FilterInput && !ist.FilterFlushed) {
        // End of the stream: what the graph still holds comes out now.
        ist.FilterFlushed = true;
        if (lib().av_buffersrc_add_frame_flags(ist.FilterInput, nullptr, 0) >= 0)
            ServeFiltered(ist, serve);
    }
    if (!pkt && DrainEncoders) {
        for (TOutputStream* ost : FTables.Outputs)
            if (ost->EncodingNeeded && ost->SourceIndex >= 0 &&
                FTables.Inputs[ost->SourceIndex].get() == &ist)
                DrainEncoder(*ost, ist);
    }
}
void TPacketProcessor::DecodeFailed(const TInputStream& ist) {
    throw TDecodeError("Error while decoding stream #" + std::to_string(ist.FileIndex) + "." +
                       std::to_string(ist.StreamIndex) + " (" +
                       MediaTypeName(ist.Stream->codecpar->codec_type) + ")");
}
void TPacketProcessor::DrainEncoder(TOutputStream& ost, TInputStream& ist) {
    TOutputStream& er = *FEncoderRecord(&ost);
    AVCodecContext* enc = er.Encoder.get();
    if (!enc || !lib().avcodec_is_open(enc)) return;
    if (enc->codec_type == AVMEDIA_TYPE_AUDIO) {
        // What waits in the FIFO goes out first, as a last short frame.
        FAudio.Encode(FTables.Output(ost.FileIndex), &ost, &ist, nullptr, 0);
        if (enc->frame_size <= 1) return;
    }
    AVFormatContext* s = FTables.Output(ost.FileIndex);
    int ret = lib().avcodec_send_frame(enc, nullptr);
    if (ret < 0 && ret != AVERROR_EOF)
        throw FFmpegException(enc->codec_type == AVMEDIA_TYPE_AUDIO ? "Audio encoding failed"
                                                                    : "Video encoding failed");
    AVPacket* pkt = FOutPacket.get();
    while ((ret = lib().avcodec_receive_packet(enc, pkt)) >= 0) {
        if (enc->codec_type == AVMEDIA_TYPE_AUDIO)
            FCounters.AudioSize += pkt->size;
        else
            FCounters.VideoSize += pkt->size;
        pkt->stream_index = ost.StreamIndex;
        lib().av_packet_rescale_ts(pkt, enc->time_base, er.Stream->time_base);
        if (er.PassLogFile && enc->stats_out) std::fputs(enc->stats_out, er.PassLogFile.get());
        FWriter.WritePacket(s, pkt, enc, er.BitstreamFilters);
        lib().av_packet_unref(pkt);
    }
    if (ret != AVERROR_EOF && ret != AVERROR(EAGAIN))
        throw FFmpegException(enc->codec_type == AVMEDIA_TYPE_AUDIO ? "Audio encoding failed"
                                                                    : "Video encoding failed");
}
void TPacketProcessor::SubtitleOut(TOutputStream& ost, TInputStream& ist, AVSubtitle* sub,
                                   int64_t pts) {
    if (pts == AV_NOPTS_VALUE) {
        if (FConfig.ExitOnError) throw FFmpegException("Subtitle packets must have a pts");
        FFLogger()->Log(FEvents.LogSender(), llError, "Subtitle packets must have a pts");
        return;
    }
    // The sets of a join share the first set's encoder.
    AVCodecContext* enc = FEncoderRecord(&ost)->Encoder.get();
    if (!enc) return;
    // One buffer per transcode: engines on other threads have their own.
    std::vector<uint8_t>& buffer = FSubtitleBuffer;
    if (buffer.empty()) buffer.resize(1048576);
    const AVRational us{1, 1000000};
    const bool dvb = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
    for (int pass = 0; pass < (dvb ? 2 : 1); ++pass) {
        sub->pts = lib().av_rescale_q(pts, ist.Stream->time_base, us) +
                   int64_t(sub->start_display_time) * 1000;
        sub->end_display_time -= sub->start_display_time;
        sub->start_display_time = 0;
        const int size =
            lib().avcodec_encode_subtitle(enc, buffer.data(), static_cast<int>(buffer.size()), sub);
        if (size < 0) throw FFmpegException("Subtitle encoding failed");
        AVPacket* pkt = FOutPacket.get();
        if (lib().av_new_packet(pkt, size) < 0) throw FFmpegException("Subtitle encoding failed");
        std::memcpy(pkt->data, buffer.data(), size);
        pkt->stream_index = ost.StreamIndex;
        pkt->pts = lib().av_rescale_q(sub->pts, us, ost.Stream->time_base);
        if (dvb) pkt->pts += 90 * (pass == 0 ? sub->start_display_time : sub->end_display_time);
        pkt->dts = pkt->pts;
        // How long the text shows: without it a muxer shows it until the next.
        pkt->duration =
            lib().av_rescale_q(sub->end_display_time, AVRational{1, 1000}, ost.Stream->time_base);
        FWriter.WritePacket(FTables.Output(ost.FileIndex), pkt, enc, ost.BitstreamFilters);
        lib().av_packet_unref(pkt);
    }
}

}  // namespace tw
