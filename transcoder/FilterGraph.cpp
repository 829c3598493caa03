// transcoder/FilterGraph.cpp — the video filter graph of "vf": a buffer
// source, a scaler when the sizes differ, the user's chain, and a sink that
// hands out pictures in the encoder's pixel format.
#include <cstdio>

extern "C" {
#include <libavutil/opt.h>
}

#include "binding/Entries.h"
#include "transcoder/CustomFFmpeg.h"
#include "transcoder/StreamTables.h"

namespace tw {

namespace {

struct InOutFree {
    void operator()(AVFilterInOut* io) const { lib().avfilter_inout_free(&io); }
};
using InOutPtr = std::unique_ptr<AVFilterInOut, InOutFree>;

}  // namespace

int TCustomFFmpeg::BuildFilterGraph(TInputStream* ist, TOutputStream* ost) {
    AVCodecContext* dec = ist->Decoder;
    AVCodecContext* enc = EncoderRecord(ost)->Encoder.get();
    if (!dec || !enc) return AVERROR(EINVAL);
    ist->FilterInput = ist->FilterOutput = nullptr;
    ist->FilterGraph.reset(lib().avfilter_graph_alloc());
    ist->FilterPicture.reset(lib().av_frame_alloc());
    if (!ist->FilterGraph || !ist->FilterPicture) return AVERROR(ENOMEM);
    AVFilterGraph* graph = ist->FilterGraph.get();
    const int swsFlags = CurrentSwsFlags();

    // The source takes named options today (the positional form is gone):
    // decoder size and format, microsecond time base.
    char args[256];
    const AVRational sar = dec->sample_aspect_ratio.num ? dec->sample_aspect_ratio : AVRational{0, 1};
    std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=1/1000000:pixel_aspect=%d/%d",
                  dec->width, dec->height, dec->pix_fmt, sar.num, sar.den);
    int ret = lib().avfilter_graph_create_filter(&ist->FilterInput,
                                                 lib().avfilter_get_by_name("buffer"), "src",
                                                 args, nullptr, graph);
    if (ret < 0) return ret;

    // The sink accepts exactly the encoder's pixel format (the graph
    // converts to it when needed).
    AVFilterContext* sink =
        lib().avfilter_graph_alloc_filter(graph, lib().avfilter_get_by_name("buffersink"), "out");
    if (!sink) return AVERROR(ENOMEM);
    const AVPixelFormat formats[] = {enc->pix_fmt};
    ret = lib().av_opt_set_bin(sink, "pix_fmts", reinterpret_cast<const uint8_t*>(formats),
                               sizeof formats, AV_OPT_SEARCH_CHILDREN);
    if (ret < 0) return ret;
    if ((ret = lib().avfilter_init_str(sink, nullptr)) < 0) return ret;
    ist->FilterOutput = sink;

    AVFilterContext* last = ist->FilterInput;
    if (enc->width != dec->width || enc->height != dec->height) {
        AVFilterContext* scale = nullptr;
        std::snprintf(args, sizeof args, "%d:%d:flags=0x%X", enc->width, enc->height, swsFlags);
        ret = lib().avfilter_graph_create_filter(&scale, lib().avfilter_get_by_name("scale"),
                                                 "scale", args, nullptr, graph);
        if (ret < 0) return ret;
        if ((ret = lib().avfilter_link(last, 0, scale, 0)) < 0) return ret;
        last = scale;
    }
    std::snprintf(args, sizeof args, "flags=0x%X", swsFlags);
    graph->scale_sws_opts = lib().av_strdup(args);

    if (!VideoFilters.empty()) {
        InOutPtr outputs(lib().avfilter_inout_alloc());
        InOutPtr inputs(lib().avfilter_inout_alloc());
        if (!outputs || !inputs) return AVERROR(ENOMEM);
        outputs->name = lib().av_strdup("in");
        outputs->filter_ctx = last;
        outputs->pad_idx = 0;
        inputs->name = lib().av_strdup("out");
        inputs->filter_ctx = sink;
        inputs->pad_idx = 0;
        AVFilterInOut* in = inputs.release();
        AVFilterInOut* out = outputs.release();
        ret = lib().avfilter_graph_parse_ptr(graph, VideoFilters.c_str(), &in, &out, nullptr);
        inputs.reset(in);
        outputs.reset(out);
        if (ret < 0) return ret;
    } else if ((ret = lib().avfilter_link(last, 0, sink, 0)) < 0) {
        return ret;
    }
    if ((ret = lib().avfilter_graph_config(graph, nullptr)) < 0) return ret;
    enc->width = lib().av_buffersink_get_w(sink);
    enc->height = lib().av_buffersink_get_h(sink);
    return 0;
}

}  // namespace tw
