// app/window/BitmapImage.cpp — bitmap layouts to images.
#include "app/window/BitmapImage.h"

#include <cstring>

namespace tw {

namespace {

// Widens a channel of `bits` bits to 8 bits.
inline int Widen(unsigned value, int bits) {
    return static_cast<int>((value * 255 + ((1u << bits) - 1) / 2) / ((1u << bits) - 1));
}

QRgb PixelOf(const uint8_t* p, TPixelLayout layout) {
    switch (layout) {
        case TPixelLayout::pf8bit: {
            // (msb) 2 bits blue, 3 green, 3 red (lsb)
            const unsigned v = p[0];
            return qRgb(Widen(v & 7, 3), Widen((v >> 3) & 7, 3), Widen(v >> 6, 2));
        }
        case TPixelLayout::pf15bit: {
            // little-endian (msb) 1 unused, 5 blue, 5 green, 5 red (lsb)
            const unsigned v = p[0] | p[1] << 8;
            return qRgb(Widen(v & 31, 5), Widen((v >> 5) & 31, 5), Widen((v >> 10) & 31, 5));
        }
        case TPixelLayout::pf16bit: {
            // little-endian (msb) 5 blue, 6 green, 5 red (lsb)
            const unsigned v = p[0] | p[1] << 8;
            return qRgb(Widen(v & 31, 5), Widen((v >> 5) & 63, 6), Widen(v >> 11, 5));
        }
        default:
            return 0;
    }
}

}  // namespace

QImage BitmapToImage(const TBitmap& bitmap) {
    const int w = bitmap.Width(), h = bitmap.Height();
    if (w <= 0 || h <= 0) return QImage();
    const TPixelLayout layout = bitmap.PixelFormat();
    if (layout == TPixelLayout::pf24bit || layout == TPixelLayout::pf32bit) {
        // Blue, green, red (and alpha) in memory order: the image formats with
        // the same bytes.
        const bool wide = layout == TPixelLayout::pf32bit;
        QImage image(w, h, wide ? QImage::Format_ARGB32 : QImage::Format_BGR888);
        const int bytes = w * (wide ? 4 : 3);
        for (int y = 0; y < h; ++y) std::memcpy(image.scanLine(y), bitmap.ScanLine(y), bytes);
        return image;
    }
    QImage image(w, h, QImage::Format_RGB32);
    const int step = layout == TPixelLayout::pf8bit ? 1 : 2;
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = bitmap.ScanLine(y);
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) dst[x] = PixelOf(src + x * step, layout);
    }
    return image;
}

}  // namespace tw
