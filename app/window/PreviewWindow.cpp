// app/window/PreviewWindow.cpp — the preview tool window.
#include "app/window/PreviewWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include "app/window/BitmapImage.h"
#include "diag/FFUtils.h"

namespace tw {

class TPreviewForm : public QWidget {
  public:
    explicit TPreviewForm(TWindowPreviewer& owner)
        : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                               Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                               Qt::WindowCloseButtonHint),
          FOwner(owner) {
        // While the window exists it sees the application's events first; a
        // press anywhere in it moves it as a press on its caption would.
        qApp->installEventFilter(this);
    }
    ~TPreviewForm() override { qApp->removeEventFilter(this); }

    void ShowPicture(const QImage& image) {
        FImage = image;
        if (!FShown) {
            // The client area keeps the size of the first picture.
            setFixedSize(image.size());
            if (QScreen* screen = QGuiApplication::primaryScreen())
                move(screen->availableGeometry().center() - rect().center());
            show();
            FShown = true;
        }
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawImage(0, 0, FImage);
    }
    void closeEvent(QCloseEvent* event) override {
        FOwner.SetClosed();
        event->accept();  // the window hides
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress &&
            (watched == this || watched == windowHandle()) &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            windowHandle()->startSystemMove();
            return true;  // handled
        }
        return QWidget::eventFilter(watched, event);
    }

  private:
    TWindowPreviewer& FOwner;
    QImage FImage;
    bool FShown = false;
};

TWindowPreviewer::TWindowPreviewer() = default;

TWindowPreviewer::~TWindowPreviewer() = default;

QWidget* TWindowPreviewer::Window() const { return FWindow.get(); }

void TWindowPreviewer::Paint() {
    if (Closed() || !Picture()) return;
    if (!FWindow) FWindow = std::make_unique<TPreviewForm>(*this);
    FWindow->setWindowTitle(QString::fromStdString(FormatTime(Time())));
    // A copy: the engine reuses the bitmap as soon as Show returns.
    Picture()->LockCanvas();
    QImage image = BitmapToImage(*Picture());
    Picture()->UnlockCanvas();
    FWindow->ShowPicture(image);
}

void InstallWindowPreviewer() {
    SetPreviewerFactory([] { return std::make_unique<TWindowPreviewer>(); });
}

}  // namespace tw
