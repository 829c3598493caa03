// fuzz/probe_fuzz.cpp — an arbitrary byte buffer probed as a media file by
// the probing component and described as the join driver describes a
// source. The bytes are read from memory through the libraries' custom I/O.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "app/FastMergeChecks.h"
#include "binding/Entries.h"
#include "fuzz/FuzzSupport.h"
#include "probe/FFDecode.h"

namespace {

struct TBuffer {
    const uint8_t* Data;
    int64_t Size;
    int64_t Pos = 0;
};

int ReadBuffer(void* opaque, uint8_t* buf, int size) {
    auto* b = static_cast<TBuffer*>(opaque);
    const int64_t n = std::min<int64_t>(size, b->Size - b->Pos);
    if (n <= 0) return AVERROR_EOF;
    std::memcpy(buf, b->Data + b->Pos, size_t(n));
    b->Pos += n;
    return int(n);
}

int64_t SeekBuffer(void* opaque, int64_t offset, int whence) {
    auto* b = static_cast<TBuffer*>(opaque);
    if (whence & AVSEEK_SIZE) return b->Size;
    int64_t to;
    switch (whence & ~AVSEEK_FORCE) {
        case SEEK_SET:
            to = offset;
            break;
        case SEEK_CUR:
            to = b->Pos + offset;
            break;
        case SEEK_END:
            to = b->Size + offset;
            break;
        default:
            return AVERROR(EINVAL);
    }
    if (to < 0 || to > b->Size) return AVERROR(EINVAL);
    b->Pos = to;
    return to;
}

struct TIOFree {
    void operator()(AVIOContext* io) const {
        tw::lib().av_freep(&io->buffer);
        tw::lib().avio_context_free(&io);
    }
};

struct TInputClose {
    void operator()(AVFormatContext* ctx) const { tw::lib().avformat_close_input(&ctx); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tw::fuzz::LoadLibrariesOnce();
    TBuffer buffer{data, int64_t(size)};
    constexpr int kBufferSize = 4096;
    auto* bytes = static_cast<unsigned char*>(tw::lib().av_malloc(kBufferSize));
    if (!bytes) return 0;
    std::unique_ptr<AVIOContext, TIOFree> io(tw::lib().avio_alloc_context(
        bytes, kBufferSize, 0, &buffer, ReadBuffer, nullptr, SeekBuffer));
    if (!io) {
        tw::lib().av_free(bytes);
        return 0;
    }
    AVFormatContext* raw = tw::lib().avformat_alloc_context();
    if (!raw) return 0;
    raw->pb = io.get();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    // A failed open frees the context.
    if (tw::lib().avformat_open_input(&raw, "memory", nullptr, nullptr) < 0) return 0;
    std::unique_ptr<AVFormatContext, TInputClose> context(raw);
    if (tw::lib().avformat_find_stream_info(context.get(), nullptr) < 0) return 0;

    tw::TFFDecoder probe;
    probe.AttachContext(context.get());
    tw::TAudioStreamInfo audio;
    tw::TVideoStreamInfo video;
    for (int i = -1; i < probe.StreamCount() + 1; ++i) {
        probe.GetAudioStreamInfo(i, audio);
        probe.GetVideoStreamInfo(i, video);
    }
    const tw::TSourceFacts facts = tw::SurveySource(context.get(), "memory");
    (void)tw::FastMergeProblem({facts, facts}, "flv");
    probe.CloseFile();
    return 0;
}
