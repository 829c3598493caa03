// probe/MergeCheck.cpp — reading a merged file back before its sources go.
#include "probe/MergeCheck.h"

#include <algorithm>

#include "binding/Entries.h"
#include "media/SourceSurvey.h"

namespace tw {

namespace {

constexpr int64_t kUs = 1000000;
constexpr int64_t kJoinWindow = 2 * kUs;  // decoded on each side of a join

// The join whose window holds t, or -1.
int WindowAt(const std::vector<int64_t>& joins, int64_t t, int64_t before) {
    for (size_t k = 0; k < joins.size(); ++k)
        if (t >= joins[k] - before && t <= joins[k] + kJoinWindow) return static_cast<int>(k);
    return -1;
}

}  // namespace

bool TMergedFileReader::Open(const std::string& file, std::string& why) {
    why.clear();
    if (!FProbe.LoadFile(file) || !FProbe.FormatContext()) {
        why = FProbe.LastError;
        return false;
    }
    AVFormatContext* ic = FProbe.FormatContext();
    FStreams.assign(ic->nb_streams, TMergedStream{});
    FDecoding.clear();
    FDecoding.resize(ic->nb_streams);
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVCodecParameters* par = ic->streams[i]->codecpar;
        TMergedStream& s = FStreams[i];
        s.Type = par->codec_type;
        // Cover art is a still picture beside the media: no length to check.
        if (ic->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC)
            s.Type = AVMEDIA_TYPE_UNKNOWN;
        if (s.Type != AVMEDIA_TYPE_VIDEO && s.Type != AVMEDIA_TYPE_AUDIO)
            s.Type = AVMEDIA_TYPE_UNKNOWN;
        FHasVideo |= s.Type == AVMEDIA_TYPE_VIDEO;
        FHasAudio |= s.Type == AVMEDIA_TYPE_AUDIO;
        if (s.Type == AVMEDIA_TYPE_UNKNOWN) continue;
        const AVCodec* codec = lib().avcodec_find_decoder(par->codec_id);
        if (!codec) continue;
        CodecContextPtr& dec = FDecoding[i].Decoder;
        dec.reset(lib().avcodec_alloc_context3(codec));
        if (!dec || lib().avcodec_parameters_to_context(dec.get(), par) < 0) return false;
        // Damage the decoder would hide must count.
        dec->err_recognition |= AV_EF_EXPLODE;
        dec->thread_count = 1;
        if (lib().avcodec_open2(dec.get(), codec, nullptr) < 0) dec.reset();
    }
    return true;
}

int TMergedFileReader::Rotation() const {
    return SurveySource(FProbe.FormatContext(), "").Rotation;
}

void TMergedFileReader::Decode(TMergedStream& s, TDecoding& d, const AVPacket* pkt, AVFrame* frame,
                               int64_t t) {
    const int sent = lib().avcodec_send_packet(d.Decoder.get(), pkt);
    bool bad = sent < 0 && sent != AVERROR(EAGAIN);
    while (true) {
        const int got = lib().avcodec_receive_frame(d.Decoder.get(), frame);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) break;
        if (got < 0) {
            bad = true;
            break;
        }
        if (frame->decode_error_flags || (frame->flags & AV_FRAME_FLAG_CORRUPT)) bad = true;
        lib().av_frame_unref(frame);
    }
    if (bad) {
        if (s.Errors == 0) s.FirstErrorAt = t;
        ++s.Errors;
    }
}

TMergedFileReader::TRead TMergedFileReader::ReadThrough(const std::vector<int64_t>& joins) {
    AVFormatContext* ic = FProbe.FormatContext();
    if (!ic) return TRead::ReadError;
    PacketPtr pkt(lib().av_packet_alloc());
    FramePtr frame(lib().av_frame_alloc());
    if (!pkt || !frame) return TRead::OutOfMemory;
    const AVRational us{1, int(kUs)};
    int ret;
    while ((ret = lib().av_read_frame(ic, pkt.get())) >= 0) {
        const unsigned idx = static_cast<unsigned>(pkt->stream_index);
        const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        if (idx < FStreams.size() && ts != AV_NOPTS_VALUE) {
            TMergedStream& s = FStreams[idx];
            TDecoding& d = FDecoding[idx];
            const AVRational tb = ic->streams[idx]->time_base;
            const int64_t t = lib().av_rescale_q(ts, tb, us);
            const int64_t end = t + lib().av_rescale_q(std::max<int64_t>(pkt->duration, 0), tb, us);
            if (s.First == TMergedStream::kNoTime || t < s.First) s.First = t;
            if (s.End == TMergedStream::kNoTime || end > s.End) s.End = end;
            if (d.Decoder) {
                // A picture decodes only from a key frame on: the window of
                // a video stream opens at a key frame.
                const bool video = s.Type == AVMEDIA_TYPE_VIDEO;
                const int64_t before = video ? kJoinWindow + kUs : kJoinWindow;
                const bool inside = WindowAt(joins, t - s.First, before) >= 0;
                if (!inside && d.Inside) {
                    lib().avcodec_flush_buffers(d.Decoder.get());
                    d.Inside = false;
                } else if (inside && !d.Inside && (!video || (pkt->flags & AV_PKT_FLAG_KEY))) {
                    d.Inside = true;
                }
                if (d.Inside) Decode(s, d, pkt.get(), frame.get(), t);
            }
        }
        lib().av_packet_unref(pkt.get());
    }
    return ret == AVERROR_EOF ? TRead::Done : TRead::ReadError;
}

}  // namespace tw
