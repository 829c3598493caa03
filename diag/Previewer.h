// diag/Previewer.h — the built-in preview: shows the latest preview picture
// with its time as the caption.
//
// The engine talks to TPreviewer only. The window is the application's
// business: the desktop front end installs a factory that makes a small
// always-on-top tool window; where there is none (command line, tests) the
// default previewer reports "closed" at once, so the engine stops previewing.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "diag/Bitmap.h"

namespace tw {

class TPreviewer {
  public:
    virtual ~TPreviewer() = default;
    /// Worker thread. When not Closed, stores the picture and its time and
    /// has Paint run on the main thread, waiting for it. True while the
    /// window has not been closed by the user.
    bool Show(TBitmap* picture, int frameNumber, int64_t timeUs);
    bool Closed() const { return FClosed; }

  protected:
    /// Main thread: draw Picture() (nothing is to be done when Closed()).
    virtual void Paint() = 0;
    /// The window calls this when the user closes it.
    void SetClosed() { FClosed = true; }
    TBitmap* Picture() const { return FPicture; }
    int64_t Time() const { return FTime; }

  private:
    std::atomic<bool> FClosed = false;
    TBitmap* FPicture = nullptr;
    int64_t FTime = 0;
};

/// Makes the previewer of a run; installed by the application.
using TPreviewerFactory = std::function<std::unique_ptr<TPreviewer>()>;
/// Replaces the factory (an empty one restores the default). Main thread,
/// while no run is going on.
void SetPreviewerFactory(TPreviewerFactory factory);
/// A new previewer from the installed factory, or the windowless default.
std::unique_ptr<TPreviewer> NewPreviewer();

}  // namespace tw
