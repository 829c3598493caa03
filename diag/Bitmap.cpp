// diag/Bitmap.cpp — storage of the bitmap.
#include "diag/Bitmap.h"

#include <algorithm>

namespace tw {

int BitsOfLayout(TPixelLayout layout) {
    switch (layout) {
        case TPixelLayout::pf8bit:
            return 8;
        case TPixelLayout::pf15bit:
        case TPixelLayout::pf16bit:
            return 16;
        case TPixelLayout::pf24bit:
            return 24;
        case TPixelLayout::pf32bit:
            return 32;
    }
    return 24;
}

void TBitmap::SetPixelFormat(TPixelLayout layout) {
    if (layout == FPixelFormat) return;
    FPixelFormat = layout;
    Allocate();
}

void TBitmap::SetSize(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == FWidth && height == FHeight) return;
    FWidth = width;
    FHeight = height;
    Allocate();
}

void TBitmap::Allocate() { FBits.assign(size_t(RowSize()) * size_t(FHeight), 0); }

}  // namespace tw
