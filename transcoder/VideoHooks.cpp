// transcoder/VideoHooks.cpp — the picture side of re-encoding that is not
// encoding: pre-processing (deinterlacing, the input hook, frame hooks), the
// hook call shared by the input and output hooks, and the preview.
#include <stdexcept>

#include "binding/Entries.h"
#include "diag/FFLog.h"
#include "diag/MainThread.h"
#include "transcoder/CustomFFmpeg.h"
#include "transcoder/Deinterlace.h"
#include "transcoder/PictureState.h"

namespace tw {

namespace {

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

void TCustomFFmpeg::PreProcessVideoFrame(TInputStream* ist, AVFrame* picture) {
    ++ist->DecodedFrames;
    RefitPictures(ist, picture);
    if (!Deinterlace && !VideoInputHookCallback && FrameHookList.Empty()) return;
    TPictureState& ps = *FPicture;
    if (!EnsurePicture(ps.HookPicture, picture->format, picture->width, picture->height)) {
        FFLogger()->Log(this, llError, "hook buf malloc error.");
        return;
    }
    AVFrame* work = ps.HookPicture.get();
    if (!Deinterlace || DeinterlacePicture(work, picture) < 0) {
        if (Deinterlace) FFLogger()->Log(this, llError, "Deinterlacing failed.");
        // The hooks work on a copy, never in the decoder's own buffers.
        CopyPixels(work, picture);
    }
    if (VideoInputHookCallback) {
        CallVideoHook(true, ps.HookConverter, work, ist->Pts, ist->DecodedFrames);
    } else if (!FrameHookList.Empty()) {
        TPicture p = PictureOf(work);
        ProcessFrameHooks(FrameHookList, &p, work->format, work->width, work->height, ist->Pts);
    }
    TakePixels(picture, work);
}

void TCustomFFmpeg::RefitPictures(TInputStream* ist, const AVFrame* picture) {
    if (!FitPictures || !ist->FilterGraph || !ist->FilterRecord) return;
    if (picture->width == ist->FilterWidth && picture->height == ist->FilterHeight &&
        picture->format == ist->FilterPixFmt)
        return;
    // The fit was computed for the old size: a new graph fits the new one
    // (the fitting filters hold no pictures back, so none is lost).
    FFLogger()->LogFmt(
        this, llQuiet, "Input Stream #%d.%d frame size changed to %dx%d, %s", ist->FileIndex,
        ist->StreamIndex, picture->width, picture->height,
        lib().av_get_pix_fmt_name(static_cast<AVPixelFormat>(picture->format)) ?: "none");
    if (BuildFilterGraph(ist, ist->FilterRecord, picture) < 0)
        throw FFmpegException("Error opening filters!");
}

bool TCustomFFmpeg::CallVideoHook(bool input, TFormatConverter& converter, AVFrame* picture,
                                  int64_t pts, int frameNumber) {
    auto& slot = input ? VideoInputHookCallback : VideoOutputHookCallback;
    const auto format = static_cast<AVPixelFormat>(picture->format);
    TPicture pic = PictureOf(picture);
    if (!converter.ToBitmap(&pic, format, true, picture->height, picture->width)) {
        FFLogger()->Log(this, llError, converter.LastError());
        slot = nullptr;
        return false;
    }
    bool update = true;
    bool stopHook = false;
    try {
        slot(this, &converter.Bitmap(), stopHook, update, pts, frameNumber);
    } catch (const std::exception& e) {
        FFLogger()->Log(this, llError, std::string("Error occurs VideoHook event: ") + e.what());
        update = false;
    } catch (...) {
        FFLogger()->Log(this, llError, "Error occurs VideoHook event: unknown exception");
        update = false;
    }
    bool holdsPicture = true;
    if (update) {
        converter.CopyFromBitmap();
        if (converter.CurrentPicture() == converter.RGBPicture() &&
            !converter.FromBitmap(&pic, format, picture->height, picture->width)) {
            FFLogger()->Log(this, llError, converter.LastError());
            stopHook = true;
        }
    } else if (PreviewFlags() != 0) {
        holdsPicture = false;  // the bitmap may no longer match the picture
    }
    if (stopHook) slot = nullptr;
    return holdsPicture;
}

bool TCustomFFmpeg::OutputHook(AVFrame* frame, int64_t pts, int frameNumber) {
    TPictureState& ps = *FPicture;
    if (!EnsurePicture(ps.OutputHookPicture, frame->format, frame->width, frame->height)) {
        FFLogger()->Log(this, llError, "hook buf malloc error.");
        return false;
    }
    AVFrame* work = ps.OutputHookPicture.get();
    CopyPixels(work, frame);
    const bool converted = CallVideoHook(false, ps.PreviewConverter, work, pts, frameNumber);
    TakePixels(frame, work);
    return converted;
}

void TCustomFFmpeg::Preview(AVFrame* picture, bool converted, int64_t pts, int frameNumber) {
    TPictureState& ps = *FPicture;
    int flags;
    bool changed;
    {
        std::lock_guard<std::mutex> lock(ps.Lock);
        flags = ps.Flags;
        changed = ps.FlagsChanged;
    }
    if (!flags) return;
    const int64_t now = lib().av_gettime();
    if (now - ps.LastPreview <= PreviewIntervalUs) return;
    ps.LastPreview = now;

    const auto format = static_cast<AVPixelFormat>(picture->format);
    TPicture pic = PictureOf(picture);
    TFormatConverter& conv = ps.PreviewConverter;
    auto convert = [&] {
        if (converted && !changed) return true;
        if (conv.ToBitmap(&pic, format, true, picture->height, picture->width)) return true;
        FFLogger()->Log(this, llError, conv.LastError());
        return false;
    };
    int cleared = 0;
    if ((flags & pfBitmap) && PreviewCallback) {
        if (!convert()) {
            cleared = pfBitmap;
        } else {
            try {
                PreviewCallback(this, &conv.Bitmap(), pts, frameNumber);
            } catch (const std::exception& e) {
                FFLogger()->Log(this, llError,
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

int TCustomFFmpeg::PreviewFlags() const {
    std::lock_guard<std::mutex> lock(FPicture->Lock);
    return FPicture->Flags;
}

void TCustomFFmpeg::SetPreviewFlags(int flags, bool byEncoder) {
    std::shared_ptr<TPreviewer> dropped;  // closed outside the lock
    std::lock_guard<std::mutex> lock(FPicture->Lock);
    if (flags != FPicture->Flags) {
        if ((FPicture->Flags & pfWindow) && !(flags & pfWindow))
            dropped = std::move(FPicture->Previewer);
        FPicture->Flags = flags;
    }
    if (byEncoder) FPicture->FlagsChanged = true;
}

void TCustomFFmpeg::SetHookBitsPixel(int bits) {
    try {
        FPicture->HookConverter.SetBitsPixel(bits);
        FPicture->PreviewConverter.SetBitsPixel(bits);
    } catch (const std::invalid_argument& e) {
        throw FFmpegException(e.what());
    }
}

void TCustomFFmpeg::ReleasePictureState() {
    std::shared_ptr<TPreviewer> dropped;
    {
        std::lock_guard<std::mutex> lock(FPicture->Lock);
        dropped = std::move(FPicture->Previewer);
    }
    FPicture->HookPicture.reset();
    FPicture->OutputHookPicture.reset();
    FPicture->Vstats.reset();
    ReleaseFrameHooks(FrameHookList);
}

}  // namespace tw
