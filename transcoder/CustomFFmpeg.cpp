// transcoder/CustomFFmpeg.cpp — the engine's life: construction and option
// reset, start, run (the run's configuration and events), stop and
// terminate, and the preview and hook methods.
#include "transcoder/CustomFFmpeg.h"

#include <chrono>
#include <stdexcept>

#include "binding/FFLoad.h"
#include "diag/FFLog.h"
#include "diag/MainThread.h"
#include "transcoder/RunEvents.h"
#include "transcoder/paths/PictureState.h"
#include "transcoder/run/ConvertThread.h"
#include "transcoder/run/Transcoder.h"

namespace tw {

namespace {

// The run's events, answered by the engine's callback slots (each called
// with the engine) and run fields.
class TEngineEvents final : public TRunEvents {
  public:
    explicit TEngineEvents(TCustomFFmpeg& engine) : E(engine) {}

    TLogSender LogSender() const override { return &E; }
    bool StopRequested() const override { return E.StopRequested; }
    bool HasProgress() const override { return static_cast<bool>(E.ProgressCallback); }
    bool HasAudioHook() const override { return static_cast<bool>(E.AudioHookCallback); }
    bool HasVideoInputHook() const override { return static_cast<bool>(E.VideoInputHookCallback); }
    bool HasVideoOutputHook() const override {
        return static_cast<bool>(E.VideoOutputHookCallback);
    }
    bool HasPreview() const override { return static_cast<bool>(E.PreviewCallback); }
    int PreviewFlags() const override { return E.PreviewFlags(); }
    void Progress(const TProgress& progress) override { E.ProgressCallback(&E, progress); }
    void AudioHook(uint8_t* buffer, int sampleFormat, int channels, int sampleRate, int size,
                   int64_t pts) override {
        E.AudioHookCallback(&E, buffer, sampleFormat, channels, sampleRate, size, pts);
    }
    void VideoHook(bool input, TBitmap* bitmap, bool& stopHook, bool& update, int64_t pts,
                   int frameNumber) override {
        auto& slot = input ? E.VideoInputHookCallback : E.VideoOutputHookCallback;
        slot(&E, bitmap, stopHook, update, pts, frameNumber);
    }
    void DropVideoHook(bool input) override {
        (input ? E.VideoInputHookCallback : E.VideoOutputHookCallback) = nullptr;
    }
    void Preview(TBitmap* bitmap, int64_t pts, int frameNumber) override {
        E.PreviewCallback(&E, bitmap, pts, frameNumber);
    }
    void Warning(const std::string& text) override { E.Warnings.push_back(text); }
    void MediaPacketWritten() override { ++E.MediaPacketsWritten; }
    AVFormatContext* InputReader(int file) override { return E.InputReader(file); }
    void CloseInputReader(int file) override { E.CloseInputReader(file); }

  private:
    TCustomFFmpeg& E;
};

}  // namespace

// --- construction and reset

TCustomFFmpeg::TCustomFFmpeg(int maxFiles)
    : TFileSet(maxFiles), FPicture(std::make_unique<TPictureState>()) {
    OnBeforeFindStreamInfo = [this](AVFormatContext* context) {
        if (BeforeFindStreamInfoCallback) BeforeFindStreamInfoCallback(this, context);
    };
    ResetOptions();
}

void TCustomFFmpeg::ResetOptions() {
    if (!FFLoader().Loaded(CopyLibraryKinds)) return;
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

// --- run, stop and terminate

TCustomFFmpeg::~TCustomFFmpeg() {
    try {
        Stop(true);
    } catch (...) {
    }
    FWorker.reset();      // joins the finished worker
    FTerminator.reset();  // and a terminate thread still delivering
    try {
        CloseFiles();
    } catch (...) {
    }
}

void TCustomFFmpeg::SetWorkerDone(bool done) {
    std::lock_guard<std::mutex> lock(FEventLock);
    FWorkerDone = done;
    FEventChanged.notify_all();
}

void TCustomFFmpeg::SetTerminateDone(bool done) {
    std::lock_guard<std::mutex> lock(FEventLock);
    FTerminateDone = done;
    FEventChanged.notify_all();
}

void TCustomFFmpeg::RecordFailure(const std::string& message) {
    FFLogger()->Log(this, llQuiet, message);
    ErrorRaised = true;
    ErrorMessage = message;
}

void TCustomFFmpeg::RecordFailure(const std::exception& e) { RecordFailure(std::string(e.what())); }

TConvertThread* TCustomFFmpeg::Start(bool inThread, int priority) {
    if (Running || Terminated) return nullptr;
    try {
        if (OutputFileCount == 0) {
            CloseFiles();
            throw FFmpegException("At least one output file must be specified");
        }
        if (InputFileCount == 0) {
            CloseFiles();
            throw FFmpegException("At least one input file must be specified");
        }
        // Whoever loaded only what a copy needs must load the rest before
        // a re-encode: without it the first resampler would call nothing.
        if (EncodesAnyStream()) {
            const char* missing = !FFLoader().LibraryLoaded(lkAVCore)     ? "LibSwResample"
                                  : !FFLoader().LibraryLoaded(lkAVFilter) ? "LibAVFilter"
                                                                          : nullptr;
            if (missing) {
                CloseFiles();
                throw FFmpegException(std::string(missing) + " not loaded.");
            }
        }
    } catch (const std::exception& e) {
        RecordFailure(e);
        DoTerminate();
        return nullptr;
    }
    Running = true;
    StopRequested = false;
    Finished = false;
    Terminated = false;
    MediaPacketsWritten = 0;
    if (!inThread) {
        Run();
        return nullptr;
    }
    FWorker = std::make_unique<TConvertThread>(
        [this] {
            SetWorkerDone(false);
            try {
                Run();
            } catch (...) {
                // Run records its own failures; nothing may escape a thread.
            }
            SetWorkerDone(true);
        },
        priority);
    // The worker counts as inside Run from its creation: a Stop before it is
    // resumed must wait for it.
    SetWorkerDone(false);
    return FWorker.get();
}

void TCustomFFmpeg::Run() {
    Finished = false;
    try {
        Warnings.clear();
        const TRunConfig config = FreezeRunConfig();
        TEngineEvents events(*this);
        TTranscoder transcoder({config, Counters, events}, *this, PictureState(), FrameHookList);
        Finished = transcoder.Transcode();
    } catch (const std::exception& e) {
        RecordFailure(e);
    } catch (...) {
        RecordFailure("Unknown failure");
    }
    try {
        ReleasePictureState();
    } catch (const std::exception& e) {
        RecordFailure(e);
    }
    try {
        CloseFiles();
    } catch (const std::exception& e) {
        RecordFailure(e);
    }
    try {
        DoTerminate();
    } catch (const std::exception& e) {
        RecordFailure(e);
    }
}

void TCustomFFmpeg::Stop(bool wait) {
    StopRequested = true;
    if (FWorker) {
        FWorker->Resume();
        if (!wait) return;
        std::unique_lock<std::mutex> lock(FEventLock);
        while (!FWorkerDone) {
            if (IsMainThread()) {
                // A worker blocked in a call that must run on this thread can
                // only finish when the queue is served.
                lock.unlock();
                WaitAndDrainMainThreadCalls(std::chrono::milliseconds(20));
                lock.lock();
            } else {
                FEventChanged.wait_for(lock, std::chrono::milliseconds(20));
            }
        }
    } else {
        IOStartTime = 0;
    }
}

void TCustomFFmpeg::Terminate(bool wait) {
    if (Running) {
        Stop(wait);
        return;
    }
    if (Terminated || FTerminator) return;
    SetTerminateDone(false);
    FTerminator = std::make_unique<TDoTerminateThread>([this] {
        try {
            DoTerminate();
        } catch (...) {
        }
        SetTerminateDone(true);
    });
    if (wait) {
        std::unique_lock<std::mutex> lock(FEventLock);
        FEventChanged.wait(lock, [this] { return FTerminateDone; });
    }
}

void TCustomFFmpeg::DoTerminate() {
    Running = false;
    // One notification per engine, whichever path gets here first.
    if (Terminated.exchange(true)) return;
    if (TerminateCallback) TerminateCallback(this);
}

bool TCustomFFmpeg::CheckStopRequest(void* engine) {
    return static_cast<TCustomFFmpeg*>(engine)->StopRequested.load();
}

TRunConfig TCustomFFmpeg::FreezeRunConfig() const {
    TRunConfig config =
        TRunConfig::FromOptions(*this, OptionContexts ? OptionContexts->Scaler() : nullptr);
    config.JoinMode = JoinMode;
    config.FitPictures = FitPictures;
    config.FillMissingAudio = FillMissingAudio;
    config.BindInOrder = BindInOrder;
    config.SourceChapterTitles = SourceChapterTitles;
    config.TotalDuration = TotalDuration;
    config.ProgressIntervalUs = ProgressIntervalUs;
    config.PreviewIntervalUs = PreviewIntervalUs;
    return config;
}

// --- preview and hooks

int TCustomFFmpeg::PreviewFlags() const { return FPicture->PreviewFlags(); }

void TCustomFFmpeg::SetPreviewFlags(int flags, bool byEncoder) {
    FPicture->SetPreviewFlags(flags, byEncoder);
}

void TCustomFFmpeg::SetHookBitsPixel(int bits) {
    try {
        FPicture->SetBitsPixel(bits);
    } catch (const std::invalid_argument& e) {
        throw FFmpegException(e.what());
    }
}

TPictureState& TCustomFFmpeg::PictureState() { return *FPicture; }

void TCustomFFmpeg::ReleasePictureState() {
    FPicture->Release();
    ReleaseFrameHooks(FrameHookList);
}

}  // namespace tw
