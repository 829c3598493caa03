// The preview window: created on the main thread for a picture shown from a
// worker, captioned with the picture time, sized to the first picture, and
// closed for good by the user; and bitmap layouts turned into images.
#include "app/window/PreviewWindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/window/BitmapImage.h"
#include "diag/MainThread.h"
#include "tests/window/OffscreenApp.h"

namespace tw {
namespace {

class PreviewWindow : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { App = test::OffscreenApp(); }
    // Shows the bitmap from a worker thread while this (main) thread serves
    // the call queue, as the window's event loop does.
    static bool ShowFromWorker(TPreviewer& p, TBitmap& bmp, int64_t time) {
        std::atomic<bool> done = false;
        bool result = false;
        std::thread worker([&] {
            result = p.Show(&bmp, 1, time);
            done = true;
            WakeMainThread();
        });
        while (!done) WaitAndDrainMainThreadCalls(std::chrono::milliseconds(50));
        worker.join();
        QApplication::processEvents();
        return result;
    }
    static inline QApplication* App = nullptr;
};

void Fill(TBitmap& bmp, uint8_t b, uint8_t g, uint8_t r) {
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x) {
            uint8_t* p = bmp.ScanLine(y) + x * 3;
            p[0] = b;
            p[1] = g;
            p[2] = r;
        }
}

// Catches: the window made off the main thread, a wrong caption or size, a
// window that is not a topmost tool window, or previews after the user
// closed it.
TEST_F(PreviewWindow, ShowsTheLatestPictureUntilClosed) {
    InstallWindowPreviewer();
    std::unique_ptr<TPreviewer> made = NewPreviewer();
    auto* p = dynamic_cast<TWindowPreviewer*>(made.get());
    ASSERT_NE(p, nullptr);
    TBitmap bmp;
    bmp.SetSize(64, 48);
    Fill(bmp, 0, 0, 255);  // red
    ASSERT_TRUE(ShowFromWorker(*p, bmp, 3723004000));
    QWidget* w = p->Window();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->thread(), QApplication::instance()->thread());
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle().toStdString(), "01:02:03.004");
    EXPECT_EQ(w->size(), QSize(64, 48));
    EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(w->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_EQ(w->grab().toImage().pixelColor(10, 10), QColor(255, 0, 0));

    // A larger picture later keeps the window's size.
    bmp.SetSize(128, 96);
    Fill(bmp, 255, 0, 0);  // blue
    ASSERT_TRUE(ShowFromWorker(*p, bmp, 0));
    EXPECT_EQ(w->size(), QSize(64, 48));
    EXPECT_EQ(w->windowTitle().toStdString(), "00:00:00.000");
    EXPECT_EQ(w->grab().toImage().pixelColor(10, 10), QColor(0, 0, 255));

    w->close();
    EXPECT_TRUE(p->Closed());
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(ShowFromWorker(*p, bmp, 5000000));
    EXPECT_EQ(w->windowTitle().toStdString(), "00:00:00.000");  // not painted again
    SetPreviewerFactory(nullptr);
}

// Catches: channels swapped or rows flipped when a layout becomes an image.
TEST_F(PreviewWindow, EveryLayoutBecomesTheSameImage) {
    struct Case {
        TPixelLayout layout;
        std::vector<uint8_t> red;  // one red pixel in the layout's bytes
    };
    const Case cases[] = {
        {TPixelLayout::pf8bit, {0x07}},
        {TPixelLayout::pf15bit, {0x1F, 0x00}},
        {TPixelLayout::pf16bit, {0x1F, 0x00}},
        {TPixelLayout::pf24bit, {0x00, 0x00, 0xFF}},
        {TPixelLayout::pf32bit, {0x00, 0x00, 0xFF, 0xFF}},
    };
    for (const Case& c : cases) {
        TBitmap bmp;
        bmp.SetPixelFormat(c.layout);
        bmp.SetSize(3, 2);
        // The top row red at its first pixel, everything else black.
        std::memcpy(bmp.ScanLine(0), c.red.data(), c.red.size());
        const QImage image = BitmapToImage(bmp);
        ASSERT_EQ(image.size(), QSize(3, 2));
        EXPECT_EQ(QColor(image.pixel(0, 0)), QColor(255, 0, 0)) << int(c.layout);
        EXPECT_EQ(QColor(image.pixel(0, 1)), QColor(0, 0, 0)) << int(c.layout);
        EXPECT_EQ(QColor(image.pixel(1, 0)), QColor(0, 0, 0)) << int(c.layout);
    }
}

}  // namespace
}  // namespace tw
