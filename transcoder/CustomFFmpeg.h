// transcoder/CustomFFmpeg.h — the transcoder engine: one object holds the
// complete state of one transcode job and is configured option by option.
//
// The engine derives from the file set alone (which carries the option
// values, their operations and the file tables) and holds the run counters,
// the picture state and the run control. A run gets a frozen copy of the
// options, the file tables and the engine's events (transcoder/RunEvents.h),
// never the engine itself.
//
// Configuration (everything declared here) runs on the thread that calls the
// encoder, while the engine is idle. Every failure is an FFmpegException
// carrying the user-facing text, unless a method says otherwise.
#pragma once

#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "diag/Bitmap.h"
#include "diag/FrameHook.h"
#include "transcoder/FFmpegException.h"
#include "transcoder/RunConfig.h"
#include "transcoder/RunCounters.h"
#include "transcoder/files/FileSet.h"
#include "transcoder/options/EngineOptions.h"
#include "transcoder/paths/PictureState.h"
#include "transcoder/run/ConvertThread.h"
#include "transcoder/run/ProgressReport.h"

namespace tw {

struct TInputStream;

class TCustomFFmpeg : public TFileSet {
  public:
    /// Allocates every per-file table with maxFiles entries and resets the
    /// options. Throws std::logic_error "Assertion failure" (a programming
    /// error, not a user error) unless 1 <= maxFiles <= MaxFilesLimit.
    explicit TCustomFFmpeg(int maxFiles);
    virtual ~TCustomFFmpeg();
    TCustomFFmpeg(const TCustomFFmpeg&) = delete;
    TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

    // --- run control (fields only; the run itself is built on them)
    // Read by other threads (the encoder, a stopping caller) while a run goes on.
    std::atomic<bool> Running = false;
    /// Written by the stopping thread, polled by the running one.
    std::atomic<bool> StopRequested = false;
    std::atomic<bool> Finished = false;
    std::atomic<bool> Terminated = false;
    std::atomic<bool> ErrorRaised = false;
    std::string ErrorMessage;
    /// Audio and video packets the muxers took in the last run (cover art
    /// and other streams not counted): zero when a stopped run's output
    /// holds no media, only its header and ending. Written by the running
    /// thread, readable from any.
    std::atomic<int64_t> MediaPacketsWritten = 0;
    int64_t ProgressIntervalUs = 500000;
    int64_t PreviewIntervalUs = 100000;
    /// What the last run wrote and changed (bytes, duplicated and dropped
    /// pictures); reset when a run begins. Written by the running thread,
    /// read once the run has ended.
    TRunCounters Counters;

    /// Sets every option field to its default, creates a fresh option store
    /// and clears the run flags (TotalDuration -1). Opened files and the
    /// per-file tables are left alone. Does nothing when the libraries are not
    /// loaded.
    void ResetOptions();

    /// Called after a successful input open, before the streams are
    /// analysed, so the owner can adjust the context (its probe settings, say).
    std::function<void(TCustomFFmpeg* engine, AVFormatContext* context)>
        BeforeFindStreamInfoCallback;
    /// Interrupt check registered for the calling thread while a run blocks
    /// in the libraries (context: the engine): a stop was requested.
    static bool CheckStopRequest(void* engine);

    // --- run, stop and events
    /// Starts the one run of this engine. With inThread the run gets a
    /// worker thread, returned not yet started (Resume starts it; the engine
    /// owns it); without, Run happens on the calling thread and the result is
    /// null. Null as well when the engine already ran or the file checks fail
    /// (the terminate notification is then given).
    TConvertThread* Start(bool inThread, int priority = 0);
    /// The body of one run: transcode, release the codecs, close the files,
    /// notify. Never throws; failures end in ErrorRaised/ErrorMessage.
    void Run();
    /// Requests a stop; with wait, blocks until the worker has left Run,
    /// serving the main-thread call queue meanwhile when called on the main
    /// thread. Without a worker, cancels a blocking open in progress.
    void Stop(bool wait);
    /// Stops a running engine, or gives the terminate notification of an
    /// engine that never ran.
    void Terminate(bool wait);
    /// Clears Running, sets Terminated, calls TerminateCallback.
    void DoTerminate();

    /// Callback slots, called on the thread that runs the engine.
    /// ProgressCallback gets every report as one TProgress value.
    TProgressCallback ProgressCallback;
    std::function<void(TCustomFFmpeg* engine)> TerminateCallback;
    /// Decoded audio: buffer, sample format, channels, sample rate, size in
    /// bytes, time in microseconds. The handler may change the samples.
    std::function<void(TCustomFFmpeg* engine, uint8_t* buffer, int sampleFormat, int channels,
                       int sampleRate, int size, int64_t pts)>
        AudioHookCallback;
    /// Video hooks: the picture as a bitmap, its time (µs) and frame number;
    /// the handler may draw on the bitmap and set update to have it written
    /// back, and set stopHook to stop being called for the rest of the run.
    std::function<void(TCustomFFmpeg* engine, TBitmap* bitmap, bool& stopHook, bool& update,
                       int64_t pts, int frameNumber)>
        VideoInputHookCallback;
    std::function<void(TCustomFFmpeg* engine, TBitmap* bitmap, bool& stopHook, bool& update,
                       int64_t pts, int frameNumber)>
        VideoOutputHookCallback;
    /// A preview picture as a bitmap (preview flag pfBitmap).
    std::function<void(TCustomFFmpeg* engine, TBitmap* bitmap, int64_t pts, int frameNumber)>
        PreviewCallback;

    // --- preview and hooks
    /// Preview flags: the preview window, preview bitmaps to PreviewCallback.
    static constexpr int pfWindow = TPictureState::pfWindow;
    static constexpr int pfBitmap = TPictureState::pfBitmap;
    int PreviewFlags() const;
    /// Any thread, also while a run goes on. Switching the window off closes
    /// it. byEncoder: the next preview converts the picture afresh.
    void SetPreviewFlags(int flags, bool byEncoder = true);
    /// Bits per pixel of the hook and preview bitmaps (8, 15, 16, 24, 32);
    /// throws "Invalid BitsPixel <n>".
    void SetHookBitsPixel(int bits);
    /// The picture state of the runs, handed by the transcode to its video
    /// path (hooks, preview).
    TPictureState& PictureState();
    /// Frees the picture state of a run: hook buffers, the preview window and
    /// the frame hooks.
    void ReleasePictureState();

  private:
    /// The option values and run settings the next run reads, copied.
    TRunConfig FreezeRunConfig() const;
    std::unique_ptr<TConvertThread> FWorker;
    std::unique_ptr<TDoTerminateThread> FTerminator;
    std::unique_ptr<TPictureState> FPicture;
    // Signalled while no worker is inside Run / no terminate thread runs.
    std::mutex FEventLock;
    std::condition_variable FEventChanged;
    bool FWorkerDone = true;
    bool FTerminateDone = true;
    void SetWorkerDone(bool done);
    void SetTerminateDone(bool done);
    void RecordFailure(const std::exception& e);
    void RecordFailure(const std::string& message);
};

}  // namespace tw
