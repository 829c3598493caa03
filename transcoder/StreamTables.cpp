// transcoder/StreamTables.cpp — deleters of the working records.
#include "transcoder/StreamTables.h"

#include "binding/Entries.h"

namespace tw {

void FrameFree::operator()(AVFrame* f) const {
    if (f && lib().av_frame_free) lib().av_frame_free(&f);
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
