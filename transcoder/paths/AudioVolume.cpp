// transcoder/paths/AudioVolume.cpp — volume for every sample format.
#include "transcoder/paths/AudioVolume.h"

#include <algorithm>
#include <cstring>

namespace tw {

namespace {

template <typename T, typename Wide>
void ScaleInts(uint8_t* p, size_t bytes, int volume, Wide lo, Wide hi) {
    const size_t n = bytes / sizeof(T);
    for (size_t i = 0; i < n; ++i) {
        T s;
        std::memcpy(&s, p + i * sizeof(T), sizeof(T));
        const Wide v = (Wide(s) * volume + 128) >> 8;
        s = static_cast<T>(std::clamp(v, lo, hi));
        std::memcpy(p + i * sizeof(T), &s, sizeof(T));
    }
}

template <typename T>
void ScaleFloats(uint8_t* p, size_t bytes, int volume) {
    const size_t n = bytes / sizeof(T);
    const T factor = T(volume) / T(256);
    for (size_t i = 0; i < n; ++i) {
        T s;
        std::memcpy(&s, p + i * sizeof(T), sizeof(T));
        s *= factor;
        std::memcpy(p + i * sizeof(T), &s, sizeof(T));
    }
}

}  // namespace

void ApplyVolume(uint8_t* samples, size_t bytes, AVSampleFormat format, int volume) {
    if (volume == 256 || !samples) return;
    switch (format) {
        case AV_SAMPLE_FMT_U8:
        case AV_SAMPLE_FMT_U8P:
            for (size_t i = 0; i < bytes; ++i) {
                const int v = ((int(samples[i]) - 128) * volume + 128) >> 8;
                samples[i] = static_cast<uint8_t>(std::clamp(v, -128, 127) + 128);
            }
            break;
        case AV_SAMPLE_FMT_S16:
        case AV_SAMPLE_FMT_S16P:
            ScaleInts<int16_t, int32_t>(samples, bytes, volume, -32768, 32767);
            break;
        case AV_SAMPLE_FMT_S32:
        case AV_SAMPLE_FMT_S32P:
            ScaleInts<int32_t, int64_t>(samples, bytes, volume, INT32_MIN, INT32_MAX);
            break;
        case AV_SAMPLE_FMT_S64:
        case AV_SAMPLE_FMT_S64P:
            ScaleInts<int64_t, __int128>(samples, bytes, volume, INT64_MIN, INT64_MAX);
            break;
        case AV_SAMPLE_FMT_FLT:
        case AV_SAMPLE_FMT_FLTP:
            ScaleFloats<float>(samples, bytes, volume);
            break;
        case AV_SAMPLE_FMT_DBL:
        case AV_SAMPLE_FMT_DBLP:
            ScaleFloats<double>(samples, bytes, volume);
            break;
        default:
            break;
    }
}

}  // namespace tw
