// bench/reencode_floor.cpp — the floor of a re-encoding merge: the same
// inputs only decoded, and the same number of pictures and samples only
// encoded with the merge's settings.
//   reencode_floor decode|encode THREADS INPUT...
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "binding/Entries.h"
#include "binding/FFLoad.h"
#include "binding/LockManager.h"
#include "diag/FFLog.h"
#include "transcoder/CustomFFmpeg.h"

using namespace tw;

namespace {

struct Counts {
    int64_t Pictures = 0, Samples = 0;
    int Width = 0, Height = 0;
    // With Keep set, the decoded pictures and sound, for the encode run.
    bool Keep = false;
    std::vector<AVFrame*> Video, Audio;
};

// Decodes every audio and video packet of the input; counts what came out.
bool DecodeAll(const char* path, int threads, Counts& c) {
    AVFormatContext* ic = nullptr;
    if (lib().avformat_open_input(&ic, path, nullptr, nullptr) < 0) return false;
    lib().avformat_find_stream_info(ic, nullptr);
    std::vector<AVCodecContext*> dec(ic->nb_streams, nullptr);
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVCodecParameters* par = ic->streams[i]->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_AUDIO && par->codec_type != AVMEDIA_TYPE_VIDEO)
            continue;
        const AVCodec* codec = lib().avcodec_find_decoder(par->codec_id);
        dec[i] = lib().avcodec_alloc_context3(codec);
        lib().avcodec_parameters_to_context(dec[i], par);
        dec[i]->thread_count = threads;
        lib().avcodec_open2(dec[i], codec, nullptr);
        if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
            c.Width = par->width;
            c.Height = par->height;
        }
    }
    AVPacket* pkt = lib().av_packet_alloc();
    AVFrame* frame = lib().av_frame_alloc();
    auto drain = [&](AVCodecContext* d) {
        while (lib().avcodec_receive_frame(d, frame) >= 0) {
            if (d->codec_type == AVMEDIA_TYPE_VIDEO)
                ++c.Pictures;
            else
                c.Samples += frame->nb_samples;
            if (c.Keep)
                (d->codec_type == AVMEDIA_TYPE_VIDEO ? c.Video : c.Audio)
                    .push_back(lib().av_frame_clone(frame));
            lib().av_frame_unref(frame);
        }
    };
    while (lib().av_read_frame(ic, pkt) >= 0) {
        if (AVCodecContext* d = dec[pkt->stream_index]) {
            lib().avcodec_send_packet(d, pkt);
            drain(d);
        }
        lib().av_packet_unref(pkt);
    }
    for (AVCodecContext* d : dec)
        if (d) {
            lib().avcodec_send_packet(d, nullptr);
            drain(d);
            lib().avcodec_free_context(&d);
        }
    lib().av_frame_free(&frame);
    lib().av_packet_free(&pkt);
    lib().avformat_close_input(&ic);
    return true;
}

// Encodes that many pictures (a moving gradient) and samples (a tone) with
// the merge's encoder settings.
void EncodeAll(const Counts& c, int threads) {
    TCustomFFmpeg options(1);
    options.SetOption("vcodec", "libx264");
    options.SetOption("vpre", "libx264-default");
    const AVCodec* x264 = lib().avcodec_find_encoder_by_name("libx264");
    AVCodecContext* v = lib().avcodec_alloc_context3(x264);
    options.ApplyContextOptions(v, options.OptionContexts->Codec(AVMEDIA_TYPE_VIDEO),
                                AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM, x264);
    v->width = c.Width;
    v->height = c.Height;
    v->pix_fmt = AV_PIX_FMT_YUV420P;
    v->time_base = {1, 25};
    v->framerate = {25, 1};
    v->thread_count = threads;
    v->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    lib().avcodec_open2(v, x264, nullptr);
    const AVCodec* aac = lib().avcodec_find_encoder_by_name("aac");
    AVCodecContext* a = lib().avcodec_alloc_context3(aac);
    a->sample_rate = 44100;
    a->sample_fmt = AV_SAMPLE_FMT_FLTP;
    lib().av_channel_layout_default(&a->ch_layout, 2);
    a->time_base = {1, 44100};
    a->bit_rate = 128000;
    a->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    lib().avcodec_open2(a, aac, nullptr);

    AVFrame* f = lib().av_frame_alloc();
    AVPacket* pkt = lib().av_packet_alloc();
    auto collect = [&](AVCodecContext* e) {
        while (lib().avcodec_receive_packet(e, pkt) >= 0) lib().av_packet_unref(pkt);
    };
    // The decoded pictures, as they are; the sound through the same frames
    // of 1024 samples the merge uses (the decoder gives AAC frames already).
    int64_t n = 0;
    for (AVFrame* p : c.Video) {
        p->pts = n++;
        p->pict_type = AV_PICTURE_TYPE_NONE;
        lib().avcodec_send_frame(v, p);
        collect(v);
    }
    lib().avcodec_send_frame(v, nullptr);
    collect(v);
    int64_t t = 0;
    for (AVFrame* p : c.Audio) {
        if (p->nb_samples != a->frame_size || p->sample_rate != a->sample_rate) continue;
        p->pts = t;
        t += p->nb_samples;
        lib().avcodec_send_frame(a, p);
        collect(a);
    }
    lib().avcodec_send_frame(a, nullptr);
    collect(a);
    lib().av_frame_free(&f);
    lib().av_packet_free(&pkt);
    lib().avcodec_free_context(&v);
    lib().avcodec_free_context(&a);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s decode|encode THREADS INPUT...\n", argv[0]);
        return 2;
    }
    if (!FFLoader().Load(WorkLibraryKinds)) return 1;
    FFLogger()->TriggerEventInMainThread = false;
    FFLogger()->SetLogLevel(llQuiet);
    const int threads = std::atoi(argv[2]);
    Counts c;
    // Encoding works on the decoded frames, kept in memory: decoding them is
    // not timed in the encode run.
    c.Keep = std::strcmp(argv[1], "encode") == 0;
    for (int i = 3; i < argc; ++i)
        if (!DecodeAll(argv[i], threads, c)) return 1;
    const auto t0 = std::chrono::steady_clock::now();
    if (std::strcmp(argv[1], "encode") == 0) {
        EncodeAll(c, threads);
    } else {
        Counts again;
        for (int i = 3; i < argc; ++i) DecodeAll(argv[i], threads, again);
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%.3f\n", s);
    return 0;
}
