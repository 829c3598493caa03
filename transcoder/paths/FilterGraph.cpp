// transcoder/paths/FilterGraph.cpp — the video filter graph of "vf": a buffer
// source, a scaler when the sizes differ, the user's chain, and a sink that
// hands out pictures in the encoder's pixel format. With FitPictures every
// source is turned upright and fitted into the output size instead.
#include "transcoder/paths/FilterGraph.h"

#include <cmath>
#include <cstdio>
#include <string>

extern "C" {
#include <libavutil/opt.h>
}

#include "binding/Entries.h"

namespace tw {

namespace {

// Clockwise quarter turns a player applies to the stream's pictures, read
// from its display matrix (0 without one).
int DisplayTurns(const AVStream* st) {
    size_t size = 0;
    const uint8_t* sd = lib().av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!sd || size < 9 * sizeof(int32_t)) return 0;
    const double ccw = lib().av_display_rotation_get(reinterpret_cast<const int32_t*>(sd));
    if (std::isnan(ccw)) return 0;
    const long quarters = std::lround(-ccw / 90.0);
    return static_cast<int>(((quarters % 4) + 4) % 4);
}

// The filters that make a source's pictures fit the encoder: upright, square
// pixels, scaled inside the output size with their aspect kept and padded
// black around, centred. `userChain` (may be empty) works on the upright
// pictures before the fit.
std::string FitChain(int turns, AVRational sar, const std::string& userChain, int width, int height,
                     int swsFlags) {
    std::string chain;
    auto add = [&](const std::string& f) { chain += (chain.empty() ? "" : ",") + f; };
    if (turns == 1) add("transpose=clock");
    if (turns == 2) add("hflip,vflip");
    if (turns == 3) add("transpose=cclock");
    // Non-square pixels first become square ones at their displayed width.
    if (sar.num > 0 && sar.den > 0 && sar.num != sar.den) add("scale=iw*sar:ih,setsar=1");
    if (!userChain.empty()) add(userChain);
    char fit[256];
    std::snprintf(fit, sizeof fit,
                  "scale=%d:%d:force_original_aspect_ratio=decrease:force_divisible_by=2:"
                  "flags=0x%X,pad=%d:%d:(ow-iw)/2:(oh-ih)/2:black,setsar=1",
                  width, height, swsFlags, width, height);
    add(fit);
    return chain;
}

}  // namespace

int TVideoFilter::Build(TInputStream* ist, TOutputStream* ost, const AVFrame* picture) {
    AVCodecContext* dec = ist->Decoder;
    AVCodecContext* enc = FEncoderRecord(ost)->Encoder.get();
    if (!dec || !enc) return AVERROR(EINVAL);
    // A later set of a join feeds an encoder whose size the first set fixed:
    // its graph must deliver that size, never change it.
    const bool encoderSized = FEncoderRecord(ost) != ost;
    ist->FilterInput = ist->FilterOutput = nullptr;
    ist->FilterFlushed = false;
    ist->FilterGraph.reset(lib().avfilter_graph_alloc());
    ist->FilterPicture.reset(lib().av_frame_alloc());
    if (!ist->FilterGraph || !ist->FilterPicture) return AVERROR(ENOMEM);
    AVFilterGraph* graph = ist->FilterGraph.get();
    const int swsFlags = SwsFlags();

    // The source takes named options today (the positional form is gone):
    // decoder size and format, microsecond time base.
    char args[256];
    const int width = picture ? picture->width : dec->width;
    const int height = picture ? picture->height : dec->height;
    const int pixFmt = picture ? picture->format : dec->pix_fmt;
    const AVRational decSar = picture && picture->sample_aspect_ratio.num
                                  ? picture->sample_aspect_ratio
                                  : dec->sample_aspect_ratio;
    const AVRational sar = decSar.num ? decSar : AVRational{0, 1};
    std::snprintf(args, sizeof args,
                  "video_size=%dx%d:pix_fmt=%d:time_base=1/1000000:pixel_aspect=%d/%d", width,
                  height, pixFmt, sar.num, sar.den);
    ist->FilterRecord = ost;
    ist->FilterWidth = width;
    ist->FilterHeight = height;
    ist->FilterPixFmt = pixFmt;
    int ret = lib().avfilter_graph_create_filter(
        &ist->FilterInput, lib().avfilter_get_by_name("buffer"), "src", args, nullptr, graph);
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

    std::snprintf(args, sizeof args, "flags=0x%X", swsFlags);
    graph->scale_sws_opts = lib().av_strdup(args);

    std::string chain = FConfig.VideoFilters;
    AVFilterContext* last = ist->FilterInput;
    if (FConfig.FitPictures) {
        chain = FitChain(DisplayTurns(ist->Stream), sar, FConfig.VideoFilters, enc->width,
                         enc->height, swsFlags);
    } else if (encoderSized) {
        // The user's chain first, then whatever it gives to the encoder's size.
        std::snprintf(args, sizeof args, "scale=%d:%d:flags=0x%X", enc->width, enc->height,
                      swsFlags);
        chain = chain.empty() ? std::string(args) : chain + "," + args;
    } else if (enc->width != width || enc->height != height) {
        AVFilterContext* scale = nullptr;
        std::snprintf(args, sizeof args, "%d:%d:flags=0x%X", enc->width, enc->height, swsFlags);
        ret = lib().avfilter_graph_create_filter(&scale, lib().avfilter_get_by_name("scale"),
                                                 "scale", args, nullptr, graph);
        if (ret < 0) return ret;
        if ((ret = lib().avfilter_link(last, 0, scale, 0)) < 0) return ret;
        last = scale;
    }

    if (!chain.empty()) {
        FilterInOutPtr outputs(lib().avfilter_inout_alloc());
        FilterInOutPtr inputs(lib().avfilter_inout_alloc());
        if (!outputs || !inputs) return AVERROR(ENOMEM);
        outputs->name = lib().av_strdup("in");
        outputs->filter_ctx = last;
        outputs->pad_idx = 0;
        inputs->name = lib().av_strdup("out");
        inputs->filter_ctx = sink;
        inputs->pad_idx = 0;
        AVFilterInOut* in = inputs.release();
        AVFilterInOut* out = outputs.release();
        ret = lib().avfilter_graph_parse_ptr(graph, chain.c_str(), &in, &out, nullptr);
        inputs.reset(in);
        outputs.reset(out);
        if (ret < 0) return ret;
    } else if ((ret = lib().avfilter_link(last, 0, sink, 0)) < 0) {
        return ret;
    }
    if ((ret = lib().avfilter_graph_config(graph, nullptr)) < 0) return ret;
    // Only the graph of the stream that defines the encoder sets its size.
    if (!encoderSized) {
        enc->width = lib().av_buffersink_get_w(sink);
        enc->height = lib().av_buffersink_get_h(sink);
    }
    return 0;
}

void TVideoFilter::Refit(TInputStream* ist, const AVFrame* picture) {
    if (!FConfig.FitPictures || !ist->FilterGraph || !ist->FilterRecord) return;
    if (picture->width == ist->FilterWidth && picture->height == ist->FilterHeight &&
        picture->format == ist->FilterPixFmt)
        return;
    // The fit was computed for the old size: a new graph fits the new one
    // (the fitting filters hold no pictures back, so none is lost).
    FFLogger()->LogFmt(
        FSender, llQuiet, "Input Stream #%d.%d frame size changed to %dx%d, %s", ist->FileIndex,
        ist->StreamIndex, picture->width, picture->height,
        lib().av_get_pix_fmt_name(static_cast<AVPixelFormat>(picture->format)) ?: "none");
    if (Build(ist, ist->FilterRecord, picture) < 0) throw FFmpegException("Error opening filters!");
}

}  // namespace tw
