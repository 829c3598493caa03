// transcoder/paths/PictureState.h — what an engine keeps for the picture side of
// its runs: the hook buffers, the two bitmap converters and the preview
// state. Owned by the engine from construction to destruction.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "diag/FormatConverter.h"
#include "diag/Previewer.h"
#include "transcoder/files/StreamTables.h"

namespace tw {

struct TPictureState {
    /// Preview flags: the preview window, preview bitmaps to the preview
    /// handler.
    static constexpr int pfWindow = 1;
    static constexpr int pfBitmap = 2;
    /// Preview flags (pfWindow, pfBitmap). Any thread.
    int PreviewFlags() const;
    /// Any thread, also while a run goes on. Switching the window flag off
    /// closes the window (outside the lock). byEncoder: the next preview
    /// converts the picture afresh.
    void SetPreviewFlags(int flags, bool byEncoder);
    /// Bits per pixel of both converters; std::invalid_argument "Invalid
    /// BitsPixel <n>" from the converter.
    void SetBitsPixel(int bits);
    /// The hook buffers and the preview window of a run.
    void Release();

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
};

}  // namespace tw
