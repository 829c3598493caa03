// tests/support/JoinCheck.cpp — splitting a joined file into its sources.
#include "tests/support/JoinCheck.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace tw::test {
namespace {

struct Packet {
    double pts = 0, end = 0;
    bool key = false;
};

struct StreamRead {
    std::vector<Packet> packets;  // in file order, discarded ones left out
    bool dtsIncreasing = true;
    int decodeErrors = 0;
    int64_t frames = 0;
    double frameDuration = 0;
    std::vector<int> formats;  // sample rates or widths, as they change
};

struct FileRead {
    std::string error;
    StreamRead video, audio;
};

FileRead Read(const std::string& path, bool decode) {
    FileRead r;
    AVFormatContext* ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) {
        r.error = "cannot open " + path;
        return r;
    }
    avformat_find_stream_info(ic, nullptr);
    const int vi = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int ai = av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    AVCodecContext* dec[2] = {nullptr, nullptr};
    const int index[2] = {vi, ai};
    StreamRead* out[2] = {&r.video, &r.audio};
    int64_t lastDts[2] = {AV_NOPTS_VALUE, AV_NOPTS_VALUE};
    for (int k = 0; k < 2; ++k) {
        if (index[k] < 0 || !decode) continue;
        const AVCodecParameters* par = ic->streams[index[k]]->codecpar;
        const AVCodec* codec = avcodec_find_decoder(par->codec_id);
        dec[k] = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(dec[k], par);
        dec[k]->pkt_timebase = ic->streams[index[k]]->time_base;
        if (avcodec_open2(dec[k], codec, nullptr) < 0) avcodec_free_context(&dec[k]);
    }
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&](int k) {
        while (true) {
            const int ret = avcodec_receive_frame(dec[k], frame);
            if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
            if (ret < 0) {
                ++out[k]->decodeErrors;
                break;
            }
            ++out[k]->frames;
            const int format = k == 0 ? frame->width : frame->sample_rate;
            if (out[k]->formats.empty() || out[k]->formats.back() != format)
                out[k]->formats.push_back(format);
        }
    };
    while (av_read_frame(ic, pkt) >= 0) {
        for (int k = 0; k < 2; ++k) {
            if (pkt->stream_index != index[k]) continue;
            const AVRational tb = ic->streams[index[k]]->time_base;
            if (pkt->dts != AV_NOPTS_VALUE) {
                if (lastDts[k] != AV_NOPTS_VALUE && pkt->dts <= lastDts[k])
                    out[k]->dtsIncreasing = false;
                lastDts[k] = pkt->dts;
            }
            if (dec[k]) {
                if (avcodec_send_packet(dec[k], pkt) < 0) ++out[k]->decodeErrors;
                drain(k);
            }
            if ((pkt->flags & AV_PKT_FLAG_DISCARD) || pkt->pts == AV_NOPTS_VALUE) continue;
            Packet p;
            p.pts = pkt->pts * av_q2d(tb);
            p.end = (pkt->pts + pkt->duration) * av_q2d(tb);
            p.key = pkt->flags & AV_PKT_FLAG_KEY;
            if (pkt->duration > 0 && out[k]->frameDuration == 0)
                out[k]->frameDuration = pkt->duration * av_q2d(tb);
            out[k]->packets.push_back(p);
        }
        av_packet_unref(pkt);
    }
    for (int k = 0; k < 2; ++k) {
        if (!dec[k]) continue;
        avcodec_send_packet(dec[k], nullptr);
        drain(k);
        avcodec_free_context(&dec[k]);
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avformat_close_input(&ic);
    return r;
}

double FirstPts(const StreamRead& s) {
    double t = 1e100;
    for (const Packet& p : s.packets) t = std::min(t, p.pts);
    return t;
}

double End(const StreamRead& s) {
    double t = -1e100;
    for (const Packet& p : s.packets) t = std::max(t, std::max(p.end, p.pts));
    return t;
}

}  // namespace

JoinCheck CheckJoin(const std::string& output, const std::vector<std::string>& sources) {
    JoinCheck c;
    const FileRead o = Read(output, true);
    if (!o.error.empty()) {
        c.error = o.error;
        return c;
    }
    c.videoDtsIncreasing = o.video.dtsIncreasing;
    c.audioDtsIncreasing = o.audio.dtsIncreasing;
    c.videoDecodeErrors = o.video.decodeErrors;
    c.audioDecodeErrors = o.audio.decodeErrors;
    c.videoFrames = o.video.frames;
    c.videoWidths = o.video.formats;
    c.audioRates = o.audio.formats;
    c.videoPackets = static_cast<int64_t>(o.video.packets.size());
    c.audioPackets = static_cast<int64_t>(o.audio.packets.size());
    std::vector<FileRead> src;
    for (const std::string& s : sources) {
        src.push_back(Read(s, false));
        if (!src.back().error.empty()) {
            c.error = src.back().error;
            return c;
        }
    }
    if (src.empty() || o.video.packets.empty()) {
        c.error = "no video";
        return c;
    }
    c.videoFrameDuration = src[0].video.frameDuration;
    c.audioFrameDuration = src[0].audio.frameDuration;
    // Part k starts with the first key picture at or after where part k-1's
    // pictures end (less half a frame).
    std::vector<double> starts;
    double expected = FirstPts(o.video);
    for (size_t k = 0; k < src.size(); ++k) {
        double start = 1e100;
        for (const Packet& p : o.video.packets)
            if (p.key && p.pts >= expected - c.videoFrameDuration / 2)
                start = std::min(start, p.pts);
        starts.push_back(start);
        expected = start + End(src[k].video) - FirstPts(src[k].video);
    }
    starts.push_back(1e100);
    double previousVideoEnd = 0, previousAudioEnd = 0;
    for (size_t k = 0; k < src.size(); ++k) {
        JoinPart part;
        const StreamRead& sv = src[k].video;
        const StreamRead& sa = src[k].audio;
        part.sourceVideoPackets = static_cast<int64_t>(sv.packets.size());
        part.sourceAudioPackets = static_cast<int64_t>(sa.packets.size());
        part.videoStart = starts[k];
        part.sourceAvOffset = sa.packets.empty() ? 0 : FirstPts(sa) - FirstPts(sv);
        // Joined parts do not overlap: a part's audio runs up to where the
        // next part's audio begins (output times are whole milliseconds).
        const double tolerance = 0.002;
        const double audioFrom = starts[k] + part.sourceAvOffset - tolerance;
        const double nextOffset = k + 1 < src.size() && !src[k + 1].audio.packets.empty()
                                      ? FirstPts(src[k + 1].audio) - FirstPts(src[k + 1].video)
                                      : 0;
        const double audioTo = starts[k + 1] + nextOffset - tolerance;
        double firstAudio = 1e100, lastAudioEnd = -1e100, lastVideoEnd = -1e100;
        for (const Packet& p : o.video.packets)
            if (p.pts >= starts[k] - 1e-6 && p.pts < starts[k + 1] - 1e-6) {
                ++part.videoPackets;
                lastVideoEnd = std::max(lastVideoEnd, p.pts + c.videoFrameDuration);
            }
        for (const Packet& p : o.audio.packets)
            if (p.pts >= audioFrom && p.pts < audioTo) {
                ++part.audioPackets;
                firstAudio = std::min(firstAudio, p.pts);
                lastAudioEnd = std::max(lastAudioEnd, std::max(p.end, p.pts));
            }
        part.avOffset = firstAudio - starts[k];
        if (k > 0) {
            part.videoGap = starts[k] - previousVideoEnd;
            part.audioGap = firstAudio - previousAudioEnd;
            part.gap =
                std::min(starts[k], firstAudio) - std::max(previousVideoEnd, previousAudioEnd);
        }
        previousVideoEnd = lastVideoEnd;
        previousAudioEnd = lastAudioEnd;
        c.parts.push_back(part);
    }
    return c;
}

}  // namespace tw::test
