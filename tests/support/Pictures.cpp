// tests/support/Pictures.cpp — decoding pictures for the tests.
#include "tests/support/Pictures.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace tw::test {

std::vector<double> MeanLumas(const std::string& path, int maxFrames) {
    std::vector<double> out;
    AVFormatContext* ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) return out;
    AVCodecContext* dec = nullptr;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const int idx = avformat_find_stream_info(ic, nullptr) >= 0
                        ? av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0)
                        : -1;
    if (idx >= 0) {
        const AVCodec* codec = avcodec_find_decoder(ic->streams[idx]->codecpar->codec_id);
        dec = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(dec, ic->streams[idx]->codecpar);
        if (avcodec_open2(dec, codec, nullptr) < 0) avcodec_free_context(&dec);
    }
    auto take = [&] {
        while (static_cast<int>(out.size()) < maxFrames && avcodec_receive_frame(dec, frame) >= 0) {
            double sum = 0;
            for (int y = 0; y < frame->height; ++y)
                for (int x = 0; x < frame->width; ++x)
                    sum += frame->data[0][y * frame->linesize[0] + x];
            out.push_back(sum / (double(frame->width) * frame->height));
            av_frame_unref(frame);
        }
    };
    while (dec && static_cast<int>(out.size()) < maxFrames && av_read_frame(ic, pkt) >= 0) {
        if (pkt->stream_index == idx && avcodec_send_packet(dec, pkt) >= 0) take();
        av_packet_unref(pkt);
    }
    if (dec) {
        avcodec_send_packet(dec, nullptr);
        take();
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
    avformat_close_input(&ic);
    return out;
}

std::vector<double> PacketTimes(const std::string& path, const std::string& type) {
    std::vector<double> out;
    AVFormatContext* ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) return out;
    const AVMediaType want = type == "audio" ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO;
    const int idx = avformat_find_stream_info(ic, nullptr) >= 0
                        ? av_find_best_stream(ic, want, -1, -1, nullptr, 0)
                        : -1;
    AVPacket* pkt = av_packet_alloc();
    while (idx >= 0 && av_read_frame(ic, pkt) >= 0) {
        if (pkt->stream_index == idx && pkt->pts != AV_NOPTS_VALUE)
            out.push_back(pkt->pts * av_q2d(ic->streams[idx]->time_base));
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&ic);
    return out;
}

double FirstAtOrAfter(const std::vector<double>& times, double t, double slack) {
    double best = -1;
    for (double x : times)
        if (x >= t - slack && (best < 0 || x < best)) best = x;
    return best;
}

}  // namespace tw::test
