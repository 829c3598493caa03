// diag/Bitmap.h — the picture handed to hooks and to the preview: a plain
// device-independent bitmap with a selectable RGB layout and row access.
//
// Rows are stored bottom-up, as the desktop bitmaps of the day stored them:
// ScanLine(0) is the top row but lies at the end of the memory block. Each
// row is padded to a multiple of four bytes. The window turns a bitmap into
// an image to show; handlers may draw on it between LockCanvas and
// UnlockCanvas.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace tw {

/// The five layouts a bitmap can have.
enum class TPixelLayout { pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

/// Bits one pixel takes in memory (the 15-bit layout takes 16).
int BitsOfLayout(TPixelLayout layout);

class TBitmap {
  public:
    TBitmap() = default;
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    TPixelLayout PixelFormat() const { return FPixelFormat; }
    /// Changing the layout keeps the size; the contents become undefined.
    void SetPixelFormat(TPixelLayout layout);
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    /// Resizes (negative sizes count as 0); contents are kept only when the
    /// size does not change.
    void SetSize(int width, int height);
    /// Bytes of one stored row: width x bits rounded up to 32 bits.
    int RowSize() const { return RowSizeFor(FWidth, BitsOfLayout(FPixelFormat)); }
    static int RowSizeFor(int width, int bits) { return ((width * bits + 31) / 32) * 4; }
    /// Row y, 0 being the top row. y must lie in [0, Height).
    uint8_t* ScanLine(int y) { return FBits.data() + size_t(FHeight - 1 - y) * RowSize(); }
    const uint8_t* ScanLine(int y) const {
        return FBits.data() + size_t(FHeight - 1 - y) * RowSize();
    }
    /// Held by whoever draws on the bitmap while another thread may read it.
    void LockCanvas() { FCanvas.lock(); }
    void UnlockCanvas() { FCanvas.unlock(); }

  private:
    TPixelLayout FPixelFormat = TPixelLayout::pf24bit;
    int FWidth = 0;
    int FHeight = 0;
    std::vector<uint8_t> FBits;
    std::mutex FCanvas;
    void Allocate();
};

}  // namespace tw
