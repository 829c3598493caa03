// transcoder/CustomFFmpeg.cpp — construction and option reset of the engine, and
// the hand-over of an opened input to the owner's callback.
#include "transcoder/CustomFFmpeg.h"

#include <stdexcept>

#include "binding/Entries.h"
#include "binding/FFLoad.h"
#include "transcoder/PictureState.h"

namespace tw {

// --- construction and reset

TCustomFFmpeg::TCustomFFmpeg(int maxFiles)
    : TFileSet(maxFiles),
      FPicture(std::make_unique<TPictureState>()) {
    ResetOptions();
}

void TCustomFFmpeg::ResetOptions() {
    if (!FFLoader().Loaded(WorkLibraryKinds)) return;
    ResetOptionValues();
    SetPreviewFlags(0, false);
    Running = false;
    StopRequested = false;
    Finished = false;
    Terminated = false;
    JoinMode = false;
    ErrorRaised = false;
    TotalDuration = -1;
}

void TCustomFFmpeg::BeforeFindStreamInfo(AVFormatContext* context) {
    if (BeforeFindStreamInfoCallback) BeforeFindStreamInfoCallback(this, context);
}

}  // namespace tw
