// transcoder/AudioOut.cpp — re-encoding audio.
#include "transcoder/CustomFFmpeg.h"

namespace tw {

void TCustomFFmpeg::DoAudioOut(AVFormatContext*, TOutputStream*, TInputStream*, uint8_t*, int) {
    throw FFmpegException("Re-encoding audio is not available yet: use stream copy");
}

}  // namespace tw
