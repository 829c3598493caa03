// app/window/BitmapImage.h — a bitmap of the engine as an image the window
// can draw.
#pragma once

#include <QImage>

#include "diag/Bitmap.h"

namespace tw {

/// A deep copy of bitmap as an image, in the image format closest to the
/// bitmap's layout (24-bit and 32-bit rows are copied as they are; the 8, 15
/// and 16-bit layouts are widened to 32 bits).
QImage BitmapToImage(const TBitmap& bitmap);

}  // namespace tw
