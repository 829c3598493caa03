// transcoder/PictureState.h — what the engine keeps for the picture side of
// a run: the hook buffers, the two bitmap converters, the preview state and
// the video statistics file.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>

#include "diag/FormatConverter.h"
#include "diag/Previewer.h"
#include "transcoder/StreamTables.h"

namespace tw {

struct TPictureState {
    /// Input stage: the picture hooks and deinterlacing work on (never the
    /// decoder's own buffers).
    FramePtr HookPicture;
    /// Output stage: the copy the output hook works on.
    FramePtr OutputHookPicture;
    TFormatConverter HookConverter;
    TFormatConverter PreviewConverter;

    /// Guards Flags, FlagsChanged and Previewer; never held while a handler
    /// or the window runs (the main thread may be changing the flags).
    mutable std::mutex Lock;
    int Flags = 0;
    bool FlagsChanged = false;
    /// Created on first use; shared so that the window can be switched off
    /// while a picture is being shown. Destroyed on the main thread.
    std::shared_ptr<TPreviewer> Previewer;
    int64_t LastPreview = 0;

    FilePtr Vstats;
};

}  // namespace tw
