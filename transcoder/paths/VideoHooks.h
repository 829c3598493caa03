// transcoder/paths/VideoHooks.h — the picture side of re-encoding that is not
// encoding: deinterlacing and the input hooks of decoded pictures, the
// output hook of pictures about to be encoded, and the preview.
#pragma once

#include <cstdint>

extern "C" {
#include <libavutil/frame.h>
}

#include "diag/FrameHook.h"
#include "transcoder/RunContext.h"
#include "transcoder/paths/PictureState.h"

namespace tw {

/// One transcode's view of its owner's picture state and frame hooks. The
/// hooks go to the run's events; a hook that asks to stop or fails is
/// dropped there (TRunEvents::DropVideoHook), for good. Engine thread only; the preview flags may
/// change from any thread. Nothing here throws: problems are logged at llError and switch the hook
/// or the preview off.
class TVideoHooks {
  public:
    /// frameHooks: the "vhook" modules, run on decoded pictures when no
    /// input hook is there.
    TVideoHooks(const TRunContext& run, TPictureState& state, TFrameHookList& frameHooks)
        : FConfig(run.Config), FEvents(run.Events), FState(state), FFrameHooks(frameHooks) {}

    /// A decoded picture before scaling: with "deinterlace" its deinterlaced
    /// copy, then VideoInputHookCallback or the frame-hook chain on it (on a
    /// copy, never in the decoder's buffers); picture then holds the result.
    /// Logs "hook buf malloc error." and "Deinterlacing failed.".
    void ProcessInput(TInputStream& ist, AVFrame* picture);
    bool HasOutputHook() const { return FEvents.HasVideoOutputHook(); }
    /// VideoOutputHookCallback on a copy of the output picture, which then
    /// takes the copy's pixels. True when the preview converter's bitmap now
    /// holds this picture.
    bool OutputHook(AVFrame* frame, int64_t pts, int frameNumber);
    /// A picture to PreviewCallback or the preview window, no more often than
    /// PreviewIntervalUs. converted: the preview converter holds it already.
    void Preview(AVFrame* picture, bool converted, int64_t pts, int frameNumber);

  private:
    bool CallVideoHook(bool input, TFormatConverter& converter, AVFrame* picture, int64_t pts,
                       int frameNumber);

    const TRunConfig& FConfig;
    TRunEvents& FEvents;
    TPictureState& FState;
    TFrameHookList& FFrameHooks;
};

}  // namespace tw
