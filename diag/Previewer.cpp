// diag/Previewer.cpp — the previewer's main-thread hand-over and the
// windowless default.
#include "diag/Previewer.h"

#include <mutex>

#include "diag/MainThread.h"

namespace tw {

bool TPreviewer::Show(TBitmap* picture, int, int64_t timeUs) {
    if (FClosed) return false;
    FPicture = picture;
    FTime = timeUs;
    RunOnMainThread([this] {
        if (!FClosed) Paint();
    });
    return !FClosed;
}

namespace {

// No window to show the picture in: closed from the start.
class TNoWindowPreviewer final : public TPreviewer {
  public:
    TNoWindowPreviewer() { SetClosed(); }

  protected:
    void Paint() override {}
};

std::mutex gFactoryLock;
TPreviewerFactory gFactory;

}  // namespace

void SetPreviewerFactory(TPreviewerFactory factory) {
    std::lock_guard<std::mutex> lock(gFactoryLock);
    gFactory = std::move(factory);
}

std::unique_ptr<TPreviewer> NewPreviewer() {
    TPreviewerFactory factory;
    {
        std::lock_guard<std::mutex> lock(gFactoryLock);
        factory = gFactory;
    }
    if (factory)
        if (auto p = factory()) return p;
    return std::make_unique<TNoWindowPreviewer>();
}

}  // namespace tw
