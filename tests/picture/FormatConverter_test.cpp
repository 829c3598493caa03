// Picture <-> bitmap conversion: the no-copy path, odd sizes, layouts,
// buffer reuse and writing an edited bitmap back.
#include "diag/FormatConverter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "binding/Entries.h"
#include "binding/FFLoad.h"

extern "C" {
#include <libavutil/imgutils.h>
}

using namespace tw;

namespace {

struct FrameFree {
    void operator()(AVFrame* f) const { lib().av_frame_free(&f); }
};
using Frame = std::unique_ptr<AVFrame, FrameFree>;

Frame MakeFrame(AVPixelFormat format, int width, int height, int align = 1) {
    Frame f(lib().av_frame_alloc());
    f->format = format;
    f->width = width;
    f->height = height;
    if (lib().av_frame_get_buffer(f.get(), align) < 0) return nullptr;
    return f;
}

// A recognisable pattern: every byte depends on its row and column.
void Pattern(TPicture& p, int rowBytes, int height) {
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < rowBytes; ++x) p.data[0][y * p.linesize[0] + x] = uint8_t(x * 7 + y);
}

class Converter : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FFLoader().Load(WorkLibraryKinds)) << FFLoader().LastErrMsg();
    }
};

}  // namespace

TEST_F(Converter, PictureInTheBitmapLayoutIsUsedWithoutCopy) {
    TFormatConverter c;
    Frame f = MakeFrame(AV_PIX_FMT_BGR24, 640, 480);
    ASSERT_TRUE(f);
    ASSERT_EQ(f->linesize[0], 1920);
    TPicture pic = PictureOf(f.get());
    Pattern(pic, 1920, 480);
    ASSERT_TRUE(c.ToBitmap(&pic, AV_PIX_FMT_BGR24, true, 480, 640));
    EXPECT_EQ(c.CurrentPicture(), &pic);
    EXPECT_EQ(c.Buffer(), nullptr);
    EXPECT_EQ(std::memcmp(c.Bitmap().ScanLine(0), pic.data[0], 1920), 0);
    EXPECT_EQ(std::memcmp(c.Bitmap().ScanLine(479), pic.data[0] + 479 * 1920, 1920), 0);
    // Edits of the bitmap go straight into the caller's picture.
    std::memset(c.Bitmap().ScanLine(10), 0xAB, 1920);
    c.CopyFromBitmap();
    EXPECT_EQ(pic.data[0][10 * 1920 + 5], 0xAB);
    EXPECT_EQ(pic.data[0][11 * 1920 + 5], uint8_t(5 * 7 + 11));
}

TEST_F(Converter, OddWidthIsConvertedAndEveryRowStaysInPlace) {
    TFormatConverter c;
    Frame f = MakeFrame(AV_PIX_FMT_BGR24, 641, 480);
    ASSERT_TRUE(f);
    TPicture pic = PictureOf(f.get());
    Pattern(pic, 641 * 3, 480);
    ASSERT_TRUE(c.ToBitmap(&pic, AV_PIX_FMT_BGR24, true, 480, 641));
    EXPECT_EQ(c.CurrentPicture(), c.RGBPicture());
    EXPECT_EQ(c.Bitmap().RowSize(), 1924);
    for (int y : {0, 1, 239, 479})
        EXPECT_EQ(std::memcmp(c.Bitmap().ScanLine(y), pic.data[0] + y * pic.linesize[0], 1923), 0)
            << "row " << y;
    // Rows are stored bottom-up.
    EXPECT_EQ(c.Bitmap().ScanLine(479) + 479 * 1924, c.Bitmap().ScanLine(0));
}

TEST_F(Converter, LayoutsAndBitsPerPixel) {
    TFormatConverter c;
    EXPECT_EQ(c.BitsPixel(), 24);
    c.SetBitsPixel(24);  // already in effect
    EXPECT_EQ(c.RGBPixFmt(), AV_PIX_FMT_BGR24);
    try {
        c.SetBitsPixel(12);
        FAIL() << "12 bits accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Invalid BitsPixel 12");
    }
    EXPECT_EQ(c.BitsPixel(), 24);

    c.SetBitsPixel(15);
    EXPECT_EQ(c.PixelFormat(), TPixelLayout::pf15bit);
    EXPECT_EQ(c.BitsPixel(), 16);
    EXPECT_EQ(c.RGBPixFmt(), AV_PIX_FMT_BGR555LE);
    c.SetBitsPixel(16);  // 16 bits are what the 15-bit layout keeps
    EXPECT_EQ(c.PixelFormat(), TPixelLayout::pf15bit);
    c.SetBitsPixel(32);
    EXPECT_EQ(c.RGBPixFmt(), AV_PIX_FMT_BGRA);
    EXPECT_EQ(c.Bitmap().PixelFormat(), TPixelLayout::pf32bit);
    c.SetBitsPixel(8);
    EXPECT_EQ(c.RGBPixFmt(), AV_PIX_FMT_BGR8);

    // A layout change forgets the current picture.
    Frame f = MakeFrame(AV_PIX_FMT_YUV420P, 64, 48);
    TPicture pic = PictureOf(f.get());
    ASSERT_TRUE(c.ToBitmap(&pic, AV_PIX_FMT_YUV420P, true, 48, 64));
    EXPECT_NE(c.CurrentPicture(), nullptr);
    c.SetBitsPixel(16);
    EXPECT_EQ(c.CurrentPicture(), nullptr);
    EXPECT_THROW(c.CopyToBitmap(), std::logic_error);
}

TEST_F(Converter, BufferGrowsButNeverShrinks) {
    TFormatConverter c;
    Frame big = MakeFrame(AV_PIX_FMT_YUV420P, 320, 240);
    Frame small = MakeFrame(AV_PIX_FMT_YUV420P, 160, 120);
    Frame bigger = MakeFrame(AV_PIX_FMT_YUV420P, 640, 480);
    TPicture p1 = PictureOf(big.get()), p2 = PictureOf(small.get()), p3 = PictureOf(bigger.get());
    ASSERT_TRUE(c.ToBitmap(&p1, AV_PIX_FMT_YUV420P, false, 240, 320));
    const uint8_t* first = c.Buffer();
    EXPECT_EQ(c.BufferSize(), 320 * 240 * 3);
    ASSERT_TRUE(c.ToBitmap(&p2, AV_PIX_FMT_YUV420P, false, 120, 160));
    EXPECT_EQ(c.Buffer(), first);
    EXPECT_EQ(c.BufferSize(), 320 * 240 * 3);
    ASSERT_TRUE(c.ToBitmap(&p3, AV_PIX_FMT_YUV420P, false, 480, 640));
    EXPECT_EQ(c.BufferSize(), 640 * 480 * 3);
}

TEST_F(Converter, EditedBitmapGoesBackIntoAYuvPicture) {
    TFormatConverter c;
    Frame f = MakeFrame(AV_PIX_FMT_YUV420P, 96, 64);
    ASSERT_TRUE(f);
    TPicture pic = PictureOf(f.get());
    std::memset(f->data[0], 16, size_t(f->linesize[0]) * 64);  // black
    std::memset(f->data[1], 128, size_t(f->linesize[1]) * 32);
    std::memset(f->data[2], 128, size_t(f->linesize[2]) * 32);
    ASSERT_TRUE(c.ToBitmap(&pic, AV_PIX_FMT_YUV420P, true, 64, 96));
    EXPECT_LT(c.Bitmap().ScanLine(0)[0], 8);
    for (int y = 0; y < 64; ++y) std::memset(c.Bitmap().ScanLine(y), 255, 96 * 3);  // white
    c.CopyFromBitmap();
    ASSERT_EQ(c.CurrentPicture(), c.RGBPicture());
    ASSERT_TRUE(c.FromBitmap(&pic, AV_PIX_FMT_YUV420P, 64, 96));
    EXPECT_GE(f->data[0][0], 230);
    EXPECT_GE(f->data[0][63 * f->linesize[0] + 95], 230);
}

TEST_F(Converter, UnconvertibleFormatFailsWithItsText) {
    TFormatConverter c;
    Frame f = MakeFrame(AV_PIX_FMT_YUV420P, 32, 32);
    TPicture pic = PictureOf(f.get());
    ASSERT_TRUE(c.ToBitmap(&pic, AV_PIX_FMT_YUV420P, false, 32, 32));
    // A hardware surface format has no software conversion.
    EXPECT_FALSE(c.ToBitmap(&pic, AV_PIX_FMT_VAAPI, false, 32, 32));
    EXPECT_EQ(c.LastError(), "Cannot initialize the toRGB conversion context");
    EXPECT_EQ(c.CurrentPicture(), nullptr);
}
