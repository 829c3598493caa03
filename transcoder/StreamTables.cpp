// transcoder/StreamTables.cpp — deleters of the working records.
#include "transcoder/StreamTables.h"

#include "binding/Entries.h"
#include "binding/LockManager.h"

namespace tw {

void CodecContextFree::operator()(AVCodecContext* c) const {
    if (!c || !lib().avcodec_free_context) return;
    if (lib().avcodec_is_open && lib().avcodec_is_open(c)) {
        CodecLockGuard lock;
        lib().avcodec_free_context(&c);
    } else {
        lib().avcodec_free_context(&c);
    }
}

void FrameFree::operator()(AVFrame* f) const {
    if (f && lib().av_frame_free) lib().av_frame_free(&f);
}

void SwsContextFree::operator()(SwsContext* c) const {
    if (c && lib().sws_freeContext) lib().sws_freeContext(c);
}

void SwrContextFree::operator()(SwrContext* c) const {
    if (c && lib().swr_free) lib().swr_free(&c);
}

void FifoFree::operator()(AVFifo* f) const {
    if (f && lib().av_fifo_freep2) lib().av_fifo_freep2(&f);
}

void FilterGraphFree::operator()(AVFilterGraph* g) const {
    if (g && lib().avfilter_graph_free) lib().avfilter_graph_free(&g);
}

}  // namespace tw
