// transcoder/options/OptionContexts.cpp — allocation of the library option contexts.
#include "transcoder/options/OptionContexts.h"

#include <stdexcept>

#include "binding/Entries.h"
#include "binding/LockManager.h"
#include "transcoder/FFmpegException.h"

namespace tw {

TOptionContexts::TOptionContexts(int swsFlags) {
    static constexpr AVMediaType kTypes[CodecContextCount] = {
        AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA, AVMEDIA_TYPE_SUBTITLE,
        AVMEDIA_TYPE_ATTACHMENT};
    const char* failure = "Could not allocate the option contexts";
    for (AVMediaType type : kTypes) {
        // A context allocated without a codec already carries the generic
        // defaults; only its media type needs setting.
        CodecContextPtr ctx(lib().avcodec_alloc_context3(nullptr));
        if (!ctx) throw FFmpegException(failure);
        ctx->codec_type = type;
        FCodecs.push_back(std::move(ctx));
    }
    FFormat.reset(lib().avformat_alloc_context());
    if (!FFormat) throw FFmpegException(failure);
    FScaler.reset(lib().sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P,
                                       swsFlags, nullptr, nullptr, nullptr));
    if (!FScaler) throw FFmpegException(failure);
}

TOptionContexts::~TOptionContexts() = default;

AVCodecContext* TOptionContexts::Codec(AVMediaType type) const {
    if (type < AVMEDIA_TYPE_VIDEO || type > AVMEDIA_TYPE_ATTACHMENT)
        throw std::out_of_range("No option context for this media type");
    return FCodecs[static_cast<size_t>(type)].get();
}

void TOptionContexts::Record(const std::string& name) { FRecorded.push_back({name, {}, false}); }

void TOptionContexts::Record(const std::string& name, const std::string& value) {
    FRecorded.push_back({name, value, true});
}

}  // namespace tw
