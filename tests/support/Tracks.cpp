// tests/support/Tracks.cpp — streams, packet times and tones read back.
#include "tests/support/Tracks.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace tw::test {

namespace {

struct Input {
    AVFormatContext* ic = nullptr;
    explicit Input(const std::string& path) {
        if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) ic = nullptr;
        if (ic && avformat_find_stream_info(ic, nullptr) < 0) avformat_close_input(&ic);
    }
    ~Input() { avformat_close_input(&ic); }
};

}  // namespace

std::vector<TrackRead> ReadTracks(const std::string& path) {
    std::vector<TrackRead> tracks;
    Input in(path);
    if (!in.ic) return tracks;
    for (unsigned i = 0; i < in.ic->nb_streams; ++i) {
        const AVStream* st = in.ic->streams[i];
        TrackRead t;
        const char* type = av_get_media_type_string(st->codecpar->codec_type);
        t.type = type ? type : "unknown";
        t.codec = avcodec_get_name(st->codecpar->codec_id);
        if (const AVDictionaryEntry* e = av_dict_get(st->metadata, "language", nullptr, 0))
            t.language = e->value;
        t.attachedPic = (st->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
        tracks.push_back(t);
    }
    AVPacket* pkt = av_packet_alloc();
    while (pkt && av_read_frame(in.ic, pkt) >= 0) {
        const AVStream* st = in.ic->streams[pkt->stream_index];
        if (!(pkt->flags & AV_PKT_FLAG_DISCARD) && pkt->pts != AV_NOPTS_VALUE)
            tracks[pkt->stream_index].times.push_back(pkt->pts * av_q2d(st->time_base));
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    return tracks;
}

double ToneHz(const std::string& path, int streamIndex, double from, double to) {
    Input in(path);
    if (!in.ic || streamIndex < 0 || unsigned(streamIndex) >= in.ic->nb_streams) return 0;
    const AVStream* st = in.ic->streams[streamIndex];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    AVCodecContext* dec = avcodec_alloc_context3(codec);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    long long crossings = 0, samples = 0;
    float last = 0;
    if (codec && dec && pkt && frame && avcodec_parameters_to_context(dec, st->codecpar) >= 0 &&
        avcodec_open2(dec, codec, nullptr) >= 0) {
        while (av_read_frame(in.ic, pkt) >= 0) {
            const bool mine = pkt->stream_index == streamIndex;
            const double t = pkt->pts == AV_NOPTS_VALUE ? -1 : pkt->pts * av_q2d(st->time_base);
            if (mine && t >= from && t < to && avcodec_send_packet(dec, pkt) >= 0) {
                while (avcodec_receive_frame(dec, frame) >= 0) {
                    // AAC and MP3 decode to planar floats.
                    if (frame->format != AV_SAMPLE_FMT_FLTP) continue;
                    const float* s = reinterpret_cast<const float*>(frame->extended_data[0]);
                    for (int n = 0; n < frame->nb_samples; ++n) {
                        if (last < 0 && s[n] >= 0) ++crossings;
                        last = s[n];
                    }
                    samples += frame->nb_samples;
                }
            }
            av_packet_unref(pkt);
        }
    }
    const int rate = dec ? dec->sample_rate : 0;
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
    return samples > 0 && rate > 0 ? double(crossings) * rate / double(samples) : 0;
}

}  // namespace tw::test
