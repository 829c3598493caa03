// diag/FormatConverter.cpp — picture <-> bitmap conversion.
#include "diag/FormatConverter.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "binding/Entries.h"

namespace tw {

namespace {

struct LayoutRow {
    int Requested;
    TPixelLayout Layout;
    int Bits;
    AVPixelFormat Format;
};

// The bitmap layouts and the library formats with the same memory layout.
constexpr LayoutRow kLayouts[] = {
    {8, TPixelLayout::pf8bit, 8, AV_PIX_FMT_BGR8},
    {15, TPixelLayout::pf15bit, 16, AV_PIX_FMT_BGR555LE},
    {16, TPixelLayout::pf16bit, 16, AV_PIX_FMT_BGR565LE},
    {24, TPixelLayout::pf24bit, 24, AV_PIX_FMT_BGR24},
    {32, TPixelLayout::pf32bit, 32, AV_PIX_FMT_BGRA},
};

constexpr int kBicubic = 4;  // SWS_BICUBIC

}  // namespace

TPicture PictureOf(const AVFrame* frame) {
    TPicture p{};
    for (int i = 0; i < 4; ++i) {
        p.data[i] = frame->data[i];
        p.linesize[i] = frame->linesize[i];
    }
    return p;
}

TFormatConverter::TFormatConverter() { Reset(); }

TFormatConverter::~TFormatConverter() = default;

void TFormatConverter::Reset() {
    FRGBPicture = TPicture{};
    FCurrentPicture = nullptr;
    for (const LayoutRow& row : kLayouts)
        if (row.Layout == FPixelFormat) {
            FBitsPixel = row.Bits;
            FRGBPixFmt = row.Format;
        }
    FBitmap.SetPixelFormat(FPixelFormat);
}

void TFormatConverter::SetBitsPixel(int bits) {
    if (bits == FBitsPixel) return;
    for (const LayoutRow& row : kLayouts)
        if (row.Requested == bits) {
            FPixelFormat = row.Layout;
            Reset();
            return;
        }
    throw std::invalid_argument("Invalid BitsPixel " + std::to_string(bits));
}

bool TFormatConverter::ToBitmap(TPicture* picture, AVPixelFormat format, bool copy, int height,
                                int width) {
    FBitmap.SetSize(width, height);
    const bool usable = format == FRGBPixFmt && width % 2 == 0 && height % 2 == 0 &&
                        picture->linesize[0] == TBitmap::RowSizeFor(width, FBitsPixel);
    if (usable) {
        // Already in the bitmap's layout: no copy of our own.
        FCurrentPicture = picture;
    } else {
        const int size = lib().av_image_get_buffer_size(FRGBPixFmt, width, height, 1);
        if (size < 0) {
            FCurrentPicture = nullptr;
            FLastError = "Cannot initialize the toRGB conversion context";
            return false;
        }
        if (!FBuffer || FBufferSize < size) {
            FBuffer.reset();
            FBufferSize = 0;
            FBuffer.reset(static_cast<uint8_t*>(lib().av_malloc(size)));
            if (!FBuffer) {
                FCurrentPicture = nullptr;
                FLastError = "Cannot initialize the toRGB conversion context";
                return false;
            }
            FBufferSize = size;
        }
        FRGBPicture = TPicture{};
        lib().av_image_fill_arrays(FRGBPicture.data, FRGBPicture.linesize, FBuffer.get(),
                                   FRGBPixFmt, width, height, 1);
        SwsContext* ctx =
            lib().sws_getCachedContext(FToRGBContext.get(), width, height, format, width, height,
                                       FRGBPixFmt, kBicubic, nullptr, nullptr, nullptr);
        // The cached call freed the old context when it made a new one.
        if (ctx != FToRGBContext.get()) {
            (void)FToRGBContext.release();
            FToRGBContext.reset(ctx);
        }
        if (!ctx) {
            FCurrentPicture = nullptr;
            FLastError = "Cannot initialize the toRGB conversion context";
            return false;
        }
        lib().sws_scale(ctx, picture->data, picture->linesize, 0, height, FRGBPicture.data,
                        FRGBPicture.linesize);
        FCurrentPicture = &FRGBPicture;
    }
    if (copy) CopyToBitmap();
    return true;
}

void TFormatConverter::CopyToBitmap() {
    if (!FCurrentPicture) throw std::logic_error("Assertion failure");
    const int rowBytes = std::min(FBitmap.RowSize(), FCurrentPicture->linesize[0]);
    if (rowBytes <= 0) return;
    const uint8_t* src = FCurrentPicture->data[0];
    for (int y = 0; y < FBitmap.Height(); ++y, src += FCurrentPicture->linesize[0])
        std::memcpy(FBitmap.ScanLine(y), src, rowBytes);
}

void TFormatConverter::CopyFromBitmap() {
    if (!FCurrentPicture) throw std::logic_error("Assertion failure");
    const int rowBytes = std::min(FBitmap.RowSize(), FCurrentPicture->linesize[0]);
    if (rowBytes <= 0) return;
    uint8_t* dst = FCurrentPicture->data[0];
    for (int y = 0; y < FBitmap.Height(); ++y, dst += FCurrentPicture->linesize[0])
        std::memcpy(dst, FBitmap.ScanLine(y), rowBytes);
}

bool TFormatConverter::FromBitmap(TPicture* dest, AVPixelFormat format, int height, int width) {
    if (!FCurrentPicture) throw std::logic_error("Assertion failure");
    SwsContext* ctx =
        lib().sws_getCachedContext(FFromRGBContext.get(), width, height, FRGBPixFmt, width, height,
                                   format, kBicubic, nullptr, nullptr, nullptr);
    if (ctx != FFromRGBContext.get()) {
        (void)FFromRGBContext.release();
        FFromRGBContext.reset(ctx);
    }
    if (!ctx) {
        FLastError = "Cannot initialize the fromRGB conversion context";
        return false;
    }
    lib().sws_scale(ctx, FCurrentPicture->data, FCurrentPicture->linesize, 0, height, dest->data,
                    dest->linesize);
    return true;
}

}  // namespace tw
