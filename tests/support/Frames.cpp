// tests/support/Frames.cpp — decoding one picture for the tests.
#include "tests/support/Frames.h"

#include <algorithm>
#include <cmath>
#include <functional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace tw::test {

double Picture::MeanY(int x0, int y0, int x1, int y1) const {
    x0 = std::clamp(x0, 0, width);
    x1 = std::clamp(x1, 0, width);
    y0 = std::clamp(y0, 0, height);
    y1 = std::clamp(y1, 0, height);
    double sum = 0;
    long n = 0;
    for (int r = y0; r < y1; ++r)
        for (int c = x0; c < x1; ++c, ++n) sum += y[size_t(r) * width + c];
    return n ? sum / n : -1;
}

bool Picture::Black(int x, int yy) const {
    const size_t i = size_t(yy) * width + x;
    return y[i] < 30 && std::abs(u[i] - 128) < 8 && std::abs(v[i] - 128) < 8;
}

double Picture::BlackColumn(int x) const {
    int n = 0;
    for (int r = 0; r < height; ++r) n += Black(x, r);
    return height ? double(n) / height : 0;
}

double Picture::BlackRow(int yy) const {
    int n = 0;
    for (int c = 0; c < width; ++c) n += Black(c, yy);
    return width ? double(n) / width : 0;
}

namespace {

Picture Convert(const AVFrame* f) {
    Picture p;
    p.width = f->width;
    p.height = f->height;
    const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(f->format));
    p.pixFmt = name ? name : "";
    p.sarNum = f->sample_aspect_ratio.num;
    p.sarDen = f->sample_aspect_ratio.den ? f->sample_aspect_ratio.den : 1;
    const size_t n = size_t(f->width) * f->height;
    p.y.resize(n);
    p.u.resize(n);
    p.v.resize(n);
    SwsContext* sws =
        sws_getContext(f->width, f->height, static_cast<AVPixelFormat>(f->format), f->width,
                       f->height, AV_PIX_FMT_YUV444P, SWS_POINT, nullptr, nullptr, nullptr);
    if (!sws) return {};
    uint8_t* dst[4] = {p.y.data(), p.u.data(), p.v.data(), nullptr};
    int lines[4] = {f->width, f->width, f->width, 0};
    sws_scale(sws, f->data, f->linesize, 0, f->height, dst, lines);
    sws_freeContext(sws);
    return p;
}

// Decodes the file's first stream of the type, frame by frame in
// presentation order, until take returns false or the stream ends.
void ForEachFrame(const std::string& path, AVMediaType type,
                  const std::function<bool(const AVFrame*, const AVStream*)>& take) {
    AVFormatContext* ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) return;
    const int idx = avformat_find_stream_info(ic, nullptr) >= 0
                        ? av_find_best_stream(ic, type, -1, -1, nullptr, 0)
                        : -1;
    AVCodecContext* dec = nullptr;
    if (idx >= 0) {
        const AVCodec* codec = avcodec_find_decoder(ic->streams[idx]->codecpar->codec_id);
        dec = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(dec, ic->streams[idx]->codecpar);
        if (avcodec_open2(dec, codec, nullptr) < 0) avcodec_free_context(&dec);
    }
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool more = true;
    auto drain = [&] {
        while (more && avcodec_receive_frame(dec, frame) >= 0) {
            more = take(frame, ic->streams[idx]);
            av_frame_unref(frame);
        }
    };
    while (dec && more && av_read_frame(ic, pkt) >= 0) {
        if (pkt->stream_index == idx && avcodec_send_packet(dec, pkt) >= 0) drain();
        av_packet_unref(pkt);
    }
    if (dec && more) {
        avcodec_send_packet(dec, nullptr);
        drain();
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
    avformat_close_input(&ic);
}

}  // namespace

Picture DecodePicture(const std::string& path, int index) {
    Picture out;
    int seen = 0;
    ForEachFrame(path, AVMEDIA_TYPE_VIDEO, [&](const AVFrame* frame, const AVStream*) {
        if (seen++ < index) return true;
        out = Convert(frame);
        return false;
    });
    return out;
}

double Samples::Rms(double t0, double t1) const {
    if (rate <= 0) return -1;
    const long a = std::max(0L, static_cast<long>((t0 - start) * rate));
    const long b =
        std::min(static_cast<long>(values.size()), static_cast<long>((t1 - start) * rate));
    if (b <= a) return -1;
    double sum = 0;
    for (long i = a; i < b; ++i) sum += double(values[i]) * values[i];
    return std::sqrt(sum / double(b - a));
}

namespace {

float SampleAt(const AVFrame* f, int i) {
    const auto fmt = static_cast<AVSampleFormat>(f->format);
    const bool planar = av_sample_fmt_is_planar(fmt);
    const int slot = planar ? i : i * f->ch_layout.nb_channels;
    const uint8_t* d = f->extended_data[0];
    switch (av_get_packed_sample_fmt(fmt)) {
        case AV_SAMPLE_FMT_U8:
            return (d[slot] - 128) / 128.0f;
        case AV_SAMPLE_FMT_S16:
            return reinterpret_cast<const int16_t*>(d)[slot] / 32768.0f;
        case AV_SAMPLE_FMT_S32:
            return reinterpret_cast<const int32_t*>(d)[slot] / 2147483648.0f;
        case AV_SAMPLE_FMT_FLT:
            return reinterpret_cast<const float*>(d)[slot];
        case AV_SAMPLE_FMT_DBL:
            return static_cast<float>(reinterpret_cast<const double*>(d)[slot]);
        default:
            return 0;
    }
}

}  // namespace

Samples DecodeSamples(const std::string& path) {
    Samples out;
    bool first = true;
    ForEachFrame(path, AVMEDIA_TYPE_AUDIO, [&](const AVFrame* frame, const AVStream* st) {
        if (first) {
            const int64_t t = frame->best_effort_timestamp;
            out.start = t == AV_NOPTS_VALUE ? 0 : t * av_q2d(st->time_base);
            out.rate = frame->sample_rate;
            first = false;
        }
        for (int i = 0; i < frame->nb_samples; ++i) out.values.push_back(SampleAt(frame, i));
        return true;
    });
    return out;
}

std::optional<double> DisplayRotation(const std::string& path) {
    AVFormatContext* ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) return std::nullopt;
    std::optional<double> out;
    const int idx = avformat_find_stream_info(ic, nullptr) >= 0
                        ? av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0)
                        : -1;
    if (idx >= 0) {
        size_t size = 0;
        const uint8_t* sd =
            av_stream_get_side_data(ic->streams[idx], AV_PKT_DATA_DISPLAYMATRIX, &size);
        if (sd && size >= 9 * sizeof(int32_t))
            out = av_display_rotation_get(reinterpret_cast<const int32_t*>(sd));
    }
    avformat_close_input(&ic);
    return out;
}

}  // namespace tw::test
