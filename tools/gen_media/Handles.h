// tools/gen_media/Handles.h — owning pointers for the library objects the
// generator uses. The generator links the libraries directly, so the deleters
// call them directly.
#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

namespace tw::gen {

struct CodecContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;

struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

/// An output format context together with the file it writes: closes the file
/// (when opened) and frees the context with its streams and chapters.
struct OutputContextFree {
    void operator()(AVFormatContext* oc) const {
        if (!(oc->oformat->flags & AVFMT_NOFILE)) avio_closep(&oc->pb);
        avformat_free_context(oc);
    }
};
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextFree>;

/// The library's text for an error code.
std::string ErrorText(int err);

}  // namespace tw::gen
