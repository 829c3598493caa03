// probe/MergeCheck.cpp — reading a merged file back before its sources go.
#include "probe/MergeCheck.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "app/Messages.h"
#include "binding/Entries.h"
#include "probe/FFDecode.h"
#include "transcoder/StreamTables.h"
#include "transcoder/Transcoder.h"

namespace tw {

namespace {

constexpr int64_t kUs = 1000000;
constexpr int64_t kJoinWindow = 2 * kUs;  // decoded on each side of a join
constexpr int64_t kNoTime = std::numeric_limits<int64_t>::min();

// What reading one stream of the merged file found.
struct TStreamRead {
    AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
    int64_t First = kNoTime, End = kNoTime;  // µs
    CodecContextPtr Decoder;
    bool Decoding = false;  // inside a join's window
    int Errors = 0;
    int64_t FirstErrorAt = kNoTime;
};

std::string Seconds(int64_t us) {
    char b[32];
    std::snprintf(b, sizeof b, "%.2f", double(us) / kUs);
    return TrF("{1} 秒", {b});
}

// The join whose window holds t, or -1.
int WindowAt(const std::vector<int64_t>& joins, int64_t t, int64_t before) {
    for (size_t k = 0; k < joins.size(); ++k)
        if (t >= joins[k] - before && t <= joins[k] + kJoinWindow) return static_cast<int>(k);
    return -1;
}

void Decode(TStreamRead& s, const AVPacket* pkt, AVFrame* frame, int64_t t) {
    const int sent = lib().avcodec_send_packet(s.Decoder.get(), pkt);
    bool bad = sent < 0 && sent != AVERROR(EAGAIN);
    while (true) {
        const int got = lib().avcodec_receive_frame(s.Decoder.get(), frame);
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

}  // namespace

bool VerifyMerge(const std::vector<TSourceFacts>& sources, const std::string& output, bool fast,
                 std::string& why) {
    bool wantVideo = false, wantAudio = false;
    int64_t sum = 0;
    std::vector<int64_t> joins;
    for (size_t i = 0; i < sources.size(); ++i) {
        const TSourceFacts& s = sources[i];
        if (s.Duration < 0) {
            why = TrF("{1}：时长未知", {s.File});
            return false;
        }
        if (i > 0) joins.push_back(sum);
        sum += s.Duration;
        wantVideo |= s.HasVideo;
        wantAudio |= s.HasAudio;
    }
    if (fast && !sources.empty()) {
        wantVideo = sources[0].HasVideo;
        wantAudio = sources[0].HasAudio;
    }

    TFFDecoder probe;
    if (!probe.LoadFile(output) || !probe.FormatContext()) {
        why = probe.LastError;
        return false;
    }
    AVFormatContext* ic = probe.FormatContext();
    std::vector<TStreamRead> streams(ic->nb_streams);
    bool hasVideo = false, hasAudio = false;
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVCodecParameters* par = ic->streams[i]->codecpar;
        TStreamRead& s = streams[i];
        s.Type = par->codec_type;
        // Cover art is a still picture beside the media: no length to check.
        if (ic->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC)
            s.Type = AVMEDIA_TYPE_UNKNOWN;
        hasVideo |= s.Type == AVMEDIA_TYPE_VIDEO;
        hasAudio |= s.Type == AVMEDIA_TYPE_AUDIO;
        if (s.Type != AVMEDIA_TYPE_VIDEO && s.Type != AVMEDIA_TYPE_AUDIO) continue;
        const AVCodec* codec = lib().avcodec_find_decoder(par->codec_id);
        if (!codec) continue;
        s.Decoder.reset(lib().avcodec_alloc_context3(codec));
        if (!s.Decoder || lib().avcodec_parameters_to_context(s.Decoder.get(), par) < 0) {
            why = TrF("{1}：无法解码", {output});
            return false;
        }
        // Damage the decoder would hide must count.
        s.Decoder->err_recognition |= AV_EF_EXPLODE;
        s.Decoder->thread_count = 1;
        if (lib().avcodec_open2(s.Decoder.get(), codec, nullptr) < 0) s.Decoder.reset();
    }
    if (hasVideo != wantVideo || hasAudio != wantAudio) {
        why = TrF(wantAudio && !hasAudio   ? NoTr("{1}：缺少音频")
                  : wantVideo && !hasVideo ? NoTr("{1}：缺少视频")
                                           : NoTr("{1}：流的组成与源文件不同"),
                  {output});
        return false;
    }
    // The pictures must be shown turned as the sources were: a fast merge
    // carries their display matrix, a re-encoding turned them upright.
    const int turned = SurveySource(ic, output).Rotation;
    const int expected = fast && !sources.empty() ? sources[0].Rotation : 0;
    if (hasVideo && turned != expected) {
        why = TrF("{1}：画面旋转 {2}°，与源文件的 {3}° 不同",
                  {output, std::to_string(turned), std::to_string(expected)});
        return false;
    }
    if (fast) {
        std::string file;
        const std::string d = EncodingDifference(sources, file);
        if (!d.empty()) {
            why = TrF("{1}：编码与第一个文件不同（{2}）", {file, d});
            return false;
        }
    }

    PacketPtr pkt(lib().av_packet_alloc());
    FramePtr frame(lib().av_frame_alloc());
    if (!pkt || !frame) {
        why = Tr("内存不足");
        return false;
    }
    int ret;
    while ((ret = lib().av_read_frame(ic, pkt.get())) >= 0) {
        const unsigned idx = static_cast<unsigned>(pkt->stream_index);
        if (idx < streams.size()) {
            TStreamRead& s = streams[idx];
            const AVRational tb = ic->streams[idx]->time_base;
            const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
            if (ts != AV_NOPTS_VALUE) {
                const int64_t t = lib().av_rescale_q(ts, tb, AVRational{1, int(kUs)});
                const int64_t end = t + lib().av_rescale_q(std::max<int64_t>(pkt->duration, 0), tb,
                                                           AVRational{1, int(kUs)});
                if (s.First == kNoTime || t < s.First) s.First = t;
                if (s.End == kNoTime || end > s.End) s.End = end;
                if (s.Decoder) {
                    // A picture decodes only from a key frame on: the window
                    // of a video stream opens at a key frame.
                    const bool video = s.Type == AVMEDIA_TYPE_VIDEO;
                    const int64_t before = video ? kJoinWindow + kUs : kJoinWindow;
                    const bool inside = WindowAt(joins, t - s.First, before) >= 0;
                    if (!inside && s.Decoding) {
                        lib().avcodec_flush_buffers(s.Decoder.get());
                        s.Decoding = false;
                    } else if (inside && !s.Decoding &&
                               (!video || (pkt->flags & AV_PKT_FLAG_KEY))) {
                        s.Decoding = true;
                    }
                    if (s.Decoding) Decode(s, pkt.get(), frame.get(), t);
                }
            }
        }
        lib().av_packet_unref(pkt.get());
    }
    if (ret != AVERROR_EOF) {
        why = TrF("{1}：读取出错", {output});
        return false;
    }
    for (TStreamRead& s : streams) {
        if (s.Type != AVMEDIA_TYPE_VIDEO && s.Type != AVMEDIA_TYPE_AUDIO) continue;
        const int64_t length = s.First == kNoTime ? 0 : s.End - s.First;
        if (std::llabs(length - sum) > kUs) {
            why = TrF(s.Type == AVMEDIA_TYPE_VIDEO
                          ? NoTr("{1}：视频时长 {2}，与源文件的总时长 {3} 不符")
                          : NoTr("{1}：音频时长 {2}，与源文件的总时长 {3} 不符"),
                      {output, Seconds(length), Seconds(sum)});
            return false;
        }
        if (s.Errors > 0) {
            why = TrF(s.Type == AVMEDIA_TYPE_VIDEO ? NoTr("{1}：视频在 {2} 处的衔接无法正常解码")
                                                   : NoTr("{1}：音频在 {2} 处的衔接无法正常解码"),
                      {output, Seconds(s.FirstErrorAt - s.First)});
            return false;
        }
    }
    return true;
}

}  // namespace tw
