// app/window/PreviewWindow.h — the built-in preview as a small always-on-top
// tool window showing the latest preview picture, its time as the caption.
#pragma once

#include <memory>

#include "diag/Previewer.h"

class QWidget;

namespace tw {

class TPreviewForm;

/// The window's previewer. Created, painted and destroyed on the main thread
/// (the engine's worker reaches it through TPreviewer::Show).
class TWindowPreviewer final : public TPreviewer {
  public:
    TWindowPreviewer();
    ~TWindowPreviewer() override;
    /// The window, once the first picture was painted (null before).
    QWidget* Window() const;

  protected:
    void Paint() override;

  private:
    friend class TPreviewForm;
    std::unique_ptr<TPreviewForm> FWindow;
};

/// Makes every later preview of the process use a window. Main thread.
void InstallWindowPreviewer();

}  // namespace tw
