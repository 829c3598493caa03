// transcoder/paths/VideoHooks.cpp — deinterlacing and the input hooks, the hook
// call shared by the input and output hooks, the preview and the preview
// flags.
#include "transcoder/paths/VideoHooks.h"

#include <stdexcept>

#include "binding/Entries.h"
#include "diag/FFLog.h"
#include "diag/MainThread.h"
#include "transcoder/paths/Deinterlace.h"

namespace tw {

namespace {

constexpr int pfWindow = TPictureState::pfWindow;
constexpr int pfBitmap = TPictureState::pfBitmap;

// Makes f a writable picture of the format and size, reusing its buffer
// when it fits and nobody else holds it.
bool EnsurePicture(FramePtr& f, int format, int width, int height) {
    if (!f) f.reset(lib().av_frame_alloc());
    if (!f) return false;
    if (f->buf[0] && f->format == format && f->width == width && f->height == height)
        return lib().av_frame_make_writable(f.get()) >= 0;
    lib().av_frame_unref(f.get());
    f->format = format;
    f->width = width;
    f->height = height;
    return lib().av_frame_get_buffer(f.get(), 0) >= 0;
}

// picture takes work's pixels (a reference of its own) and keeps its own
// timing and properties.
void TakePixels(AVFrame* picture, AVFrame* work) {
    FramePtr tmp(lib().av_frame_alloc());
    if (!tmp || lib().av_frame_ref(tmp.get(), work) < 0) return;
    lib().av_frame_copy_props(tmp.get(), picture);
    lib().av_frame_unref(picture);
    lib().av_frame_move_ref(picture, tmp.get());
}

void CopyPixels(AVFrame* dst, const AVFrame* src) {
    lib().av_image_copy(dst->data, dst->linesize, const_cast<const uint8_t**>(src->data),
                        src->linesize, static_cast<AVPixelFormat>(src->format), src->width,
                        src->height);
}

// The preview window is created and destroyed on the main thread.
std::shared_ptr<TPreviewer> MakePreviewer() {
    std::unique_ptr<TPreviewer> made;
    RunOnMainThread([&made] { made = NewPreviewer(); });
    return std::shared_ptr<TPreviewer>(made.release(),
                                       [](TPreviewer* p) { RunOnMainThread([p] { delete p; }); });
}

}  // namespace

void TVideoHooks::ProcessInput(TInputStream& ist, AVFrame* picture) {
    const bool inputHook = FEvents.HasVideoInputHook();
    if (!FConfig.Deinterlace && !inputHook && FFrameHooks.Empty()) return;
    TPictureState& ps = FState;
    if (!EnsurePicture(ps.HookPicture, picture->format, picture->width, picture->height)) {
        FFLogger()->Log(FEvents.LogSender(), llError, "hook buf malloc error.");
        return;
    }
    AVFrame* work = ps.HookPicture.get();
    if (!FConfig.Deinterlace || DeinterlacePicture(work, picture) < 0) {
        if (FConfig.Deinterlace)
            FFLogger()->Log(FEvents.LogSender(), llError, "Deinterlacing failed.");
        // The hooks work on a copy, never in the decoder's own buffers.
        CopyPixels(work, picture);
    }
    if (inputHook) {
        CallVideoHook(true, ps.HookConverter, work, ist.Pts, ist.DecodedFrames);
    } else if (!FFrameHooks.Empty()) {
        TPicture p = PictureOf(work);
        ProcessFrameHooks(FFrameHooks, &p, work->format, work->width, work->height, ist.Pts);
    }
    TakePixels(picture, work);
}

bool TVideoHooks::CallVideoHook(bool input, TFormatConverter& converter, AVFrame* picture,
                                int64_t pts, int frameNumber) {
    const auto format = static_cast<AVPixelFormat>(picture->format);
    TPicture pic = PictureOf(picture);
    if (!converter.ToBitmap(&pic, format, true, picture->height, picture->width)) {
        FFLogger()->Log(FEvents.LogSender(), llError, converter.LastError());
        FEvents.DropVideoHook(input);
        return false;
    }
    bool update = true;
    bool stopHook = false;
    try {
        FEvents.VideoHook(input, &converter.Bitmap(), stopHook, update, pts, frameNumber);
    } catch (const std::exception& e) {
        FFLogger()->Log(FEvents.LogSender(), llError,
                        std::string("Error occurs VideoHook event: ") + e.what());
        update = false;
    } catch (...) {
        FFLogger()->Log(FEvents.LogSender(), llError,
                        "Error occurs VideoHook event: unknown exception");
        update = false;
    }
    bool holdsPicture = true;
    if (update) {
        converter.CopyFromBitmap();
        if (converter.CurrentPicture() == converter.RGBPicture() &&
            !converter.FromBitmap(&pic, format, picture->height, picture->width)) {
            FFLogger()->Log(FEvents.LogSender(), llError, converter.LastError());
            stopHook = true;
        }
    } else if (FState.PreviewFlags() != 0) {
        holdsPicture = false;  // the bitmap may no longer match the picture
    }
    if (stopHook) FEvents.DropVideoHook(input);
    return holdsPicture;
}

bool TVideoHooks::OutputHook(AVFrame* frame, int64_t pts, int frameNumber) {
    TPictureState& ps = FState;
    if (!EnsurePicture(ps.OutputHookPicture, frame->format, frame->width, frame->height)) {
        FFLogger()->Log(FEvents.LogSender(), llError, "hook buf malloc error.");
        return false;
    }
    AVFrame* work = ps.OutputHookPicture.get();
    CopyPixels(work, frame);
    const bool converted = CallVideoHook(false, ps.PreviewConverter, work, pts, frameNumber);
    TakePixels(frame, work);
    return converted;
}

void TVideoHooks::Preview(AVFrame* picture, bool converted, int64_t pts, int frameNumber) {
    TPictureState& ps = FState;
    int flags;
    bool changed;
    {
        std::lock_guard<std::mutex> lock(ps.Lock);
        flags = ps.Flags;
        changed = ps.FlagsChanged;
    }
    if (!flags) return;
    const int64_t now = lib().av_gettime();
    if (now - ps.LastPreview <= FConfig.PreviewIntervalUs) return;
    ps.LastPreview = now;

    const auto format = static_cast<AVPixelFormat>(picture->format);
    TPicture pic = PictureOf(picture);
    TFormatConverter& conv = ps.PreviewConverter;
    auto convert = [&] {
        if (converted && !changed) return true;
        if (conv.ToBitmap(&pic, format, true, picture->height, picture->width)) return true;
        FFLogger()->Log(FEvents.LogSender(), llError, conv.LastError());
        return false;
    };
    int cleared = 0;
    if ((flags & pfBitmap) && FEvents.HasPreview()) {
        if (!convert()) {
            cleared = pfBitmap;
        } else {
            try {
                FEvents.Preview(&conv.Bitmap(), pts, frameNumber);
            } catch (const std::exception& e) {
                FFLogger()->Log(FEvents.LogSender(), llError,
                                std::string("Error occurs Preview event: ") + e.what());
                cleared = pfBitmap;
            }
        }
    } else if (flags & pfWindow) {
        if (!convert()) {
            cleared = pfWindow;
        } else {
            std::shared_ptr<TPreviewer> previewer;
            {
                std::lock_guard<std::mutex> lock(ps.Lock);
                previewer = ps.Previewer;
            }
            if (!previewer) {
                previewer = MakePreviewer();
                std::lock_guard<std::mutex> lock(ps.Lock);
                if (ps.Flags & pfWindow) ps.Previewer = previewer;
            }
            // Closed by the user: no more previews in a window.
            if (!previewer->Show(&conv.Bitmap(), frameNumber, pts)) cleared = pfWindow;
        }
    }
    std::shared_ptr<TPreviewer> dropped;
    {
        std::lock_guard<std::mutex> lock(ps.Lock);
        if ((cleared & pfWindow) && (ps.Flags & pfWindow)) dropped = std::move(ps.Previewer);
        ps.Flags &= ~cleared;
        ps.FlagsChanged = false;
    }
}

// --- the preview flags

int TPictureState::PreviewFlags() const {
    std::lock_guard<std::mutex> lock(Lock);
    return Flags;
}

void TPictureState::SetPreviewFlags(int flags, bool byEncoder) {
    std::shared_ptr<TPreviewer> dropped;  // closed outside the lock
    std::lock_guard<std::mutex> lock(Lock);
    if (flags != Flags) {
        if ((Flags & pfWindow) && !(flags & pfWindow)) dropped = std::move(Previewer);
        Flags = flags;
    }
    if (byEncoder) FlagsChanged = true;
}

void TPictureState::SetBitsPixel(int bits) {
    HookConverter.SetBitsPixel(bits);
    PreviewConverter.SetBitsPixel(bits);
}

void TPictureState::Release() {
    std::shared_ptr<TPreviewer> dropped;
    {
        std::lock_guard<std::mutex> lock(Lock);
        dropped = std::move(Previewer);
    }
    HookPicture.reset();
    OutputHookPicture.reset();
}

}  // namespace tw
