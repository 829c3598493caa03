// tests/support/Remux.cpp — moving a clip's audio in time.
#include "tests/support/Remux.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace tw::test {

bool Remux(const std::string& src, const std::string& dst, const RemuxChanges& changes) {
    AVFormatContext* in = nullptr;
    if (avformat_open_input(&in, src.c_str(), nullptr, nullptr) != 0) return false;
    AVFormatContext* out = nullptr;
    bool ok =
        avformat_find_stream_info(in, nullptr) >= 0 &&
        avformat_alloc_output_context2(&out, nullptr, changes.format.c_str(), dst.c_str()) >= 0;
    for (unsigned i = 0; ok && i < in->nb_streams; ++i) {
        AVStream* st = avformat_new_stream(out, nullptr);
        ok = st && avcodec_parameters_copy(st->codecpar, in->streams[i]->codecpar) >= 0;
        if (!ok) break;
        st->codecpar->codec_tag = 0;
        st->time_base = in->streams[i]->time_base;
    }
    ok = ok && avio_open(&out->pb, dst.c_str(), AVIO_FLAG_WRITE) >= 0 &&
         avformat_write_header(out, nullptr) >= 0;
    AVPacket* pkt = av_packet_alloc();
    long videoPackets = 0;
    while (ok && pkt && av_read_frame(in, pkt) >= 0) {
        AVStream* ist = in->streams[pkt->stream_index];
        if (ist->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && changes.dropVideoEvery > 1 &&
            ++videoPackets % changes.dropVideoEvery == 0) {
            av_packet_unref(pkt);
            continue;
        }
        if (ist->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            const int64_t shift = av_rescale_q(static_cast<int64_t>(changes.audioLate * 1000000),
                                               AVRational{1, 1000000}, ist->time_base);
            if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += shift;
            if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += shift;
        }
        av_packet_rescale_ts(pkt, ist->time_base, out->streams[pkt->stream_index]->time_base);
        ok = av_interleaved_write_frame(out, pkt) >= 0;
    }
    av_packet_free(&pkt);
    if (ok) ok = av_write_trailer(out) >= 0;
    if (out) {
        avio_closep(&out->pb);
        avformat_free_context(out);
    }
    avformat_close_input(&in);
    return ok;
}

}  // namespace tw::test
