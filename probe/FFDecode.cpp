// probe/FFDecode.cpp — the probing component.
#include "probe/FFDecode.h"

#include <sys/stat.h>

#include <stdexcept>

#include "binding/Entries.h"
#include "binding/FFLoad.h"
#include "binding/InterruptCB.h"
#include "binding/StreamAnalysis.h"
#include "binding/StreamLimit.h"
#include "diag/FFLog.h"
#include "diag/FFUtils.h"

namespace tw {

TCustomDecoder::TCustomDecoder() = default;

// Never throws: without the libraries there is nothing the component could
// have opened, and the owner's deleter does nothing then.
TCustomDecoder::~TCustomDecoder() = default;

void TCustomDecoder::CheckLibraries() {
    if (!FFLoader().LibraryLoaded(lkAVCodec)) throw std::runtime_error("LibAVCodec not loaded.");
    if (!FFLoader().LibraryLoaded(lkAVFormat)) throw std::runtime_error("LibAVFormat not loaded.");
    if (!FFLoader().LibraryLoaded(lkAVUtil)) throw std::runtime_error("LibAVUtil not loaded.");
    if (!FFLoader().LibraryLoaded(lkSwScale)) throw std::runtime_error("LibSwScale not loaded.");
}

void TCustomDecoder::Report(int libraryLevel, const std::string& text) {
    LastError = text;
    FFLogger()->Log(this, FromLibraryLevel(libraryLevel), text);
}

bool TCustomDecoder::LoadFile(const std::string& fileName, const std::string& formatName) {
    CheckLibraries();
    CloseFile();

    const AVInputFormat* format = nullptr;
    if (!formatName.empty()) {
        format = lib().av_find_input_format(formatName.c_str());
        if (!format) {
            LastError = "Unknown input format: " + formatName;
            return false;
        }
    }

    FormatContextPtr allocated(lib().avformat_alloc_context());
    if (!allocated) {
        Report(AV_LOG_ERROR, ErrorText(fileName, AVERROR(ENOMEM)));
        return false;
    }
    allocated->flags |= AVFMT_FLAG_NONBLOCK;
    allocated->interrupt_callback = LibraryInterruptCB();

    // Names the libraries cannot open themselves come through our own I/O,
    // ours until the open succeeds (a failed open leaves it to us).
    const std::string libraryName = ToLibraryFileName(fileName);
    TLibraryIOPtr io;
    if (NeedsOwnReader(libraryName)) {
        AVIOContext* pb = nullptr;
        const int ret = OpenLibraryIO(libraryName, AVIO_FLAG_READ, &pb);
        if (ret < 0) {
            Report(AV_LOG_ERROR, ErrorText(fileName, ret));
            return false;
        }
        io.reset(pb);
        allocated->pb = pb;
        allocated->flags |= AVFMT_FLAG_CUSTOM_IO;
    }

    // A failed open frees the context.
    AVFormatContext* ctx = allocated.release();
    const int ret = lib().avformat_open_input(&ctx, libraryName.c_str(), format, nullptr);
    if (ret < 0) {
        io.reset();
        Report(AV_LOG_ERROR, ErrorText(fileName, ret));
        CloseFile();
        return false;
    }
    // From here the input's owner closes our I/O after the input.
    FOwnedContext.reset(ctx);
    io.release();
    FContext = ctx;

    std::string tooMany = TooManyStreams(FContext, fileName);
    if (tooMany.empty()) {
        LimitStreams(FContext);
        const int analysed = AnalyseStreams(FContext);
        tooMany = TooManyStreams(FContext, fileName);
        if (analysed < 0 && tooMany.empty()) {
            LastError = fileName + ": could not find codec parameters";
            CloseFile();
            return false;
        }
    }
    if (!tooMany.empty()) {
        Report(AV_LOG_ERROR, tooMany);
        CloseFile();
        return false;
    }
    Refresh();
    FFormatName = formatName;
    return true;
}

void TCustomDecoder::AttachContext(AVFormatContext* context) {
    if (context == FContext && context) return;
    CheckLibraries();
    CloseFile();
    FContext = context;
    Refresh();
}

void TCustomDecoder::CloseFile() {
    FFormatName.clear();
    FContext = nullptr;
    FOwnedContext.reset();
    Refresh();
}

void TCustomDecoder::Refresh() {
    FFileSize = -1;
    FStreamCount = FProgramCount = -1;
    FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = -1;
    FFirstAudioStream = FFirstVideoStream = FFirstSubtitleStream = -1;
    if (!FContext) return;

    const int64_t containerSize = FContext->pb ? lib().avio_size(FContext->pb) : -1;
    if (containerSize > 0) {
        FFileSize = containerSize;
    } else {
        // The container does not know its size (a pipe, a stream being
        // written): ask the file system for the file behind the name.
        const std::string name = FromLibraryFileName(FContext->url ? FContext->url : "");
        struct stat st;
        if (!name.empty() && ::stat(name.c_str(), &st) == 0)
            FFileSize = st.st_size;
        else
            FFileSize = containerSize;
    }

    FStreamCount = static_cast<int>(FContext->nb_streams);
    FProgramCount = static_cast<int>(FContext->nb_programs);
    FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = 0;
    for (int i = 0; i < FStreamCount; ++i) {
        switch (FContext->streams[i]->codecpar->codec_type) {
            case AVMEDIA_TYPE_VIDEO:
                ++FVideoStreamCount;
                // The first video is moving pictures, not the cover.
                if (FFirstVideoStream < 0 &&
                    !(FContext->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC))
                    FFirstVideoStream = i;
                break;
            case AVMEDIA_TYPE_AUDIO:
                ++FAudioStreamCount;
                if (FFirstAudioStream < 0) FFirstAudioStream = i;
                break;
            case AVMEDIA_TYPE_SUBTITLE:
                ++FSubtitleStreamCount;
                if (FFirstSubtitleStream < 0) FFirstSubtitleStream = i;
                break;
            default:
                break;
        }
    }
}

AVStream* TCustomDecoder::StreamFor(int index, AVMediaType type, int first, const char* kind) {
    if (!FContext) {
        Report(AV_LOG_WARNING, "file not loaded.");
        return nullptr;
    }
    if (index < 0) {
        if (first < 0) {
            Report(AV_LOG_ERROR, std::string("no ") + kind + " stream.");
            return nullptr;
        }
        index = first;
    } else if (index >= FStreamCount) {
        Report(AV_LOG_ERROR, "stream index #" + std::to_string(index) + " is invalid.");
        return nullptr;
    }
    AVStream* st = FContext->streams[index];
    if (st->codecpar->codec_type != type) {
        Report(AV_LOG_ERROR, "stream #" + std::to_string(index) + " is not " + kind + " stream.");
        return nullptr;
    }
    return st;
}

namespace {

// Language, codec and times, shared by both kinds of record. The decoder
// context of today's libraries is built from the stream's parameters: the
// values asked for here are those parameters.
template <class TInfo>
void FillCommon(AVStream* st, TInfo& info) {
    info.Language = MetadataValue(st->metadata, "language", "");
    info.CodecName = CodecDescription(st->codecpar, false);
    if (st->time_base.den == 0) st->time_base.den = st->time_base.num ? st->time_base.num : 1;
    const AVRational us{1, 1000000};
    if (st->start_time != AV_NOPTS_VALUE) {
        info.StartTime = st->start_time;
        info.StartTimeUs = lib().av_rescale_q(st->start_time, st->time_base, us);
    }
    if (st->duration != AV_NOPTS_VALUE) {
        info.Duration = st->duration;
        info.DurationUs = lib().av_rescale_q(st->duration, st->time_base, us);
    }
    info.BitRate = static_cast<int>(st->codecpar->bit_rate);
}

}  // namespace

bool TCustomDecoder::GetAudioStreamInfo(int index, TAudioStreamInfo& info) {
    info = TAudioStreamInfo{};
    AVStream* st = StreamFor(index, AVMEDIA_TYPE_AUDIO, FFirstAudioStream, "audio");
    if (!st) return false;
    FillCommon(st, info);
    const AVCodecParameters* par = st->codecpar;
    info.Channels = par->ch_layout.nb_channels;
    info.SampleRate = par->sample_rate;
    info.SampleFormat = par->format;
    return true;
}

bool TCustomDecoder::GetVideoStreamInfo(int index, TVideoStreamInfo& info) {
    info = TVideoStreamInfo{};
    AVStream* st = StreamFor(index, AVMEDIA_TYPE_VIDEO, FFirstVideoStream, "video");
    if (!st) return false;
    FillCommon(st, info);
    const AVCodecParameters* par = st->codecpar;
    info.Height = par->height;
    info.Width = par->width;
    // A zero height or aspect denominator leaves the aspect unknown instead
    // of dividing by zero.
    if (par->height > 0 && par->sample_aspect_ratio.den != 0)
        info.AspectRatio = static_cast<float>(
            par->width *
            (static_cast<double>(par->sample_aspect_ratio.num) / par->sample_aspect_ratio.den) /
            par->height);
    info.PixFmt = par->format;
    const AVRational rate =
        st->avg_frame_rate.num && st->avg_frame_rate.den ? st->avg_frame_rate : st->r_frame_rate;
    info.FrameRateNum = rate.num;
    info.FrameRateDen = rate.den;
    return true;
}

}  // namespace tw
