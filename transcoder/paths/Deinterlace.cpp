// transcoder/paths/Deinterlace.cpp — line-blend deinterlacing.
#include "transcoder/paths/Deinterlace.h"

#include <cstring>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/pixdesc.h>
}

#include "binding/Entries.h"

namespace tw {

namespace {

void BlendPlane(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int width,
                int height) {
    for (int y = 0; y < height; ++y) {
        uint8_t* out = dst + size_t(y) * dstStride;
        const uint8_t* cur = src + size_t(y) * srcStride;
        if (y == 0 || y == height - 1) {
            std::memcpy(out, cur, width);  // the edges have one neighbour only
            continue;
        }
        const uint8_t* up = cur - srcStride;
        const uint8_t* down = cur + srcStride;
        for (int x = 0; x < width; ++x) out[x] = uint8_t((up[x] + 2 * cur[x] + down[x] + 2) >> 2);
    }
}

}  // namespace

int DeinterlacePicture(AVFrame* dst, const AVFrame* src) {
    const auto format = static_cast<AVPixelFormat>(src->format);
    const AVPixFmtDescriptor* desc = lib().av_pix_fmt_desc_get(format);
    if (!desc) return AVERROR(EINVAL);
    // Every component in a plane of its own (NV12's interleaved chroma is
    // not): the blend works on plain rows of bytes.
    bool shared = desc->nb_components > 1 && !(desc->flags & AV_PIX_FMT_FLAG_PLANAR);
    for (int c = 0; c < desc->nb_components; ++c) shared |= desc->comp[c].step != 1;
    if (shared ||
        (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL |
                        AV_PIX_FMT_FLAG_BITSTREAM)) ||
        desc->comp[0].depth != 8)
        return AVERROR(EINVAL);
    if (dst->format != src->format || dst->width != src->width || dst->height != src->height)
        return AVERROR(EINVAL);
    for (int c = 0; c < desc->nb_components; ++c) {
        const int plane = desc->comp[c].plane;
        const bool chroma = c == 1 || c == 2;
        const int w = chroma ? -((-src->width) >> desc->log2_chroma_w) : src->width;
        const int h = chroma ? -((-src->height) >> desc->log2_chroma_h) : src->height;
        BlendPlane(dst->data[plane], dst->linesize[plane], src->data[plane], src->linesize[plane],
                   w, h);
    }
    return 0;
}

}  // namespace tw
