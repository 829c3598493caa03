// probe/MediaNames.cpp — format and profile names from the libraries.
#include "probe/MediaNames.h"

#include "binding/Entries.h"

namespace tw {

const char* PixelFormatName(int format) {
    if (format < 0 || !lib().av_get_pix_fmt_name) return nullptr;
    return lib().av_get_pix_fmt_name(static_cast<AVPixelFormat>(format));
}

const char* ProfileName(AVCodecID codec, int profile) {
    if (profile < 0 || !lib().avcodec_find_decoder) return nullptr;
    const AVCodec* decoder = lib().avcodec_find_decoder(codec);
    return decoder ? lib().av_get_profile_name(decoder, profile) : nullptr;
}

}  // namespace tw
