// transcoder/VideoOut.cpp — re-encoding video.
#include "transcoder/CustomFFmpeg.h"

namespace tw {

void TCustomFFmpeg::PreProcessVideoFrame(TInputStream*, AVFrame*) {}

int TCustomFFmpeg::DoVideoOut(AVFormatContext*, TOutputStream*, TInputStream*, AVFrame*) {
    throw FFmpegException("Re-encoding video is not available yet: use stream copy");
}

int TCustomFFmpeg::BuildFilterGraph(TInputStream*, TOutputStream*) { return -1; }

}  // namespace tw
