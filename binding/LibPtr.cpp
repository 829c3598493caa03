// binding/LibPtr.cpp — the deleters of the library objects.
#include "binding/LibPtr.h"

#include "binding/Entries.h"
#include "binding/LockManager.h"
#include "binding/UnicodeProtocol.h"

namespace tw {

void CodecContextFree::operator()(AVCodecContext* c) const {
    if (!c || !lib().avcodec_free_context) return;
    // The second pass's statistics text is ours: the library never frees it.
    lib().av_freep(&c->stats_in);
    // Closing an opened codec takes the codec lock, like opening it.
    if (lib().avcodec_is_open(c)) {
        CodecLockGuard lock;
        lib().avcodec_free_context(&c);
    } else {
        lib().avcodec_free_context(&c);
    }
}

void FormatContextFree::operator()(AVFormatContext* c) const {
    if (c && lib().avformat_free_context) lib().avformat_free_context(c);
}

void* InputDescriptionMark() {
    static char mark;
    return &mark;
}

void InputFormatClose::operator()(AVFormatContext* c) const {
    if (!c || !lib().avformat_close_input) return;
    // Its format names the demuxer it was read with, which must not be asked
    // to close what it never opened.
    if (c->opaque == InputDescriptionMark()) {
        lib().avformat_free_context(c);
        return;
    }
    // An input read through our own I/O (the unicode protocol) keeps its I/O
    // context: the library leaves it to us.
    AVIOContext* pb = (c->flags & AVFMT_FLAG_CUSTOM_IO) ? c->pb : nullptr;
    lib().avformat_close_input(&c);
    if (pb) CloseLibraryIO(&pb);
}

void OutputFormatClose::operator()(AVFormatContext* c) const {
    if (!c || !lib().avformat_free_context) return;
    if (c->oformat && !(c->oformat->flags & AVFMT_NOFILE) && c->pb) CloseLibraryIO(&c->pb);
    lib().avformat_free_context(c);
}

void PacketFree::operator()(AVPacket* p) const {
    if (p && lib().av_packet_free) lib().av_packet_free(&p);
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

void FilterInOutFree::operator()(AVFilterInOut* io) const {
    if (io && lib().avfilter_inout_free) lib().avfilter_inout_free(&io);
}

void BsfContextFree::operator()(AVBSFContext* c) const {
    if (c && lib().av_bsf_free) lib().av_bsf_free(&c);
}

void DictionaryFree::operator()(AVDictionary* d) const {
    if (d && lib().av_dict_free) lib().av_dict_free(&d);
}

void SubtitleFree::operator()(AVSubtitle* s) const {
    if (s && lib().avsubtitle_free) lib().avsubtitle_free(s);
    delete s;
}

SubtitlePtr MakeSubtitle() { return SubtitlePtr(new AVSubtitle{}); }

void TLibraryIOClose::operator()(AVIOContext* pb) const {
    if (pb) CloseLibraryIO(&pb);
}

void LibBufferFree::operator()(void* p) const {
    if (p && lib().av_free) lib().av_free(p);
}

void ChapterFree::operator()(AVChapter* c) const {
    if (!c || !lib().av_free) return;
    lib().av_dict_free(&c->metadata);
    lib().av_free(c);
}

void FileClose::operator()(std::FILE* f) const {
    if (f) std::fclose(f);
}

}  // namespace tw
