// tools/gen_media/Synth.cpp — the synthetic picture and tone.
#include "Synth.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

extern "C" {
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
}

namespace tw::gen {

namespace {

struct Palette {
    uint8_t barY, barU, barV;
    uint8_t backU, backV;
};

constexpr Palette kPalettes[] = {
    {235, 128, 128, 100, 160},  // white bar on a reddish ground
    {210, 16, 146, 160, 90},    // yellow bar on blue
    {145, 54, 34, 128, 200},    // green bar on red
    {41, 240, 110, 90, 110},    // blue bar on green
};

}  // namespace

namespace {

// Where a coded sample appears once the player has turned the picture
// clockwise by `rotate` degrees (w x h: the coded size).
void Displayed(int x, int y, int w, int h, int rotate, int& dx, int& dy) {
    switch (rotate) {
        case 90:
            dx = h - 1 - y;
            dy = x;
            break;
        case 180:
            dx = w - 1 - x;
            dy = h - 1 - y;
            break;
        case 270:
            dx = y;
            dy = w - 1 - x;
            break;
        default:
            dx = x;
            dy = y;
            break;
    }
}

}  // namespace

void PaintPicture(AVFrame& frame, long long index, const PictureLook& look) {
    const Palette& pal = kPalettes[look.pattern % 4];
    const int w = frame.width;
    const int h = frame.height;
    const bool turned = look.rotate == 90 || look.rotate == 270;
    const int dw = turned ? h : w;  // displayed size
    const int dh = turned ? w : h;
    const int drift = (look.pattern / 4) % 2 == 0 ? 1 : -1;
    const int speed = 2 + look.pattern % 3;
    const int barWidth = std::max(2, dw / 16);
    const int barX = static_cast<int>((index * speed * 4) % (dw + barWidth)) - barWidth;
    const int shift = static_cast<int>(index * drift * 3);
    // Counter: 16 blocks, black for 0 and white for 1, big enough to survive
    // compression at small sizes.
    const int block = std::max(2, std::min(dw / 20, dh / 12)) & ~1;
    int bits = 0;
    while (bits < 16 && (bits + 1) * block <= dw) ++bits;
    const int mark = std::min(dw, dh) / 4;

    // 0: nothing special, 1: white, 2: black (counter blocks and marks have
    // neutral colour).
    auto special = [&](int dx, int dy) {
        if (look.marks && mark > 0) {
            if (dx < mark && dy < mark) return 1;
            if (dx >= dw - mark && dy >= dh - mark) return 2;
        }
        if (dy < block && dx < bits * block) return (index >> (dx / block)) & 1 ? 1 : 2;
        return 0;
    };

    for (int y = 0; y < h; ++y) {
        uint8_t* row = frame.data[0] + y * frame.linesize[0];
        for (int x = 0; x < w; ++x) {
            int dx, dy;
            Displayed(x, y, w, h, look.rotate, dx, dy);
            const int sp = special(dx, dy);
            const bool onBar = dx >= barX && dx < barX + barWidth;
            row[x] = sp == 1   ? 235
                     : sp == 2 ? 16
                     : onBar   ? pal.barY
                               : static_cast<uint8_t>(16 + ((dx + dy + shift) & 0x7f) * 3 / 2);
        }
    }
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    const int sw = desc ? desc->log2_chroma_w : 1;
    const int sh = desc ? desc->log2_chroma_h : 1;
    const int cw = -((-w) >> sw);  // rounded up: odd sizes keep their last column
    const int ch = -((-h) >> sh);
    for (int y = 0; y < ch; ++y) {
        uint8_t* u = frame.data[1] + y * frame.linesize[1];
        uint8_t* v = frame.data[2] + y * frame.linesize[2];
        for (int x = 0; x < cw; ++x) {
            int dx, dy;
            Displayed(x << sw, y << sh, w, h, look.rotate, dx, dy);
            if (special(dx, dy) != 0) {
                u[x] = v[x] = 128;
                continue;
            }
            const bool onBar = dx >= barX && dx < barX + barWidth;
            u[x] = onBar ? pal.barU : pal.backU;
            v[x] =
                onBar ? pal.barV : static_cast<uint8_t>(pal.backV + (((dy >> 1) + shift) & 0x0f));
        }
    }
}

bool FillTone(AVFrame& frame, long long first, int sampleRate, double hz) {
    const auto fmt = static_cast<AVSampleFormat>(frame.format);
    const int channels = frame.ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(fmt);
    const AVSampleFormat packed = av_get_packed_sample_fmt(fmt);
    if (packed != AV_SAMPLE_FMT_U8 && packed != AV_SAMPLE_FMT_S16 && packed != AV_SAMPLE_FMT_S32 &&
        packed != AV_SAMPLE_FMT_FLT && packed != AV_SAMPLE_FMT_DBL)
        return false;

    constexpr double kAmplitude = 0.3;
    for (int i = 0; i < frame.nb_samples; ++i) {
        // The phase is taken modulo one period so long clips keep precision.
        const long long n = first + i;
        const double t = std::fmod(static_cast<double>(n) * hz / sampleRate, 1.0);
        const double s = kAmplitude * std::sin(2 * std::numbers::pi * t);
        for (int c = 0; c < channels; ++c) {
            const int plane = planar ? c : 0;
            const int slot = planar ? i : i * channels + c;
            switch (packed) {
                case AV_SAMPLE_FMT_U8:  // silent at 128
                    frame.extended_data[plane][slot] =
                        static_cast<uint8_t>(128 + std::lrint(s * 127));
                    break;
                case AV_SAMPLE_FMT_S16:
                    reinterpret_cast<int16_t*>(frame.extended_data[plane])[slot] =
                        static_cast<int16_t>(std::lrint(s * 32767));
                    break;
                case AV_SAMPLE_FMT_S32:
                    reinterpret_cast<int32_t*>(frame.extended_data[plane])[slot] =
                        static_cast<int32_t>(std::lrint(s * 2147483647.0));
                    break;
                case AV_SAMPLE_FMT_FLT:
                    reinterpret_cast<float*>(frame.extended_data[plane])[slot] =
                        static_cast<float>(s);
                    break;
                default:
                    reinterpret_cast<double*>(frame.extended_data[plane])[slot] = s;
                    break;
            }
        }
    }
    return true;
}

}  // namespace tw::gen
