// transcoder/paths/Deinterlace.h — the picture deinterlacer behind "deinterlace".
#pragma once

extern "C" {
#include <libavutil/frame.h>
}

namespace tw {

/// Blends each line with its neighbours (1-2-1 vertical filter) from src
/// into dst, which must have src's format and size with buffers of its own.
/// Works on 8-bit planar YUV and grey pictures; 0, or a negative library
/// code for any other format. The libraries of today have no picture
/// deinterlace call: this is the simple line blend it stood for.
int DeinterlacePicture(AVFrame* dst, const AVFrame* src);

}  // namespace tw
