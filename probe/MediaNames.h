// probe/MediaNames.h — the libraries' names for formats and profiles. Each
// returns nullptr when the libraries know no name (or are not loaded); the
// texts are the libraries' own and live as long as they stay loaded. Any
// thread.
#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/pixfmt.h>
}

namespace tw {

/// "yuv420p" for AV_PIX_FMT_YUV420P; nullptr for a negative format.
const char* PixelFormatName(int format);

/// The decoder's name of a profile ("High", "LC"); nullptr for a negative
/// profile or one the decoder does not name.
const char* ProfileName(AVCodecID codec, int profile);

}  // namespace tw
