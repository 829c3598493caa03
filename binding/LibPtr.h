// binding/LibPtr.h — ownership of every library object the system allocates.
//
// Each deleter frees through the entry slots and does nothing for a null
// pointer or when its library is no longer bound (an object outliving the
// libraries is leaked rather than freed through an empty slot). Use these
// and nothing else: no manual free calls, so an exception cannot skip one.
#pragma once

#include <cstdio>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/fifo.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace tw {

/// A codec context; one that is open is freed under the codec lock, and a
/// second pass's statistics text (stats_in, ours) goes with it.
struct CodecContextFree {
    void operator()(AVCodecContext* c) const;
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;

/// A format context that was allocated but not opened as an input
/// (avformat_free_context; its pb is not closed).
struct FormatContextFree {
    void operator()(AVFormatContext* c) const;
};
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextFree>;

/// An opened input (avformat_close_input); an input read through our own
/// I/O (AVFMT_FLAG_CUSTOM_IO) has that I/O closed after it. A description of
/// an input (marked by InputDescriptionMark, see transcoder/files/InputReopen.h)
/// was never opened: it is freed (avformat_free_context).
struct InputFormatClose {
    void operator()(AVFormatContext* c) const;
};
using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatClose>;

/// The value of AVFormatContext::opaque that marks a description of an input:
/// its streams, chapters and programs filled by us, no demuxer behind it.
void* InputDescriptionMark();

/// An output context: its file is closed (through the I/O it was opened
/// with, for a format that writes a file) and the context freed.
struct OutputFormatClose {
    void operator()(AVFormatContext* c) const;
};

struct PacketFree {
    void operator()(AVPacket* p) const;
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

struct FrameFree {
    void operator()(AVFrame* f) const;
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

struct SwsContextFree {
    void operator()(SwsContext* c) const;
};
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextFree>;

struct SwrContextFree {
    void operator()(SwrContext* c) const;
};
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextFree>;

struct FifoFree {
    void operator()(AVFifo* f) const;
};
using FifoPtr = std::unique_ptr<AVFifo, FifoFree>;

struct FilterGraphFree {
    void operator()(AVFilterGraph* g) const;
};
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphFree>;

/// The in/out lists of avfilter_graph_parse_ptr.
struct FilterInOutFree {
    void operator()(AVFilterInOut* io) const;
};
using FilterInOutPtr = std::unique_ptr<AVFilterInOut, FilterInOutFree>;

struct BsfContextFree {
    void operator()(AVBSFContext* c) const;
};
using BsfContextPtr = std::unique_ptr<AVBSFContext, BsfContextFree>;

/// A dictionary handed out by the library or built for one call.
struct DictionaryFree {
    void operator()(AVDictionary* d) const;
};
using DictionaryPtr = std::unique_ptr<AVDictionary, DictionaryFree>;

/// A decoded subtitle: its rectangles (avsubtitle_free) and the record.
/// Make one with MakeSubtitle().
struct SubtitleFree {
    void operator()(AVSubtitle* s) const;
};
using SubtitlePtr = std::unique_ptr<AVSubtitle, SubtitleFree>;
SubtitlePtr MakeSubtitle();

/// An AVIOContext made by OpenLibraryIO or OpenWideProtocol (CloseLibraryIO).
struct TLibraryIOClose {
    void operator()(AVIOContext* pb) const;
};
using TLibraryIOPtr = std::unique_ptr<AVIOContext, TLibraryIOClose>;

/// A buffer from av_malloc (av_free).
struct LibBufferFree {
    void operator()(void* p) const;
};
template <typename T>
using LibBufferPtr = std::unique_ptr<T, LibBufferFree>;

/// A chapter record being built for an output (its metadata and the record).
struct ChapterFree {
    void operator()(AVChapter* c) const;
};
using ChapterPtr = std::unique_ptr<AVChapter, ChapterFree>;

/// A C stream (fclose).
struct FileClose {
    void operator()(std::FILE* f) const;
};
using FilePtr = std::unique_ptr<std::FILE, FileClose>;

}  // namespace tw
