// tools/gen_media/Synth.cpp — the synthetic picture and tone.
#include "Synth.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

extern "C" {
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

void PaintPicture(AVFrame& frame, long long index, int pattern) {
    const Palette& pal = kPalettes[pattern % 4];
    const int w = frame.width;
    const int h = frame.height;
    const int drift = (pattern / 4) % 2 == 0 ? 1 : -1;
    const int speed = 2 + pattern % 3;
    const int barWidth = std::max(2, w / 16);
    const int barX = static_cast<int>((index * speed * 4) % (w + barWidth)) - barWidth;
    const int shift = static_cast<int>(index * drift * 3);

    for (int y = 0; y < h; ++y) {
        uint8_t* row = frame.data[0] + y * frame.linesize[0];
        for (int x = 0; x < w; ++x) {
            const bool onBar = x >= barX && x < barX + barWidth;
            row[x] = onBar ? pal.barY : static_cast<uint8_t>(16 + ((x + y + shift) & 0x7f) * 3 / 2);
        }
    }
    for (int y = 0; y < h / 2; ++y) {
        uint8_t* u = frame.data[1] + y * frame.linesize[1];
        uint8_t* v = frame.data[2] + y * frame.linesize[2];
        for (int x = 0; x < w / 2; ++x) {
            const bool onBar = 2 * x >= barX && 2 * x < barX + barWidth;
            u[x] = onBar ? pal.barU : pal.backU;
            v[x] = onBar ? pal.barV : static_cast<uint8_t>(pal.backV + ((y + shift) & 0x0f));
        }
    }

    // Counter: 16 blocks, black for 0 and white for 1, big enough to survive
    // compression at small sizes.
    const int block = std::max(2, std::min(w / 20, h / 12)) & ~1;
    for (int bit = 0; bit < 16 && (bit + 1) * block <= w; ++bit) {
        const uint8_t luma = (index >> bit) & 1 ? 235 : 16;
        for (int y = 0; y < block && y < h; ++y)
            std::fill_n(frame.data[0] + y * frame.linesize[0] + bit * block, block, luma);
        for (int y = 0; y < block / 2; ++y) {
            std::fill_n(frame.data[1] + y * frame.linesize[1] + bit * block / 2, block / 2, 128);
            std::fill_n(frame.data[2] + y * frame.linesize[2] + bit * block / 2, block / 2, 128);
        }
    }
}

bool FillTone(AVFrame& frame, long long first, int sampleRate, double hz) {
    const auto fmt = static_cast<AVSampleFormat>(frame.format);
    const int channels = frame.ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(fmt);
    const AVSampleFormat packed = av_get_packed_sample_fmt(fmt);
    if (packed != AV_SAMPLE_FMT_S16 && packed != AV_SAMPLE_FMT_S32 && packed != AV_SAMPLE_FMT_FLT &&
        packed != AV_SAMPLE_FMT_DBL)
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
