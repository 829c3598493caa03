// diag/FormatConverter.h — turns a decoded picture into a bitmap in one of
// the five RGB layouts, and writes an edited bitmap back into the picture.
//
// One converter per use (the input hooks, the output hooks and the preview
// each have their own). All calls run on one thread at a time: the engine's.
#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "binding/LibPtr.h"
#include "diag/Bitmap.h"
#include "diag/FrameHookModule.h"

struct SwsContext;

namespace tw {

/// Plane pointers and line sizes of one picture (the memory is not owned).
using TPicture = TwHookPicture;

/// The first four planes of a frame.
TPicture PictureOf(const AVFrame* frame);

class TFormatConverter {
  public:
    TFormatConverter();
    ~TFormatConverter();
    TFormatConverter(const TFormatConverter&) = delete;
    TFormatConverter& operator=(const TFormatConverter&) = delete;

    /// Forgets the current picture and gives the bitmap the layout of
    /// PixelFormat.
    void Reset();
    /// 8, 15, 16, 24 or 32 select a layout (and Reset); the value that is
    /// already in effect changes nothing. Any other value throws
    /// std::invalid_argument "Invalid BitsPixel <n>".
    void SetBitsPixel(int bits);

    /// Converts picture (format, width x height) into RGB; with copy also into
    /// Bitmap. When the picture already has the bitmap's memory layout it is
    /// used as it is and becomes CurrentPicture itself (picture must then stay
    /// alive while the converter refers to it). False with LastError set when
    /// no scaler can be made.
    bool ToBitmap(TPicture* picture, AVPixelFormat format, bool copy, int height, int width);
    /// Row by row, CurrentPicture into Bitmap / Bitmap into CurrentPicture.
    /// Both need a CurrentPicture (std::logic_error otherwise).
    void CopyToBitmap();
    void CopyFromBitmap();
    /// Converts CurrentPicture into dest (format, width x height). Needs a
    /// CurrentPicture. False with LastError set when no scaler can be made.
    bool FromBitmap(TPicture* dest, AVPixelFormat format, int height, int width);

    TPixelLayout PixelFormat() const { return FPixelFormat; }
    int BitsPixel() const { return FBitsPixel; }
    AVPixelFormat RGBPixFmt() const { return FRGBPixFmt; }
    TBitmap& Bitmap() { return FBitmap; }
    /// The converter's own picture, laid over its buffer.
    TPicture* RGBPicture() { return &FRGBPicture; }
    /// RGBPicture, the caller's picture, or null after a reset or a failure.
    TPicture* CurrentPicture() const { return FCurrentPicture; }
    int BufferSize() const { return FBufferSize; }
    const uint8_t* Buffer() const { return FBuffer.get(); }
    const std::string& LastError() const { return FLastError; }

  private:
    TPixelLayout FPixelFormat = TPixelLayout::pf24bit;
    int FBitsPixel = 24;
    AVPixelFormat FRGBPixFmt = AV_PIX_FMT_BGR24;
    TBitmap FBitmap;
    LibBufferPtr<uint8_t> FBuffer;
    int FBufferSize = 0;
    TPicture FRGBPicture{};
    TPicture* FCurrentPicture = nullptr;
    // Cached scalers: sws_getCachedContext may hand back a new context and
    // free the old one, so they are released before being replaced.
    SwsContextPtr FToRGBContext, FFromRGBContext;
    std::string FLastError;
};

}  // namespace tw
